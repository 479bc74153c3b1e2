#include "testsupport/simulator.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace testsupport {

Simulator::Simulator(std::string program, const std::string& config) : m_program(std::move(program))
{
    const char* root = std::getenv("KESTREL_ROOT");
    if (root == nullptr) {
        ADD_FAILURE() << "Simulator needs a system root (KESTREL_ROOT)";
        return;
    }
    const std::string file = std::string(root) + "/vprinter.json";
    std::ofstream(file) << config;

    // vprinter ends when its stdin closes, so it goes with this process even when a test crashes.
    int out[2], in[2];
    if (::pipe(out) != 0 || ::pipe2(in, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv{m_program.data(), const_cast<char*>("run"), const_cast<char*>(file.c_str()),
                            const_cast<char*>("--until-stdin-closes"), nullptr};
    if (::posix_spawn(&m_pid, m_program.c_str(), &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(in[0]);
    m_out = out[0];
    m_in = in[1];
    if (m_pid < 0) {
        ADD_FAILURE() << "cannot start " << m_program;
        return;
    }
    // The ready line, or the end of the program, within a generous bound.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!m_ready && std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_out, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[512];
        ssize_t n = ::read(m_out, buffer, sizeof buffer);
        if (n <= 0) break;
        m_output.append(buffer, static_cast<std::size_t>(n));
        m_ready = m_output.find("vprinter: ready") != std::string::npos;
    }
}

Simulator::~Simulator()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0) ::close(m_out);
    if (m_in >= 0) ::close(m_in);
}

ProgramRun Simulator::control(const std::string& port, const std::string& command) const
{
    std::vector<std::string> argv{m_program, "ctl", port};
    std::istringstream words(command);
    for (std::string w; words >> w;) argv.push_back(w);
    return runProgram(argv);
}

std::string netwareConfig(const std::vector<NetworkPrinter>& printers, const std::string& localPrinters)
{
    // Names and models of tests need no JSON escapes.
    std::string json = "{\"printers\": [" + localPrinters + "], \"netware\": [";
    for (std::size_t i = 0; i < printers.size(); ++i) {
        const auto& p = printers[i];
        json += (i ? ", " : "") + std::string("{\"server\": \"") + p.server + "\", \"name\": \"" + p.name +
                "\", \"number\": " + std::to_string(p.number) + ", \"model\": \"" + p.model +
                "\", \"extended\": " + (p.extended ? "true" : "false");
        if (!p.state.empty()) json += ", \"state\": \"" + p.state + "\"";
        json += "}";
    }
    return json + "]}";
}

std::optional<plat::netware::Address> printServerAddress(const std::string& server)
{
    auto environment = plat::netware::load();
    if (!environment) return std::nullopt;
    const auto* record = environment.value().server(server);
    return record ? record->printServerAddress : std::nullopt;
}

std::string networkPort(const NetworkPrinter& printer)
{
    return "NET:" + printer.server + "/" + printer.name + "/" + std::to_string(printer.number);
}

std::string Simulator::must(const std::string& port, const std::string& command) const
{
    ProgramRun run = control(port, command);
    EXPECT_EQ(run.exitCode, 0) << "vprinter ctl " << port << " " << command << ": " << run.err;
    return run.out;
}

}  // namespace testsupport
