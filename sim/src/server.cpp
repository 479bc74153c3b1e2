#include "server.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "plat/base/system_root.h"
#include "plat/port/port.h"
#include "plat/port/sim_protocol.h"
#include "plat/text/text.h"

namespace vprinter {
namespace sim = plat::port::sim;
using std::chrono::milliseconds;

namespace {

std::vector<std::string> splitWords(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

bool sendStatus(int fd, sim::Status status, std::string_view text = {})
{
    return sim::sendFrame(fd, static_cast<std::uint8_t>(status), sim::asBytes(text));
}

}  // namespace

plat::Result<std::vector<PrinterConfig>> parseConfig(const std::string& text)
{
    auto bad = [](const std::string& why) { return plat::Error{2, "config: " + why}; };
    nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded()) return bad("not valid JSON");
    if (!json.is_object() || !json.contains("printers") || !json["printers"].is_array()) {
        return bad("expected an object with a \"printers\" array");
    }
    std::vector<PrinterConfig> printers;
    for (const auto& entry : json["printers"]) {
        const std::string where = "printer " + std::to_string(printers.size() + 1);
        if (!entry.is_object() || !entry.contains("port") || !entry["port"].is_string() || !entry.contains("model") ||
            !entry["model"].is_string()) {
            return bad(where + ": needs \"port\" and \"model\" strings");
        }
        PrinterConfig printer{entry["port"], entry["model"], std::nullopt, {}};
        if (printer.port.empty() || printer.port.size() > 63) return bad(where + ": the port name must have 1..63 characters");
        if (findModel(printer.model) == nullptr) return bad(where + ": unknown model \"" + printer.model + "\"");
        for (const auto& other : printers) {
            if (plat::text::equalWholeIgnoringCase(other.port, printer.port)) {
                return bad(where + ": port " + printer.port + " given twice");
            }
        }
        if (entry.contains("device_id")) {
            if (!entry["device_id"].is_string()) return bad(where + ": \"device_id\" must be a string");
            printer.deviceId = entry["device_id"].get<std::string>();
        }
        if (entry.contains("state")) {
            if (!entry["state"].is_string()) return bad(where + ": \"state\" must be a string");
            printer.state = splitWords(entry["state"]);
        }
        printers.push_back(std::move(printer));
    }
    if (printers.empty()) return bad("no printers");
    return printers;
}

struct Server::Served {
    Printer printer;
    std::mutex mutex;  // guards printer
    std::condition_variable changed;
    std::string socketPath;
    int listener = -1;
    std::thread acceptor;

    Served(std::string port, const Model& model, std::optional<std::string> id)
        : printer(std::move(port), model, std::move(id))
    {
    }

