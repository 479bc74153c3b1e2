#pragma once
// watchreg's reading of the data a user gives with /d, by the value's type.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace watchreg {

// A decimal number, or 0x and 1 to 8 hex digits; nothing else (no sign, no spaces, no empty digits).
bool parseDword(const std::string& text, std::uint32_t& out);
// Pairs of hex digits, blanks and commas between them allowed; appends the bytes to `out`.
bool parseBinary(const std::string& text, std::vector<std::byte>& out);

}  // namespace watchreg
