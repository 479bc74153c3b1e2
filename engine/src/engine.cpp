// Engine lifecycle: the start-up thread, the error report, stop all, DeleteStThreads and the retry
// thread, with the store access and the busy bits they share.
//
// The lock (m_lock) serialises the read-modify-write of the busy bits, the writes of "PrinterStFlag"
// and "VigilExistFlag", the reads and writes of the despooler's flags and "VigilReadFlag", the locked
// read of "LanMonExistFlag", the copy of the despooler's status, the clearing of the run flags and the
// retry state. Other store values are read and written without it.

#include "engine.h"

#include <cstring>
#include <iterator>
#include <system_error>

#include "plat/base/message_box.h"
#include "plat/base/thread_name.h"
#include "plat/base/trace.h"
#include "plat/registry/registry.h"
#include "plat/text/text.h"

namespace vigil {
namespace {

using plat::registry::Root;
using plat::registry::Status;
using plat::registry::Store;
using plat::registry::ValueType;
using std::chrono_literals::operator""ms;

constexpr std::size_t kNameLimit = 271, kModelLimit = 255;
// A stop interrupts every wait of the engine's threads, so they end at once; the bound only keeps a
// caller from hanging for ever should a thread be held outside the engine (a message box's handler).
constexpr auto kThreadEndBound = std::chrono::seconds(30);

std::string limited(std::string_view text, std::size_t limit)
{
    return std::string(text.substr(0, plat::text::boundaryAtOrBefore(text, limit)));
}

}  // namespace

Engine::Engine(plat::Services& services) : m_services(services)
{
    m_link = std::make_unique<NetwareLink>(NetwareLinkOptions{{}, &services.clock()});
    auto opener = [&services](std::string_view port, const plat::port::Interrupt* interrupt) {
        return services.openPort(port, interrupt);
    };
    m_channel = std::make_unique<PortChannel>(*this, channelTiming(), opener, &m_portStop);
}

void Engine::setNetworkLink(std::unique_ptr<NetworkLink> link) { m_link = std::move(link); }

milliseconds Engine::scaled(milliseconds fixed) const { return m_services.clock().real(fixed); }

ChannelTiming Engine::channelTiming() const
{
    ChannelTiming timing;
    timing.timeouts = {scaled(timing.timeouts.readInterval), scaled(timing.timeouts.readTotal),
                       scaled(timing.timeouts.writeTotal)};
    timing.retryPause = scaled(timing.retryPause);
    timing.openRetryPause = scaled(timing.openRetryPause);
    timing.deviceIdPause = scaled(timing.deviceIdPause);
    return timing;
}

Session Engine::session() const
{
    std::lock_guard lock(m_sessionMutex);
    return m_session;
}

// ---- waits and threads ------------------------------------------------------------------------

bool Engine::pause(milliseconds duration, const std::function<bool()>& stopWhen)
{
    std::unique_lock lock(m_waitMutex);
    return !m_wake.wait_for(lock, duration, stopWhen);
}

bool Engine::awaitBeat(int beats, const std::function<bool()>& isDue, const std::function<bool()>& stopWhen)
{
    std::unique_lock lock(m_waitMutex);
    return m_services.heartbeat().await(beats, isDue, m_wake, lock, stopWhen);
}

void Engine::wakeWaiters()
{
    {
        std::lock_guard lock(m_waitMutex);
    }
    m_wake.notify_all();
}

void Engine::startThread(const char* name, std::function<void()> body)
{
    joinFinishedThreads();
    std::lock_guard lock(m_threadsMutex);
    auto worker = m_workers.emplace(m_workers.end());
    try {
        // The worker's entry is marked under the same lock this start holds, so it exists by then.
        worker->thread = std::thread([this, worker, name, body = std::move(body)]() mutable {
            plat::nameThisThread(name);
            {
                auto run = std::move(body);  // whatever the body holds is gone before it counts as ended
                run();
            }
            std::lock_guard lock(m_threadsMutex);
            worker->finished = true;
            --m_activeThreads;
            m_threadsChanged.notify_all();
        });
        ++m_activeThreads;
    } catch (const std::system_error& error) {
        m_workers.erase(worker);
        plat::trace(std::string("vigil: no thread: ") + error.what());
    }
}

void Engine::joinFinishedThreads()
{
    std::list<Worker> finished;
    {
        std::lock_guard lock(m_threadsMutex);
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            auto next = std::next(it);
            if (it->finished) finished.splice(finished.end(), m_workers, it);
            it = next;
        }
    }
    for (auto& worker : finished) worker.thread.join();
}

