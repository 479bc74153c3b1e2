#pragma once
// What every command-line tool of the system shares: its arguments, and "--help" or "-h" anywhere
// among them printing the tool's help.

#include <iostream>
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

}  // namespace plat
