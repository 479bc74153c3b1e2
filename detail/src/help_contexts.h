#pragma once
// Which place of the help page F1 and the Help button open: the help table of the detail window's pages
// and of the tray icon chooser. Each number is an anchor of the help page.

#include "facts/models.h"

namespace watchpanel {

// The page kinds, as the section list numbers them.
inline constexpr int kStatusPageKind = 0, kInformationPageKind = 1, kSettingsPageKind = 2, kToolsPageKind = 3;

// The topic of a page (the Help button): 1001 / 4001 / 3001 for the status page of a page, impact or
// inkjet printer, 2001 information, 6001 settings, 5001 tools; 0 for a kind that is no page.
int pageHelp(facts::Family family, int pageKind);

// The topic of control `control` of a page, as the help table lists it: the status page's header, message
// and button texts everywhere (1101..1107), its picture and paper or ink controls by family (1104/4104/3104,
// 1108..1110/4108/3108), the information page's lists (2107, 2108), the tools page's three groups
// (5101..5103) and the settings page's twelve groups (6101..6112). 0 for a control the table does not list.
int controlHelp(facts::Family family, int pageKind, int control);

// The tray icon chooser's topic.
inline constexpr int kTrayChooserHelp = 7101;

}  // namespace watchpanel
