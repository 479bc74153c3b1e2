#include "bridge_runner.h"

#include <cstring>
#include <ctime>

#include "facts/store_names.h"
#include "plat/base/local_time.h"
#include "plat/base/thread_name.h"
#include "plat/base/trace.h"
#include "plat/registry/registry.h"

namespace watchlist {

std::vector<QueueState> bridgeQueues(const std::vector<plat::spool::QueueState>& states)
{
    std::vector<QueueState> queues;
    queues.reserve(states.size());
    for (const auto& s : states) {
        QueueState q;
        q.name = s.name;
        q.veltaBackend = s.deviceUri.starts_with("velta:");
        q.processing = s.processing;
        q.alert = s.alert;
        q.deviceId = s.alertDescription;
        queues.push_back(std::move(q));
    }
    return queues;
}

std::unique_ptr<BridgeRunner> BridgeRunner::start(plat::spool::Spooler& spooler, plat::registry::Store& store,
                                                  Timing timing)
{
    auto* cups = dynamic_cast<plat::spool::CupsSpooler*>(&spooler);
    if (cups == nullptr) return nullptr;
    return std::unique_ptr<BridgeRunner>(new BridgeRunner(*cups, store, timing));
}

BridgeRunner::BridgeRunner(plat::spool::CupsSpooler& cups, plat::registry::Store& store, Timing timing)
    : m_cups(cups),
      m_store(store),
      m_timing(timing),
      m_bridge([this](const DespoolerBridge::Value& value) { write(value); })
{
    m_thread = std::thread([this] {
        plat::nameThisThread("list-bridge");
        run();
    });
}

BridgeRunner::~BridgeRunner()
{
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

void BridgeRunner::run()
{
    using Clock = std::chrono::steady_clock;
    std::uint64_t seen = m_cups.changeCount();
    pass();
    auto nextPrinting = Clock::now() + m_timing.printing;
    while (!m_stop) {
        const bool changed = m_cups.waitForChange(seen, m_timing.step);
        if (m_stop) break;
        if (!changed && !(m_printing && Clock::now() >= nextPrinting)) continue;
        seen = m_cups.changeCount();
        pass();
        nextPrinting = Clock::now() + m_timing.printing;
    }
    m_bridge.releaseAll();
}

void BridgeRunner::pass()
{
    auto states = m_cups.queueStates();
    // A scheduler that does not answer cannot vouch for a backend: every queue is released, and taken
    // up again from its next alert once the scheduler is back.
    std::vector<QueueState> queues = states ? bridgeQueues(states.value()) : std::vector<QueueState>{};
    m_printing = false;
    for (const auto& q : queues) m_printing = m_printing || (q.veltaBackend && q.processing);
    m_bridge.update(queues, plat::localEpochSeconds() - static_cast<std::int64_t>(std::time(nullptr)));
    ++m_passes;
}

void BridgeRunner::write(const DespoolerBridge::Value& value)
{
    using plat::registry::ValueType;
    ValueType type = ValueType::Binary;
    std::span<const std::byte> data;
    if (value.type == DespoolerBridge::Value::Type::Dword) {
        type = ValueType::Dword;
        data = std::as_bytes(std::span(&value.dword, 1));
    } else {
        type = value.type == DespoolerBridge::Value::Type::String ? ValueType::String : ValueType::Binary;
        data = std::as_bytes(std::span(value.bytes.data(), value.bytes.size()));
    }
    auto done = m_cups.setPrinterData(value.printer, value.name, type, data);
    if (done) return;
    plat::trace("bridge: " + value.printer + "\\" + value.name + ": " + done.error().detail);
    // A queue deleted while it printed is no printer of the spooler any more (nor is any while the
    // scheduler does not answer), but its printer data stays in the store: flags left at 1 there
    // would keep an engine in despooler mode on a despooler that is gone. A release goes into the
    // data that is still there.
    const bool release = value.type == DespoolerBridge::Value::Type::Dword && value.dword == 0;
    if (!release) return;
    const std::string key = std::string(facts::key::kPrinters) + value.printer + std::string(facts::key::kDriverData);
    // Only into a key that is still there (setValue creates none).
    m_store.setValue(plat::registry::Root::LocalMachine, key, value.name, type, data,
                     plat::registry::Store::Flush::Yes);
}

}  // namespace watchlist
