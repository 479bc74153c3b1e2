#include "despooler_bridge.h"

#include <charconv>

#include "facts/store_names.h"

namespace watchlist {
namespace {

constexpr std::size_t kMaxAlertBytes = 4096;
constexpr std::uint32_t kDespoolerIntervalSeconds = 60;

std::optional<std::string> fromHex(std::string_view hex)
{
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        if (ec != std::errc() || end != hex.data() + i + 2) return std::nullopt;
        out.push_back(static_cast<char>(value));
    }
    return out;
}

template <class T>
bool number(std::string_view text, T& out)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

std::optional<BackendAlert> parseBackendAlert(std::string_view text)
{
    if (text.size() > kMaxAlertBytes || !text.starts_with("velta;")) return std::nullopt;
    text.remove_prefix(6);
    BackendAlert alert;
    bool sequence = false, time = false, status = false;
    while (!text.empty()) {
        const auto end = text.find(';');
        const std::string_view field = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const auto equals = field.find('=');
        if (equals == std::string_view::npos) return std::nullopt;
        const std::string_view key = field.substr(0, equals), value = field.substr(equals + 1);
        if (key == "seq") {
            sequence = number(value, alert.sequence);
            if (!sequence) return std::nullopt;
        } else if (key == "t") {
            time = number(value, alert.time);
            if (!time) return std::nullopt;
        } else if (key == "st" || key == "ink") {
            auto bytes = fromHex(value);
            if (!bytes) return std::nullopt;
            (key == "st" ? alert.status : alert.ink) = std::move(*bytes);
            status = status || key == "st";
        }  // fields of later backends are skipped
    }
    if (!sequence || !time || !status) return std::nullopt;
    return alert;
}

void DespoolerBridge::update(const std::vector<QueueState>& queues, std::int64_t utcOffset)
{
    namespace value = facts::value;
    using Type = Value::Type;
    std::map<std::string, std::uint64_t> still;
    for (const QueueState& q : queues) {
        if (!q.veltaBackend || !q.processing) continue;
        auto alert = parseBackendAlert(q.alert);
        if (!alert) continue;
        still[q.name] = alert->sequence;
        auto known = m_sequences.find(q.name);
        if (known != m_sequences.end() && known->second == alert->sequence) continue;

        const auto dword = [&](const char* name, std::uint32_t v) { m_write({q.name, name, Type::Dword, v, {}}); };
        dword(value::kDespoolerIntervalTime, kDespoolerIntervalSeconds);
        dword(value::kDespoolerLastAccessTime, static_cast<std::uint32_t>(alert->time + utcOffset));
        dword(value::kPrinterStFlag, value::kMonitoring);
        if (!q.deviceId.empty()) {
            m_write({q.name, value::kDeviceIDStrings, Type::Binary, 0, q.deviceId});
            dword(value::kDeviceIDLength, static_cast<std::uint32_t>(q.deviceId.size()));
        }
        m_write({q.name, value::kRealTimeStatusStrings, Type::String, 0, alert->status});
        if (!alert->ink.empty()) m_write({q.name, value::kInkLevel, Type::String, 0, alert->ink});
        // The flags last: the engine switches to despooler mode only once the values are there.
        dword(value::kDespoolerExistFlag, 1);
        dword(value::kDespoolerRunFlag, 1);
    }
    for (auto it = m_sequences.begin(); it != m_sequences.end();) {
        const std::string name = it->first;
        ++it;
        if (still.count(name) == 0) release(name);
    }
    m_sequences = std::move(still);
}

void DespoolerBridge::releaseAll()
{
    while (!m_sequences.empty()) release(m_sequences.begin()->first);
}

void DespoolerBridge::release(const std::string& queue)
{
    namespace value = facts::value;
    m_write({queue, value::kDespoolerRunFlag, Value::Type::Dword, 0, {}});
    m_write({queue, value::kDespoolerExistFlag, Value::Type::Dword, 0, {}});
    m_sequences.erase(queue);
}

}  // namespace watchlist
