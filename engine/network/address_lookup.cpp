// The address lookup through NODEQRY.EXE. The address goes to the program in a file of its own: made
// with mkstemp in the root's private tmp/ folder, so no other user can guess, replace or read it. The
// program is started with an argument vector (no shell sees the file name) and its end is awaited on
// a process descriptor, not by asking again and again.

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "plat/base/system_root.h"
#include "plat/base/trace.h"
#include "plat/base/write_all.h"
#include "plat/proc/process.h"
#include "vigil/netware_link.h"

namespace vigil {

namespace {

using std::chrono_literals::operator""ms;

// The program answers at once; the bound only keeps a hung one from holding the link for ever.
constexpr std::chrono::milliseconds kLookupBound{30000};

// Waits for the program's end, the bound or the cancel; true when it has ended.
bool awaitEnd(plat::proc::Process& program, int cancelFd)
{
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, program.pid(), 0));
    if (pidfd < 0) return program.waitForExit(kLookupBound);
    const auto deadline = std::chrono::steady_clock::now() + kLookupBound;
    while (program.isRunning()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd fds[2] = {{pidfd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
        const int ready = ::poll(fds, cancelFd >= 0 ? 2 : 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) break;
        if (cancelFd >= 0 && (fds[1].revents & POLLIN) != 0) break;
    }
    ::close(pidfd);
    return !program.isRunning();
}

}  // namespace

std::filesystem::path runningProgramDirectory()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::filesystem::current_path(error);
    return self.parent_path();
}

std::filesystem::path addressLookupDirectory()
{
    const std::filesystem::path programs = runningProgramDirectory();
    std::error_code error;
    if (std::filesystem::is_regular_file(programs / kAddressLookupProgram, error)) return programs;
    // A host program installed elsewhere that loads the engine's library: the library's own folder,
    // where the other programs are installed.
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&addressLookupDirectory), &info) != 0 && info.dli_fname != nullptr) {
        const std::filesystem::path library = std::filesystem::path(info.dli_fname).parent_path();
        if (std::filesystem::is_regular_file(library / kAddressLookupProgram, error)) return library;
    }
    return programs;
}

std::optional<LookupResult> lookUpAddress(const plat::netware::Address& address,
                                          const std::filesystem::path& programDirectory, int cancelFd)
{
    const std::filesystem::path program = programDirectory / kAddressLookupProgram;
    std::error_code error;
    if (!std::filesystem::is_regular_file(program, error)) {
        plat::trace("network link: no " + program.string());
        return std::nullopt;
    }
    std::string file = (plat::tmpDir() / "KSWXXXXXX").string();
    const int fd = ::mkostemp(file.data(), O_CLOEXEC);
    if (fd < 0) {
        plat::trace("network link: no temporary file for the address lookup: " + std::string(std::strerror(errno)));
        return std::nullopt;
    }
    struct Remove {
        const std::string& path;
        ~Remove() { ::unlink(path.c_str()); }
    } remove{file};
    const bool written = plat::writeAll(fd, address.bytes.data(), address.bytes.size());
    ::close(fd);
    if (!written) return std::nullopt;

    auto started = plat::proc::start(program.string(), {file}, plat::proc::Show::Normal);
    if (!started) {
        plat::trace("network link: " + started.error().detail);
        return std::nullopt;
    }
    plat::proc::Process lookup = started.value();
    if (!awaitEnd(lookup, cancelFd)) {
        lookup.terminate(1, 100ms);
        plat::trace("network link: the address lookup did not end");
        return std::nullopt;
    }
    // A program that did not answer leaves the address in the file; its first bytes are no answer.
    if (lookup.exitCode() != 0) {
        plat::trace("network link: the address lookup failed with " + std::to_string(lookup.exitCode().value_or(-1)));
        return std::nullopt;
    }
    const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return std::nullopt;
    std::uint8_t answer[9];
    std::size_t got = 0;
    while (got < sizeof answer) {
        const ssize_t n = ::read(in, answer + got, sizeof answer - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(in);
    if (got != 8) return std::nullopt;
    LookupResult result;
    result.code = static_cast<std::uint16_t>(answer[0] | answer[1] << 8);
    std::copy(answer + 2, answer + 8, result.localTarget.begin());
    return result;
}

}  // namespace vigil
