#pragma once
// What every command-line tool of the system shares: its arguments, and "--help" or "-h" anywhere
// among them printing the tool's help.

#include <charconv>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace plat {

inline std::vector<std::string> argumentsOf(int argc, char** argv) { return {argv + 1, argv + argc}; }

// Prints `help` and returns true when the arguments ask for it.
inline bool printHelpIfAsked(const std::vector<std::string>& args, const char* help)
{
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            std::cout << help;
            return true;
        }
    }
    return false;
}

// The value of a numeric option such as "--seconds 60": `argv[i + 1]` read as a whole decimal number
// from `min` to `max`, advancing `i` past it. Nothing, and `why` says so, for a missing or bad value.
inline std::optional<long> numberOption(int argc, char** argv, int& i, long min, long max, std::string& why)
{
    const std::string option = argv[i];
    if (i + 1 >= argc) {
        why = option + " needs a number.";
        return std::nullopt;
    }
    const std::string value = argv[++i];
    long n = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || error != std::errc() || end != value.data() + value.size() || n < min || n > max) {
        why = option + " takes a whole number from " + std::to_string(min) + " to " + std::to_string(max) + ", not \"" +
              value + "\".";
        return std::nullopt;
    }
    return n;
}

}  // namespace plat
