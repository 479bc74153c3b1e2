// vprinter: plays VELTA printers on simulated local ports, for tests, benchmarks and the demo.

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "plat/base/command_line.h"
#include "plat/base/system_root.h"
#include "plat/port/port.h"
#include "plat/port/sim_protocol.h"
#include "printer.h"
#include "server.h"

namespace {

namespace sim = plat::port::sim;

constexpr const char* kHelp = R"(vprinter - simulated VELTA printers on local ports

Usage:
  vprinter run CONFIG.json [--until-stdin-closes]
                                 serve the printers of CONFIG until stopped (SIGINT, SIGTERM), or
                                 until its standard input closes (so it ends with the program that
                                 started it, however that program ends)
  vprinter ctl PORT COMMAND...   change a running printer, or ask it something
  vprinter models                list the models it can play
  vprinter --help

CONFIG:
  {"printers": [{"port": "LPT1:", "model": "PG-03"},
                {"port": "LPT2:", "model": "IJ-09", "state": "ink black=20 color=60"},
                {"port": "LPT3:", "model": "DM-02", "device_id": "MFG:VELTA;MDL:DM-02;"}]}
  Each port is served on a socket in the system root's run/ folder and entered in the port map, so the
  system opens it like any local port. "run" prints "vprinter: ready" when every port is served.

COMMAND (for PORT):
  ready | printing | stopped           the printer's state
  paper-out | cover-open | jam         errors of every family
  paper-low N | cassette C N | toner N | toner-low | toner-out | cards XX YY | card-name A|B TEXT
                                       page printers (levels 0..254, card bytes in hex)
  ink black=N color=N | warnings 10 11 ... | warnings none | ink-out | gap N
                                       inkjet printers (gap: IJ-09's gap byte)
  paper-width N                        impact printers, in 1/360 inch
  error CODE                           page: a status code (4014); others: two characters (06)
  test-printing [KIND] | state XX      test printing; a raw state (impact and inkjet)
  reply TEXT | reply                   the status reply verbatim from now on (\r \n \xHH), or not
  device-id TEXT                       the device ID from now on
  silent | no-open | unplug | plug | sleep | busy MS | slow MS | heal
                                       faults: no answers; opens refused; unplugged; plugged again;
                                       no device ID until the wake-up bytes; writes refused for MS;
                                       every answer MS late; all faults cleared
  log | reset-log | show               the bytes received (hex and text); forget them; the state

Exit status: 0 done, 1 the printer or port could not be reached or refused the command, 2 usage error.
The system root is $KESTREL_ROOT, else $XDG_DATA_HOME/velta-kestrel.
)";

int usage(const std::string& why)
{
    std::cerr << "vprinter: " << why << " (see vprinter --help)\n";
    return 2;
}

int run(const std::string& configFile, bool untilStdinCloses)
{
    std::ifstream in(configFile);
    if (!in) return usage("cannot read " + configFile);
    std::stringstream text;
    text << in.rdbuf();
    auto config = vprinter::parseConfig(text.str());
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

    vprinter::Server server;
    if (auto error = server.start(config.value()); error.code != 0) {
        std::cerr << "vprinter: " << error.detail << '\n';
        return error.code;
    }
    std::printf("vprinter: ready, %zu printer(s) in %s\n", config.value().size(), plat::systemRoot().c_str());
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
    ::_exit(0);  // connection threads may still be inside a printer
}

int control(const std::string& port, const std::vector<std::string>& words)
{
    auto target = plat::port::portTarget(port);
    if (!target || target->rfind("sim:", 0) != 0) {
        std::cerr << "vprinter: port " << port << " is not served by vprinter in " << plat::systemRoot().string() << '\n';
        return 1;
    }
    std::string path = target->substr(4);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::cerr << "vprinter: cannot reach the printer on " << port << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    std::string line;
    for (const auto& w : words) line += (line.empty() ? "" : " ") + w;
    std::optional<sim::Frame> answer;
    if (sim::sendFrame(fd, static_cast<std::uint8_t>(sim::Op::Control), sim::asBytes(line))) answer = sim::receiveFrame(fd);
    ::close(fd);
    if (!answer) {
        std::cerr << "vprinter: the printer on " << port << " did not answer\n";
        return 1;
    }
    std::string text = sim::asText(answer->payload);
    if (answer->code != static_cast<std::uint8_t>(sim::Status::Ok)) {
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
    if (plat::printHelpIfAsked(args, kHelp)) return 0;
    if (args.empty()) return usage("give a command");
    if (args[0] == "run") {
        const bool untilStdinCloses = args.size() == 3 && args[2] == "--until-stdin-closes";
        if (args.size() != 2 && !untilStdinCloses) return usage("run takes one config file");
        return run(args[1], untilStdinCloses);
    }
    if (args[0] == "ctl") {
        if (args.size() < 3) return usage("ctl takes a port and a command");
        return control(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    }
    if (args[0] == "models") {
        for (const auto& name : vprinter::modelNames()) std::cout << name << '\n';
        return 0;
    }
    return usage("unknown command \"" + args[0] + "\"");
}
