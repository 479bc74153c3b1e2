#pragma once
// Runs a program to its end and captures what it printed.

#include <string>
#include <vector>

namespace testsupport {

struct ProgramRun {
    int exitCode = -1;  // -1 when it could not start or was ended by a signal
    std::string out;
    std::string err;
};

ProgramRun runProgram(const std::vector<std::string>& argv, const std::string& input = {});

}  // namespace testsupport
