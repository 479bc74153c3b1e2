#pragma once
// vprinter run inside a test: starts it on a config in the current system root, waits until it says
// it serves every port, and stops it when the test ends.

#include <sys/types.h>

#include <string>

#include "testsupport/run_program.h"

namespace testsupport {

class Simulator {
public:
    // `program` is vprinter's path; `config` the JSON text of its printers.
    Simulator(std::string program, const std::string& config);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // True once vprinter printed its ready line; `output()` then holds what it printed so far.
    bool ready() const { return m_ready; }
    const std::string& output() const { return m_output; }

    // vprinter ctl PORT COMMAND (COMMAND split at blanks).
    ProgramRun control(const std::string& port, const std::string& command) const;
    // control() that must succeed; returns its answer.
    std::string must(const std::string& port, const std::string& command) const;

private:
    std::string m_program;
    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;  // vprinter's stdin: closing it ends vprinter
    bool m_ready = false;
    std::string m_output;
};

}  // namespace testsupport
