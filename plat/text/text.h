#pragma once
// Text of the system: bytes in the system code page, which is UTF-8 here. The double-byte rules the
// system grew up with apply to UTF-8 sequences: a "lead byte" starts a multi-byte character, and no
// character is ever split. Byte limits stay byte limits; a cut that would split a character cuts
// before it. Case rules fold ASCII letters only, as the rest of the system does.

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace plat::text {

// True for a byte that starts a multi-byte UTF-8 character.
bool isLeadByte(unsigned char byte);

// Bytes taken by the character that starts at `s[0]`: 1 for ASCII, for a stray continuation byte and
// for a sequence that is cut short or malformed (each such byte counts as a character of its own).
std::size_t characterLength(std::string_view s);

// The largest n <= maxBytes at which `s` can be cut without splitting a character.
std::size_t boundaryAtOrBefore(std::string_view s, std::size_t maxBytes);

// Copies as much of `source` as fits into `dest` of `capacity` bytes with its terminating zero, never
// splitting a character. Returns the bytes copied (without the zero). A capacity of 0 writes nothing.
std::size_t copyBounded(char* dest, std::size_t capacity, std::string_view source);

// Whole-string comparisons: equal length and equal bytes, with or without regard to case.
bool equalWhole(std::string_view a, std::string_view b);
bool equalWholeIgnoringCase(std::string_view a, std::string_view b);

// <0, 0, >0 like strcmp, ASCII letters folded; for sorting names as the list window does.
int compareIgnoringCase(std::string_view a, std::string_view b);

// Whether a file name matches a pattern of the system ("ksw*.lnk"): "*" stands for any run of
// characters, "?" for one; letters match without regard to case, as file names did on the system's
// original platform.
bool matchesPatternIgnoringCase(std::string_view name, std::string_view pattern);

// The integer of `key` in `[section]` of a profile (INI) file, or `fallback` when the file, section
// or key is missing. Section and key names ignore case; the value is read as a decimal number (or
// hexadecimal after "0x"), from its leading digits, so "12abc" gives 12 and "abc" gives 0.
int readProfileInt(const std::filesystem::path& file, std::string_view section, std::string_view key, int fallback);

}  // namespace plat::text