void Engine::startLongRunning(const char* name, std::atomic<std::uint32_t>& runFlag, void (Engine::*body)(),
                              std::uint64_t generation)
{
    // Started only when not running already; the flag is set before the thread exists. Under the
    // lock, so a stop either clears the flag after this or refuses the start.
    {
        std::lock_guard lock(m_lock);
        if (stopRequested(generation)) return;
        std::uint32_t idle = 0;
        if (!runFlag.compare_exchange_strong(idle, 1)) return;
    }
    startThread(name, [this, body] { (this->*body)(); });
}

bool Engine::waitForThreads(milliseconds bound)
{
    std::unique_lock lock(m_threadsMutex);
    return m_threadsChanged.wait_for(lock, bound, [&] { return m_activeThreads == 0; });
}

void Engine::clearRunFlags()
{
    {
        std::lock_guard lock(m_lock);
        m_realTimeRun = m_commandRun = m_portWatchRun = m_retryRun = 0;
    }
    wakeWaiters();
}

// ---- store access -------------------------------------------------------------------------------

std::string Engine::keyPath(EngineKey key) const
{
    // Only the one path: every store access of every loop asks for it.
    std::lock_guard lock(m_sessionMutex);
    switch (key) {
    case EngineKey::Printer: return m_session.printerKey;
    case EngineKey::DriverData: return m_session.driverDataKey;
    case EngineKey::Store: return m_session.storeKey;
    }
    return {};
}

std::optional<std::string> Engine::readBytes(EngineKey key, std::string_view name, std::size_t max) const
{
    std::string buffer(max, '\0');
    std::uint32_t size = 0;
    if (m_services.store().getValue(Root::LocalMachine, keyPath(key), name, std::as_writable_bytes(std::span(buffer)),
                                    &size) != Status::Ok) {
        return std::nullopt;
    }
    buffer.resize(size);
    return buffer;
}

std::optional<std::uint32_t> Engine::readDword(EngineKey key, std::string_view name) const
{
    auto bytes = readBytes(key, name, 4);
    if (!bytes) return std::nullopt;
    std::uint32_t value = 0;
    std::memcpy(&value, bytes->data(), bytes->size());
    return value;
}

std::optional<std::string> Engine::readString(EngineKey key, std::string_view name, std::size_t max) const
{
    auto bytes = readBytes(key, name, max);
    // Strings of the library carry their terminating zero; the text ends there.
    if (bytes) bytes->resize(std::strlen(bytes->c_str()));
    return bytes;
}

bool Engine::writeValue(EngineKey key, std::string_view name, ValueType type, std::span<const std::byte> data) const
{
    return m_services.store().setValue(Root::LocalMachine, keyPath(key), name, type, data,
                                       key == EngineKey::Store ? Store::Flush::Yes : Store::Flush::No) == Status::Ok;
}

bool Engine::writeDword(EngineKey key, std::string_view name, std::uint32_t value) const
{
    return writeValue(key, name, ValueType::Dword, std::as_bytes(std::span(&value, 1)));
}

bool Engine::writeString(EngineKey key, std::string_view name, std::string_view text) const
{
    // The engine stores texts without their terminating zero; every reader accepts both.
    return writeValue(key, name, ValueType::String, std::as_bytes(std::span(text.data(), text.size())));
}

bool Engine::writeBinary(EngineKey key, std::string_view name, std::string_view bytes) const
{
    return writeValue(key, name, ValueType::Binary, std::as_bytes(std::span(bytes.data(), bytes.size())));
}

std::uint32_t Engine::refresh(std::string_view name, std::uint32_t fallback) const
{
    if (auto value = readDword(EngineKey::Store, name)) return *value;
    writeDword(EngineKey::Store, name, fallback);
    return fallback;
}

bool Engine::printerKeyExists() const
{
    plat::registry::Key key;
    return m_services.store().openKey(Root::LocalMachine, keyPath(EngineKey::Printer), plat::registry::Query, key) ==
           Status::Ok;
}

