#include "status_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "facts/models.h"
#include "facts/paper_block.h"
#include "facts/store_names.h"
#include "plat/services/services.h"
#include "registry_store.h"

namespace watchcore {
namespace {

constexpr int kUnknownPaperSize = facts::paper::kUnknownSize;
using namespace facts::paper;  // the paper and information blocks' words

struct Outcome {
    std::uint32_t level;
    std::uint16_t message, picture, alert;
};

struct PageCode {
    int code;
    Outcome outcome;
};

// Status code → message, level, picture, alert. A code not in the table gives kUndefinedStatus.
constexpr std::array<PageCode, 39> kPageCodes{{
    {1000, {0, 2, 0, 0}},  {1001, {2, 3, 6, 1}},  {1002, {0, 4, 0, 0}},  {1003, {0, 5, 0, 0}},  {1004, {0, 6, 0, 0}},
    {1005, {0, 7, 0, 0}},  {1006, {0, 8, 0, 0}},  {1007, {0, 9, 0, 0}},  {1008, {0, 10, 0, 0}}, {1009, {0, 11, 0, 0}},
    {1010, {0, 12, 0, 0}}, {1012, {0, 13, 0, 0}}, {2000, {1, 14, 0, 0}}, {2001, {1, 15, 3, 6}}, {2002, {1, 16, 0, 0}},
    {2003, {1, 17, 0, 0}}, {2004, {1, 18, 0, 0}}, {2005, {1, 19, 0, 0}}, {3000, {2, 20, 6, 9}}, {3001, {2, 21, 6, 9}},
    {3003, {2, 22, 6, 9}}, {3004, {2, 23, 6, 9}}, {4000, {2, 24, 3, 7}}, {4001, {2, 25, 3, 7}}, {4002, {2, 26, 1, 5}},
    {4003, {2, 27, 6, 9}}, {4004, {2, 28, 6, 9}}, {4006, {2, 29, 6, 9}}, {4007, {2, 30, 4, 2}}, {4008, {2, 31, 5, 4}},
    {4009, {2, 32, 5, 4}}, {4010, {2, 33, 4, 2}}, {4012, {2, 34, 5, 4}}, {4013, {2, 35, 6, 9}}, {4014, {2, 36, 6, 9}},
    {4015, {2, 37, 1, 5}}, {4016, {2, 38, 6, 9}}, {4017, {2, 39, 5, 4}}, {6000, {2, 40, 6, 9}},
}};
constexpr Outcome kUndefinedStatus{2, 0, 6, 9};

struct ByteMap {
    int byte;
    int value;
};

// A page printer's size byte → paper-size index.
constexpr std::array<ByteMap, 21> kPageSizes{{
    {13, 7},   {14, 8}, {15, 10},  {16, 69},  {24, 11},  {25, 12}, {30, 0},  {31, 1},  {32, 4},  {33, 6},    {34, 13},
    {35, 119}, {36, 2}, {37, 120}, {38, 118}, {72, 121}, {80, 36}, {81, 19}, {90, 26}, {91, 27}, {255, 151},
}};

// A card byte → card slot content code (255 or unreadable: 0 empty; unknown bytes: 9).
constexpr std::array<ByteMap, 10> kCardCodes{{
    {255, 0},
    {98, 1},
    {99, 2},
    {101, 3},
    {100, 4},
    {126, 5},
    {132, 6},
    {163, 7},
    {164, 8},
    {0, 10},
}};

template <std::size_t N>
int mapped(const std::array<ByteMap, N>& table, std::optional<int> byte, int unknown, int unreadable)
{
    if (!byte) return unreadable;
    for (const auto& row : table) {
        if (row.byte == *byte) return row.value;
    }
    return unknown;
}

int paperBand(int level)
{
    if (level <= 0) return 0;
    if (level <= 25) return 1;
    if (level <= 50) return 2;
    if (level <= 75) return 3;
    return 4;
}

int tonerBand(int level)
{
    if (level >= 1 && level <= 25) return 1;
    if (level >= 26 && level <= 50) return 2;
    if (level >= 51 && level <= 75) return 3;
    if (level >= 76 && level <= 100) return 4;
    return 0;
}

void apply(PrinterEntry& entry, const Outcome& o)
{
    entry.PrinterState = o.level;
    entry.MessageIndex = o.message;
    entry.PictureIndex = o.picture;
    entry.AlertCategory = o.alert;
    entry.MessageFlag = 0;
}

// A level field: valid, level and band, or invalid with the level stored as -1.
void readLevel(std::string_view reply, std::size_t at, std::int32_t* paper, int valid, int band, int level)
{
    auto byte = codeField(reply, at);
    if (byte && *byte != 255) {
        paper[valid] = 1;
        paper[level] = *byte;
        paper[band] = paperBand(*byte);
    } else {
        paper[valid] = 0;
        paper[level] = -1;
    }
}

// Two characters behind `key`'s first occurrence, or nothing when the key or the characters are
// missing.
std::optional<std::string_view> valueBehind(std::string_view reply, std::string_view key, std::size_t width = 2)
{
    std::size_t at = reply.find(key);
    if (at == std::string_view::npos || at + key.size() + width > reply.size()) return std::nullopt;
    return reply.substr(at + key.size(), width);
}

}  // namespace

std::optional<int> codeField(std::string_view reply, std::size_t at)
{
    if (at + 2 > reply.size()) return std::nullopt;
    int value = 0;
    for (char c : reply.substr(at, 2)) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;  // lower case too: the printers send upper case only
        value = value * 16 + digit;
    }
    return value;
}

