#include "plat/proc/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "plat/base/trace.h"

extern char** environ;

namespace plat::proc {
namespace {

constexpr const char* kShowVariable = "KESTREL_SHOW";

int codeOf(int status)
{
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

bool Process::isRunning()
{
    if (!valid() || m_exitCode) return false;
    int status = 0;
    pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == 0) return true;
    if (r == m_pid) {
        m_exitCode = m_terminatedWith ? *m_terminatedWith : codeOf(status);
    } else {
        m_exitCode = -1;  // not our child any more (reaped elsewhere): it has ended for us
    }
    return false;
}

std::optional<int> Process::exitCode()
{
    if (isRunning()) return std::nullopt;
    return m_exitCode;
}

bool Process::waitForExit(std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (isRunning()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void Process::terminate(int code, std::chrono::milliseconds grace)
{
    if (!isRunning()) return;
    m_terminatedWith = code;
    ::kill(m_pid, SIGTERM);
    if (!waitForExit(grace)) {
        ::kill(m_pid, SIGKILL);
        waitForExit(std::chrono::seconds(10));
    }
}

Result<Process> start(const std::string& program, const std::vector<std::string>& arguments, Show show)
{
    return start(program, arguments, show, std::string());
}

Result<Process> start(const std::string& program, const std::vector<std::string>& arguments, Show show,
                      const std::string& workingDirectory)
{
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "KESTREL_SHOW=", 13) != 0) environment.emplace_back(*e);
    }
    environment.push_back(std::string(kShowVariable) + (show == Show::Hidden ? "=hide" : "=normal"));

    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    // Descriptors are opened close-on-exec throughout the system, so only 0, 1 and 2 pass on.
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    int rc = workingDirectory.empty() ? 0 : ::posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    if (rc == 0) rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::string detail = "cannot start " + program + ": " + std::strerror(rc);
        trace("proc: " + detail);
        return Error{rc, detail};
    }
    return Process(pid);
}

Show requestedShow()
{
    const char* value = std::getenv(kShowVariable);
    return value != nullptr && std::strcmp(value, "hide") == 0 ? Show::Hidden : Show::Normal;
}

}  // namespace plat::proc
