#pragma once
// The engine: the state of one printer it monitors, and the threads that keep that printer's store
// current. It works with the services it is given (the store, the clock of its fixed waits, the port
// opener); a process keeps one for its exports (exports.cpp), and a test as many as it likes.
//
// Everything the engine learns goes into the registry store: the store key (printer key +
// "\Vigilmon"), the driver-data key (printer key + "\PrinterDriverData", shared with the maker's
// despooler) and the printer key itself (read only). The engine never creates a key; a value it
// refreshes is created with its default when missing.
//
// Threads: every thread the engine starts is counted and joined, so a stop waits until all have ended
// instead of hoping a fixed pause was long enough. A stop reaches every wait: fixed waits go through
// pause(scaled()), which it wakes, and port exchanges through the channel, whose interrupt it raises.
// The fixed waits run on the services' clock (a test clock runs them faster); values read from the
// store (the status interval, the retry time) are taken as they are.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "facts/models.h"
#include "facts/store_names.h"
#include "plat/services/services.h"
#include "vigil/netware_link.h"
#include "vigil/network_link.h"
#include "vigil/port_channel.h"

namespace vigil {

namespace value = facts::value;

using std::chrono::milliseconds;

// Connection kinds as the start call gives them; the family comes as the engine's numbering of it.
enum Connection : std::uint32_t { kLocal = 1, kQueue = 2, kOtherNetwork3 = 3, kOtherNetwork4 = 4, kCaptured = 5 };
using facts::EngineFamily;

// Status codes written to "PrinterStFlag".
using value::kCannotMonitor;
using value::kCommFailure;
using value::kCommFailureAgain;
using value::kMonitoring;
using value::kPortChanged;
using value::kPrinterGone;
// Control codes of the error-report entry.
inline constexpr std::uint32_t kSwitchToDespooler = 9001;
inline constexpr std::uint32_t kSwitchToDirect = 9002;

// The ten busy-bit changes of "StRealThreadExistFlag".
enum class Busy { StatusRead, Command, HeadAction, GapTool, StartUp };
inline constexpr std::uint32_t kBusyStatusRead = 0x01, kBusyCommand = 0x04, kBusyHead = 0x08, kBusyGap = 0x10,
                               kBusyStartUp = 0x20;

enum class EngineKey { Printer, DriverData, Store };

struct StartBlock {
    std::string port, capturedPort, printer, model;
    EngineFamily family{};  // any value the caller gave, so one no family has is possible
    std::uint32_t connection = 0, owner = 0;
};

// What one start works with: the start block, the key names built from it and the family's command
// templates. Threads take a copy (session()); a new start replaces it.
struct Session {
    StartBlock start;
    std::string printerKey, driverDataKey, storeKey;
    std::string statusEnable, optionCardQuery, optionCardExit, inkQuery, extendedQuery, headAction;
};

// The models whose ink is read with a query of its own, and the one that answers the gap query. These
// key on the beginning of the driver name, case included.
inline bool inkAskedApart(const Session& s)
{
    const facts::Model* model = facts::byNamePrefix(s.start.model);
    return model != nullptr && model->ink.reportedApart;
}
inline bool answersGapQuery(const Session& s)
{
    const facts::Model* model = facts::byNamePrefix(s.start.model);
    return model != nullptr && model->gapQuery;
}

// What a device-ID request gave: an ID of the started model, an answer that is none (another maker or
// model, or no ID on a port that answers), or no answer at all (worth asking again).
enum class DeviceIdAnswer { Matching, NotAvailable, NoReply };

// What a periodic status read leaves for the rest of its pass.
enum class PassOutcome { Reply, Empty, NoReply, NextPassNow, ThreadEnds };

// An IJ-03 ink reply as stored: the two bytes behind each "IQ:" dropped, unless the reply is 22 or
// 38 bytes long.
std::string editInkReply(std::string reply);

class Engine : public RunFlags {
public:
    // `services` must outlive the engine.
    explicit Engine(plat::Services& services);

    // ---- exports
    void createVigilmonInitialize(StartBlock start);
    void deleteStThreads();
    std::uint32_t execRetryState() const { return m_retryState; }
    std::uint32_t inkChange() const { return m_inkChange; }
    std::uint32_t setInkChange(std::uint32_t value) { return m_inkChange = value; }
    std::uint32_t gapReturn() const { return m_gapReturn; }
    std::uint32_t checkConnectPrinter(std::string_view port, char* queuePath);
    std::uint32_t networkLinkEnd();
    // Maintenance (maintenance.cpp): the head move for ink replacement, on the caller's thread, and
    // the gap-adjustment tool, on a thread of its own whose result gapReturn() gives.
    std::int32_t actHead(std::string_view port);
    std::int32_t execGap(std::string_view port);