bool decodePageReply(std::string_view reply, PrinterEntry& entry, std::int32_t* paper, std::int32_t* information)
{
    std::size_t key = reply.find("STATUS CODE=");
    if (key == std::string_view::npos) return false;
    const std::size_t p = key + 12;
    auto high = codeField(reply, p + 4), low = codeField(reply, p + 6);
    if (!high || !low) return false;
    const int code = *high * 256 + *low;
    Outcome outcome = kUndefinedStatus;
    for (const auto& row : kPageCodes) {
        if (row.code == code) outcome = row.outcome;
    }
    apply(entry, outcome);

    auto toner = codeField(reply, p + 56);
    paper[kTonerValid] = toner ? 1 : 0;
    if (toner) {
        paper[kTonerLevel] = *toner;
        paper[kTonerBand] = tonerBand(*toner);
    }
    auto photo = codeField(reply, p + 58);
    paper[kPhotoValid] = photo && *photo != 255 ? 1 : 0;
    if (paper[kPhotoValid]) {
        paper[kPhotoLevel] = *photo;
        paper[kPhotoBand] = paperBand(*photo);
    }

    readLevel(reply, p + 60, paper, kTrayValid, kTrayBand, kTrayLevel);
    // The size rule tests the stored level word, so an unreadable level (-1) still reads its size.
    paper[kTraySize] = paper[kTrayLevel] != 0
                           ? mapped(kPageSizes, codeField(reply, p + 78), kUnknownPaperSize, kUnknownPaperSize)
                           : kUnknownPaperSize;
    // At most three cassettes: a larger count in the block would write words that are not theirs.
    const std::size_t levelAt[3] = {p + 62, p + 64, p + 94}, sizeAt[3] = {p + 80, p + 82, p + 100};
    const int cassettes = std::clamp(paper[kCassetteCount], 0, 3);
    for (int c = 0; c < cassettes; ++c) {
        readLevel(reply, levelAt[c], paper, kCassetteValid + c, kCassetteBand + c, kCassetteLevel + c);
        paper[kCassetteSize + c] = paper[kCassetteLevel + c] != 0 ? mapped(kPageSizes, codeField(reply, sizeAt[c]),
                                                                           kUnknownPaperSize, kUnknownPaperSize)
                                                                  : kUnknownPaperSize;
    }

    if (auto duplex = codeField(reply, p + 84)) information[kDuplex] = *duplex != 0 ? 1 : 0;
    information[kCardSlots + 0] = mapped(kCardCodes, codeField(reply, p + 86), 9, 0);
    information[kCardSlots + 1] = mapped(kCardCodes, codeField(reply, p + 88), 9, 0);
    if (auto interfaces = codeField(reply, p + 90)) {
        information[kInterfaceSlots + 0] = (*interfaces & 1) ? 1 : 0;
        information[kInterfaceSlots + 1] = (*interfaces & 2) ? 1 : 0;
    }
    if (auto memory = codeField(reply, p + 92)) information[kMemory] = *memory;

    // Paper warnings: the first source that raises the level wins; message and picture stay.
    auto warn = [&](int valid, int level) {
        if (entry.PrinterState != 0 || !paper[valid]) return;
        if (paper[level] == 0) {
            entry.PrinterState = 1;
            entry.AlertCategory = 2;
        } else if (paper[level] <= 25) {
            entry.PrinterState = 1;
            entry.AlertCategory = 3;
        }
    };
    warn(kTrayValid, kTrayLevel);
    for (int c = 0; c < cassettes; ++c) warn(kCassetteValid + c, kCassetteLevel + c);
    return true;
}

