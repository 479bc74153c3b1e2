#pragma once
// Runs the despooler bridge against a CUPS spooler on a thread of its own: the driver-data writes go
// to the store, which may wait on another writer, so they never run on the window's thread. A pass
// follows every change of the spooler, and every few seconds while a velta queue prints (the
// backend's heartbeat moves the alert on without an event). When the runner ends it takes every
// value back.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "despooler_bridge.h"
#include "plat/spool/spooler.h"

namespace watchlist {

// The bridge's view of the spooler's queues: a queue is ours when its device URI is velta:.
std::vector<QueueState> bridgeQueues(const std::vector<plat::spool::QueueState>& states);

class BridgeRunner {
public:
    struct Timing {
        std::chrono::milliseconds printing{2000};  // between passes while a velta queue prints
        std::chrono::milliseconds step{250};       // how soon a change (or the end) is seen
    };

    // Nothing (no runner) when `spooler` is not a CUPS spooler: the embedded spooler has its
    // despooler in the printer's own driver data already. `spooler` and `store` (where the printer data
    // of a deleted queue is released) must outlive the runner.
    static std::unique_ptr<BridgeRunner> start(plat::spool::Spooler& spooler, plat::registry::Store& store,
                                               Timing timing);
    static std::unique_ptr<BridgeRunner> start(plat::spool::Spooler& spooler, plat::registry::Store& store)
    {
        return start(spooler, store, Timing{});
    }
    // Stops the thread and releases every queue the bridge speaks for.
    ~BridgeRunner();
    BridgeRunner(const BridgeRunner&) = delete;
    BridgeRunner& operator=(const BridgeRunner&) = delete;

    // Passes made so far (for tests that wait for one more).
    std::uint64_t passes() const { return m_passes.load(); }

private:
    BridgeRunner(plat::spool::CupsSpooler& cups, plat::registry::Store& store, Timing timing);
    void run();
    void pass();
    void write(const DespoolerBridge::Value& value);

    plat::spool::CupsSpooler& m_cups;
    plat::registry::Store& m_store;
    Timing m_timing;
    DespoolerBridge m_bridge;
    bool m_printing = false;  // the runner's thread only
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_passes{0};
    std::thread m_thread;
};

}  // namespace watchlist
