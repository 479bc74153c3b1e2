// The metrics as a monitoring system reads them: the list program and its detail programs on
// simulated printers, `kestrel-status --prometheus --watch` writing into a folder, node_exporter's
// textfile collector serving that folder over HTTP, and the series scraped after a change at the
// printer.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kPrinters = R"({"printers": [{"port": "LPT1:", "model": "PG-03"}]})";

// A port nobody listens on now: the kernel's choice for a socket bound to port 0.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

// GET /metrics on 127.0.0.1:port; the body, or empty when nothing answers.
std::string scrape(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string response;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
                response.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    const std::size_t body = response.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : response.substr(body + 4);
}

pid_t start(const std::vector<std::string>& argv)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

void stop(pid_t pid)
{
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    if (!testsupport::waitUntil([pid] { return ::waitpid(pid, nullptr, WNOHANG) == pid; }, 10s)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

class Metrics : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ::setenv("KESTREL_TEST_TIME_SCALE", "0.02", 1);
        ::setenv("KESTREL_MESSAGE_BOXES", "stderr", 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ASSERT_TRUE(sim.ready()) << sim.output();
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"install-models"},
              {"add-port", "LPT1:", "--sim"},
              {"add-printer", "Office", "--driver", "VELTA PG-03", "--port", "LPT1:"}}) {
            std::vector<std::string> argv{SPOOLCTL_PROGRAM};
            argv.insert(argv.end(), args.begin(), args.end());
            const auto run = testsupport::runProgram(argv);
            ASSERT_EQ(run.exitCode, 0) << run.err;
        }
        std::filesystem::create_directory(textfiles);
    }
    void TearDown() override
    {
        if (list > 0) {
            fSetRegistoryKswExitFlag(1);
            if (!testsupport::waitUntil([this] { return ::waitpid(list, nullptr, WNOHANG) == list; })) stop(list);
        }
        stop(watch);
        stop(exporter);
    }

    // Whether the scrape holds every one of `lines`.
    bool scraped(const std::vector<std::string>& lines)
    {
        last = scrape(port);
        for (const auto& line : lines) {
            if (last.find(line + "\n") == std::string::npos) return false;
        }
        return true;
    }

    testsupport::Simulator sim{VPRINTER_PROGRAM, kPrinters};
    std::filesystem::path textfiles = root.path() / "textfile";
    int port = 0;
    pid_t list = -1, watch = -1, exporter = -1;
    std::string last;
};

}  // namespace

TEST_F(Metrics, NodeExporterServesThePrintersSeriesAndFollowsAChangeAtThePrinter)
{
    list = start({WATCHLIST_PROGRAM});
    watch = start({KESTREL_STATUS_PROGRAM, "--prometheus", "--watch", "--interval", "100", "--output",
                   (textfiles / "kestrel.prom").string()});
    // A port taken by someone else between the choice and the start makes the exporter end: choose again.
    for (int attempt = 0; attempt < 5 && exporter < 0; ++attempt) {
        port = freePort();
        ASSERT_GT(port, 0);
        exporter = start({NODE_EXPORTER_PROGRAM, "--collector.disable-defaults", "--collector.textfile",
                          "--collector.textfile.directory=" + textfiles.string(),
                          "--web.listen-address=127.0.0.1:" + std::to_string(port)});
        if (!testsupport::waitUntil(
                [&] { return !scrape(port).empty() || ::waitpid(exporter, nullptr, WNOHANG) == exporter; })) {
            break;
        }
        if (scrape(port).empty()) exporter = -1;
    }
    ASSERT_GT(exporter, 0) << "node_exporter answers on 127.0.0.1:" << port;

    EXPECT_TRUE(testsupport::waitUntil(
        [&] {
            // Once the detail program has decoded its first status, whose time it keeps.
            return scraped({"kestrel_list_running 1", "kestrel_printer_monitored{printer=\"Office\"} 1",
                            "kestrel_printer_up{printer=\"Office\"} 1",
                            "kestrel_printer_state{printer=\"Office\",state=\"idle\"} 1"}) &&
                   last.find("kestrel_last_change_timestamp_seconds{printer=\"Office\"} ") != std::string::npos;
        },
        90s))
        << last;
    EXPECT_NE(
        last.find("kestrel_supply_level_ratio{color=\"black\",kind=\"toner\",printer=\"Office\",supply=\"toner\"} "),
        std::string::npos)
        << "node_exporter sorts the labels:\n"
        << last;

    sim.must("LPT1:", "cover-open");
    EXPECT_TRUE(testsupport::waitUntil(
        [&] {
            return scraped({"kestrel_printer_state{printer=\"Office\",state=\"stopped\"} 1",
                            "kestrel_printer_state{printer=\"Office\",state=\"idle\"} 0",
                            "kestrel_printer_reason{printer=\"Office\",reason=\"cover-open-error\"} 1"});
        },
        90s))
        << last;
    // The collector reports the file it read without an error.
    EXPECT_NE(last.find("node_textfile_scrape_error 0"), std::string::npos) << last;
}