std::uint32_t Engine::lockedLanMonExist() const
{
    std::lock_guard lock(m_lock);
    return readDword(EngineKey::Store, value::kLanMonExistFlag).value_or(0);
}

// ---- busy bits, error report, stop ---------------------------------------------------------------

void Engine::busyChange(Busy busy, bool set, const std::atomic<std::uint32_t>* onlyWhile)
{
    static constexpr std::uint32_t bits[] = {kBusyStatusRead, kBusyCommand, kBusyHead, kBusyGap, kBusyStartUp};
    const std::uint32_t bit = bits[static_cast<int>(busy)];
    std::lock_guard lock(m_lock);
    if (onlyWhile != nullptr && *onlyWhile == 0) return;
    std::uint32_t flags = readDword(EngineKey::Store, value::kStRealThreadExistFlag).value_or(0);
    std::uint32_t low = flags & 0xff;
    low = set ? (low | bit) : (low & ~bit);
    writeDword(EngineKey::Store, value::kStRealThreadExistFlag, (flags & ~0xffu) | low);
}

void Engine::busyClearAll()
{
    busyChange(Busy::StatusRead, false);
    busyChange(Busy::Command, false);
    busyChange(Busy::HeadAction, false);
    busyChange(Busy::GapTool, false);
}

void Engine::writeStatus(std::uint32_t code)
{
    std::lock_guard lock(m_lock);
    writeDword(EngineKey::Store, value::kPrinterStFlag, code);
}

void Engine::writeExists(std::uint32_t value)
{
    std::lock_guard lock(m_lock);
    writeDword(EngineKey::Store, value::kVigilExistFlag, value);
}

void Engine::writeReadFlag(std::uint32_t value, const std::atomic<std::uint32_t>* onlyWhile)
{
    std::lock_guard lock(m_lock);
    if (onlyWhile != nullptr && *onlyWhile == 0) return;
    writeDword(EngineKey::DriverData, value::kVigilReadFlag, value);
}

void Engine::reportError(std::uint32_t code)
{
    if (code == kSwitchToDespooler) return switchToDespoolerMode();
    if (code == kSwitchToDirect) return switchToDirectMode();
    if (m_firstErrorLatch && code == kCommFailure) code = kCommFailureAgain;
    writeStatus(code);
    m_firstErrorLatch = 1;
}

void Engine::stopAll()
{
    clearRunFlags();
    writeExists(0);
    busyClearAll();
    writeReadFlag(2);
}

void Engine::deleteStThreads()
{
    if (!m_lockReady) return;
    {
        // A start-up still running ends at its next step, and starts nothing more.
        std::lock_guard lock(m_lock);
        ++m_generation;
        m_realTimeRun = m_commandRun = m_portWatchRun = m_retryRun = 0;
    }
    // A thread inside a port exchange (a slow printer takes seconds) leaves it at once.
    m_portStop.raise();
    wakeWaiters();
    // So does one inside a network request: a slow interface holds a request for up to 20 s, and
    // the start-up's device-ID and first status reads make ten of them before they look at a stop.
    // The close is not for good: a later start opens the link again, with the printer still located.
    m_link->close(false);
    // The threads are waited for and joined, not given a fixed time: none may touch the store after
    // the stop, and none may run once the caller goes on.
    const bool ended = waitForThreads(kThreadEndBound);
    if (!ended) plat::trace("vigil: engine threads did not end within the stop's bound");
    joinFinishedThreads();
    // A start-up that was stopped after it opened the link has left it open; an open link refuses
    // the next start's open.
    if (ended) m_link->close(false);
    writeExists(0);
    busyClearAll();
    writeReadFlag(2);
    if (ended) m_portStop.clear();
}

// ---- start-up ----------------------------------------------------------------------------------

