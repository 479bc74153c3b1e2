#include "text_output.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "resources/language.h"
#include "resources/string_table.h"

namespace kestrel_status {

namespace {

// This tool's own texts, in the language of the locale; the printers' texts come from the list's and the
// status page's tables. The numbers of resources/strings/tools/kestrel_status.txt:
constexpr int kColumnHeads = 1;  // 1..6: name, monitoring, state, jobs, port, message
constexpr int kListLine = 10, kRunning = 11, kBuilding = 12, kNotRunning = 13, kSpoolerLine = 14;
constexpr int kNetworkMark = 15, kWatchLine = 16, kGoneLine = 17;

std::string own(int number)
{
    static const kestrel::StringTable texts = kestrel::StringTable::load(":/strings/tools/kestrel_status.txt");
    return texts.text(number).value_or("");
}

// Columns on a terminal: a character of the wide East Asian ranges takes two places, a half-width
// kana one.
std::size_t displayWidth(std::string_view text)
{
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        length = std::min(length, text.size() - i);
        char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                          (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                          (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                          (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
        width += wide ? 2 : 1;
        i += length;
    }
    return width;
}

std::string orDash(const std::optional<std::string>& text) { return text ? *text : "-"; }
std::string orDash(const std::optional<long>& n) { return n ? std::to_string(*n) : "-"; }

std::string runText(std::uint32_t flag)
{
    switch (flag) {
    case 1: return own(kBuilding);
    case 2: return own(kRunning);
    default: return own(kNotRunning);
    }
}

// The PORT column: where the printer prints, marked when the list shows it as a network printer.
std::string portText(const Printer& p)
{
    std::string text = p.captured ? *p.captured + "(" + p.port + ")" : p.port;
    if (text.empty()) text = "-";
    if (p.network) text += own(kNetworkMark);
    return text;
}

}  // namespace

std::string table(const Snapshot& s)
{
    std::string out = kestrel::fillIn(own(kListLine), {runText(s.listRunning)}) + "\n";
    out += kestrel::fillIn(own(kSpoolerLine), {s.spooler}) + "\n";
    constexpr std::size_t kColumns = 6;
    std::vector<std::array<std::string, kColumns>> lines(1);
    for (std::size_t c = 0; c < kColumns; ++c) lines[0][c] = own(kColumnHeads + static_cast<int>(c));
    for (const Printer& p : s.printers) {
        lines.push_back({p.name, p.monitoring, orDash(p.stateText), orDash(p.jobs), portText(p), orDash(p.message)});
    }
    std::array<std::size_t, kColumns> widths{};
    for (const auto& line : lines) {
        for (std::size_t c = 0; c + 1 < kColumns; ++c) widths[c] = std::max(widths[c], displayWidth(line[c]));
    }
    for (const auto& line : lines) {
        for (std::size_t c = 0; c + 1 < kColumns; ++c)
            out += line[c] + std::string(widths[c] - displayWidth(line[c]) + 2, ' ');
        out += line[kColumns - 1] + "\n";
    }
    return out;
}

std::string textPrinter(const Printer& p)
{
    return kestrel::fillIn(own(kWatchLine),
                           {p.name, p.monitoring, orDash(p.stateText), orDash(p.jobs), orDash(p.message)});
}

std::string textGone(const std::string& name) { return kestrel::fillIn(own(kGoneLine), {name}); }

std::string textRunFlag(std::uint32_t flag) { return kestrel::fillIn(own(kListLine), {runText(flag)}); }

}  // namespace kestrel_status
