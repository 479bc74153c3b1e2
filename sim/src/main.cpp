// vprinter: plays VELTA printers on simulated local ports and their network interfaces, for tests,
// benchmarks and the demo.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "plat/base/command_line.h"
#include "plat/base/system_root.h"
#include "plat/netware/environment.h"
#include "plat/port/port.h"
#include "plat/port/sim_protocol.h"
#include "plat/registry/registry.h"
#include "plat/text/text.h"
#include "printer.h"
#include "server.h"

namespace {

namespace sim = plat::port::sim;

constexpr const char* kHelpHead = R"(vprinter - simulated VELTA printers on local ports and network interfaces

Usage:
  vprinter run CONFIG.json [--until-stdin-closes]
                                 serve the printers of CONFIG until stopped (SIGINT, SIGTERM), or
                                 until its standard input closes (so it ends with the program that
                                 started it, however that program ends)
  vprinter ctl [--timeout S] PORT COMMAND...
                                 change a running printer, or ask it something; gives up when the
                                 printer has not answered within S seconds (default 10). PORT is a
                                 local port (LPT1:) or a network printer: NET:SERVER/NAME/NUMBER
                                 (NET:FS1/PS1/0), or NET:NAME/NUMBER when one file server has it
  vprinter models                list the models it can play
  vprinter --help

CONFIG:
  {"printers": [{"port": "LPT1:", "model": "PG-03"},
                {"port": "LPT2:", "model": "IJ-09", "state": "ink black=20 color=60"},
                {"port": "LPT3:", "model": "DM-02", "device_id": "MFG:VELTA;MDL:DM-02;"}]}
  Each port is served on a socket in the system root's run/ folder and entered in the port map, so the
  system opens it like any local port. "run" prints "vprinter: ready" when every port is served.
  CONFIG is a regular file of at most 1 MiB. The sockets are the user's alone (mode 0600).

  {"netware": [{"server": "FS1", "name": "PS1", "number": 0, "model": "PG-03", "extended": false},
               {"server": "FS1", "name": "IJ9", "model": "IJ-09", "extended": true, "state": "..."}]}
  Network printers ("printers" and "netware" may both be given): a printer reached through print
  server NAME and printer NUMBER (0..255, default 0) on file server SERVER, or through a NAME that is
  the interface itself (number 0). Each file server gets one UDP socket on 127.0.0.1, its print-server
  address, where connect requests go; each printer a UDP socket for its conversation. While it serves,
  vprinter enters "server SERVER" and "print-server-address SERVER ADDRESS" in the root's NetWare
  environment (run/netware.conf), and takes the address out again when it stops. Queues and print
  servers are not entered: spoolctl or the test does that. "extended": the interface offers the
  extended query (one without it ignores extended queries). Queries answer what the printer answers
  on a local port: the device ID, the status reply (no status enable needed), the option-card reply
  (empty for printers without a card slot). Run one vprinter per file server.

COMMAND (for PORT):
)";

// After the commands, which the printers' command table lists.
constexpr const char* kHelpTail = R"(
  On a network printer: silent = connects are answered, queries are not; no-open = connects are
  refused (result not 0); unplug = nothing is answered; sleep = the device ID is empty; slow MS =
  every reply MS late; busy has no effect (nothing is written to the printer). And:
  wrong-sequence | short-reply | oversized-reply
                                       faults of the replies to queries (connects are answered as
                                       usual, so the conversation opens): another sequence number;
                                       the datagram without its last byte; a datagram of 600 data
                                       bytes whose payload length is 65535. Each replaces the last;
                                       heal clears it
  log                                  the datagrams received (index, size, IPX header in hex, data
                                       in hex, data as text), the most recent ones

Exit status: 0 done, 1 the printer or port could not be reached or refused the command, 2 usage error.
The system root is $KESTREL_ROOT, else $XDG_DATA_HOME/velta-kestrel.
)";

int usage(const std::string& why)
{
    std::cerr << "vprinter: " << why << " (see vprinter --help)\n";
    return 2;
}

constexpr off_t kMaxConfigBytes = 1 << 20;

// The config file's text; a file that is not a regular file or is larger than any config needs is
// refused, so a device or a pipe given by mistake cannot make vprinter read without end.
plat::Result<std::string> readConfig(const std::string& path)
{
    auto failed = [&](const std::string& why) { return plat::Error{2, "cannot read " + path + ": " + why}; };
    // Non-blocking, so a FIFO without a writer does not hold the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failed(std::strerror(errno));
    struct stat info {};
    std::string text;
    std::optional<std::string> why;
    if (::fstat(fd, &info) != 0) {
        why = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        why = "not a regular file";
    } else if (info.st_size > kMaxConfigBytes) {
        why = "too large (" + std::to_string(info.st_size) + " bytes; a config has at most " +
              std::to_string(kMaxConfigBytes) + " bytes)";
    } else {
        // Read one byte more than allowed, in case the file grew since the stat.
        text.resize(static_cast<std::size_t>(kMaxConfigBytes) + 1);
        std::size_t got = 0;
        while (got < text.size()) {
            const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                why = std::strerror(errno);
                break;
            }
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        text.resize(got);
        if (!why && got > static_cast<std::size_t>(kMaxConfigBytes)) {
            why = "too large (a config has at most " + std::to_string(kMaxConfigBytes) + " bytes)";
        }
    }
    ::close(fd);
    if (why) return failed(*why);
    return text;
}