    // ---- run flags, as the port channel polls them
    bool realTimeRunning() const override { return m_realTimeRun; }
    bool commandRunning() const override { return m_commandRun; }

    // ---- for tests
    void setNetworkLink(std::unique_ptr<NetworkLink> link);
    // Waits (bounded) until no engine thread runs; true if none does.
    bool waitForThreads(milliseconds bound);
    // Why the last gap-tool run did not start the tool (empty when it did, or had no reason to).
    std::string gapFailure() const;
    // How many runs of the gap thread have ended.
    std::uint32_t gapRunsEnded() const { return m_gapRunsEnded; }

private:
    // Lifecycle (engine.cpp)
    void startUpThread(const Session& s, std::uint64_t generation);
    // One pass of the start-up loop: true when the start-up is over (monitoring, or given up).
    bool startUpPass(const Session& s, std::uint64_t generation);
    void becomeMonitoring(bool despoolerMode, std::uint64_t generation);
    bool ij03ModelCheckRefuses(const Session& s);
    void reportError(std::uint32_t code);
    void stopAll();
    // A thread's own marks (its busy bit set, "VigilReadFlag" 1 or 0) are written only while its run
    // flag `onlyWhile` is set, checked under the lock: a stop clears the flags under the lock before it
    // writes its own values, so a thread still finishing its pass cannot overwrite them.
    void busyChange(Busy bit, bool set, const std::atomic<std::uint32_t>* onlyWhile = nullptr);
    void busyClearAll();  // changes 2, 4, 6 and 8
    void writeStatus(std::uint32_t code);
    void writeExists(std::uint32_t value);
    void writeReadFlag(std::uint32_t value, const std::atomic<std::uint32_t>* onlyWhile = nullptr);
    void retryThread();
    void clearRunFlags();
    bool stopRequested(std::uint64_t generation) const { return m_generation != generation; }
    Session session() const;

    // Threads and waits. pause() waits `duration` unless `stopWhen` turns true (checked whenever a
    // stop or a cleared run flag wakes the waiters); it returns false when it was cut short.
    // `name` (15 bytes at most) is what the thread is listed as.
    void startThread(const char* name, std::function<void()> body);
    // Joins the threads whose bodies have ended.
    void joinFinishedThreads();
    void startLongRunning(const char* name, std::atomic<std::uint32_t>& runFlag, void (Engine::*body)(),
                          std::uint64_t generation);
    bool pause(milliseconds duration, const std::function<bool()>& stopWhen);
    // For a loop that looks at something every `beats` beats of the process's heartbeat (500 ms each):
    // sleeps until `isDue` (asked on the heartbeat's thread) says yes, true then; false when `stopWhen`
    // turned true first. The loop's thread wakes only for work.
    // What the port watch finds in the printer's entry against the session's.
    enum class PortWatch { Unchanged, PrinterGone, PrinterGoneWithStatus, PortChanged, DriverChanged };
    PortWatch lookAtPort(const Session& s) const;
    // Ends monitoring as the port watch does when the printer was moved, deleted or given another
    // driver; false when it is as the session started it.
    bool endedByPortChange(const Session& s);
    bool awaitBeat(int beats, const std::function<bool()>& isDue, const std::function<bool()>& stopWhen);
    void wakeWaiters();
    milliseconds scaled(milliseconds fixed) const;
    ChannelTiming channelTiming() const;

    // Store access: open the existing key, one value, close. Writes to the store key are flushed.
    std::string keyPath(EngineKey key) const;
    std::optional<std::string> readBytes(EngineKey key, std::string_view name, std::size_t max) const;
    std::optional<std::uint32_t> readDword(EngineKey key, std::string_view name) const;
    std::optional<std::string> readString(EngineKey key, std::string_view name, std::size_t max) const;
    bool writeValue(EngineKey key, std::string_view name, plat::registry::ValueType type,
                    std::span<const std::byte> data) const;
    bool writeDword(EngineKey key, std::string_view name, std::uint32_t value) const;
    bool writeString(EngineKey key, std::string_view name, std::string_view text) const;
    bool writeBinary(EngineKey key, std::string_view name, std::string_view bytes) const;
    // Reads a DWORD of the store key, creating it with `fallback` when it is missing.
    std::uint32_t refresh(std::string_view name, std::uint32_t fallback) const;
    std::uint32_t lockedLanMonExist() const;
    bool printerKeyExists() const;