void Engine::createVigilmonInitialize(StartBlock start)
{
    if (start.connection != kCaptured) start.capturedPort.clear();
    // The session and the lock are ready before the start returns, so a stop right after it finds a
    // start to stop (and the keys it writes), not a start-up thread that has yet to begin.
    Session s;
    s.start = start;
    s.start.port = limited(start.port, kNameLimit);
    s.start.capturedPort = limited(start.capturedPort, kNameLimit);
    s.start.printer = limited(start.printer, kNameLimit);
    s.start.model = limited(start.model, kModelLimit);
    s.printerKey = std::string(facts::key::kPrinters) + s.start.printer;
    s.driverDataKey = s.printerKey + std::string(facts::key::kDriverData);
    s.storeKey = s.printerKey + std::string(facts::key::kEngineStore);
    prepareTemplates(s);
    {
        std::lock_guard lock(m_sessionMutex);
        m_session = s;
    }
    m_lockReady = true;
    m_portStop.clear();  // left raised by a stop whose threads did not all end in time
    const std::uint64_t generation = m_generation;
    startThread("vigil-start", [this, s = std::move(s), generation] { startUpThread(s, generation); });
}

void Engine::startUpThread(const Session& s, std::uint64_t generation)
{
    m_optionCardKnown = 0;
    m_inkQueryPending = 0;

    if (s.start.connection == kLocal && s.start.family == EngineFamily::Inkjet &&
        readDword(EngineKey::DriverData, value::kDespoolerRunFlag).value_or(0) != 0) {
        if (despoolerStart(generation)) return;
    }
    if (const facts::Model* model = facts::byName(s.start.model); model != nullptr && model->despoolerOnly) {
        writeStatus(kCannotMonitor);
        busyChange(Busy::StartUp, false);
        return;
    }
    for (bool firstPass = true; !stopRequested(generation); firstPass = false) {
        if (!firstPass && !pause(scaled(10000ms), [&] { return stopRequested(generation); })) return;
        // The port watch starts only once the printer answers: one tried again may have been moved to
        // another port meanwhile, and would be tried on the old one for good.
        if (!firstPass && endedByPortChange(s)) return;
        if (startUpPass(s, generation)) return;
    }
}

bool Engine::startUpPass(const Session& s, std::uint64_t generation)
{
    const bool network = s.start.connection == kQueue || s.start.connection == kCaptured;
    const milliseconds attemptPause = s.start.connection == kLocal ? 500ms : 1000ms;
    auto stopped = [&] { return stopRequested(generation); };
    auto giveUp = [&](std::uint32_t code) {
        writeStatus(code);
        busyChange(Busy::StartUp, false);
        return true;
    };
    auto tryAgainLater = [&] {
        busyChange(Busy::StartUp, false);
        reportError(kCommFailure);
        return false;
    };

    if (s.start.connection == kLocal) {
        // Another monitor owns the printer while it says so; ask again shortly, not in a tight loop.
        while (readDword(EngineKey::Store, value::kLanMonExistFlag).value_or(0) != 0) {
            if (!pause(scaled(50ms), stopped)) return true;
        }
        busyChange(Busy::StartUp, true);
    } else if (network) {
        busyChange(Busy::StartUp, true);
        bool open = false;
        for (int attempt = 0; attempt < 10 && !open; ++attempt) {
            if (attempt > 0 && !pause(scaled(5000ms), stopped)) return true;
            open = m_link->open(s.start.port);
        }
        if (!open) return tryAgainLater();
    }

    std::string id;
    DeviceIdAnswer answer = DeviceIdAnswer::NoReply;
    for (int attempt = 0; attempt < 10 && answer == DeviceIdAnswer::NoReply; ++attempt) {
        if (stopped()) return true;
        if (attempt > 0 && !pause(scaled(attemptPause), stopped)) return true;
        answer = getDeviceId(s, id);
    }
    if (answer == DeviceIdAnswer::NotAvailable) {
        if (network) m_link->close(true);
        return giveUp(kCannotMonitor);
    }
    if (answer == DeviceIdAnswer::NoReply) {
        if (network) m_link->close(false);
        return tryAgainLater();
    }
    if (network && !m_link->extendedRequest() && facts::needsExtendedRequestBehindQueue(s.start.model)) {
        m_link->close(true);
        return giveUp(kCannotMonitor);
    }
    writeBinary(EngineKey::Store, value::kDeviceIDStrings, id);
    writeDword(EngineKey::Store, value::kDeviceIDLength, static_cast<std::uint32_t>(id.size()));
    writeStatus(kMonitoring);

    if (s.start.connection == kLocal) {
        bool enabled = false;
        for (int attempt = 0; attempt < 10 && !enabled; ++attempt) {
            if (stopped()) return true;
            if (attempt > 0 && !pause(scaled(500ms), stopped)) return true;
            enabled = writeCommand(s, s.statusEnable, 10, CancelMode::None);
        }
        if (!enabled) return tryAgainLater();
        writeStatus(kMonitoring);
    }

    bool read = false;
    for (int attempt = 0; attempt < 10 && !read; ++attempt) {
        if (stopped()) return true;
        if (attempt > 0 && !pause(scaled(attemptPause), stopped)) return true;
        read = (network ? firstNetworkRead(s, generation) : firstStatusRead(s, generation)) == 1;
    }
    if (!read) {
        if (network) m_link->close(false);
        return tryAgainLater();
    }
    if (s.start.connection == kLocal && ij03ModelCheckRefuses(s)) return giveUp(kCannotMonitor);
    if (stopped()) return true;

    writeStatus(kMonitoring);
    busyChange(Busy::StartUp, false);
    becomeMonitoring(/*despoolerMode=*/false, generation);
    return true;
}