int run(const std::string& configFile, bool untilStdinCloses)
{
    auto text = readConfig(configFile);
    if (!text) {
        std::cerr << "vprinter: " << text.error().detail << '\n';
        return text.error().code;
    }
    auto config = vprinter::parseConfig(text.value());
    if (!config) {
        std::cerr << "vprinter: " << configFile << ": " << config.error().detail << '\n';
        return 2;
    }
    // Signals are taken by this thread alone, so the serving threads never see them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    auto store = plat::registry::Store::open(plat::registryFile());
    if (!store) {
        std::cerr << "vprinter: " << store.error().detail << '\n';
        return 1;
    }
    vprinter::Server server(*store.value());
    if (auto error = server.start(config.value()); error.code != 0) {
        std::cerr << "vprinter: " << error.detail << '\n';
        return error.code;
    }
    std::set<std::string> servers;
    for (const auto& printer : config.value().netware) servers.insert(printer.identity.server);
    for (const auto& name : servers) {
        std::printf("vprinter: file server %s at %s\n", name.c_str(), server.printServerAddress(name)->text().c_str());
    }
    std::printf("vprinter: ready, %zu printer(s) in %s\n",
                config.value().printers.size() + config.value().netware.size(), plat::systemRoot().c_str());
    std::fflush(stdout);
    if (untilStdinCloses) {
        std::thread([] {
            char scratch[256];
            while (::read(STDIN_FILENO, scratch, sizeof scratch) > 0) {
            }
            ::kill(::getpid(), SIGTERM);
        }).detach();
    }
    int received = 0;
    sigwait(&signals, &received);
    server.stop();
    std::printf("vprinter: stopped\n");
    std::fflush(stdout);
    return 0;
}

using Clock = std::chrono::steady_clock;

// Reads exactly `size` bytes before `deadline`; false when the printer hung up, failed, or let the
// time pass.
bool receiveBefore(int fd, void* data, std::size_t size, Clock::time_point deadline, bool& timedOut)
{
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            return false;
        }
        pollfd ready{fd, POLLIN, 0};
        const int n = ::poll(&ready, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) continue;  // the loop sees the deadline pass
        const ssize_t got = ::recv(fd, p, size, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (got <= 0) return false;
        p += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// The network printer "NET:[SERVER/]NAME/NUMBER" names: its control socket, or why there is none.
plat::Result<std::string> networkControlSocket(const std::string& port)
{
    auto fail = [&](const std::string& why) { return plat::Error{1, why}; };
    std::vector<std::string> parts;
    for (std::size_t at = 4;;) {
        const auto slash = port.find('/', at);
        parts.push_back(port.substr(at, slash == std::string::npos ? std::string::npos : slash - at));
        if (slash == std::string::npos) break;
        at = slash + 1;
    }
    unsigned number = 256;
    const std::string& last = parts.back();
    const auto [end, error] = std::from_chars(last.data(), last.data() + last.size(), number);
    const bool wellFormed =
        (parts.size() == 2 || parts.size() == 3) && error == std::errc() && end == last.data() + last.size() &&
        number <= 255 &&
        std::all_of(parts.begin(), parts.end() - 1, [](const auto& p) { return vprinter::net::validName(p); });
    if (!wellFormed) return fail(port + " is not NET:SERVER/NAME/NUMBER or NET:NAME/NUMBER (NUMBER 0..255)");
    auto upper = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    vprinter::net::Identity identity{"", upper(parts[parts.size() - 2]), static_cast<std::uint8_t>(number), false};
    auto served = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
    };
    if (parts.size() == 3) {
        identity.server = upper(parts[0]);
        const std::string path = vprinter::Server::controlSocketPath(identity);
        if (served(path)) return path;
    } else {
        // The file servers the environment knows: the one that has a printer of this name and number.
        auto environment = plat::netware::load();
        if (!environment) return fail("cannot read the NetWare environment: " + environment.error().detail);
        std::vector<std::string> found;
        for (const auto& server : environment.value().servers) {
            identity.server = server.name;
            if (served(vprinter::Server::controlSocketPath(identity))) found.push_back(server.name);
        }
        if (found.size() == 1) {
            identity.server = found[0];
            return vprinter::Server::controlSocketPath(identity);
        }
        if (found.size() > 1) {
            std::string servers;
            for (const auto& name : found)
                servers += " NET:" + name + "/" + identity.name + "/" + std::to_string(number);
            return fail(port + " is served on more than one file server; give one of" + servers);
        }
    }
    return fail("no network printer " + port + " is served by vprinter in " + plat::systemRoot().string());
}

