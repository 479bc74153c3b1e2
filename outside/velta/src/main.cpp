// velta: the print system's backend for VELTA printers. It plays the maker's despooler: while a job
// prints it owns the port, switches the printer's status reports on, sends the job and reads the
// replies between writes, and publishes them (publisher.h) for every monitor to read. Run without
// arguments it lists the VELTA printers on the usblp devices.
//
// Environment besides the print system's own: VELTA_DEVICE_DIR (the printer nodes discovery and a
// velta://MAKE/MODEL URI look through, default /dev/usb), VELTA_POLL_MS (status reads, default 2000),
// VELTA_HEARTBEAT_MS (default 20000), VELTA_OPEN_WAIT_MS (how long a busy port is tried, default 30000).

#include <cups/backend.h>
#include <cups/sidechannel.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "device.h"
#include "plat/port/device_id.h"
#include "publisher.h"
#include "replies.h"
#include "side_channel.h"
#include "status.h"
#include "transport.h"

namespace {

using namespace velta;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kChunk = 16384;          // job bytes read and written at a time
constexpr milliseconds kStallOffline{10000};   // a printer that takes nothing this long is offline
constexpr milliseconds kRetryPause{1000};      // between tries of a busy port
constexpr milliseconds kCommandWait{5000};     // for the commands before the job
constexpr milliseconds kReadWait{300};         // for the first byte of a status reply
constexpr std::size_t kMaxPpdBytes = 1 << 20;  // of the queue's PPD, looked at for the model
constexpr const char* kConnecting = "connecting-to-device";

int g_stopPipe[2] = {-1, -1};
volatile sig_atomic_t g_stopped = 0;

void onTerm(int)
{
    g_stopped = 1;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_stopPipe[1], &byte, 1);
}

void say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stderr);
    std::fflush(stderr);
}

milliseconds setting(const char* name, milliseconds fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 1 || value > 3600 * 1000) return fallback;
    return milliseconds(value);
}

bool isKind(int fd, bool (*kind)(mode_t))
{
    struct stat info {};
    return ::fstat(fd, &info) == 0 && kind(info.st_mode);
}
bool fifoOrSocket(mode_t m) { return S_ISFIFO(m) || S_ISSOCK(m); }
bool socketOnly(mode_t m) { return S_ISSOCK(m); }

