#pragma once
// The driver-configuration updates, off the panel's thread. Each one lists the spooler's printers and
// sets printer data on those of the printer's model; on CUPS that is a request that may wait seconds
// for the scheduler (3 s to connect, 10 s for an answer), and the printer's own status must never
// wait for it. So the updates run one after the other on a worker of their own.
//
// An update that has not started yet is replaced by a newer one: only the latest state is worth
// writing, and a scheduler that stops answering for a while must not leave a pile of stale updates
// behind. A status update (mode 0) and a periodic one (mode 1) merge into a status update, which
// writes everything both would. The final update (mode 2) is never merged, and nothing merges into it.

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "panel.h"
#include "plat/gui/worker.h"

namespace watchpanel {

// fUpDateDriverConfig on the request's copies; it may change the request's information block.
void runDriverConfig(DriverConfigRequest& request);

class DriverConfigQueue final : public DriverConfigSink {
public:
    using Run = std::function<void(DriverConfigRequest&)>;

    // Runs the updates with `run` on `worker`, which must outlive the queue's last update (stop it
    // before the queue goes).
    explicit DriverConfigQueue(plat::gui::Worker& worker, Run run = runDriverConfig);

    // Any thread; never waits for an update to run.
    void update(const DriverConfigRequest& request) override;

private:
    void runNext();

    plat::gui::Worker& m_worker;
    Run m_run;
    std::mutex m_mutex;
    std::deque<DriverConfigRequest> m_waiting;  // guarded by m_mutex; one posted job per element
    // Worker only: the resolution the last update found for the printer, which the next one starts
    // from (the update keeps it in the information block, and the panel's block is a copy here).
    std::optional<std::int32_t> m_resolution;
};

}  // namespace watchpanel
