#include "plat/text/text.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>

namespace plat::text {
namespace {

unsigned char foldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

std::string_view trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

int parseProfileInt(std::string_view value)
{
    value = trim(value);
    bool negative = false;
    if (!value.empty() && (value.front() == '-' || value.front() == '+')) {
        negative = value.front() == '-';
        value.remove_prefix(1);
    }
    int base = 10;
    if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
        base = 16;
        value.remove_prefix(2);
    }
    long long result = 0;
    for (char c : value) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) digit = std::tolower(c) - 'a' + 10;
        else break;
        result = result * base + digit;
        if (result > 0xFFFFFFFFLL) break;  // wraps like a 32-bit value would; stop reading
    }
    return static_cast<int>(negative ? -result : result);
}

}  // namespace

bool isLeadByte(unsigned char byte) { return byte >= 0xC2 && byte <= 0xF4; }

std::size_t characterLength(std::string_view s)
{
    if (s.empty()) return 0;
    auto lead = static_cast<unsigned char>(s[0]);
    if (!isLeadByte(lead)) return 1;
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (s.size() < length) return 1;
    for (std::size_t i = 1; i < length; ++i) {
        if (!isContinuation(static_cast<unsigned char>(s[i]))) return 1;
    }
    return length;
}

std::size_t boundaryAtOrBefore(std::string_view s, std::size_t maxBytes)
{
    if (maxBytes >= s.size()) return s.size();
    std::size_t at = 0;
    while (at < s.size()) {
        std::size_t next = at + characterLength(s.substr(at));
        if (next > maxBytes) break;
        at = next;
    }
    return at;
}

std::size_t copyBounded(char* dest, std::size_t capacity, std::string_view source)
{
    if (capacity == 0 || dest == nullptr) return 0;
    std::size_t n = boundaryAtOrBefore(source, capacity - 1);
    source.copy(dest, n);
    dest[n] = '\0';
    return n;
}

bool equalWhole(std::string_view a, std::string_view b) { return a == b; }

bool equalWholeIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && compareIgnoringCase(a, b) == 0;
}

int compareIgnoringCase(std::string_view a, std::string_view b)
{
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        int d = foldAscii(static_cast<unsigned char>(a[i])) - foldAscii(static_cast<unsigned char>(b[i]));
        if (d != 0) return d;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool matchesPatternIgnoringCase(std::string_view name, std::string_view pattern)
{
    // Greedy match with one back-track point: the last "*" seen.
    std::size_t n = 0, p = 0, starAt = std::string_view::npos, resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || foldAscii(static_cast<unsigned char>(pattern[p])) ==
                                                            foldAscii(static_cast<unsigned char>(name[n])))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = n;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

int readProfileInt(const std::filesystem::path& file, std::string_view section, std::string_view key, int fallback)
{
    std::ifstream in(file);
    if (!in) return fallback;
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        std::string_view text = trim(line);
        if (text.empty() || text.front() == ';' || text.front() == '#') continue;
        if (text.front() == '[') {
            std::size_t close = text.find(']');
            inSection =
                close != std::string_view::npos && equalWholeIgnoringCase(trim(text.substr(1, close - 1)), section);
            continue;
        }
        if (!inSection) continue;
        std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) continue;
        if (equalWholeIgnoringCase(trim(text.substr(0, equals)), key)) {
            return parseProfileInt(text.substr(equals + 1));
        }
    }
    return fallback;
}

}  // namespace plat::text