// The model the queue's PPD names in *NickName, for a printer that gives no device ID.
const facts::Model* modelOfPpd()
{
    const char* path = std::getenv("PPD");
    if (path == nullptr) return nullptr;
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::string text;
    char buffer[4096];
    for (ssize_t n; text.size() < kMaxPpdBytes && (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    std::size_t at = text.find("\n*NickName:");
    if (at == std::string::npos) return nullptr;
    std::size_t open = text.find('"', at), close = open == std::string::npos ? open : text.find('"', open + 1);
    if (close == std::string::npos || text.find('\n', at + 1) < close) return nullptr;
    return facts::byName(std::string_view(text).substr(open + 1, close - open - 1));
}

// The printer a job's URI names: a node or socket path, or an identity looked for among the nodes of
// a folder.
struct Device {
    std::string name;  // for messages: the path, or the URI of the identity
    std::optional<std::string> path;
    std::optional<plat::port::DeviceIdentity> identity;
    std::string folder;
};

class Job {
public:
    Job(Device device, int input, int copies)
        : m_device(std::move(device)),
          m_path(m_device.name),
          m_input(input),
          m_copiesLeft(copies),
          m_poll(setting("VELTA_POLL_MS", milliseconds(2000))),
          m_openWait(setting("VELTA_OPEN_WAIT_MS", milliseconds(30000))),
          m_publisher(say, "", setting("VELTA_HEARTBEAT_MS", milliseconds(20000)))
    {
        // Descriptors 3 and 4 are the channels to the job's filters only when the print system
        // started us (it always sets CUPS_SERVERROOT); otherwise they may be anything inherited.
        const bool underSpooler = std::getenv("CUPS_SERVERROOT") != nullptr;
        m_backChannel = underSpooler && isKind(3, fifoOrSocket);
        m_sideChannel = underSpooler && isKind(CUPS_SC_FD, socketOnly);
    }

    int run()
    {
        if (!open()) return finish(m_exit);
        prepare();
        int rc = print();
        if (rc == CUPS_BACKEND_OK && !g_stopped) {
            // The state the job leaves the printer in, and its ink after the job.
            if (m_model != nullptr) send(inkQueryCommand(*m_model), "the ink query");
            readStatus();
        }
        return finish(rc);
    }

private:
    void flush() { m_publisher.flush(Clock::now(), std::time(nullptr)); }

    int finish(int rc)
    {
        m_publisher.clear();
        if (g_stopped) {
            say("INFO: Job cancelled");
            return CUPS_BACKEND_OK;
        }
        return rc;
    }

    // Opens the port, trying a busy one again until the open wait is over.
    bool open()
    {
        const auto deadline = Clock::now() + m_openWait;
        bool announced = false;
        for (;;) {
            Opened opened = openPort();
            if (opened.outcome == Opened::Outcome::Ok) {
                m_transport = std::move(opened.transport);
                m_publisher.hold(kConnecting, false);
                m_publisher.hold(reason::kOffline, false);
                flush();
                return true;
            }
            if (opened.outcome == Opened::Outcome::Fatal) {
                say("ERROR: Cannot open " + m_path + ": " + opened.why);
                m_exit = m_fatalExit;
                return false;
            }
            if (!announced) {
                say("INFO: Waiting for the printer at " + m_path + " (" + opened.why + ")");
                m_publisher.hold(kConnecting, true);
                flush();
                announced = true;
            }
            if (Clock::now() + kRetryPause > deadline || !pause(kRetryPause)) {
                if (!g_stopped) say("INFO: The printer at " + m_path + " did not open; the job will be tried later");
                m_exit = CUPS_BACKEND_RETRY;
                return false;
            }
        }
    }

    // The port of the job's printer: its path, or the node its identity has now (the kernel numbers
    // nodes afresh after a replug, so it is looked for at every open).
    Opened openPort()
    {
        if (!m_device.identity) return openTransport(*m_device.path, g_stopPipe[0]);
        auto search = plat::port::findPrinter(m_device.folder, *m_device.identity, [](const std::string& node) {
            return readDeviceId(node, g_stopPipe[0]);
        });
        if (search.matches.size() > 1) {
            // Printing to either could be printing to the wrong one: the queue stops until someone
            // tells them apart.
            m_fatalExit = CUPS_BACKEND_STOP;
            return {Opened::Outcome::Fatal, nullptr,
                    std::to_string(search.matches.size()) + " printers in " + m_device.folder +
                        " answer to it and nothing tells them apart; give the queue the URI of one node"};
        }
        if (search.matches.empty()) {
            return {Opened::Outcome::Busy, nullptr,
                    search.unreadable.empty() ? "not connected" : "not connected, or held by another program"};
        }
        Opened opened = openTransport(search.matches.front(), g_stopPipe[0]);
        if (opened.outcome == Opened::Outcome::Ok) say("DEBUG: " + m_device.name + " is " + search.matches.front());
        return opened;
    }

    // Waits, or less when cancelled; false when cancelled.
    static bool pause(milliseconds duration)
    {
        pollfd p{g_stopPipe[0], POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(duration.count())) == 0 && !g_stopped;
    }

    // Learns the model and switches its status reports on.
    void prepare()
    {
        m_deviceId = m_transport->deviceId();
        m_model = modelOfDeviceId(m_deviceId);
        if (m_model == nullptr) m_model = modelOfPpd();
        m_publisher.describe(m_deviceId);
        if (m_model == nullptr) {
            say("INFO: The printer at " + m_path + " is not a VELTA model it knows; printing without status");
            return;
        }
        say("DEBUG: " + std::string(m_model->name) + " at " + m_path);
        // A printer that does not take the enable at once has its status read meanwhile (it may
        // still report from an earlier job).
        m_nextStatus = Clock::now() + milliseconds(500);
        send(statusEnableCommand(*m_model), "the status-enable command");
        send(inkQueryCommand(*m_model), "the ink query");
        m_nextStatus = Clock::now();
    }

    // A command of our own, before or after the job's bytes, never among them. A printer that takes
    // nothing for a while still has its status read meanwhile.
    void send(const std::string& command, const char* what)
    {
        if (command.empty() || m_model == nullptr || g_stopped) return;
        const auto deadline = Clock::now() + kCommandWait;
        for (std::string_view rest = command; !rest.empty() && !g_stopped && Clock::now() < deadline;) {
            if (Clock::now() >= m_nextStatus) readStatus();
            long n = m_transport->write(rest, milliseconds(500));
            if (n < 0) break;
            rest.remove_prefix(static_cast<std::size_t>(n));
            if (rest.empty()) return;
        }
        say(std::string("DEBUG: the printer did not take ") + what);
    }

    void readStatus()
    {
        auto text = m_transport->readStatus(2 * kMaxReply, kReadWait);
        if (!text) {
            m_publisher.hold(reason::kOffline, true);
        } else if (!text->empty()) {
            // Relayed when the filters have room for it; the job never waits on them.
            if (m_backChannel) cupsBackChannelWrite(text->data(), text->size(), 0.0);
            splitReplies(*text, m_reply, m_ink);
            m_publisher.hold(reason::kOffline, m_stalled);
            if (m_model != nullptr && !m_reply.empty()) {
                m_publisher.status(decode(*m_model, m_reply, m_ink), m_reply, m_ink);
            } else if (!m_reply.empty()) {
                m_publisher.status({}, m_reply, m_ink);
            }
        }
        flush();
        m_nextStatus = Clock::now() + m_poll;
    }

    void answerSideChannel()
    {
        cups_sc_command_t command = CUPS_SC_CMD_NONE;
        cups_sc_status_t status = CUPS_SC_STATUS_NONE;
        char data[2048];
        int length = sizeof data;
        if (cupsSideChannelRead(&command, &status, data, &length, 1.0) != 0) {
            m_sideChannel = false;  // the other end is gone
            return;
        }
        const SideChannelAnswer answer =
            sideChannelAnswer(command, m_deviceId, sideChannelState(m_model, m_reply, m_ink, m_stalled));
        cupsSideChannelWrite(command, answer.status, answer.data.data(), static_cast<int>(answer.data.size()), 1.0);
    }

    // Reads the job and writes it, reading the status between writes. The exit code.
    int print()
    {
        std::string pending;
        bool inputDone = false;
        std::optional<Clock::time_point> stallSince;
        while (!g_stopped) {
            if (Clock::now() >= m_nextStatus) readStatus();
            flush();  // the heartbeat
            if (pending.empty() && inputDone) return CUPS_BACKEND_OK;
            const int untilStatus = static_cast<int>(std::clamp<long long>(
                std::chrono::duration_cast<milliseconds>(m_nextStatus - Clock::now()).count(), 0, m_poll.count()));

            pollfd p[3] = {{g_stopPipe[0], POLLIN, 0},
                           {pending.empty() ? m_input : -1, POLLIN, 0},
                           {m_sideChannel ? CUPS_SC_FD : -1, POLLIN, 0}};
            // With bytes waiting for the printer, only a glance at the side channel.
            if (::poll(p, 3, pending.empty() ? untilStatus : 0) < 0 && errno != EINTR) return CUPS_BACKEND_FAILED;
            if (p[0].revents) break;
            if (p[2].revents) answerSideChannel();

            if (pending.empty()) {
                if (!p[1].revents) continue;
                char buffer[kChunk];
                ssize_t n = ::read(m_input, buffer, sizeof buffer);
                if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
                if (n < 0) {
                    say(std::string("ERROR: Cannot read the job: ") + std::strerror(errno));
                    return CUPS_BACKEND_FAILED;
                }
                if (n == 0) {
                    // Further copies of a job file are sent again; a stream is sent once.
                    if (--m_copiesLeft > 0 && ::lseek(m_input, 0, SEEK_SET) == 0) continue;
                    inputDone = true;
                    continue;
                }
                pending.assign(buffer, static_cast<std::size_t>(n));
                continue;
            }

            const auto wait = std::clamp(milliseconds(untilStatus), milliseconds(10), milliseconds(1000));
            long n = m_transport->write(pending, wait);
            if (n > 0) {
                pending.erase(0, static_cast<std::size_t>(n));
                stallSince.reset();
                if (m_stalled) {
                    m_stalled = false;
                    m_publisher.hold(reason::kOffline, false);
                    flush();
                }
            } else if (n == 0) {
                if (!stallSince) stallSince = Clock::now();
                if (!m_stalled && Clock::now() - *stallSince >= kStallOffline) {
                    m_stalled = true;
                    m_publisher.hold(reason::kOffline, true);
                    flush();
                }
            } else {
                if (g_stopped) break;
                say("INFO: The printer at " + m_path + " went away; opening it again");
                m_publisher.hold(reason::kOffline, true);
                flush();
                m_transport.reset();
                if (!open()) return m_exit;
            }
        }
        return CUPS_BACKEND_OK;
    }

    Device m_device;
    std::string m_path;  // what messages call the printer
    int m_input;
    int m_copiesLeft;
    milliseconds m_poll, m_openWait;
    Publisher m_publisher;
    std::unique_ptr<Transport> m_transport;
    const facts::Model* m_model = nullptr;
    std::string m_deviceId, m_reply, m_ink;
    Clock::time_point m_nextStatus{};
    bool m_backChannel = false, m_sideChannel = false, m_stalled = false;
    int m_exit = CUPS_BACKEND_FAILED;
    int m_fatalExit = CUPS_BACKEND_FAILED;  // what a port that will never open ends the job with
};

std::string deviceFolder()
{
    const char* folder = std::getenv("VELTA_DEVICE_DIR");
    return folder != nullptr && *folder != '\0' ? folder : "/dev/usb";
}

int listDevices()
{
    Found found = discover(deviceFolder());
    for (const auto& note : found.notes) say("DEBUG: " + note);
    for (const auto& line : found.lines) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    return CUPS_BACKEND_OK;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 1) return listDevices();
    if (argc < 6 || argc > 7) {
        say("Usage: velta job-id user title copies options [file]");
        return CUPS_BACKEND_FAILED;
    }
    const char* uri = cupsBackendDeviceURI(argv);
    Device device;
    device.folder = deviceFolder();
    device.path = uri != nullptr ? devicePathOf(uri) : std::nullopt;
    device.identity = uri != nullptr && !device.path ? plat::port::identityOfUri(uri) : std::nullopt;
    device.name = device.path ? *device.path : device.identity ? plat::port::uriOfIdentity(*device.identity) : "";
    if (!device.path && !device.identity) {
        say(std::string("ERROR: Not a velta device URI: \"") + quotedSafe(uri != nullptr ? uri : "", 256) + "\"");
        return CUPS_BACKEND_STOP;
    }
    int input = STDIN_FILENO, copies = 1;
    if (argc == 7) {
        input = ::open(argv[6], O_RDONLY | O_CLOEXEC);
        if (input < 0) {
            say(std::string("ERROR: Cannot open the job file: ") + std::strerror(errno));
            return CUPS_BACKEND_FAILED;
        }
        copies = std::clamp(std::atoi(argv[4]), 1, 9999);
    }
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        say(std::string("ERROR: ") + std::strerror(errno));
        return CUPS_BACKEND_FAILED;
    }
    struct sigaction term {};
    term.sa_handler = onTerm;
    sigemptyset(&term.sa_mask);
    ::sigaction(SIGTERM, &term, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    Job job(std::move(device), input, copies);
    return job.run();
}
