#include "tools_page.h"

#include "watchpanel/status_page.h"

namespace watchpanel {

namespace {

// Models whose head the engine cannot move (no such command, or the printer does it itself).
bool headFixed(std::uint32_t model)
{
    switch (model) {
    case 2:
    case 9:
    case 10:
    case 11:
    case 14:
    case 15:
    case 16:
    case 17: return true;
    default: return false;
    }
}

}  // namespace

ToolsEnabling toolsEnabling(facts::Family family, const PrinterEntry& entry)
{
    const std::uint32_t model = entry.ModelCode;
    ToolsEnabling on;
    on.printerSetup = !(model <= 1 || model == 8 || model >= 14);
    // A head that cannot be moved from here is not offered: the model has no such command, or the
    // printer sits behind a network path the engine does not reach with it.
    on.headMove = !(family == facts::Family::Inkjet && (headFixed(model) || entry.NetworkPort != 0));
    return on;
}

std::optional<std::string> headMovePort(const PrinterEntry& entry)
{
    if (entry.NetworkPort != 0 || headFixed(entry.ModelCode)) return std::nullopt;
    return std::string(fieldText(entry.PortName));
}

}  // namespace watchpanel
