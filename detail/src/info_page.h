#pragma once
// The printer information page's rules, without widgets: the categories a page printer reported and the
// lines each shows, from the information flags block and the paper block the status decoding fills.
// InfoWidget shows them on the page of template 1600.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace watchpanel {

namespace info_control {
inline constexpr int kListLabel = 1601, kCategories = 1602, kDetailGroup = 1603, kDetails = 1605;
}  // namespace info_control

inline constexpr int kInfoCategoryCount = 10;

// The category list's items, "name\tnumber", for each category below `count` the block marks present.
std::vector<std::string> infoCategoryItems(const std::int32_t* information, int count);

// Where the detail lines come from. `information` has kInformationWords words, `paper` kPaperWords.
struct InfoSources {
    const std::int32_t* information = nullptr;
    const std::int32_t* paper = nullptr;
    // Re-reads the slot's record for the IC card categories; false when it cannot be read.
    std::function<bool()> readEntry;
    // The IC card name the store holds for a card slot (empty when none).
    std::function<std::string(int slot)> cardName;
};

// The detail list's lines for category `category`; none above 9.
std::vector<std::string> infoDetailLines(int category, const InfoSources& sources);

}  // namespace watchpanel
