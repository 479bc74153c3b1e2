#include "watchpanel/texts.h"

#include "resources/string_table.h"

namespace watchpanel {

std::optional<std::string> text(int number)
{
    static const kestrel::StringTable all = kestrel::StringTable::loadAll({
        ":/strings/main_window.txt",
        ":/strings/status_page.txt",
        ":/strings/status_page_rom.txt",
        ":/strings/status_impact.txt",
        ":/strings/status_inkjet.txt",
        ":/strings/status_inkjet_11000.txt",
        ":/strings/status_inkjet_11300.txt",
        ":/strings/status_inkjet_11600.txt",
        ":/strings/ink_names.txt",
        ":/strings/paper_sizes.txt",
        ":/strings/paper_sources.txt",
        ":/strings/ink_guide.txt",
        ":/strings/alert_names.txt",
        ":/strings/alert_sounds.txt",
        ":/strings/info_categories.txt",
        ":/strings/info_details.txt",
        ":/strings/window_texts.txt",
    });
    return all.text(number);
}

}  // namespace watchpanel
