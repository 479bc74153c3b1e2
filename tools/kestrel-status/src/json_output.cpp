#include "json_output.h"

#include <ctime>
#include <nlohmann/json.hpp>

namespace kestrel_status {

namespace {

using Json = nlohmann::ordered_json;

template <typename T>
Json orNull(const std::optional<T>& value)
{
    return value ? Json(*value) : Json(nullptr);
}

// UTF-8 as it is; text that is not valid UTF-8 is replaced rather than ending the program.
std::string dump(const Json& j) { return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace); }

Json toJson(const Printer& p)
{
    Json o;
    o["name"] = p.name;
    o["row"] = p.row;
    o["slot"] = orNull(p.slot);
    o["monitoring"] = p.monitoring;
    o["state"] = p.state;
    o["state_text"] = orNull(p.stateText);
    o["jobs"] = orNull(p.jobs);
    o["level"] = orNull(p.level);
    o["message"] = orNull(p.message);
    o["action"] = orNull(p.action);
    o["explanation"] = orNull(p.explanation);
    o["alert"] = orNull(p.alert);
    o["network"] = p.network;
    o["port"] = p.port;
    o["captured"] = orNull(p.captured);
    o["reasons"] = p.reasons;
    o["supplies"] = Json::array();
    for (const Supply& s : p.supplies) {
        o["supplies"].push_back(Json{
            {"name", s.name}, {"kind", s.kind}, {"color", s.color}, {"level", orNull(s.levelPercent)}, {"low", s.low}});
    }
    o["paper"] = Json::array();
    for (const PaperSource& s : p.paper) {
        o["paper"].push_back(Json{{"source", s.source}, {"size", orNull(s.size)}, {"level", orNull(s.levelPercent)}});
    }
    o["changed"] = p.changed ? Json(rfc3339(*p.changed)) : Json(nullptr);
    if (p.scheduler) {
        Json markers = Json::array();
        for (const SchedulerView::Marker& m : p.scheduler->markers) {
            markers.push_back(
                Json{{"name", m.name}, {"type", m.type}, {"color", m.color}, {"level", orNull(m.levelPercent)}});
        }
        o["scheduler"] = Json{{"state", p.scheduler->state}, {"reasons", p.scheduler->reasons}, {"markers", markers}};
    } else {
        o["scheduler"] = nullptr;
    }
    return o;
}

}  // namespace

std::string rfc3339(std::int64_t secondsSince1970)
{
    const std::time_t t = static_cast<std::time_t>(secondsSince1970);
    std::tm utc{};
    if (::gmtime_r(&t, &utc) == nullptr) return {};
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string jsonDocument(const Snapshot& s)
{
    Json doc;
    doc["list_running"] = s.listRunning;
    doc["spooler"] = s.spooler;
    doc["printers"] = Json::array();
    for (const Printer& p : s.printers) doc["printers"].push_back(toJson(p));
    return dump(doc);
}

std::string jsonPrinter(const Printer& p) { return dump(toJson(p)); }

std::string jsonGone(const std::string& name) { return dump(Json{{"name", name}, {"gone", true}}); }

std::string jsonRunFlag(std::uint32_t flag) { return dump(Json{{"list_running", flag}}); }

}  // namespace kestrel_status
