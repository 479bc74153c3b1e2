#include "watchpanel/status_page.h"

#include <algorithm>
#include <cstring>

#include "facts/models.h"
#include "facts/paper_block.h"
#include "resources/string_table.h"
#include "watchpanel/texts.h"

namespace watchpanel {

using namespace facts::paper;
using namespace status_control;

namespace {

// Fixed labels of the paper rows, texts of the window's table: a cassette, a numbered cassette, the
// cut-sheet feeder, its three bins, the continuous paper's width, a width not reported.
constexpr int kCassette = 21060, kNumberedCassette = 21061, kCutSheetFeeder = 21062, kFirstBin = 21063;
constexpr int kPaperWidthText = 21066, kUnknown = 21067;
constexpr int kStepsText = 21070, kPercentText = 21071, kLevelNotKnownText = 21072;  // a level in words
constexpr std::string_view kEllipsis = "...";

constexpr int kPaperSizeNames = 17000;
constexpr int kContinuousPaper = 17122;
constexpr int kTractorName = 18009;
constexpr int kInkNames = 19000;
constexpr int kLevelBars = 200, kColourCartridges = 210, kBlackCartridges = 220;
constexpr int kCartridgeNotKnown = 6;  // after a cartridge's six levels: its level not told
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
        changes.push_back(picture(kPicture, model->pictureSet + entry.PictureIndex));
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
        changes.push_back(text(kMessage, *message));
    }
    if (auto action = text(row + 100)) changes.push_back(text(kAction, *action));
    if (explanation != nullptr) *explanation = row + 200;
    changes.push_back(enabled(kTroubleshooting, !text(row + 200).value_or("").empty()));
    if (entry.PrinterFamily == 2) {
        const bool inkAlert = entry.AlertCategory == 5 || entry.AlertCategory == 6;
        changes.push_back(enabled(kInkGuide, inkAlert && isInkGuideModel(entry.ModelCode)));
    }
    return changes;
}

std::optional<std::string> statusMessage(const PrinterEntry& entry, const std::int32_t* paper)
{
    for (const ControlChange& c : statusChanges(entry, paper)) {
        if (c.kind == ControlChange::Kind::Text && c.control == kMessage) return c.text;
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
        showAll({kRowLabel, kRowColon, kRowValue, kRowBar}, paper[kTrayExists] != 0);
        const int cassettes = paper[kCassetteCount];
        for (int r = 1; r <= 3; ++r) {
            showAll({kRowLabel + r, kRowColon + r, kRowValue + r, kRowBar + r}, cassettes >= r);
        }
        showAll({kTonerGroup, kTonerIcon, kTonerBar, kTonerFull}, paper[kTonerExists] != 0);
        showAll({kPhotoGroup, kPhotoIcon, kPhotoBar, kPhotoFull}, paper[kPhotoCount] >= 1);
        break;
    }
    case 1: {
        const bool tractor = paper[kTractorExists] != 0, manual = paper[kManualFeedExists] != 0;
        const int bins = paper[kBinCount];
        showAll({kFeederLabel, kRowColon, kRowValue}, tractor);
        for (int r = 1; r <= 3; ++r) showAll({kFeederLabel + r, kRowColon + r, kRowValue + r}, bins >= r);
        showAll({kManualFeedLabel, kManualFeedColon, kManualFeedValue}, manual);
        showAll({kPaperGroup, kPaperIcon}, tractor || bins > 0 || manual);
        break;
    }
    case 2:
        showAll({kColourInk, kColourInkLabel}, paper[kColorCount] >= 1);
        showAll({kBlackInk, kBlackInkLabel}, paper[kBlackCount] >= 1);
        break;
    default: break;
    }
    return changes;
}

