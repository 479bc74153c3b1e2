// Fuzz target: arbitrary text as vprinter's config file. A config that is accepted names only models
// of the table, and its printers take the state commands it gives them, as serving it would.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config.h"
#include "printer.h"

namespace {

void start(const std::string& port, const std::string& modelName, const std::optional<std::string>& deviceId,
           const std::vector<std::string>& state)
{
    const vprinter::Model* model = vprinter::findModel(modelName);
    if (model == nullptr) std::abort();
    vprinter::Printer printer(port, *model, deviceId);
    if (state.empty()) return;
    bool ok = false;
    (void)printer.control(state, ok);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto config = vprinter::parseConfig(std::string(reinterpret_cast<const char*>(data), size));
    if (!config) return 0;
    if (config.value().printers.empty() && config.value().netware.empty()) std::abort();
    for (const auto& p : config.value().printers) start(p.port, p.model, p.deviceId, p.state);
    for (const auto& n : config.value().netware) {
        if (!vprinter::net::validName(n.identity.server) || !vprinter::net::validName(n.identity.name)) std::abort();
        start(vprinter::net::displayName(n.identity), n.model, n.deviceId, n.state);
    }
    return 0;
}