    void serveConnection(int fd);
    milliseconds slowBy()
    {
        std::lock_guard lock(mutex);
        return printer.slowBy();
    }
    std::string handleRead(std::span<const std::byte> request, bool& statusTaken);
};

std::string Server::Served::handleRead(std::span<const std::byte> request, bool& statusTaken)
{
    const std::uint32_t max = sim::getU32(request, 0);
    const auto deadline = Clock::now() + milliseconds(sim::getU32(request, 8));
    // The interval time-out (bytes 4..7) needs no wait here: a reply is readable whole or not at all.
    std::this_thread::sleep_for(slowBy());
    std::unique_lock lock(mutex);
    std::string out;
    for (;;) {
        // Whatever is readable now; then the read ends, as it would after an interval of silence.
        for (std::string more; out.size() < max && !(more = printer.take(max - out.size(), statusTaken)).empty();) {
            out += more;
        }
        const auto now = Clock::now();
        if (!out.empty() || now >= deadline) break;
        // Nothing yet: wait for a reply to become readable, or for a write on another connection.
        auto until = deadline;
        if (auto ready = printer.nextReadyAt(); ready && *ready > now) until = std::min(until, *ready);
        changed.wait_until(lock, until);
    }
    return out;
}

void Server::Served::serveConnection(int fd)
{
    bool opened = false;
    bool statusTaken = false;  // the status reply is there once per open
    while (auto frame = sim::receiveFrame(fd)) {
        const auto op = static_cast<sim::Op>(frame->code);
        std::span<const std::byte> payload = frame->payload;
        bool sent = true;
        if (op == sim::Op::Control) {
            std::string answer;
            bool ok = false;
            {
                std::lock_guard lock(mutex);
                answer = printer.control(splitWords(sim::asText(payload)), ok);
            }
            changed.notify_all();
            sent = sendStatus(fd, ok ? sim::Status::Ok : sim::Status::Failed, answer);
        } else if (op == sim::Op::Open) {
            std::lock_guard lock(mutex);
            if (printer.refusesOpen()) {
                sendStatus(fd, sim::Status::NoOpen, "the port does not open");
                break;
            }
            opened = true;
            sent = sendStatus(fd, sim::Status::Ok);
        } else if (!opened) {
            sendStatus(fd, sim::Status::BadRequest, "open the port first");
            break;
        } else if (op == sim::Op::Write && payload.size() >= 4) {
            const auto deadline = Clock::now() + milliseconds(sim::getU32(payload, 0));
            std::unique_lock lock(mutex);
            changed.wait_until(lock, std::min(deadline, printer.busyUntil()), [&] { return Clock::now() >= printer.busyUntil(); });
            if (Clock::now() < printer.busyUntil() || printer.refusesOpen()) {
                lock.unlock();
                sent = sendStatus(fd, sim::Status::TimedOut, "the printer is busy");
            } else {
                printer.receive(sim::asText(payload.subspan(4)));
                lock.unlock();
                changed.notify_all();
                sent = sendStatus(fd, sim::Status::Ok);
            }
        } else if (op == sim::Op::Read && payload.size() >= 12) {
            std::string bytes = handleRead(payload, statusTaken);
            sent = sendStatus(fd, sim::Status::Ok, bytes);
        } else if (op == sim::Op::DeviceId && payload.size() >= 4) {
            std::string id;
            std::this_thread::sleep_for(slowBy());
            {
                std::lock_guard lock(mutex);
                id = printer.deviceId().substr(0, sim::getU32(payload, 0));
            }
            sent = sendStatus(fd, sim::Status::Ok, id);
        } else if (op == sim::Op::Purge) {
            std::lock_guard lock(mutex);
            printer.purge();
            sent = sendStatus(fd, sim::Status::Ok);
        } else {
            sent = sendStatus(fd, sim::Status::BadRequest, "unknown or short request");
        }
        if (!sent) break;
    }
    ::close(fd);
}

Server::Server() = default;
Server::~Server() { stop(); }

std::string Server::socketPath(const std::string& port)
{
    std::string name;
    for (char c : port) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return (plat::runDir() / ("vprinter-" + name + ".sock")).string();
}

plat::Error Server::start(const std::vector<PrinterConfig>& printers)
{
    for (const auto& config : printers) {
        auto served = std::make_unique<Served>(config.port, *findModel(config.model), config.deviceId);
        if (!config.state.empty()) {
            bool ok = false;
            std::string answer = served->printer.control(config.state, ok);
            if (!ok) {
                stop();
                return {2, "config: port " + config.port + ": state: " + answer};
            }
        }
        served->socketPath = socketPath(config.port);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (served->socketPath.size() >= sizeof address.sun_path) {
            stop();
            return {1, "the socket path " + served->socketPath + " is too long; use a shorter KESTREL_ROOT"};
        }
        std::strcpy(address.sun_path, served->socketPath.c_str());
        ::unlink(served->socketPath.c_str());
        served->listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (served->listener < 0 || ::bind(served->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(served->listener, 16) != 0) {
            std::string why = std::strerror(errno);
            if (served->listener >= 0) ::close(served->listener);
            stop();
            return {1, "cannot serve " + config.port + " at " + address.sun_path + ": " + why};
        }
        if (!plat::port::mapPort(config.port, "sim:" + served->socketPath)) {
            ::close(served->listener);
            stop();
            return {1, "cannot enter " + config.port + " in the port map of " + plat::registryFile().string()};
        }
        Served* raw = served.get();
        served->acceptor = std::thread([raw] {
            for (;;) {
                int fd = ::accept4(raw->listener, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd < 0) {
                    if (errno == EINTR || errno == ECONNABORTED) continue;
                    return;  // the listener was shut down
                }
                std::thread([raw, fd] { raw->serveConnection(fd); }).detach();
            }
        });
        m_served.push_back(std::move(served));
    }
    return {0, ""};
}

void Server::stop()
{
    for (auto& served : m_served) {
        ::shutdown(served->listener, SHUT_RDWR);
        if (served->acceptor.joinable()) served->acceptor.join();
        ::close(served->listener);
        plat::port::unmapPort(served->printer.port());
        ::unlink(served->socketPath.c_str());
    }
    // Connection threads may still hold a printer: the process ends right after stop(), so the
    // printers are left to it rather than freed under them.
    for (auto& served : m_served) served.release();
    m_served.clear();
}

}  // namespace vprinter