namespace {

// What a state or error code of an impact or inkjet printer means, for each of the two families.
struct StateRow {
    std::string_view code;
    Outcome impact, inkjet;
};

// "ST:00", an error: the code behind "ER:".
constexpr StateRow kErrors[] = {
    {"00", {2, 7, 5, 6}, {2, 7, 7, 8}},   {"01", {2, 8, 0, 0}, {2, 8, 0, 0}},   {"02", {2, 9, 5, 4}, {2, 9, 7, 4}},
    {"03", {2, 10, 4, 6}, {2, 10, 7, 8}}, {"04", {2, 11, 3, 3}, {2, 11, 6, 3}}, {"05", {2, 12, 5, 6}, {2, 12, 2, 5}},
    {"06", {2, 13, 2, 2}, {2, 13, 5, 2}}, {"07", {2, 14, 5, 6}, {2, 14, 7, 8}}, {"08", {2, 15, 5, 6}, {2, 15, 7, 8}},
};
constexpr StateRow kOtherError{"", {2, 6, 5, 6}, {2, 6, 7, 8}};
constexpr std::string_view kCoverOpen = "02";
constexpr std::string_view kInkError = "05";  // its message names the ink

// "ST:01", a self test: the kind behind "TP:" picks the message; the picture and alert are the family's.
constexpr std::pair<std::string_view, std::uint16_t> kTestMessages[] = {{"00", 17}, {"01", 18}, {"02", 19}};
constexpr std::uint16_t kOtherTestMessage = 16;
constexpr StateRow kSelfTest{"01", {2, 0, 5, 6}, {2, 0, 7, 8}};

// The states that are no error; the same for both families.
constexpr StateRow kStates[] = {
    {"02", {0, 5, 0, 0}, {0, 5, 0, 0}},
    {"03", {0, 3, 0, 0}, {0, 3, 0, 0}},
    {"04", {0, 2, 0, 0}, {0, 2, 0, 0}},
    {"05", {1, 4, 0, 1}, {1, 4, 0, 1}},
};
constexpr StateRow kUnknownState{"", {2, 0, 1, 5}, {2, 0, 1, 7}};

template <std::size_t N>
const StateRow& rowOf(const StateRow (&rows)[N], std::string_view code, const StateRow& otherwise)
{
    for (const auto& row : rows) {
        if (row.code == code) return row;
    }
    return otherwise;
}

}  // namespace

