// The long-running threads: the real-time status thread (direct mode), despooler mode with its start,
// watch thread and switches, the command mailbox and the port watch.

#include "engine.h"
#include "plat/base/local_time.h"
#include "plat/base/trace.h"
#include "plat/text/text.h"

namespace vigil {
namespace {

using std::chrono_literals::operator""ms;

constexpr std::size_t kMaxCommandBytes = 2048, kMaxPassBytes = 1024;

// Mailbox answers in "CommandOkFlag".
enum CommandAnswer : std::uint32_t { kPosted = 1, kDone = 2, kRefused = 4, kFailed = 8, kUnreadable = 16 };
enum CommandKind : std::uint16_t { kReadDeviceId = 1, kSendAndWait = 2, kSendOnly = 4 };

}  // namespace

// ---- direct mode ----------------------------------------------------------------------------------

void Engine::realTimeThread()
{
    const Session s = session();
    const bool network = s.start.connection == kQueue || s.start.connection == kCaptured;
    auto end = [&] {
        if (network) m_link->close(false);
    };
    for (;;) {
        if (!m_realTimeRun) return end();
        if (s.start.connection == kLocal && s.start.family == EngineFamily::Inkjet &&
            readDword(EngineKey::DriverData, value::kDespoolerRunFlag).value_or(0) != 0) {
            return reportError(kSwitchToDespooler);
        }
        const std::uint32_t lanMon = refresh(value::kLanMonExistFlag, 0);
        const std::uint32_t startFlag = refresh(value::kGetRealTimeStatusStartFlag, 1);
        const std::uint32_t interval = refresh(value::kGetRealTimeStatusTime, value::kEngineFallbackStatusTimeMs);
        const std::uint32_t busy = refresh(value::kStRealThreadExistFlag, 0);
        const std::uint32_t exists = refresh(value::kVigilExistFlag, 0);

        if (exists == 0 || lanMon != 0 || startFlag == 0 || (busy & (kBusyCommand | kBusyHead | kBusyGap)) != 0) {
            // Another monitor has the port: an IJ-03's ink is asked for again once it is free.
            if (s.start.connection == kLocal && lanMon != 0 && s.start.family == EngineFamily::Inkjet &&
                inkAskedApart(s)) {
                m_inkQueryPending = 1;
            }
        } else {
            busyChange(Busy::StatusRead, true, &m_realTimeRun);
            writeReadFlag(1, &m_realTimeRun);
            std::string reply;
            PassOutcome outcome = PassOutcome::Empty;
            if (s.start.connection == kLocal) {
                if (lockedLanMonExist() != 0) {
                    busyChange(Busy::StatusRead, false);
                    continue;
                }
                outcome = periodicStatusRead(s, reply);
                if (outcome == PassOutcome::NoReply) {
                    if (lockedLanMonExist() != 0) busyChange(Busy::StatusRead, false);
                    else if (m_realTimeRun) reportError(kCommFailure);
                    continue;
                }
            } else if (network) {
                outcome = periodicNetworkRead(s, reply);
            } else if (s.start.connection != kOtherNetwork3 && s.start.connection != kOtherNetwork4) {
                writeStatus(kCannotMonitor);
                stopAll();
                return end();
            }
            if (outcome == PassOutcome::ThreadEnds) return end();
            if (outcome == PassOutcome::NextPassNow) continue;
            if (outcome == PassOutcome::Reply && !reply.empty()) {
                writeString(EngineKey::Store, value::kRealTimeStatusStrings, reply);
            }
            writeReadFlag(0, &m_realTimeRun);
            busyChange(Busy::StatusRead, false);
        }
        if (!pause(milliseconds(interval), [&] { return m_realTimeRun == 0; })) return end();
    }
}

// ---- despooler mode -------------------------------------------------------------------------------

bool Engine::despoolerFresh() const
{
    std::lock_guard lock(m_lock);
    auto last = readDword(EngineKey::DriverData, value::kDespoolerLastAccessTime);
    auto interval = readDword(EngineKey::DriverData, value::kDespoolerIntervalTime);
    const std::int64_t sum = last && interval ? static_cast<std::int64_t>(*last) + *interval : 0;
    return sum >= plat::localEpochSeconds();
}

bool Engine::copyDespoolerStatus()
{
    const Session s = session();
    std::lock_guard lock(m_lock);
    auto status = readString(EngineKey::DriverData, value::kRealTimeStatusStrings, 512);
    if (!status) return false;
    if (!inkAskedApart(s)) {
        writeString(EngineKey::Store, value::kRealTimeStatusStrings, *status);
        return true;
    }
    auto ink = readString(EngineKey::DriverData, value::kInkLevel, 512);
    if (!ink) return false;
    writeString(EngineKey::Store, value::kRealTimeStatusStrings, *status);
    writeString(EngineKey::Store, value::kInkLevel, *ink);
    return true;
}

bool Engine::despoolerStart(std::uint64_t generation)
{
    auto stopped = [&] { return stopRequested(generation); };
    auto driverDword = [&](const char* name) {
        std::lock_guard lock(m_lock);
        return readDword(EngineKey::DriverData, name);
    };
    for (bool firstPass = true; !stopped(); firstPass = false) {
        if (!firstPass && !pause(scaled(10000ms), stopped)) return true;
        // The despooler may still be starting: wait for it while it says it runs.
        while (driverDword(value::kDespoolerExistFlag).value_or(0) == 0) {
            if (driverDword(value::kDespoolerRunFlag).value_or(0) == 0) return false;
            if (!pause(scaled(50ms), stopped)) return true;
        }
        if (!despoolerFresh()) {
            std::lock_guard lock(m_lock);
            writeDword(EngineKey::DriverData, value::kDespoolerRunFlag, 0);
            writeDword(EngineKey::DriverData, value::kDespoolerExistFlag, 0);
            return false;
        }
        for (int attempt = 0; attempt < 10; ++attempt) {
            auto code = driverDword(value::kPrinterStFlag);
            if (driverDword(value::kDespoolerExistFlag).value_or(0) == 0 || !despoolerFresh() || !code) {
                writeStatus(kCannotMonitor);
                return true;
            }
            if (*code != 0) continue;
            auto id = readBytes(EngineKey::DriverData, value::kDeviceIDStrings, 2048);
            auto length = readDword(EngineKey::DriverData, value::kDeviceIDLength);
            auto model = readString(EngineKey::Store, value::kIDMDL, 512);
            const Session s = session();
            if (id && length && model) {
                id->resize(std::min<std::size_t>(id->size(), *length));
                if (id->find("MFG:VELTA") != std::string::npos &&
                    id->find("MDL:" + *model + ";") != std::string::npos &&
                    writeBinary(EngineKey::Store, value::kDeviceIDStrings, *id) &&
                    writeDword(EngineKey::Store, value::kDeviceIDLength, static_cast<std::uint32_t>(id->size())) &&
                    copyDespoolerStatus()) {
                    if (ij03ModelCheckRefuses(s)) {
                        writeStatus(kCannotMonitor);
                        return true;
                    }
                    becomeMonitoring(/*despoolerMode=*/true, generation);
                    return true;
                }
            }
            writeStatus(kCannotMonitor);
            return true;
        }
    }
    return true;
}

void Engine::despoolerWatchThread()
{
    while (m_realTimeRun) {
        refresh(value::kLanMonExistFlag, 0);
        refresh(value::kGetRealTimeStatusStartFlag, 1);
        const std::uint32_t interval = refresh(value::kGetRealTimeStatusTime, value::kEngineFallbackStatusTimeMs);
        refresh(value::kStRealThreadExistFlag, 0);
        refresh(value::kVigilExistFlag, 0);
        std::optional<std::uint32_t> exists, code;
        {
            std::lock_guard lock(m_lock);
            exists = readDword(EngineKey::DriverData, value::kDespoolerExistFlag);
            code = readDword(EngineKey::DriverData, value::kPrinterStFlag);
        }
        if (exists.value_or(0) == 0) return reportError(kSwitchToDirect);
        if (!despoolerFresh() || !code) {
            writeStatus(kCannotMonitor);
            return stopAll();
        }
        if (*code != 0) {
            reportError(kCommFailure);
            continue;
        }
        if (!copyDespoolerStatus()) {
            writeStatus(kCannotMonitor);
            return stopAll();
        }
        if (!pause(milliseconds(interval), [&] { return m_realTimeRun == 0; })) return;
    }
}

void Engine::switchToDespoolerMode()
{
    std::uint64_t generation = 0;
    {
        // Only a thread still running may switch: one that a stop has ended starts nothing.
        std::lock_guard lock(m_lock);
        if (m_realTimeRun == 0) return;
        m_realTimeRun = m_commandRun = 0;
        generation = m_generation;
    }
    wakeWaiters();
    startThread("vigil-switch", [this, generation] {
        auto stopped = [&] { return stopRequested(generation); };
        if (!pause(scaled(1000ms), stopped)) return;
        busyClearAll();
        writeReadFlag(0);
        for (;;) {
            std::optional<std::uint32_t> exists, runs;
            {
                std::lock_guard lock(m_lock);
                exists = readDword(EngineKey::DriverData, value::kDespoolerExistFlag);
                runs = readDword(EngineKey::DriverData, value::kDespoolerRunFlag);
            }
            if (exists.value_or(0) != 0 || runs.value_or(0) == 0) break;
            if (!pause(scaled(50ms), stopped)) return;
        }
        startLongRunning("vigil-despool", m_realTimeRun, &Engine::despoolerWatchThread, generation);
        busyClearAll();
        writeReadFlag(0);
    });
}

void Engine::switchToDirectMode()
{
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_lock);
        if (m_realTimeRun == 0) return;
        m_realTimeRun = 0;
        generation = m_generation;
    }
    wakeWaiters();
    startThread("vigil-switch", [this, generation] {
        busyClearAll();
        writeReadFlag(0);
        if (!pause(scaled(1000ms), [&] { return stopRequested(generation); })) return;
        startLongRunning("vigil-status", m_realTimeRun, &Engine::realTimeThread, generation);
        startLongRunning("vigil-mailbox", m_commandRun, &Engine::commandThread, generation);
    });
}

