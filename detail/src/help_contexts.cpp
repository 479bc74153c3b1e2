#include "help_contexts.h"

#include <map>

#include "info_page.h"
#include "settings_page.h"
#include "tools_page.h"

namespace watchpanel {

namespace {

// The paper-source group and its level controls (the group, its icon, the size labels).
bool inPaperGroup(int control) { return control == 1309 || control == 1310 || (control >= 1315 && control <= 1318); }

int statusHelp(facts::Family family, int control)
{
    // The header, the texts and the troubleshooting button: one topic each, whatever the family.
    static const std::map<int, int> common = {{1304, 1101}, {1302, 1102}, {1303, 1103},
                                              {1306, 1105}, {1307, 1106}, {1308, 1107}};
    if (auto it = common.find(control); it != common.end()) return it->second;
    switch (family) {
    case facts::Family::Page:
        if (control == 1305) return 1104;
        if (inPaperGroup(control) || (control >= 1320 && control <= 1323) || control == 1336) return 1108;
        if (control == 1328 || control == 1329 || control == 1324 || control == 1337) return 1109;
        if (control == 1325 || control == 1326 || control == 1327 || control == 1338) return 1110;
        return 0;
    case facts::Family::Impact:
        if (control == 1305) return 4104;
        if (inPaperGroup(control) || control == 1319 || (control >= 1401 && control <= 1404)) return 4108;
        return 0;
    case facts::Family::Inkjet:
        if (control == 1305) return 3104;
        if (control >= 1501 && control <= 1504) return 3108;
        return 0;
    }
    return 0;
}

int informationHelp(int control)
{
    using namespace info_control;
    if (control == kListLabel || control == kCategories) return 2107;
    if (control == kDetailGroup || control == kDetails) return 2108;
    return 0;
}

int toolsHelp(int control)
{
    using namespace tools_control;
    if (control == kJobGroup || control == kJobIcon || control == kJobList) return 5101;
    if (control == kSetupGroup || control == kSetup || control == kSetupIcon) return 5102;
    if (control == kHeadGroup || control == kHeadIcon || control == kHeadMove) return 5103;
    return 0;
}

int settingsHelp(int control)
{
    using namespace settings_control;
    static const std::map<int, int> groups = {
        {kIntervalGroup, 6101},
        {kInterval, 6101},
        {kWindowGroup, 6102},
        {kOnTop, 6102},
        {kOpenWhenPrinting, 6102},
        {kOpenOnError, 6102},
        {kSizeCheck, 6103},
        {kMonitorGroup, 6104},
        {kMonitor, 6104},
        {kTrayIcon, 6105},
        {kAlertGroup, 6106},
        {kAlertList, 6106},
        {kAllOn, 6107},
        {kAllOff, 6108},
        {kDefaults, 6109},
        {kSoundGroup, 6110},
        {kSoundLabel, 6111},
        {kSoundName, 6111},
        {kBrowse, 6111},
        {kFormat, 6111},
        {kTestLabel, 6112},
        {kPlay, 6112},
        {kStop, 6112},
        {kDesktopNotify, 6113},
    };
    const auto it = groups.find(control);
    return it == groups.end() ? 0 : it->second;
}

}  // namespace

int pageHelp(facts::Family family, int pageKind)
{
    switch (pageKind) {
    case kStatusPageKind: return family == facts::Family::Page ? 1001 : family == facts::Family::Impact ? 4001 : 3001;
    case kInformationPageKind: return 2001;
    case kSettingsPageKind: return 6001;
    case kToolsPageKind: return 5001;
    default: return 0;
    }
}

int controlHelp(facts::Family family, int pageKind, int control)
{
    switch (pageKind) {
    case kStatusPageKind: return statusHelp(family, control);
    case kInformationPageKind: return informationHelp(control);
    case kSettingsPageKind: return settingsHelp(control);
    case kToolsPageKind: return toolsHelp(control);
    default: return 0;
    }
}

}  // namespace watchpanel