Changes paperTexts(const PrinterEntry& entry, const std::int32_t* paper)
{
    Changes changes;
    if (entry.PrinterFamily == 0) {
        if (paper[kTrayExists] != 0 && paper[kTrayValid] != 0) setSizeName(changes, kRowValue, paper[kTraySize]);
        const int cassettes = rows(paper, kCassetteCount);
        for (int i = 0; i < cassettes; ++i) {
            const int row = i + 1;
            const bool present = paper[kCassetteValid + i] != 0;
            for (int c : {kRowValue + row, kRowLabel + row, kRowColon + row}) changes.push_back(enabled(c, present));
            if (!present) continue;
            setSizeName(changes, kRowValue + row, paper[kCassetteSize + i]);
            const std::string label =
                cassettes >= 2 ? kestrel::fillIn(text(kNumberedCassette).value_or(""), {std::to_string(i + 1)})
                               : text(kCassette).value_or("");
            changes.push_back(text(kRowLabel + row, label));
        }
    } else if (entry.PrinterFamily == 1) {
        const bool tractor = paper[kTractorExists] != 0;
        if (tractor) {
            const bool shown = paper[kTractorShown] != 0;
            changes.push_back(visible(kRowValue, shown));
            if (shown) {
                int name = kTractorName;
                if (entry.ModelCode == 12) {
                    const int kind = paper[kTractorKind];
                    name = kind == 4 ? 18010 : kind == 5 ? 18011 : 18012;
                }
                if (auto label = text(name)) changes.push_back(text(kFeederLabel, *label));
            }
        }
        const int bins = rows(paper, kBinCount);
        for (int i = 0; i < bins; ++i) {
            const int row = i + 1;
            const bool present = paper[kBinValid + i] != 0;
            for (int c : {kRowValue + row, kFeederLabel + row}) changes.push_back(enabled(c, present));
            if (!present) continue;
            setSizeName(changes, kRowValue + row, paper[kBinSize + i]);
            changes.push_back(text(kFeederLabel + row, text(bins > 1 ? kFirstBin + i : kCutSheetFeeder).value_or("")));
        }
        if (tractor) {
            const int width = paper[kPaperWidth];
            std::string value = text(kUnknown).value_or("");
            if (width != 0)
                value = kestrel::fillIn(text(kPaperWidthText).value_or(""),
                                        {text(kContinuousPaper).value_or(""), std::to_string(width)});
            changes.push_back(text(kRowValue, value));
        }
        if (paper[kManualFeedExists] != 0) setSizeName(changes, kManualFeedValue, paper[kManualFeedSize]);
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
        if (paper[kTrayValid] != 0) level(kRowBar, kLevelBars, paper[kTrayBand], 4);
        const int cassettes = rows(paper, kCassetteCount);
        for (int i = 0; i < cassettes; ++i) {
            const int row = i + 1;
            const bool present = paper[kCassetteValid + i] != 0;
            changes.push_back(enabled(kRowBar + row, present));
            if (present) level(kRowBar + row, kLevelBars, paper[kCassetteBand + i], 4);
        }
        if (paper[kTonerValid] != 0) level(kTonerBar, kLevelBars, paper[kTonerBand], 4);
        if (paper[kPhotoValid] != 0) level(kPhotoBar, kLevelBars, paper[kPhotoBand], 4);
    } else if (family == 2) {
        // A level the printer has not told is drawn as such, never as an empty cartridge.
        auto ink = [&](int control, int first, int band, int levelWord) {
            if (levelWord == kUnknownLevel) changes.push_back(picture(control, first + kCartridgeNotKnown));
            else level(control, first, band, 5);
        };
        if (paper[kColorValid] != 0) ink(kColourInk, kColourCartridges, paper[kColorBand], paper[kColorLevel]);
        if (paper[kBlackValid] != 0) ink(kBlackInk, kBlackCartridges, paper[kBlackBand], paper[kBlackLevel]);
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
        auto ink = [&](int control, int band, int levelWord) {
            if (levelWord == kUnknownLevel) changes.push_back(text(control, text(kLevelNotKnownText).value_or("")));
            else level(control, band, 5, std::nullopt);
        };
        if (paper[kColorValid] != 0) ink(1501, paper[kColorBand], paper[kColorLevel]);
        if (paper[kBlackValid] != 0) ink(1502, paper[kBlackBand], paper[kBlackLevel]);
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
    auto pagePrinter = [&](int cassettes, bool photoconductor, int cardSlots, int interfaceSlots, bool duplex) {
        paper[kTrayExists] = paper[kTrayValid] = 1;
        paper[kCassetteCount] = cassettes;
        for (int i = 0; i < cassettes; ++i) paper[kCassetteValid + i] = 1;
        paper[kTonerExists] = paper[kTonerValid] = 1;
        if (photoconductor) paper[kPhotoCount] = paper[kPhotoValid] = 1;
        const int present[10] = {1, duplex ? 1 : 0, 0, 1, 1, 0, 0, 0, 1, 1};
        std::copy(std::begin(present), std::end(present), information + kCategoryPresent);
        information[kResolutionModes] = 2;
        information[kCardSlotCount] = cardSlots;
        information[kInterfaceSlotCount] = interfaceSlots;
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
        paper[kColorLevel] = paper[kBlackLevel] = kUnknownLevel;  // until the printer tells
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
