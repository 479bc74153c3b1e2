// Maintenance actions: the head move for ink replacement and the gap-adjustment tool. Both take the
// port from the engine's own loops for their run: they mark themselves busy, close the status reads
// and the command mailbox, wait until no other exchange holds the port, and give everything back as
// they found it, whatever the outcome.
//
// The tool is found through the current user's tool key: its "Path" value is the tool's folder;
// without one, the tool lives in the Windows directory's RCTOOL folder. It is started with an argument
// vector in that folder, and its end is awaited on a process descriptor, so the wait costs nothing
// and a stop of the engine cuts it short (the tool, the user's window, stays open).

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "engine.h"
#include "plat/base/system_root.h"
#include "plat/base/trace.h"
#include "plat/proc/process.h"
#include "plat/registry/registry.h"
#include "plat/text/text.h"

namespace vigil {
namespace {

using std::chrono_literals::operator""ms;
namespace fs = std::filesystem;

constexpr const char* kToolKey = "Software\\VELTA\\VELTA Quill Calibration\\TUNEUP.EXE";
constexpr const char* kToolPathValue = "Path";
constexpr const char* kToolProgram = "TUNEUP.EXE";
// The folder's name is kept in 1024 bytes with its terminating zero.
constexpr std::size_t kToolPathLimit = 1024;

// Answers of the two actions.
enum : std::int32_t { kNotApplicable = 0, kDone = 1, kNotMonitoring = 4, kBusy = 8 };

// The tool's folder from the tool key: nullopt when there is none, an error text when the value is
// there but unusable.
struct ToolFolder {
    std::optional<std::string> path;
    std::string error;
};

ToolFolder toolFolderFromKey(plat::registry::Store& store)
{
    std::string buffer(4 * kToolPathLimit, '\0');
    std::uint32_t size = 0;
    const auto status = store.getValue(plat::registry::Root::CurrentUser, kToolKey, kToolPathValue,
                                       std::as_writable_bytes(std::span(buffer)), &size);
    if (status == plat::registry::Status::NotFound) return {};
    if (status == plat::registry::Status::MoreData) return {std::nullopt, "the tool's \"Path\" is too long"};
    if (status != plat::registry::Status::Ok) {
        return {std::nullopt, std::string("the tool's \"Path\" cannot be read: ") + plat::registry::describe(status)};
    }
    buffer.resize(std::min<std::size_t>(size, buffer.size()));
    buffer.resize(std::strlen(buffer.c_str()));
    if (buffer.empty()) return {};  // an empty folder name names no folder: the default one is used
    if (buffer.size() >= kToolPathLimit) {
        return {std::nullopt, "the tool's \"Path\" is " + std::to_string(buffer.size()) + " bytes long, over the " +
                                  std::to_string(kToolPathLimit - 1) + " a folder name may have"};
    }
    return {buffer, {}};
}

}  // namespace

// ---- pause and resume ---------------------------------------------------------------------------

Engine::Paused Engine::pauseLoops(Busy busy, std::uint64_t generation)
{
    busyChange(busy, true);
    Paused paused{busy, readDword(EngineKey::Store, value::kGetRealTimeStatusStartFlag).value_or(1),
                  readDword(EngineKey::Store, value::kCommandExecStartFlag).value_or(0)};
    writeDword(EngineKey::Store, value::kGetRealTimeStatusStartFlag, 0);
    writeDword(EngineKey::Store, value::kCommandExecStartFlag, 0);
    pause(scaled(200ms), [&] { return stopRequested(generation); });
    return paused;
}

void Engine::resumeLoops(const Paused& paused)
{
    writeDword(EngineKey::Store, value::kGetRealTimeStatusStartFlag, paused.startFlag);
    writeDword(EngineKey::Store, value::kCommandExecStartFlag, paused.execFlag);
    busyChange(paused.busy, false);
}

bool Engine::waitPortFree(std::uint32_t mask, std::uint64_t generation)
{
    for (int check = 0; check < 10; ++check) {
        if (check > 0 && !pause(scaled(500ms), [&] { return stopRequested(generation); })) return false;
        if ((readDword(EngineKey::Store, value::kStRealThreadExistFlag).value_or(0) & mask) == 0) return true;
    }
    return false;
}

namespace {

void adoptRestored(std::uint32_t& remembered, std::optional<std::uint32_t> now)
{
    if (now.value_or(0) != 0) remembered = *now;
}

}  // namespace

bool Engine::takePort(std::uint32_t mask, Paused& paused, std::uint64_t generation)
{
    if (!waitPortFree(mask, generation)) return false;
    // Another holder of the port (a mailbox command, the other action) may have closed the loops itself
    // when this action paused them, and given back its own remembered values while this one waited.
    // What it gave back is what this action must give back in turn; a 0 remembered from its pause
    // would close the loops for good.
    adoptRestored(paused.startFlag, readDword(EngineKey::Store, value::kGetRealTimeStatusStartFlag));
    adoptRestored(paused.execFlag, readDword(EngineKey::Store, value::kCommandExecStartFlag));
    writeDword(EngineKey::Store, value::kGetRealTimeStatusStartFlag, 0);
    writeDword(EngineKey::Store, value::kCommandExecStartFlag, 0);
    return true;
}

bool Engine::monitorsAlone()
{
    const std::uint32_t lanMon = refresh(value::kLanMonExistFlag, 0);
    const std::uint32_t exists = refresh(value::kVigilExistFlag, 0);
    refresh(value::kCommandExecStartFlag, 0);
    return exists != 0 && lanMon == 0;
}

// ---- head action ----------------------------------------------------------------------------------

std::int32_t Engine::actHead(std::string_view port)
{
    std::uint32_t idle = 0;
    if (!m_headBusy.compare_exchange_strong(idle, 1)) return kBusy;
    const Session s = session();
    if (!port.empty() && !plat::text::equalWholeIgnoringCase(port, s.start.port)) {
        plat::trace("vigil: head action for " + std::string(port) + ": the engine's printer is on " + s.start.port);
    }
    const std::int32_t answer = headAction(s, m_generation);
    m_headBusy = 0;
    return answer;
}

std::int32_t Engine::headAction(const Session& s, std::uint64_t generation)
{
    auto despoolerRuns = [&] { return readDword(EngineKey::DriverData, value::kDespoolerRunFlag).value_or(0) != 0; };
    if (s.start.connection != kLocal || s.start.family != EngineFamily::Inkjet || despoolerRuns()) {
        return kNotApplicable;
    }
    if (!monitorsAlone()) return kNotMonitoring;

    Paused paused = pauseLoops(Busy::HeadAction, generation);
    if (!takePort(kBusyStatusRead | kBusyCommand | kBusyGap, paused, generation)) {
        plat::trace("vigil: head action: the port stayed busy");
        resumeLoops(paused);
        return kBusy;
    }
    if (despoolerRuns()) {
        resumeLoops(paused);
        return kNotApplicable;
    }
    const bool written = writeCommand(s, s.headAction, 10, CancelMode::None);
    resumeLoops(paused);
    if (!written) {
        plat::trace("vigil: head action: the command was not written");
        reportError(kCommFailure);
        return kNotApplicable;
    }
    m_inkChange = 1;
    return kDone;
}

// ---- gap tool -------------------------------------------------------------------------------------

std::int32_t Engine::execGap(std::string_view port)
{
    const std::uint64_t generation = m_generation;
    // Running from the moment it is asked for, so a caller polling at once does not see the last result.
    m_gapReturn = kDone;
    startThread("vigil-gap", [this, port = std::string(port), generation] { gapThread(port, generation); });
    return kDone;
}

std::string Engine::gapFailure() const
{
    std::lock_guard lock(m_gapFailureMutex);
    return m_gapFailure;
}

void Engine::setGapFailure(std::string reason)
{
    if (!reason.empty()) plat::trace("vigil: gap tool: " + reason);
    std::lock_guard lock(m_gapFailureMutex);
    m_gapFailure = std::move(reason);
}

void Engine::gapThread(std::string port, std::uint64_t generation)
{
    m_gapReturn = kDone;
    std::uint32_t idle = 0;
    if (!m_gapBusy.compare_exchange_strong(idle, 1)) {
        m_gapReturn = kBusy;
        ++m_gapRunsEnded;
        return;
    }
    setGapFailure({});
    const Session s = session();
    if (!port.empty() && !plat::text::equalWholeIgnoringCase(port, s.start.port)) {
        plat::trace("vigil: gap tool for " + port + ": the engine's printer is on " + s.start.port);
    }
    const std::uint32_t result = gapRun(s, generation);
    m_gapBusy = 0;
    m_gapReturn = result;
    ++m_gapRunsEnded;
}

std::uint32_t Engine::gapRun(const Session& s, std::uint64_t generation)
{
    if (s.start.connection != kLocal || s.start.family != EngineFamily::Inkjet ||
        !s.start.model.starts_with("VELTA IJ-09")) {
        return kNotApplicable;
    }
    if (!monitorsAlone()) return kNotMonitoring;

    Paused paused = pauseLoops(Busy::GapTool, generation);
    if (!takePort(kBusyStatusRead | kBusyCommand | kBusyHead, paused, generation)) {
        plat::trace("vigil: gap tool: the port stayed busy");
        resumeLoops(paused);
        return kBusy;
    }
    if (!readString(EngineKey::Store, value::kIDMDL, 512)) {
        setGapFailure("the store has no model string");
        writeStatus(kPrinterGone);
        resumeLoops(paused);
        stopAll();
        return kNotApplicable;
    }
    const bool ran = runGapTool(s);
    resumeLoops(paused);
    return ran ? kDone : kNotApplicable;
}

bool Engine::runGapTool(const Session&)
{
    const ToolFolder fromKey = toolFolderFromKey(m_services.store());
    if (!fromKey.error.empty()) {
        setGapFailure(fromKey.error);
        return false;
    }
    const fs::path folder = fromKey.path ? fs::path(*fromKey.path) : plat::windowsDir() / "RCTOOL";
    const fs::path program = folder / kToolProgram;
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        setGapFailure("the tool folder " + folder.string() + " does not exist");
        return false;
    }
    if (!fs::is_regular_file(program, error)) {
        setGapFailure("there is no " + program.string());
        return false;
    }
    auto started = plat::proc::start(program.string(), {}, plat::proc::Show::Normal, folder.string());
    if (!started) {
        setGapFailure("the tool did not start: " + started.error().detail);
        return false;
    }
    plat::proc::Process tool = started.value();
    plat::trace("vigil: gap tool started: " + program.string());

    // The end is awaited on a process descriptor beside the stop signal: no polling, and a stop of
    // the engine does not wait for the user to close the tool.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, tool.pid(), 0));
    if (pidfd >= 0) {
        pollfd fds[2] = {{pidfd, POLLIN, 0}, {m_portStop.fd(), POLLIN, 0}};
        while (tool.isRunning() && !m_portStop.raised()) {
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
        }
        ::close(pidfd);
    } else {
        // Without process descriptors, the stop signal's own wait paces the checks.
        while (tool.isRunning() && m_portStop.sleepFor(100ms)) {
        }
    }
    if (tool.isRunning()) plat::trace("vigil: gap tool: the engine stops; the tool stays open");
    else plat::trace("vigil: gap tool ended with " + std::to_string(tool.exitCode().value_or(-1)));
    return true;
}

}  // namespace vigil
