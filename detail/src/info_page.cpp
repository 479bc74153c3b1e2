#include "info_page.h"

#include <algorithm>

#include "facts/paper_block.h"
#include "resources/string_table.h"
#include "watchpanel/status_page.h"
#include "watchpanel/texts.h"

namespace watchpanel {

using namespace facts::paper;  // the paper and information blocks' words

namespace {

// A count read from the printer is never trusted beyond the words its slots have in the block.
constexpr int kMaxCardSlots = kInterfaceSlotCount - kCardSlots, kMaxInterfaceSlots = kMemory - kInterfaceSlots,
              kMaxCassettes = 3, kMaxResolutions = 16;

constexpr int kNoCardCode = 0, kIcCardCode = 10;

std::string t(int number) { return text(number).value_or(""); }
// The text of a value the printer reported, from a table of `size` texts at `base`: none for a value
// outside the table, which would otherwise name a neighbouring table's text.
std::string t(int base, std::int32_t value, int size)
{
    if (value < 0 || value >= size) return {};
    return t(base + value);
}

int bounded(std::int32_t count, int most) { return std::clamp<int>(count, 0, most); }

// A cassette's label in front of its line: numbered when there are several.
std::string cassetteLabel(int cassettes, int i)
{
    if (cassettes == 1) return kestrel::fillIn(t(21120), {t(16207)});
    return kestrel::fillIn(t(21121), {t(16207), std::to_string(i + 1)});
}

std::vector<std::string> cardLines(int category, const InfoSources& s)
{
    const bool icCards = category == 7 || category == 8;
    const int labelBase = category == 2 || category == 7 ? 16102 : 16212;
    std::vector<std::string> lines;
    if (icCards && !(s.readEntry && s.readEntry())) return lines;
    const int slotCount = bounded(s.information[kCardSlotCount], kMaxCardSlots);
    for (int i = 0; i < slotCount; ++i) {
        const std::int32_t code = s.information[kCardSlots + i];
        std::string content;
        if (icCards) {
            if (code == kIcCardCode && s.cardName) content = s.cardName(i);
        } else if (code != kNoCardCode && code != kIcCardCode) {
            content = t(16103, code, kIcCardCode);
        }
        lines.push_back(t(labelBase + i) + (content.empty() ? t(16203) : content));
    }
    return lines;
}

}  // namespace

std::vector<std::string> infoCategoryItems(const std::int32_t* information, int count)
{
    std::vector<std::string> items;
    for (int n = 0; n < std::min(count, kInfoCategoryCount); ++n) {
        if (information[n] != 0) items.push_back(t(16000 + n) + "\t" + std::to_string(n));
    }
    return items;
}

std::vector<std::string> infoDetailLines(int category, const InfoSources& s)
{
    std::vector<std::string> lines;
    if (category < 0 || category > 9 || s.information == nullptr || s.paper == nullptr) return lines;
    const std::int32_t* info = s.information;
    const std::int32_t* paper = s.paper;
    switch (category) {
    case 0:
        for (int i = 0; i < bounded(info[kResolutionModes], kMaxResolutions); ++i) lines.push_back(t(16210, i, 2));
        break;
    case 1: lines.push_back(t(16100, info[kDuplex], 2)); break;
    case 3:
        for (int i = 0; i < bounded(info[kInterfaceSlotCount], kMaxInterfaceSlots); ++i)
            lines.push_back(t(16201 + i) + t(16203, info[kInterfaceSlots + i], 2));
        break;
    case 4: lines.push_back(std::to_string(static_cast<std::int64_t>(info[kMemory]) * 1024) + " " + t(16205)); break;
    case 5: {
        if (paper[kTrayExists] != 0) lines.push_back(t(16206) + t(16203, paper[kTrayValid], 2));
        const int cassettes = bounded(paper[kCassetteCount], kMaxCassettes);
        for (int i = 0; i < cassettes; ++i) {
            lines.push_back(cassetteLabel(cassettes, i) + t(16203, paper[kCassetteValid + i], 2));
        }
        break;
    }
    case 6: {
        auto level = [&](std::int32_t percent) { return t(16208) + std::to_string(percent) + t(16209); };
        if (paper[kTrayExists] != 0 && paper[kTrayValid] != 0) lines.push_back(t(16206) + level(paper[kTrayLevel]));
        const int cassettes = bounded(paper[kCassetteCount], kMaxCassettes);
        for (int i = 0; i < cassettes; ++i) {
            if (paper[kCassetteValid + i] == 0) continue;
            lines.push_back(cassetteLabel(cassettes, i) + level(paper[kCassetteLevel + i]));
        }
        break;
    }
    default: lines = cardLines(category, s); break;
    }
    return lines;
}

}  // namespace watchpanel
