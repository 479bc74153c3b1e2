#include "state_keywords.h"

#include <algorithm>
#include <optional>

namespace facts {
namespace {

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

void decodePage(std::string_view reply, Decoded& out)
{
    std::size_t key = reply.find("STATUS CODE=");
    if (key == std::string_view::npos) {
        out.reasons.insert(reason::kStatusUnknown);
        return;
    }
    const std::size_t p = key + 12;
    auto high = field(reply, p + 4), low = field(reply, p + 6);
    if (!high || !low) {
        out.reasons.insert(reason::kStatusUnknown);
        return;
    }
    const int code = *high * 256 + *low;
    switch (code) {
    case 4007:
    case 4010: out.reasons.insert(reason::kMediaEmpty); break;
    case 4008:
    case 4009:
    case 4012:
    case 4017: out.reasons.insert(reason::kMediaJam); break;
    case 4002:
    case 4015: out.reasons.insert(reason::kCoverOpen); break;
    case 2001: out.reasons.insert(reason::kMarkerLow); break;
    case 4000:
    case 4001: out.reasons.insert(reason::kTonerEmpty); break;
    default:
        // The codes below 2000 report work, those of the 2000s warnings with no reason of their own;
        // every other code stops the printer.
        if (code >= 3000 || code == 1001) out.reasons.insert(reason::kPrinterError);
        break;
    }
    if (auto toner = field(reply, p + 56)) out.markers.push_back({"Toner", "#000000", "toner", percent(toner)});
}

// Impact and inkjet printers: the state and its error.
void decodeState(std::string_view reply, bool inkjet, Decoded& out)
{
    auto state = behind(reply, "ST:");
    if (!state || (*state)[0] != '0' || (*state)[1] > '5' || (*state)[1] < '0') {
        out.reasons.insert(reason::kStatusUnknown);
        return;
    }
    if (*state != "00") return;  // printing, ready, stopped or test printing
    const std::string_view error = behind(reply, "ER:").value_or("99");
    if (error == "02") out.reasons.insert(reason::kCoverOpen);
    else if (error == "04") out.reasons.insert(reason::kMediaJam);
    else if (error == "06") out.reasons.insert(reason::kMediaEmpty);
    else if (error == "05") out.reasons.insert(inkjet ? reason::kInkEmpty : reason::kRibbonEmpty);
    else out.reasons.insert(reason::kPrinterError);
}

void decodeInk(const Model& model, std::string_view reply, std::string_view inkText, Decoded& out)
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
    out.markers.push_back({"Black", "#000000", "ink-cartridge", black});
    out.markers.push_back({"Color", "#00FFFF#FF00FF#FFFF00", "ink-cartridge", colour});

    auto low = [&](int level, bool warned, int lowAt) {
        if (model.ink.warningBands) return warned;
        return warned || (level >= 0 && level <= lowAt);
    };
    const bool empty = (black >= 0 && black <= 1) || (colour >= 0 && colour <= 1);
    if (empty) out.reasons.insert(reason::kInkEmpty);
    if (low(black, blackWarned, model.ink.blackLowAt) || low(colour, colourWarned, 9)) {
        out.reasons.insert(reason::kMarkerLow);
        out.reasons.insert(reason::kInkLow);
    }
}

// Rows of the status message tables that report work under way rather than a printer at rest.
constexpr int kPagePrinting[] = {4, 5, 7, 10, 11, 12, 13};
constexpr int kSerialPrinting[] = {3, 5, 8, 17, 18, 19};
// The row every family shows when the printer does not answer.
constexpr int kCommunicationFailure = 1;

template <std::size_t N>
bool among(const int (&rows)[N], int row)
{
    return std::find(std::begin(rows), std::end(rows), row) != std::end(rows);
}

}  // namespace

const std::vector<VendorReason>& vendorReasons()
{
    static const std::vector<VendorReason> reasons = {
        {reason::kInkLow, "Ink is low"},
        {reason::kInkEmpty, "Ink is out"},
        {reason::kTonerEmpty, "Toner is out or not set"},
        {reason::kRibbonEmpty, "Ribbon is out"},
        {reason::kPrinterError, "The printer reports an error"},
        {reason::kStatusUnknown, "The printer's status cannot be read"},
    };
    return reasons;
}

Decoded decodeStatusReply(const Model& model, std::string_view reply, std::string_view inkText)
{
    reply = reply.substr(0, kMaxReply);
    Decoded out;
    switch (model.family) {
    case Family::Page: decodePage(reply, out); break;
    case Family::Impact: decodeState(reply, false, out); break;
    case Family::Inkjet:
        decodeState(reply, true, out);
        decodeInk(model, reply, inkText.substr(0, std::min(inkText.size(), kMaxReply)), out);
        break;
    }
    return out;
}

std::set<std::string> reasons(const Model& model, std::string_view reply, std::string_view inkText)
{
    return decodeStatusReply(model, reply, inkText).reasons;
}

State stateOf(const StatusSummary& status)
{
    if (!status.monitored) return State::NotMonitored;
    if (status.level >= 2) return status.message == kCommunicationFailure ? State::Unreachable : State::Stopped;
    if (status.level == 1) return State::Warning;
    const bool printing =
        status.family == Family::Page ? among(kPagePrinting, status.message) : among(kSerialPrinting, status.message);
    return printing ? State::Printing : State::Idle;
}

const char* keyword(State state)
{
    switch (state) {
    case State::Idle: return "idle";
    case State::Printing: return "printing";
    case State::Warning: return "warning";
    case State::Stopped: return "stopped";
    case State::Unreachable: return "unreachable";
    case State::NotMonitored: return "not-monitored";
    }
    return "not-monitored";
}

std::optional<State> stateFromKeyword(std::string_view text)
{
    for (State state : kStates)
        if (text == keyword(state)) return state;
    return std::nullopt;
}

const char* stateKeyword(const StatusSummary& status) { return keyword(stateOf(status)); }

}  // namespace facts
