#include "plat/spool/ppd_facts.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "plat/base/utf8.h"

namespace plat::spool {
namespace {

// The longest PPD line we read; longer ones (none of the keywords we read) are skipped.
constexpr std::size_t kMaxPpdLine = 1024;
// A PPD bigger than this is not read to its end: our keywords come near the top.
constexpr long kMaxPpdBytes = 16L << 20;

// PPD strings are ISO Latin-1 unless they already are UTF-8.
std::string toUtf8(std::string_view text)
{
    if (isValidUtf8(text)) return std::string(text);
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The value of a "*Keyword: value" line: a quoted string closed on the same line, or a bare word.
std::optional<std::string> ppdValue(std::string_view line, std::string_view keyword)
{
    if (line.size() <= keyword.size() + 1 || line[0] != '*' || line.substr(1, keyword.size()) != keyword ||
        line[keyword.size() + 1] != ':') {
        return std::nullopt;
    }
    std::string_view rest = line.substr(keyword.size() + 2);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r' || rest.back() == ' ')) rest.remove_suffix(1);
    if (!rest.empty() && rest.front() == '"') {
        const auto close = rest.find('"', 1);
        if (close == std::string_view::npos) return std::nullopt;  // a value over several lines: not ours
        return toUtf8(rest.substr(1, close - 1));
    }
    return toUtf8(rest);
}

// The number a resolution begins with ("600dpi", "600x600dpi"); 0 when there is none or it does not
// fit, so that its magnitude can always be taken.
std::int32_t resolutionOf(std::string_view text)
{
    if (text.starts_with('+')) text.remove_prefix(1);
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || value == std::numeric_limits<std::int32_t>::min()) return 0;
    return value;
}

}  // namespace

PpdFacts parsePpd(std::FILE* file)
{
    PpdFacts facts;
    char buffer[kMaxPpdLine + 2];
    bool skipping = false;  // the rest of a line that was too long
    while (std::fgets(buffer, sizeof buffer, file) != nullptr && std::ftell(file) < kMaxPpdBytes) {
        const std::string_view line(buffer, std::strlen(buffer));
        const bool whole = !line.empty() && line.back() == '\n';
        if (skipping) {  // the tail of a line too long to be one of ours
            skipping = !whole;
            continue;
        }
        if (!whole && !std::feof(file)) {
            skipping = true;
            continue;
        }
        if (auto v = ppdValue(line, "NickName")) facts.nickName = *v;
        else if (auto v = ppdValue(line, "VELTADriverFile")) facts.driverFile = *v;
        else if (auto v = ppdValue(line, "VELTALanguageMonitor")) facts.monitor = *v;
        else if (auto v = ppdValue(line, "VELTALanguageMonitorFile")) facts.monitorFile = *v;
        else if (auto v = ppdValue(line, "DefaultResolution")) facts.quality = resolutionOf(*v);
    }
    return facts;
}

PpdFacts parsePpd(const char* path)
{
    std::FILE* file = std::fopen(path, "re");
    if (file == nullptr) return {};
    PpdFacts facts = parsePpd(file);
    std::fclose(file);
    return facts;
}

}  // namespace plat::spool
