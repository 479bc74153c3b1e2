#include "status_page.h"

#include <algorithm>
#include <cstring>

#include "facts/models.h"
#include "facts/paper_block.h"
#include "resources/string_table.h"
#include "texts.h"

namespace watchpanel {

using namespace facts::paper;

namespace {

// Fixed labels of the paper rows, texts of the window's table: a cassette, a numbered cassette, the
// cut-sheet feeder, its three bins, the continuous paper's width, a width not reported.
constexpr int kCassette = 21060, kNumberedCassette = 21061, kCutSheetFeeder = 21062, kFirstBin = 21063;
constexpr int kPaperWidthText = 21066, kUnknown = 21067;
constexpr int kStepsText = 21070, kPercentText = 21071;  // a level in words
constexpr std::string_view kEllipsis = "...";

constexpr int kPaperSizeNames = 17000;
constexpr int kContinuousPaper = 17122;
constexpr int kTractorName = 18009;
constexpr int kInkNames = 19000;
constexpr int kLevelBars = 200, kColourCartridges = 210, kBlackCartridges = 220;
constexpr int kInkNameRow = 12;

bool isInkGuideModel(std::uint32_t model) { return model >= 14 && model <= 17; }

// The words of a count, clamped to the rows the page has.
int rows(const std::int32_t* paper, int word) { return std::clamp(paper[word], 0, 3); }

// Replaces the first "%s" by `argument` and "%%" by "%"; nothing else of the text is read as a format.
std::string formatted(std::string_view format, std::string_view argument)
{
    std::string out;
    bool used = false;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (format[i + 1] == 's' && !used) {
                out += argument;
                used = true;
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

void setSizeName(Changes& changes, int control, int sizeIndex)
{
    if (auto name = text(kPaperSizeNames + sizeIndex)) changes.push_back(text(control, *name));
}

bool continuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Where the character after the one at `at` begins.
std::size_t nextCharacter(std::string_view s, std::size_t at)
{
    ++at;
    while (at < s.size() && continuationByte(s[at])) ++at;
    return std::min(at, s.size());
}

// The longest prefix, cut at a character, that fits `width`.
std::size_t fittingPrefix(std::string_view s, int width, const Measure& measure)
{
    std::size_t fits = 0;
    for (std::size_t end = 1; end <= s.size(); ++end) {
        if (end < s.size() && continuationByte(s[end])) continue;
        if (measure(s.substr(0, end)) > width) break;
        fits = end;
    }
    return fits;
}

}  // namespace

ControlChange visible(int control, bool on) { return {control, ControlChange::Kind::Visible, on, {}, 0}; }
ControlChange enabled(int control, bool on) { return {control, ControlChange::Kind::Enabled, on, {}, 0}; }
ControlChange text(int control, std::string value)
{
    return {control, ControlChange::Kind::Text, false, std::move(value), 0};
}
ControlChange picture(int control, int number) { return {control, ControlChange::Kind::Picture, false, {}, number}; }

std::optional<int> messageBase(std::uint32_t family, std::uint32_t model)
{
    switch (family) {
    case 0: return model >= 18 && model <= 20 ? 11900 : 10100;
    case 1: return 10400;
    case 2:
        if (model == 10 || model == 11) return 11000;
        if (model >= 14 && model <= 16) return 11300;
        if (model == 17) return 11600;
        return 10700;
    default: return std::nullopt;
    }
}

Changes statusChanges(const PrinterEntry& entry, const std::int32_t* paper, int* explanation)
{
    Changes changes;
    if (const facts::Model* model = facts::byNumber(entry.ModelCode);
        model != nullptr && entry.PictureIndex < entry.PictureCount) {
        changes.push_back(picture(1305, model->pictureSet + entry.PictureIndex));
    }

    const std::optional<int> base = messageBase(entry.PrinterFamily, entry.ModelCode);
    if (!base || entry.MessageIndex >= entry.MessageCount) return changes;
    const int row = *base + entry.MessageIndex;
    if (auto message = text(row)) {
        if (entry.MessageFlag != 0) {
            std::string inkName;
            if (entry.PrinterFamily == 2 && entry.MessageIndex == kInkNameRow) {
                inkName = text(kInkNames + paper[kInkColourIndex]).value_or("");
            }
            *message = formatted(*message, inkName);
        }
        changes.push_back(text(1306, *message));
    }
    if (auto action = text(row + 100)) changes.push_back(text(1307, *action));
    if (explanation != nullptr) *explanation = row + 200;
    changes.push_back(enabled(1308, !text(row + 200).value_or("").empty()));
    if (entry.PrinterFamily == 2) {
        const bool inkAlert = entry.AlertCategory == 5 || entry.AlertCategory == 6;
        changes.push_back(enabled(1339, inkAlert && isInkGuideModel(entry.ModelCode)));
    }
    return changes;
}

std::optional<std::string> statusMessage(const PrinterEntry& entry, const std::int32_t* paper)
{
    for (const ControlChange& c : statusChanges(entry, paper)) {
        if (c.kind == ControlChange::Kind::Text && c.control == 1306) return c.text;
    }
    return std::nullopt;
}

Changes paperVisibility(std::uint32_t family, const std::int32_t* paper)
{
    Changes changes;
    auto showAll = [&changes](std::initializer_list<int> controls, bool on) {
        for (int c : controls) changes.push_back(visible(c, on));
    };
    switch (family) {
    case 0: {
        showAll({1311, 1330, 1315, 1320}, paper[kTrayExists] != 0);
        const int cassettes = paper[kCassetteCount];
        for (int r = 0; r < 3; ++r) showAll({1312 + r, 1331 + r, 1316 + r, 1321 + r}, cassettes > r);
        showAll({1328, 1329, 1324, 1337}, paper[kTonerExists] != 0);
        showAll({1325, 1326, 1327, 1338}, paper[kPhotoCount] >= 1);
        break;
    }
    case 1: {
        const bool tractor = paper[kTractorExists] != 0, manual = paper[kManualFeedExists] != 0;
        const int bins = paper[kBinCount];
        showAll({1401, 1330, 1315}, tractor);
        for (int r = 0; r < 3; ++r) showAll({1402 + r, 1331 + r, 1316 + r}, bins > r);
        showAll({1311, 1334, 1319}, manual);
        showAll({1309, 1310}, tractor || bins > 0 || manual);
        break;
    }
    case 2:
        showAll({1501, 1503}, paper[kColorCount] >= 1);
        showAll({1502, 1504}, paper[kBlackCount] >= 1);
        break;
    default: break;
    }
    return changes;
}

Changes paperTexts(const PrinterEntry& entry, const std::int32_t* paper)
{
    Changes changes;
    if (entry.PrinterFamily == 0) {
        if (paper[kTrayExists] != 0 && paper[kTrayValid] != 0) setSizeName(changes, 1315, paper[kTraySize]);
        const int cassettes = rows(paper, kCassetteCount);
        for (int i = 0; i < cassettes; ++i) {
            const bool present = paper[kCassetteValid + i] != 0;
            for (int c : {1316 + i, 1312 + i, 1331 + i}) changes.push_back(enabled(c, present));
            if (!present) continue;
            setSizeName(changes, 1316 + i, paper[kCassetteSize + i]);
            const std::string label =
                cassettes >= 2 ? kestrel::fillIn(text(kNumberedCassette).value_or(""), {std::to_string(i + 1)})
                               : text(kCassette).value_or("");
            changes.push_back(text(1312 + i, label));
        }
    } else if (entry.PrinterFamily == 1) {
        const bool tractor = paper[kTractorExists] != 0;
        if (tractor) {
            const bool shown = paper[kTractorShown] != 0;
            changes.push_back(visible(1315, shown));
            if (shown) {
                int name = kTractorName;
                if (entry.ModelCode == 12) {
                    const int kind = paper[kTractorKind];
                    name = kind == 4 ? 18010 : kind == 5 ? 18011 : 18012;
                }
                if (auto label = text(name)) changes.push_back(text(1401, *label));
            }
        }
        const int bins = rows(paper, kBinCount);
        for (int i = 0; i < bins; ++i) {
            const bool present = paper[kBinValid + i] != 0;
            for (int c : {1316 + i, 1402 + i}) changes.push_back(enabled(c, present));
            if (!present) continue;
            setSizeName(changes, 1316 + i, paper[kBinSize + i]);
            changes.push_back(text(1402 + i, text(bins > 1 ? kFirstBin + i : kCutSheetFeeder).value_or("")));
        }
        if (tractor) {
            const int width = paper[kPaperWidth];
            std::string value = text(kUnknown).value_or("");
            if (width != 0)
                value = kestrel::fillIn(text(kPaperWidthText).value_or(""),
                                        {text(kContinuousPaper).value_or(""), std::to_string(width)});
            changes.push_back(text(1315, value));
        }
        if (paper[kManualFeedExists] != 0) setSizeName(changes, 1319, paper[kManualFeedSize]);
    }
    return changes;
}

Changes levelPictures(std::uint32_t family, const std::int32_t* paper)
{
    Changes changes;
    auto level = [&changes](int control, int first, int band, int highest) {
        if (band >= 0 && band <= highest) changes.push_back(picture(control, first + band));
    };
    if (family == 0) {
        if (paper[kTrayValid] != 0) level(1320, kLevelBars, paper[kTrayBand], 4);
        const int cassettes = rows(paper, kCassetteCount);
        for (int i = 0; i < cassettes; ++i) {
            const bool present = paper[kCassetteValid + i] != 0;
            changes.push_back(enabled(1321 + i, present));
            if (present) level(1321 + i, kLevelBars, paper[kCassetteBand + i], 4);
        }
        if (paper[kTonerValid] != 0) level(1324, kLevelBars, paper[kTonerBand], 4);
        if (paper[kPhotoValid] != 0) level(1327, kLevelBars, paper[kPhotoBand], 4);
    } else if (family == 2) {
        if (paper[kColorValid] != 0) level(1501, kColourCartridges, paper[kColorBand], 5);
        if (paper[kBlackValid] != 0) level(1502, kBlackCartridges, paper[kBlackBand], 5);
    }
    return changes;
}

Changes levelTexts(std::uint32_t family, const std::int32_t* paper)
{
    Changes changes;
    // A level word of 0..100 is the printer's own percentage; the ink words are shaped by the printer's
    // warnings, so inks are told by their steps.
    auto level = [&changes](int control, int band, int highest, std::optional<int> percent) {
        if (band < 0 || band > highest) return;
        const std::string words =
            percent && *percent >= 0 && *percent <= 100
                ? kestrel::fillIn(text(kPercentText).value_or(""), {std::to_string(*percent)})
                : kestrel::fillIn(text(kStepsText).value_or(""), {std::to_string(band), std::to_string(highest)});
        changes.push_back(text(control, words));
    };
    if (family == 0) {
        if (paper[kTrayValid] != 0) level(1320, paper[kTrayBand], 4, paper[kTrayLevel]);
        const int cassettes = rows(paper, kCassetteCount);
        for (int i = 0; i < cassettes; ++i) {
            if (paper[kCassetteValid + i] != 0) level(1321 + i, paper[kCassetteBand + i], 4, paper[kCassetteLevel + i]);
        }
        if (paper[kTonerValid] != 0) level(1324, paper[kTonerBand], 4, paper[kTonerLevel]);
        if (paper[kPhotoValid] != 0) level(1327, paper[kPhotoBand], 4, paper[kPhotoLevel]);
    } else if (family == 2) {
        if (paper[kColorValid] != 0) level(1501, paper[kColorBand], 5, std::nullopt);
        if (paper[kBlackValid] != 0) level(1502, paper[kBlackBand], 5, std::nullopt);
    }
    return changes;
}

void presetEquipment(std::uint32_t model, std::int32_t* paper, std::int32_t* information)
{
    std::fill(paper, paper + kPaperWords, 0);
    std::fill(information, information + kInformationWords, 0);
    for (int w : {int{kTraySize}, kCassetteSize + 0, kCassetteSize + 1, kCassetteSize + 2, kManualFeedSize + 0,
                  kBinSize + 0, kBinSize + 1, kBinSize + 2}) {
        paper[w] = kUnknownSize;
    }
    // The information block's words: the ten categories' present flags, then the slot counts.
    constexpr int kCategoryPresent = 0, kResolutionModes = 10, kCardSlots = 34, kInterfaceSlots = 41;

    auto pagePrinter = [&](int cassettes, bool photoconductor, int cardSlots, int interfaceSlots, bool duplex) {
        paper[kTrayExists] = paper[kTrayValid] = 1;
        paper[kCassetteCount] = cassettes;
        for (int i = 0; i < cassettes; ++i) paper[kCassetteValid + i] = 1;
        paper[kTonerExists] = paper[kTonerValid] = 1;
        if (photoconductor) paper[kPhotoCount] = paper[kPhotoValid] = 1;
        const int present[10] = {1, duplex ? 1 : 0, 0, 1, 1, 0, 0, 0, 1, 1};
        std::copy(std::begin(present), std::end(present), information + kCategoryPresent);
        information[kResolutionModes] = 2;
        information[kCardSlots] = cardSlots;
        information[kInterfaceSlots] = interfaceSlots;
    };
    auto impactPrinter = [&](bool shown, int bins, int rowsHint) {
        paper[kTractorExists] = 1;
        paper[kTractorShown] = shown ? 1 : 0;
        paper[kBinCount] = bins;
        for (int i = 0; i < bins; ++i) paper[kBinValid + i] = 1;
        paper[kPaperRowsHint] = rowsHint;
    };
    switch (model) {
    case 0:
    case 18: pagePrinter(2, false, 2, 1, false); break;
    case 1:
    case 19: pagePrinter(1, true, 1, 1, false); break;
    case 8: pagePrinter(2, false, 2, 2, true); break;
    case 20: pagePrinter(3, false, 2, 2, true); break;
    case 6: impactPrinter(true, 1, 9); break;
    case 7: impactPrinter(false, 3, 9); break;
    case 12: impactPrinter(true, 2, 12); break;
    case 2:
    case 3:
    case 4:
    case 5:
    case 9:
    case 10:
    case 11:
    case 13:
    case 14:
    case 15:
    case 16:
    case 17:
        paper[kColorCount] = paper[kColorValid] = 1;
        paper[kBlackCount] = paper[kBlackValid] = 1;
        break;
    default: break;
    }
}

std::string shortened(std::string_view text, int width, const Measure& measure)
{
    if (measure(text) <= width) return std::string(text);
    const int room = width - measure(kEllipsis);
    return std::string(text.substr(0, fittingPrefix(text, room, measure))) + std::string(kEllipsis);
}

std::string outputDestination(const PrinterEntry& entry, int width, const Measure& measure)
{
    std::string destination(fieldText(entry.PortName));
    if (entry.NetworkResolved == 1) {
        destination = std::string(fieldText(entry.OriginalPortName)) + "(" + destination + ")";
    }
    if (measure(destination) <= width) return destination;
    const std::string_view whole(destination);
    std::size_t first = fittingPrefix(whole, width, measure);
    if (first == 0) first = nextCharacter(whole, 0);  // never an empty first line
    return std::string(whole.substr(0, first)) + "\n" + shortened(whole.substr(first), width, measure);
}

}  // namespace watchpanel
