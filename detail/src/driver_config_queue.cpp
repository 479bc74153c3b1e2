#include "driver_config_queue.h"

#include <utility>

#include "watchcore.h"

namespace watchpanel {

namespace {

// The information block's word in which an update leaves the printer's resolution.
constexpr int kResolutionWord = 11;

}  // namespace

void runDriverConfig(DriverConfigRequest& request)
{
    fUpDateDriverConfig(&request.entry, request.paper.data(), request.information.data(), request.lastReply.data(),
                        request.driverBlock.data(), request.mode);
}

DriverConfigQueue::DriverConfigQueue(plat::gui::Worker& worker, Run run) : m_worker(worker), m_run(std::move(run)) {}

void DriverConfigQueue::update(const DriverConfigRequest& request)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_waiting.empty() && m_waiting.back().mode != 2 && request.mode != 2) {
            const bool status = m_waiting.back().mode == 0 || request.mode == 0;
            m_waiting.back() = request;
            if (status) m_waiting.back().mode = 0;
            return;
        }
        m_waiting.push_back(request);
    }
    m_worker.post([this] { runNext(); });
}

void DriverConfigQueue::runNext()
{
    DriverConfigRequest request;
    {
        std::lock_guard lock(m_mutex);
        if (m_waiting.empty()) return;
        request = std::move(m_waiting.front());
        m_waiting.pop_front();
    }
    if (m_resolution) request.information[kResolutionWord] = *m_resolution;
    m_run(request);
    m_resolution = request.information[kResolutionWord];
}

}  // namespace watchpanel