void decodeState(std::string_view reply, bool impact, std::uint32_t model, PrinterEntry& entry)
{
    const std::string_view state = valueBehind(reply, "ST:").value_or("99");
    auto outcomeOf = [impact](const StateRow& row) { return impact ? row.impact : row.inkjet; };
    entry.MessageFlag = 0;
    if (state == "00") {
        const std::string_view error = valueBehind(reply, "ER:").value_or("99");
        apply(entry, outcomeOf(rowOf(kErrors, error, kOtherError)));
        // Some models have a cover-open picture of their own.
        const facts::Model* m = facts::byNumber(model);
        if (error == kCoverOpen && m != nullptr && m->coverOpenPicture != 0 &&
            (m->family == facts::Family::Impact) == impact) {
            entry.PictureIndex = m->coverOpenPicture;
        }
        if (error == kInkError && !impact) entry.MessageFlag = 1;
        return;
    }
    if (state == kSelfTest.code) {
        const std::string_view test = valueBehind(reply, "TP:").value_or("99");
        Outcome outcome = outcomeOf(kSelfTest);
        outcome.message = kOtherTestMessage;
        for (const auto& [kind, message] : kTestMessages) {
            if (test == kind) outcome.message = message;
        }
        return apply(entry, outcome);
    }
    apply(entry, outcomeOf(rowOf(kStates, state, kUnknownState)));
}

bool decodeImpactReply(std::string_view reply, PrinterEntry& entry, std::int32_t* paper)
{
    decodeState(reply, /*impact=*/true, entry.ModelCode, entry);
    if (std::size_t cd = reply.find("CD:"); cd != std::string_view::npos) {
        const std::size_t k = cd + 3;
        for (int bin = 0; bin < 3; ++bin) {
            const std::size_t at = k + 20 + 4 * static_cast<std::size_t>(bin);
            int size = kUnknownPaperSize;
            if (at + 4 <= reply.size() && reply[at] == '0' &&
                (reply.substr(at + 2, 2) == "00" || reply.substr(at + 2, 2) == "01")) {
                const bool landscape = reply.substr(at + 2, 2) == "01";
                struct Size {
                    char key;
                    int portrait, landscape;
                };
                static constexpr Size sizes[] = {{'1', 7, 75},    {'2', 11, 78}, {'3', 8, 76},  {'4', 12, 79},
                                                 {'5', 10, 77},   {'6', 42, 80}, {'7', 68, 81}, {'8', 0, 74},
                                                 {'9', 151, 151}, {'A', 4, 151}, {'a', 4, 151}, {'B', 87, 88},
                                                 {'b', 87, 88},   {'C', 69, 82}, {'c', 69, 82}};
                for (const auto& s : sizes) {
                    if (reply[at + 1] == s.key) size = landscape ? s.landscape : s.portrait;
                }
            }
            paper[kBinSize + bin] = size;
        }
        // Continuous paper width, 1/360 inch, as a 16-bit value; models 6 and 7 report it raised.
        auto high = codeField(reply, k + 32), low = codeField(reply, k + 34);
        int inches = 0;
        if (high && low) {
            const facts::Model* m = facts::byNumber(entry.ModelCode);
            const bool raised = m != nullptr && m->raisedPaperWidth;
            const int value = static_cast<std::uint16_t>(*high * 256 + *low + (raised ? 255 : 0));
            const int floor = raised ? 255 : 0;
            static constexpr int steps[] = {1620, 1980, 2340, 2700, 3060, 3420, 3780, 4140, 4500, 4860};
            if (value > floor) {
                inches = 4;
                for (int step : steps) {
                    if (value >= step) ++inches;
                }
            }
        }
        paper[kPaperWidth] = inches;
    }
    int tractor = 0;
    if (auto pp = valueBehind(reply, "PP:", 4)) {
        if (*pp == "0000") tractor = 4;
        else if (*pp == "0001") tractor = 5;
        else if (*pp == "0101") tractor = 6;
        else if (*pp == "0102") tractor = 7;
        else if (*pp == "0201") tractor = 9;
    }
    paper[kTractorKind] = tractor;
    return true;
}