int control(const std::string& port, const std::vector<std::string>& words, std::chrono::milliseconds timeout)
{
    std::string path;
    if (plat::text::equalWholeIgnoringCase(port.substr(0, 4), "NET:")) {
        auto socket = networkControlSocket(port);
        if (!socket) {
            std::cerr << "vprinter: " << socket.error().detail << '\n';
            return 1;
        }
        path = socket.value();
    } else {
        auto store = plat::registry::Store::open(plat::registryFile());
        auto target = store ? plat::port::portTarget(*store.value(), port) : std::nullopt;
        if (!target || target->rfind("sim:", 0) != 0) {
            std::cerr << "vprinter: port " << port << " is not served by vprinter in " << plat::systemRoot().string()
                      << '\n';
            return 1;
        }
        path = target->substr(4);
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        std::cerr << "vprinter: the socket path " << path << " of " << port << " is too long\n";
        return 1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const auto deadline = Clock::now() + timeout;
    auto noAnswer = [&] {
        std::cerr << "vprinter: the printer on " << port << " did not answer within " << timeout.count() / 1000.0
                  << " s\n";
        return 1;
    };
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::cerr << "vprinter: socket: " << std::strerror(errno) << '\n';
        return 1;
    }
    // A server that does not take the connection or the request holds connect() and send() no longer
    // than the time-out.
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EAGAIN || error == EINPROGRESS) return noAnswer();
        std::cerr << "vprinter: cannot reach the printer on " << port << ": " << std::strerror(error) << '\n';
        return 1;
    }
    std::string line;
    for (const auto& w : words) line += (line.empty() ? "" : " ") + w;
    if (line.size() > sim::kMaxPayload) {
        ::close(fd);
        return usage("the command is longer than " + std::to_string(sim::kMaxPayload) + " bytes");
    }
    if (!sim::sendFrame(fd, static_cast<std::uint8_t>(sim::Op::Control), sim::asBytes(line))) {
        const bool late = errno == EAGAIN || errno == EWOULDBLOCK;
        ::close(fd);
        if (late) return noAnswer();
        std::cerr << "vprinter: the printer on " << port << " went away\n";
        return 1;
    }
    bool timedOut = false;
    unsigned char header[5];
    sim::Frame answer;
    bool received = receiveBefore(fd, header, sizeof header, deadline, timedOut);
    if (received) {
        std::uint32_t length = sim::getU32(std::as_bytes(std::span(header)), 1);
        if (length > sim::kMaxPayload) {
            received = false;
        } else {
            answer.code = header[0];
            answer.payload.resize(length);
            received = receiveBefore(fd, answer.payload.data(), length, deadline, timedOut);
        }
    }
    ::close(fd);
    if (timedOut) return noAnswer();
    if (!received) {
        std::cerr << "vprinter: the printer on " << port << " did not answer\n";
        return 1;
    }
    std::string text = sim::asText(answer.payload);
    if (answer.code != static_cast<std::uint8_t>(sim::Status::Ok)) {
        std::cerr << "vprinter: " << port << ": " << text << '\n';
        return 1;
    }
    std::cout << text << (text.empty() || text.back() == '\n' ? "" : "\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = plat::argumentsOf(argc, argv);
    const std::string help = kHelpHead + vprinter::controlHelp() + kHelpTail;
    if (plat::printHelpIfAsked(args, help.c_str())) return 0;
    if (args.empty()) return usage("give a command");
    if (args[0] == "run") {
        const bool untilStdinCloses = args.size() == 3 && args[2] == "--until-stdin-closes";
        if (args.size() != 2 && !untilStdinCloses) return usage("run takes one config file");
        return run(args[1], untilStdinCloses);
    }
    if (args[0] == "ctl") {
        std::size_t at = 1;
        std::chrono::milliseconds timeout(10000);
        if (args.size() > 1 && args[1] == "--timeout") {
            char* end = nullptr;
            const double seconds = args.size() > 2 ? std::strtod(args[2].c_str(), &end) : 0;
            if (args.size() < 3 || *end != '\0' || !(seconds > 0 && seconds <= 3600)) {
                return usage("--timeout takes a number of seconds, above 0 and at most 3600");
            }
            timeout = std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
            if (timeout.count() == 0) timeout = std::chrono::milliseconds(1);
            at = 3;
        }
        if (args.size() < at + 2) return usage("ctl takes a port and a command");
        return control(args[at], std::vector<std::string>(args.begin() + static_cast<long>(at) + 1, args.end()),
                       timeout);
    }
    if (args[0] == "models") {
        for (const auto& name : vprinter::modelNames()) std::cout << name << '\n';
        return 0;
    }
    return usage("unknown command \"" + args[0] + "\"");
}
