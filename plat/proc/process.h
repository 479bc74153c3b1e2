#pragma once
// Processes: start a program with arguments and a show/hide request, ask whether it still runs and
// for its exit code, and terminate it.
//
// A process still "runs" until it has been reaped here, as the system's "exit code still active"
// meant. The show request travels in the child's environment (KESTREL_SHOW), because the system's
// command lines are fixed; a program asks for it with requestedShow().

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "plat/base/result.h"

namespace plat::proc {

enum class Show { Normal, Hidden };

class Process {
public:
    Process() = default;
    explicit Process(pid_t pid) : m_pid(pid) {}

    pid_t pid() const { return m_pid; }
    bool valid() const { return m_pid > 0; }

    // Reaps the process if it has ended. True while it has not.
    bool isRunning();
    // The exit code once it has ended (a process ended by a signal reports 128 + the signal, one we
    // terminated reports the code given to terminate()); nothing while it runs.
    std::optional<int> exitCode();
    // Waits up to `bound` for the end; true if it ended.
    bool waitForExit(std::chrono::milliseconds bound);
    // Asks it to end (SIGTERM), and after `grace` ends it (SIGKILL); reports `code` as its exit code.
    void terminate(int code, std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

private:
    pid_t m_pid = -1;
    std::optional<int> m_exitCode;
    std::optional<int> m_terminatedWith;
};

// Starts `program` (a path) with `arguments` (not counting the program itself), inheriting no handles
// but the standard ones, with the parent's environment and current directory.
Result<Process> start(const std::string& program, const std::vector<std::string>& arguments, Show show);
// The same, started in `workingDirectory`; a folder that cannot be entered fails the start.
Result<Process> start(const std::string& program, const std::vector<std::string>& arguments, Show show,
                      const std::string& workingDirectory);

// The show request this process was started with (Normal when none).
Show requestedShow();

}  // namespace plat::proc