namespace {

// Ink out: the message names the ink; the picture shows which cartridge is empty.
constexpr Outcome kColourInkOut{2, 12, 4, 5};
constexpr Outcome kBlackInkOut{2, 12, 3, 5};
constexpr Outcome kBothInksOut{2, 12, 2, 5};
constexpr std::uint16_t kInkLowAlert = 6;

// The ink rules of a model number; a number no model has reads ink as most models do.
const facts::InkRules& inkRulesOf(std::uint32_t model)
{
    static const facts::InkRules kDefault{};
    const facts::Model* m = facts::byNumber(model);
    return m != nullptr ? m->ink : kDefault;
}

int colorBand(const facts::InkRules& ink, int level)
{
    if (level == 0 || level >= 255) return 0;
    if (ink.warningBands) {
        if (level == 1) return 1;
        if (level <= 25) return 2;
    } else {
        if (level == 1) return 0;
        if (level <= 9) return 1;
        if (level <= 25) return 2;
    }
    if (level <= 50) return 3;
    if (level <= 75) return 4;
    return 5;
}

int blackBand(const facts::InkRules& ink, int level)
{
    if (ink.warningBands) return colorBand(ink, level);
    if (level >= 255 || level <= 1) return 0;
    if (level >= 76) return 5;
    if (level >= 51) return 4;
    if (level >= 26) return 3;
    return level > ink.blackLowAt ? 2 : 1;
}

struct Warnings {
    bool black = false, color = false;
};

// The tokens behind "WR:", separated by "," and ended by ";" or the end of the text; a last token
// that nothing follows is not counted.
Warnings readWarnings(std::string_view reply)
{
    Warnings seen;
    std::size_t at = reply.find("WR:");
    if (at == std::string_view::npos) return seen;
    std::string_view rest = reply.substr(at + 3);
    for (;;) {
        std::size_t end = rest.find_first_of(",;");
        if (end == std::string_view::npos) break;
        std::string_view token = rest.substr(0, std::min<std::size_t>(end, 255));
        if (token == "10") seen.black = true;
        if (token == "11" || token == "12" || token == "13" || token == "14" || token == "15") seen.color = true;
        if (rest[end] == ';') break;
        rest.remove_prefix(end + 1);
    }
    return seen;
}

}  // namespace

bool decodeInkjetReply(std::string_view reply, std::string_view inkText, PrinterEntry& entry, std::int32_t* paper)
{
    const facts::InkRules& ink = inkRulesOf(entry.ModelCode);
    decodeState(reply, /*impact=*/false, entry.ModelCode, entry);
    std::size_t iq = inkText.find("IQ:");
    // A model asked for its ink apart is not asked while it is busy; until its first answer the state
    // shows and the ink is not known. Anywhere else a reply without ink is not one to decode.
    const bool inkKnown = iq != std::string_view::npos;
    if (!inkKnown && !ink.reportedApart) return false;
    const std::size_t q = inkKnown ? iq + 3 : 0;
    const bool hasColor = paper[kColorCount] > 0, hasBlack = paper[kBlackCount] > 0;

    if (hasColor && !inkKnown) {
        paper[kColorLevel] = kUnknownLevel;
        paper[kColorBand] = colorBand(ink, kUnknownLevel);
    } else if (hasColor) {
        int level = kUnknownLevel + 1;  // above every field: the minimum follows
        int readableZeros = 0;
        bool unreadable = false;
        for (int i = 0; i < ink.colourFields; ++i) {
            auto field = codeField(inkText, q + 2 + 2 * static_cast<std::size_t>(i));
            if (!field) {
                unreadable = true;
                continue;
            }
            int value = i == 0 ? std::min(*field, 100) : *field;
            if (value == 0) ++readableZeros;
            level = std::min(level, value);
        }
        if (unreadable) level = ink.unknownWhenColourUnreadable ? kUnknownLevel : 0;
        else if (ink.threeZerosUnknown && readableZeros == 3) level = kUnknownLevel;
        paper[kColorLevel] = level;
        paper[kColorBand] = colorBand(ink, level);
    }
    if (hasBlack) {
        auto field = inkKnown ? codeField(inkText, q) : std::nullopt;
        const int level = field ? *field : (!inkKnown || ink.unknownWhenBlackUnreadable ? kUnknownLevel : 0);
        paper[kBlackLevel] = level;
        paper[kBlackBand] = blackBand(ink, level);
    }

    const Warnings warnings = readWarnings(reply);
    if (hasColor) paper[kColorWarning] = warnings.color ? 1 : 0;
    if (hasBlack) paper[kBlackWarning] = warnings.black ? 1 : 0;
    if (hasColor && warnings.color && paper[kColorLevel] > 1 && paper[kColorLevel] != kUnknownLevel) {
        paper[kColorLevel] = 2;
        paper[kColorBand] = colorBand(ink, 1);
    }
    if (hasBlack && warnings.black && paper[kBlackLevel] > 1 && paper[kBlackLevel] != kUnknownLevel) {
        paper[kBlackLevel] = 2;
        paper[kBlackBand] = blackBand(ink, 1);
    }
    paper[kInkColourIndex] = 0;

    // Ink low only ever raises a normal level; ink out always makes it an error.
    auto inkLow = [&] {
        if (entry.PrinterState == 0) {
            entry.PrinterState = 1;
            entry.AlertCategory = kInkLowAlert;
        }
    };
    const std::uint32_t levelBefore = entry.PrinterState;
    if (hasColor) {
        const int level = paper[kColorLevel];
        paper[kColorValid] = level < 0 ? 0 : 1;
        if (level != kUnknownLevel) {
            if (levelBefore == 0 && (ink.warningBands ? paper[kColorWarning] == 1 : level < 10)) inkLow();
            if (level <= 1) {
                apply(entry, kColourInkOut);
                entry.MessageFlag = 1;
                paper[kInkColourIndex] = 2;
            }
        }
    }
    if (hasBlack) {
        const int level = paper[kBlackLevel];
        paper[kBlackValid] = level < 0 ? 0 : 1;
        if (level != kUnknownLevel) {
            const bool low = ink.warningBands ? paper[kBlackWarning] == 1 : level <= ink.blackLowAt;
            if (levelBefore == 0 && low) inkLow();
            if (level <= 1) {
                const bool bothOut = paper[kInkColourIndex] == 2;
                apply(entry, bothOut ? kBothInksOut : kBlackInkOut);
                entry.MessageFlag = 1;
                paper[kInkColourIndex] = bothOut ? 0 : 1;
            }
        }
    }
    return true;
}