// ---- command mailbox ------------------------------------------------------------------------------

void Engine::commandThread()
{
    const Session s = session();
    auto cancelled = [&] { return m_commandRun == 0; };
    // The mailbox is looked at every beat of the heartbeat; this thread wakes for a posted command only.
    auto posted = [&] { return refresh(value::kCommandOkFlag, 0) == kPosted; };
    while (m_commandRun) {
        if (posted()) {
            const std::uint32_t lanMon = refresh(value::kLanMonExistFlag, 0);
            const std::uint32_t exists = refresh(value::kVigilExistFlag, 0);
            const std::uint32_t open = refresh(value::kCommandExecStartFlag, 0);
            if (exists == 0 || lanMon != 0 || open == 0) {
                plat::trace("vigil: command refused: the mailbox is closed");
                writeDword(EngineKey::Store, value::kCommandOkFlag, kRefused);
            } else {
                writeDword(EngineKey::Store, value::kCommandOkFlag, runCommand(s, cancelled));
            }
        }
        if (!awaitBeat(1, posted, cancelled)) return;
    }
}

std::uint32_t Engine::runCommand(const Session& s, const std::function<bool()>& cancelled)
{
    busyChange(Busy::Command, true, &m_commandRun);
    const std::uint32_t startFlag = readDword(EngineKey::Store, value::kGetRealTimeStatusStartFlag).value_or(0);
    writeDword(EngineKey::Store, value::kGetRealTimeStatusStartFlag, 0);
    auto answer = [&](std::uint32_t result) {
        writeDword(EngineKey::Store, value::kGetRealTimeStatusStartFlag, startFlag);
        busyChange(Busy::Command, false);
        return result;
    };
    pause(scaled(200ms), cancelled);

    bool portFree = false;
    for (int check = 0; check < 10 && !portFree; ++check) {
        if (check > 0) pause(scaled(500ms), cancelled);
        portFree = (readDword(EngineKey::Store, value::kStRealThreadExistFlag).value_or(0) &
                    (kBusyStatusRead | kBusyHead | kBusyGap)) == 0;
    }
    if (!portFree) {
        plat::trace("vigil: command refused: the port stayed busy");
        return answer(kRefused);
    }

    // The request is sized by its own length values; one beyond the mailbox's limits, or longer than
    // the bytes stored, is refused as unreadable rather than read past.
    auto length = readDword(EngineKey::Store, value::kCommandLength);
    if (!length || *length < 2 || *length > kMaxCommandBytes) return answer(kUnreadable);
    auto request = readBytes(EngineKey::Store, value::kCommandStrings, kMaxCommandBytes);
    if (!request || request->size() < *length) return answer(kUnreadable);
    request->resize(*length);
    const auto kind = static_cast<std::uint16_t>(static_cast<unsigned char>((*request)[0]) |
                                                 (static_cast<unsigned char>((*request)[1]) << 8));
    const std::string bytes = request->substr(2);
    std::string pass;
    if (kind == kSendAndWait) {
        auto passLength = readDword(EngineKey::Store, value::kPassLength);
        auto passBytes = readBytes(EngineKey::Store, value::kPassStrings, kMaxPassBytes);
        if (!passLength || *passLength > kMaxPassBytes || !passBytes || passBytes->size() < *passLength) {
            return answer(kUnreadable);
        }
        pass = passBytes->substr(0, *passLength);
    }

    switch (kind) {
    case kReadDeviceId: {
        char id[2048];
        std::uint32_t count = 0;
        if (m_channel->readDeviceId(s.start.port, id, count, 10) != 1) return answer(kFailed);
        writeBinary(EngineKey::Store, value::kDeviceIDStrings, std::string_view(id, count));
        writeDword(EngineKey::Store, value::kDeviceIDLength, count);
        return answer(kDone);
    }
    case kSendAndWait: {
        // A failed write is answered 8, unless a matching reply still comes within the wait.
        writeCommand(s, bytes, 10, CancelMode::Command);
        if (cancelled()) return answer(kFailed);
        std::string reply;
        if (readUntilContains(s, pass, 10, true, cancelled, reply)) {
            writeString(EngineKey::Store, value::kRetStrings, reply);
            return answer(kDone);
        }
        if (!cancelled()) pause(scaled(500ms), cancelled);
        return answer(kFailed);
    }
    case kSendOnly: {
        const bool written = writeCommand(s, bytes, 10, CancelMode::Command);
        return answer(written && !cancelled() ? kDone : kFailed);
    }
    default: return answer(kUnreadable);
    }
}