    // Status requests (status_requests.cpp)
    static void prepareTemplates(Session& s);
    bool writeCommand(const Session& s, std::string_view bytes, int attempts, CancelMode cancel);
    // Up to `tries` times: wait 500 ms (not before the first try unless `pauseFirst`), read once, and
    // keep the reply once it contains `pattern`. A wait cut short by `stop` ends it.
    bool readUntilContains(const Session& s, std::string_view pattern, int tries, bool pauseFirst,
                           const std::function<bool()>& stop, std::string& reply);
    DeviceIdAnswer getDeviceId(const Session& s, std::string& id);
    int firstStatusRead(const Session& s, std::uint64_t generation);
    PassOutcome periodicStatusRead(const Session& s, std::string& reply);
    int firstNetworkRead(const Session& s, std::uint64_t generation);
    PassOutcome periodicNetworkRead(const Session& s, std::string& reply);
    std::optional<std::string> networkStatus(const std::function<bool()>& stop);
    bool networkOptionCard(const Session& s, const std::string& reply, const std::function<bool()>& stop);

    // Polling loops (loops.cpp)
    void realTimeThread();
    bool despoolerStart(std::uint64_t generation);  // true: handled; false: fall back to direct mode
    void despoolerWatchThread();
    bool despoolerFresh() const;
    bool copyDespoolerStatus();
    void switchToDespoolerMode();
    void switchToDirectMode();
    void commandThread();
    std::uint32_t runCommand(const Session& s, const std::function<bool()>& cancelled);
    void portWatchThread();

    // Maintenance (maintenance.cpp)
    struct Paused {
        Busy busy;
        std::uint32_t startFlag, execFlag;
    };
    // Marks the action busy and closes the status reads and the mailbox; resume() undoes it.
    Paused pauseLoops(Busy busy, std::uint64_t generation);
    void resumeLoops(const Paused& paused);
    // Tests the busy bits up to 10 times, 500 ms apart, until none of `mask` is set.
    bool waitPortFree(std::uint32_t mask, std::uint64_t generation);
    // waitPortFree(), then the loops closed again for this action; false when the port stayed busy
    // (the caller resumes).
    bool takePort(std::uint32_t mask, Paused& paused, std::uint64_t generation);
    // Whether this engine monitors the printer and no other monitor has it.
    bool monitorsAlone();
    // 1 done, 0 not applicable, 4 not monitoring, 8 busy (the head busy guard is held by the caller).
    std::int32_t headAction(const Session& s, std::uint64_t generation);
    void gapThread(std::string port, std::uint64_t generation);
    std::uint32_t gapRun(const Session& s, std::uint64_t generation);
    // Starts the tool and waits for its end: false when it did not start.
    bool runGapTool(const Session& s);
    void setGapFailure(std::string reason);

    // ---- state
    mutable std::mutex m_lock;  // the engine's one lock: see the concurrency notes in engine.cpp
    std::atomic<bool> m_lockReady{false};
    mutable std::mutex m_sessionMutex;  // guards m_session only, so it can be read under m_lock
    Session m_session;                  // read through session()
    std::atomic<std::uint32_t> m_realTimeRun{0}, m_commandRun{0}, m_portWatchRun{0}, m_retryRun{0};
    std::atomic<std::uint32_t> m_firstErrorLatch{0}, m_retryState{0}, m_gapReturn{0}, m_inkChange{0};
    std::atomic<std::uint32_t> m_optionCardKnown{0}, m_inkQueryPending{0};
    std::atomic<std::uint32_t> m_headBusy{0}, m_gapBusy{0}, m_gapRunsEnded{0};
    mutable std::mutex m_gapFailureMutex;
    std::string m_gapFailure;                    // guarded by m_gapFailureMutex
    std::atomic<std::uint64_t> m_generation{0};  // a stop moves it on; a start-up of an older one ends

    plat::Services& m_services;
    std::unique_ptr<NetworkLink> m_link;
    std::unique_ptr<PortChannel> m_channel;

    // Thread accounting and interruptible waits.
    struct Worker {
        std::thread thread;
        bool finished = false;  // its body has ended; joining it takes no time
    };
    std::mutex m_threadsMutex;
    std::condition_variable m_threadsChanged;
    int m_activeThreads = 0;           // guarded by m_threadsMutex
    std::list<Worker> m_workers;       // guarded by m_threadsMutex: started, not joined yet
    plat::port::Interrupt m_portStop;  // raised by a stop: ends the port exchanges in progress
    std::mutex m_waitMutex;
    std::condition_variable m_wake;  // notified by a stop
};

}  // namespace vigil