void Engine::becomeMonitoring(bool despoolerMode, std::uint64_t generation)
{
    if (despoolerMode) {
        startLongRunning("vigil-despool", m_realTimeRun, &Engine::despoolerWatchThread, generation);
    } else {
        startLongRunning("vigil-status", m_realTimeRun, &Engine::realTimeThread, generation);
        if (session().start.connection == kLocal)
            startLongRunning("vigil-mailbox", m_commandRun, &Engine::commandThread, generation);
    }
    startLongRunning("vigil-portwatch", m_portWatchRun, &Engine::portWatchThread, generation);
    startLongRunning("vigil-retry", m_retryRun, &Engine::retryThread, generation);
    writeStatus(kMonitoring);
    m_firstErrorLatch = 0;
    {
        std::lock_guard lock(m_lock);
        m_retryState = 0;
    }
    // Last: the flag says the engine is ready, with its threads running and its state reset.
    writeExists(1);
}

bool Engine::ij03ModelCheckRefuses(const Session& s)
{
    const facts::Model* model = facts::byName(s.start.model);
    if (model == nullptr || model->code != facts::Code::IJ03) return false;
    auto ink = readString(EngineKey::Store, value::kInkLevel, 1024);
    if (!ink || ink->find("@BDC PS") == std::string::npos) return false;
    plat::messageBox("Vigilmon", "選択されたプリンタではモニタできません\n     プリンタ        ＩＪ－０３");
    return true;
}

// ---- retry --------------------------------------------------------------------------------------

void Engine::retryThread()
{
    auto stopped = [&] { return m_retryRun == 0; };
    // A communication error is looked for every second, on the heartbeat.
    auto failed = [&] {
        const auto code = readDword(EngineKey::Store, value::kPrinterStFlag).value_or(0);
        return m_retryState == 0 && (code == kCommFailure || code == kCommFailureAgain);
    };
    while (m_retryRun) {
        if (!awaitBeat(2, failed, stopped)) break;
        if (!failed()) continue;
        {
            // The flags go first, so a pass still under way marks nothing after the values below.
            std::lock_guard lock(m_lock);
            m_retryState = 1;
            m_realTimeRun = m_commandRun = m_portWatchRun = 0;
        }
        wakeWaiters();
        writeExists(0);
        busyClearAll();
        writeReadFlag(2);
        const auto retryTime = refresh(value::kStRetryTime, value::kDefaultRetryTimeMs);
        if (!pause(m_services.clock().interval(milliseconds(retryTime)), stopped)) break;
        busyClearAll();
        writeReadFlag(2);
        std::lock_guard lock(m_lock);
        m_retryState = 2;
    }
}

}  // namespace vigil

namespace vigil {

std::uint32_t Engine::checkConnectPrinter(std::string_view port, char* queuePath)
{
    // The caller's buffer holds a queue path of up to 511 bytes and its terminating zero.
    constexpr std::size_t kQueuePathBytes = 512;
    return classifyPort(m_services.store(), port,
                        queuePath != nullptr ? std::span(queuePath, kQueuePathBytes) : std::span<char>());
}

std::uint32_t Engine::networkLinkEnd() { return m_link->close(true) ? 1 : 0; }

}  // namespace vigil