// ---- port watch -----------------------------------------------------------------------------------

Engine::PortWatch Engine::lookAtPort(const Session& s) const
{
    if (!printerKeyExists()) return PortWatch::PrinterGone;
    const std::string& watched = s.start.connection == kCaptured ? s.start.capturedPort : s.start.port;
    auto port = readString(EngineKey::Printer, value::kPrinterPort, 1024);
    if (!port) return PortWatch::PrinterGoneWithStatus;
    if (!plat::text::equalWholeIgnoringCase(*port, watched) || plat::text::equalWholeIgnoringCase(*port, "FILE:")) {
        return PortWatch::PortChanged;
    }
    auto driver = readString(EngineKey::Printer, value::kPrinterDriver, 1024);
    if (!driver) return PortWatch::PrinterGoneWithStatus;
    if (!plat::text::equalWholeIgnoringCase(*driver, s.start.model)) return PortWatch::DriverChanged;
    return PortWatch::Unchanged;
}

bool Engine::endedByPortChange(const Session& s)
{
    switch (lookAtPort(s)) {
    case PortWatch::Unchanged: return false;
    case PortWatch::PrinterGone: break;
    case PortWatch::PrinterGoneWithStatus: writeStatus(kPrinterGone); break;
    case PortWatch::PortChanged: writeStatus(kPortChanged); break;
    case PortWatch::DriverChanged: break;
    }
    stopAll();
    return true;
}

void Engine::portWatchThread()
{
    const Session s = session();
    auto stopped = [&] { return m_portWatchRun == 0; };
    // The printer's entry is looked at every beat of the heartbeat; this thread wakes for a change only.
    auto changed = [&] { return lookAtPort(s) != PortWatch::Unchanged; };
    while (m_portWatchRun) {
        if (endedByPortChange(s)) return;
        if (!awaitBeat(1, changed, stopped)) return;
    }
}

}  // namespace vigil