bool inkReportedApart(std::uint32_t model)
{
    const facts::Model* m = facts::byNumber(model);
    return m != nullptr && m->ink.reportedApart;
}

}  // namespace watchcore

// ---- Export -------------------------------------------------------------------------------------

int32_t iGetStatus(PrinterEntry* entry, int32_t* paper, int32_t* information, char* lastReply)
{
    using watchcore::StoreKey;
    namespace value = facts::value;
    plat::Services* services = plat::edgeServices();
    if (entry == nullptr || paper == nullptr || information == nullptr || lastReply == nullptr || services == nullptr)
        return 0;
    plat::registry::Store& store = services->store();
    const std::string printer(entry->PrinterName, strnlen(entry->PrinterName, sizeof entry->PrinterName));
    char reply[1023];
    if (!watchcore::getText(store, StoreKey::Vigilmon, printer, value::kRealTimeStatusStrings, reply, sizeof reply))
        return 0;
    if (lastReply[0] != '\0' && std::strcmp(lastReply, reply) == 0) return 2;
    // Kept even when decoding fails, so the same text is not decoded again.
    std::memcpy(lastReply, reply, std::strlen(reply) + 1);

    switch (entry->PrinterFamily) {
    case 0: return watchcore::decodePageReply(reply, *entry, paper, information) ? 1 : 0;
    case 1: return watchcore::decodeImpactReply(reply, *entry, paper) ? 1 : 0;
    case 2: {
        if (!watchcore::inkReportedApart(entry->ModelCode)) {
            return watchcore::decodeInkjetReply(reply, reply, *entry, paper) ? 1 : 0;
        }
        char ink[256];
        if (!watchcore::getText(store, StoreKey::Vigilmon, printer, value::kInkLevel, ink, sizeof ink)) return 0;
        return watchcore::decodeInkjetReply(reply, ink, *entry, paper) ? 1 : 0;
    }
    default: return 1;  // a family the system does not know decodes nothing
    }
}
