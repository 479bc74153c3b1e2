#include "config.h"

#include <cctype>
#include <nlohmann/json.hpp>

#include "plat/text/text.h"
#include "printer.h"
#include "requests.h"

namespace vprinter {

plat::Result<Config> parseConfig(const std::string& text)
{
    auto bad = [](const std::string& why) { return plat::Error{2, "config: " + why}; };
    nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded()) return bad("not valid JSON");
    const bool hasPrinters = json.is_object() && json.contains("printers");
    const bool hasNetware = json.is_object() && json.contains("netware");
    if (!json.is_object() || (!hasPrinters && !hasNetware) || (hasPrinters && !json["printers"].is_array()) ||
        (hasNetware && !json["netware"].is_array())) {
        return bad("expected an object with a \"printers\" array (and/or a \"netware\" array)");
    }
    auto optionalText = [](const nlohmann::json& entry, const char* key, std::string& out) {
        if (!entry.contains(key)) return true;
        if (!entry[key].is_string()) return false;
        out = entry[key].get<std::string>();
        return true;
    };
    Config config;
    if (hasPrinters) {
        for (const auto& entry : json["printers"]) {
            const std::string where = "printer " + std::to_string(config.printers.size() + 1);
            if (!entry.is_object() || !entry.contains("port") || !entry["port"].is_string() ||
                !entry.contains("model") || !entry["model"].is_string()) {
                return bad(where + ": needs \"port\" and \"model\" strings");
            }
            PrinterConfig printer{entry["port"], entry["model"], std::nullopt, {}};
            if (printer.port.empty() || printer.port.size() > 63)
                return bad(where + ": the port name must have 1..63 characters");
            if (plat::text::equalWholeIgnoringCase(printer.port.substr(0, 4), "NET:"))
                return bad(where + ": port names beginning with NET: name network printers (see \"netware\")");
            if (findModel(printer.model) == nullptr) return bad(where + ": unknown model \"" + printer.model + "\"");
            for (const auto& other : config.printers) {
                if (plat::text::equalWholeIgnoringCase(other.port, printer.port)) {
                    return bad(where + ": port " + printer.port + " given twice");
                }
            }
            if (entry.contains("device_id")) {
                if (!entry["device_id"].is_string()) return bad(where + ": \"device_id\" must be a string");
                printer.deviceId = entry["device_id"].get<std::string>();
            }
            if (entry.contains("state")) {
                if (!entry["state"].is_string()) return bad(where + ": \"state\" must be a string");
                printer.state = commandWords(entry["state"].get<std::string>());
            }
            config.printers.push_back(std::move(printer));
        }
    }
    if (hasNetware) {
        for (const auto& entry : json["netware"]) {
            const std::string where = "network printer " + std::to_string(config.netware.size() + 1);
            if (!entry.is_object() || !entry.contains("server") || !entry["server"].is_string() ||
                !entry.contains("name") || !entry["name"].is_string() || !entry.contains("model") ||
                !entry["model"].is_string()) {
                return bad(where + ": needs \"server\", \"name\" and \"model\" strings");
            }
            NetworkConfig printer;
            printer.identity.server = entry["server"].get<std::string>();
            printer.identity.name = entry["name"].get<std::string>();
            printer.model = entry["model"].get<std::string>();
            if (!net::validName(printer.identity.server) || !net::validName(printer.identity.name)) {
                return bad(where + ": \"server\" and \"name\" must have 1..47 characters, without blanks or \"/\"");
            }
            for (auto* name : {&printer.identity.server, &printer.identity.name}) {
                for (char& c : *name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            if (entry.contains("number")) {
                // One byte of the connect request carries the number.
                if (!entry["number"].is_number_integer() || entry["number"].get<long long>() < 0 ||
                    entry["number"].get<long long>() > 255) {
                    return bad(where + ": \"number\" must be a printer number 0..255");
                }
                printer.identity.number = static_cast<std::uint8_t>(entry["number"].get<int>());
            }
            if (entry.contains("extended")) {
                if (!entry["extended"].is_boolean()) return bad(where + ": \"extended\" must be true or false");
                printer.identity.extended = entry["extended"].get<bool>();
            }
            if (findModel(printer.model) == nullptr) return bad(where + ": unknown model \"" + printer.model + "\"");
            std::string deviceId, state;
            if (!optionalText(entry, "device_id", deviceId)) return bad(where + ": \"device_id\" must be a string");
            if (entry.contains("device_id")) printer.deviceId = deviceId;
            if (!optionalText(entry, "state", state)) return bad(where + ": \"state\" must be a string");
            printer.state = commandWords(state);
            for (const auto& other : config.netware) {
                if (other.identity.server == printer.identity.server && other.identity.name == printer.identity.name &&
                    other.identity.number == printer.identity.number) {
                    return bad(where + ": " + net::displayName(printer.identity) + " given twice");
                }
            }
            config.netware.push_back(std::move(printer));
        }
    }
    if (config.printers.empty() && config.netware.empty()) return bad("no printers");
    return config;
}

}  // namespace vprinter
