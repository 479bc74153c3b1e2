#include "value_data.h"

#include <cctype>

namespace watchreg {

bool parseDword(const std::string& text, std::uint32_t& out)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > (hex ? 8u : 10u)) return false;
    std::uint64_t v = 0;
    for (char c : digits) {
        const auto u = static_cast<unsigned char>(c);
        if (hex ? !std::isxdigit(u) : !std::isdigit(u)) return false;
        const unsigned digit = std::isdigit(u) ? u - '0' : (std::tolower(u) - 'a' + 10);
        v = v * (hex ? 16 : 10) + digit;
    }
    if (v > 0xFFFFFFFFull) return false;
    out = static_cast<std::uint32_t>(v);
    return true;
}

bool parseBinary(const std::string& text, std::vector<std::byte>& out)
{
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ',') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<std::byte>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return true;
}

}  // namespace watchreg
