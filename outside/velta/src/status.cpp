#include "status.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <optional>
#include <string>

namespace velta {
namespace {

using facts::Family;
using facts::Model;

constexpr std::string_view kRemoteEntry{"\x1b(R\x08\x00\x00REMOTE1", 13};
constexpr std::string_view kRemoteExit{"\x1b\x00\x00\x00", 4};

// Levels at or below which a supply counts as low: the toner's lowest band, and the colour ink's
// low mark of the models that judge ink by level.
constexpr int kTonerLowLevel = 25;
constexpr int kColourLowAt = 9;

// Two upper-case hexadecimal characters at `at` as a byte; nothing when they are not there.
std::optional<int> field(std::string_view text, std::size_t at)
{
    if (at > text.size() || text.size() - at < 2) return std::nullopt;
    int value = 0;
    for (char c : text.substr(at, 2)) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

// The two characters behind the first `key`, or nothing.
std::optional<std::string_view> behind(std::string_view text, std::string_view key)
{
    std::size_t at = text.find(key);
    if (at == std::string_view::npos || text.size() - (at + key.size()) < 2) return std::nullopt;
    return text.substr(at + key.size(), 2);
}

int percent(std::optional<int> byte) { return byte && *byte <= 100 ? *byte : -2; }

// A reason's severity from its suffix, for choosing the words of the most serious one.
int severity(std::string_view keyword)
{
    if (keyword.ends_with("-error")) return 2;
    if (keyword.ends_with("-warning")) return 1;
    return 0;
}

// Collects the conditions of one reply; the message is the words of the most serious condition, or
// the printer's state when there is none.
class Conditions {
public:
    explicit Conditions(Decoded& out) : m_out(out) {}
    ~Conditions() { m_out.message = m_worst >= 0 ? m_words : m_state; }
    Conditions(const Conditions&) = delete;
    Conditions& operator=(const Conditions&) = delete;

    void add(const char* keyword, std::string words)
    {
        m_out.reasons.insert(keyword);
        if (severity(keyword) > m_worst) {
            m_worst = severity(keyword);
            m_words = std::move(words);
        }
    }
    void state(std::string words) { m_state = std::move(words); }
    bool any() const { return m_worst >= 0; }

private:
    Decoded& m_out;
    int m_worst = -1;
    std::string m_words, m_state;
};

// A page printer's status codes: the reason each sets (none for the printer at work) and its words.
struct PageCode {
    int code;
    const char* keyword;
    const char* words;
};
constexpr PageCode kPageCodes[] = {
    {1000, nullptr, "Ready"},
    {1001, reason::kOffline, "Off line: the printer cannot print"},
    {1002, nullptr, "Printing"},
    {1003, nullptr, "Cancelling a job"},
    {1004, nullptr, "Resetting"},
    {1005, nullptr, "Writing to the IC card"},
    {1006, nullptr, "Warming up"},
    {1007, nullptr, "Power saving"},
    {1008, nullptr, "Ejecting paper"},
    {1009, nullptr, "Printing"},
    {1010, nullptr, "Printing"},
    {1012, nullptr, "Printing from another interface"},
    {2000, reason::kPrinterWarning, "The IC card is not formatted"},
    {2001, reason::kTonerLow, "Toner low"},
    {2002, reason::kPrinterWarning, "Printed at a lower quality: not enough memory"},
    {2003, reason::kPrinterWarning, "Printing slowed down: not enough memory"},
    {2004, reason::kPrinterWarning, "Printed on another paper size"},
    {2005, reason::kPrinterWarning, "Could not print on both sides"},
    {3000, reason::kPrinterError, "Overrun error"},
    {3001, reason::kPrinterError, "Out of memory"},
    {3003, reason::kMediaNeeded, "The paper size differs from the job's"},
    {3004, reason::kPrinterError, "Not enough memory for two-sided printing"},
    {4000, reason::kMarkerMissing, "No toner cartridge"},
    {4001, reason::kTonerEmpty, "Toner out"},
    {4002, reason::kCoverOpen, "Cover open"},
    {4003, reason::kPrinterError, "The IC card cannot be used"},
    {4004, reason::kPrinterError, "A card or cartridge was changed with the power on"},
    {4006, reason::kPrinterError, "Writing to the IC card failed"},
    {4007, reason::kInputTrayMissing, "Paper cassette not set"},
    {4008, reason::kMediaJam, "Paper jam inside the printer"},
    {4009, reason::kMediaJam, "Paper jam at the paper feed"},
    {4010, reason::kMediaEmpty, "Paper out, or no paper cassette"},
    {4012, reason::kMediaJam, "Paper jam"},
    {4013, reason::kPrinterError, "The paper is the wrong way round"},
    {4014, reason::kPrinterError, "Option interface error"},
    {4015, reason::kDoorOpen, "Duplex unit cover open"},
    {4016, reason::kMediaNeeded, "The paper size does not suit two-sided printing"},
    {4017, reason::kMediaJam, "Paper jam in the duplex unit"},
    {6000, reason::kServiceCall, "Service call: the printer needs repair"},
};
constexpr PageCode kUndefinedPageCode{0, reason::kPrinterError, "The printer reports an unknown status"};

// The paper sources of a page reply: the tray, then cassettes 1 to 3 (offsets behind "STATUS CODE=").
constexpr struct {
    std::size_t offset;
    const char* name;
} kPaperSources[] = {{60, "the tray"}, {62, "cassette 1"}, {64, "cassette 2"}, {94, "cassette 3"}};

void decodePage(const Model& model, std::string_view reply, Decoded& out)
{
    Conditions conditions(out);
    std::size_t key = reply.find("STATUS CODE=");
    if (key == std::string_view::npos) {
        conditions.add(reason::kStatusUnknown, "The printer's status cannot be read");
        return;
    }
    const std::size_t p = key + 12;
    auto high = field(reply, p + 4), low = field(reply, p + 6);
    if (!high || !low) {
        conditions.add(reason::kStatusUnknown, "The printer's status cannot be read");
        return;
    }
    const int code = *high * 256 + *low;
    const auto* row =
        std::find_if(std::begin(kPageCodes), std::end(kPageCodes), [&](const PageCode& c) { return c.code == code; });
    const PageCode& found = row != std::end(kPageCodes) ? *row : kUndefinedPageCode;
    if (found.keyword != nullptr) conditions.add(found.keyword, found.words);
    else conditions.state(found.words);

    // A paper source that runs out or low is a warning while the printer is otherwise at work; the
    // first such source speaks.
    const std::size_t sources = 1 + static_cast<std::size_t>(std::clamp(model.fitted.cassettes, 0, 3));
    for (std::size_t i = 0; i < sources && !conditions.any(); ++i) {
        auto level = field(reply, p + kPaperSources[i].offset);
        if (!level || *level == 255) continue;
        if (*level == 0)
            conditions.add(reason::kMediaEmptyWarning, std::string("Paper out in ") + kPaperSources[i].name);
        else if (*level <= 25) conditions.add(reason::kMediaLow, std::string("Paper low in ") + kPaperSources[i].name);
    }
    if (auto toner = field(reply, p + 56)) {
        out.markers.push_back({"Toner", "#000000", "toner", percent(toner), kTonerLowLevel, 100});
    }
}

// The errors behind "ER:" of impact and inkjet printers in state "00".
struct StateError {
    const char* code;
    const char* keyword;
    const char* words;
};
constexpr StateError kStateErrors[] = {
    {"00", reason::kPrinterError, "An error has occurred"},
    {"01", reason::kOtherInterface, "Printing another interface's data"},
    {"02", reason::kCoverOpen, "Cover open"},
    {"03", reason::kReleaseLever, "The release lever is in the wrong position"},
    {"04", reason::kMediaJam, "Paper jam"},
    {"05", reason::kMarkerEmpty, nullptr},  // ink or ribbon out: the words depend on the family
    {"06", reason::kMediaEmpty, "Paper out or not set correctly"},
    {"07", reason::kPanelSetting, "Settings are being made on the printer's panel"},
    {"08", reason::kPrinterError, "An error has occurred"},
};

// Impact and inkjet printers: the state and its error.
void decodeState(std::string_view reply, bool inkjet, Conditions& conditions)
{
    auto state = behind(reply, "ST:");
    if (!state || (*state)[0] != '0' || (*state)[1] > '5' || (*state)[1] < '0') {
        conditions.add(reason::kStatusUnknown, "The printer's status cannot be read");
        return;
    }
    switch ((*state)[1]) {
    case '1': conditions.add(reason::kTestPrinting, "Test printing"); return;
    case '2':
    case '3': conditions.state("Printing"); return;
    case '4': conditions.state("Ready"); return;
    case '5': conditions.add(reason::kOffline, "Printing stopped"); return;
    default: break;
    }
    const std::string_view error = behind(reply, "ER:").value_or("99");
    const auto* row = std::find_if(std::begin(kStateErrors), std::end(kStateErrors),
                                   [&](const StateError& e) { return error == e.code; });
    if (row == std::end(kStateErrors)) {
        conditions.add(reason::kPrinterError, "An error has occurred");
    } else {
        conditions.add(row->keyword, row->words != nullptr ? row->words : inkjet ? "Ink out" : "Ribbon out");
    }
}

void decodeInk(const Model& model, std::string_view reply, std::string_view inkText, Decoded& out,
               Conditions& conditions)
{
    const std::string_view text = model.ink.reportedApart ? inkText : reply;
    std::size_t key = text.find("IQ:");
    if (key == std::string_view::npos) return;
    const std::size_t q = key + 3;
    // "WR:" tokens: 10 the black ink, 11..15 a colour ink runs low.
    bool blackWarned = false, colourWarned = false;
    if (std::size_t w = reply.find("WR:"); w != std::string_view::npos) {
        std::string_view rest = reply.substr(w + 3, std::min<std::size_t>(reply.size() - w - 3, 256));
        rest = rest.substr(0, rest.find(';'));
        for (std::size_t at = 0; at <= rest.size();) {
            std::size_t comma = std::min(rest.find(',', at), rest.size());
            std::string_view token = rest.substr(at, comma - at);
            if (token == "10") blackWarned = true;
            else if (token.size() == 2 && token[0] == '1' && token[1] >= '1' && token[1] <= '5') colourWarned = true;
            at = comma + 1;
        }
    }
    const int black = percent(field(text, q));
    int colour = -2;
    bool colourKnown = true;
    for (int i = 0; i < model.ink.colourFields; ++i) {
        auto level = field(text, q + 2 + 2 * static_cast<std::size_t>(i));
        if (!level || *level > 100) {
            colourKnown = false;
            break;
        }
        colour = colour < 0 ? *level : std::min(colour, *level);
    }
    if (!colourKnown) colour = -2;
    // Models that warn by bands count a level as low only when they say so; a warned level is shown
    // as the lowest band's.
    const int blackLow = model.ink.warningBands ? 1 : model.ink.blackLowAt;
    const int colourLow = model.ink.warningBands ? 1 : kColourLowAt;
    out.markers.push_back({"Black", "#000000", "ink-cartridge", black, blackLow, 100});
    out.markers.push_back({"Color", "#00FFFF#FF00FF#FFFF00", "ink-cartridge", colour, colourLow, 100});

    auto low = [&](int level, bool warned, int lowAt) {
        if (model.ink.warningBands) return warned;
        return warned || (level >= 0 && level <= lowAt);
    };
    const bool empty = (black >= 0 && black <= 1) || (colour >= 0 && colour <= 1);
    if (empty) conditions.add(reason::kMarkerEmpty, "Ink out");
    else if (low(black, blackWarned, model.ink.blackLowAt) || low(colour, colourWarned, kColourLowAt))
        conditions.add(reason::kMarkerLow, "Ink low");
}

std::string remote(std::string_view command)
{
    return std::string(kRemoteEntry) + std::string(command) + std::string(kRemoteExit);
}

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace

const std::vector<VendorReason>& vendorReasons()
{
    static const std::vector<VendorReason> reasons = {
        {reason::kPrinterError, "The printer reports an error"},
        {reason::kPrinterWarning, "The printer reports a warning"},
        {reason::kServiceCall, "The printer needs service"},
        {reason::kReleaseLever, "The release lever is in the wrong position"},
        {reason::kOtherInterface, "The printer is printing from another interface"},
        {reason::kPanelSetting, "Settings are being made on the printer's panel"},
        {reason::kTestPrinting, "The printer is test printing"},
        {reason::kStatusUnknown, "The printer's status cannot be read"},
    };
    return reasons;
}

Decoded decode(const Model& model, std::string_view reply, std::string_view inkText)
{
    reply = reply.substr(0, kMaxReply);
    Decoded out;
    switch (model.family) {
    case Family::Page: decodePage(model, reply, out); break;
    case Family::Impact: {
        Conditions conditions(out);
        decodeState(reply, false, conditions);
        break;
    }
    case Family::Inkjet: {
        Conditions conditions(out);
        decodeState(reply, true, conditions);
        decodeInk(model, reply, inkText.substr(0, std::min(inkText.size(), kMaxReply)), out, conditions);
        break;
    }
    }
    return out;
}

std::string statusEnableCommand(const Model& model)
{
    if (model.family == Family::Page) {
        return std::string("\x1b\x01@KJL REQUEST STATUS=1\r\n\x1b\x01@KJL \n\x1b\x01@KJL \n");
    }
    const char mode = model.statusEnableMode3 ? '\x03' : '\x01';
    return std::string("\x1b@\x1b@") + remote(std::string("ST\x02\x00\x00", 5) + mode);
}

std::string inkQueryCommand(const Model& model)
{
    if (model.family != Family::Inkjet || !model.ink.reportedApart) return {};
    return remote(std::string("IQ\x01\x00\x01", 5));
}

std::string editInkReply(std::string_view reply)
{
    reply = reply.substr(0, kMaxReply);
    if (reply.size() == 22 || reply.size() == 38) return std::string(reply);
    std::string out;
    for (std::size_t at = 0; at < reply.size();) {
        std::size_t key = reply.find("IQ:", at);
        if (key == std::string_view::npos) {
            out.append(reply.substr(at));
            break;
        }
        out.append(reply.substr(at, key + 3 - at));
        at = std::min(reply.size(), key + 5);
    }
    return out;
}

const Model* modelOfDeviceId(std::string_view deviceId)
{
    std::string_view maker, shortName;
    for (std::size_t at = 0; at < deviceId.size();) {
        std::size_t end = std::min(deviceId.find(';', at), deviceId.size());
        std::string_view pair = deviceId.substr(at, end - at);
        at = end + 1;
        std::size_t colon = pair.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view key = pair.substr(0, colon), value = pair.substr(colon + 1);
        while (!key.empty() && key.front() == ' ') key.remove_prefix(1);
        if (sameIgnoringCase(key, "MFG") || sameIgnoringCase(key, "MANUFACTURER")) maker = value;
        else if (sameIgnoringCase(key, "MDL") || sameIgnoringCase(key, "MODEL")) shortName = value;
    }
    if (!sameIgnoringCase(maker, "VELTA")) return nullptr;
    return facts::byShortName(shortName);
}

}  // namespace velta
