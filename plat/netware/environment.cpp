// The NetWare environment file: parse, format, and a locked whole-file update.

#include "plat/netware/environment.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "plat/base/system_root.h"
#include "plat/base/write_all.h"

namespace plat::netware {

namespace {

constexpr std::size_t kMaxFileBytes = 1 << 20;

// A name the file can hold and give back: no blank and no "#", which the file reads as separator and
// comment, and no control character (a trailing carriage return is dropped with the line's end).
bool validName(std::string_view s)
{
    return !s.empty() && s.size() <= kMaxNameBytes && std::none_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7F || c == '#';
    });
}

std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
        if (j > i) out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

template <class T>
std::optional<T> number(std::string_view s, int base = 10)
{
    T value{};
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

std::optional<int> lptNumber(std::string_view port)
{
    if (port.size() < 4 || !sameName(port.substr(0, 3), "LPT")) return std::nullopt;
    auto n = number<int>(port.substr(3));
    if (!n || *n < 1 || *n > 9) return std::nullopt;
    return n;
}

template <class T, class Same>
bool replaceOrAdd(std::vector<T>& list, T item, Same same)
{
    auto it = std::find_if(list.begin(), list.end(), [&](const T& old) { return same(old, item); });
    if (it != list.end()) {
        *it = std::move(item);
    } else {
        list.push_back(std::move(item));
    }
    return true;
}

Error fault(std::string detail) { return Error{EINVAL, std::move(detail)}; }

}  // namespace

std::string upperName(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool sameName(std::string_view a, std::string_view b) { return upperName(a) == upperName(b); }

Address Address::udp(std::uint32_t ipv4, std::uint16_t port)
{
    Address a;
    a.bytes[3] = 1;  // network 00000001: the loopback network of this system
    for (int i = 0; i < 4; ++i) a.bytes[6 + i] = static_cast<std::uint8_t>(ipv4 >> (24 - 8 * i));
    a.bytes[10] = static_cast<std::uint8_t>(port >> 8);
    a.bytes[11] = static_cast<std::uint8_t>(port);
    return a;
}

std::uint32_t Address::ipv4() const
{
    return std::uint32_t{bytes[6]} << 24 | std::uint32_t{bytes[7]} << 16 | std::uint32_t{bytes[8]} << 8 | bytes[9];
}

std::uint16_t Address::port() const { return static_cast<std::uint16_t>(bytes[10] << 8 | bytes[11]); }

std::string Address::text() const
{
    std::string out;
    char hex[3];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 10) out += ':';
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        out += hex;
    }
    return out;
}

std::optional<Address> Address::parse(std::string_view text)
{
    if (text.size() != 26 || text[8] != ':' || text[21] != ':') return std::nullopt;
    Address a;
    std::size_t at = 0;
    for (std::size_t i = 0; i < a.bytes.size(); ++i) {
        if (i == 4 || i == 10) ++at;
        auto byte = number<std::uint8_t>(text.substr(at, 2), 16);
        if (!byte) return std::nullopt;
        a.bytes[i] = *byte;
        at += 2;
    }
    return a;
}

const FileServer* Environment::server(std::string_view name) const
{
    auto it = std::find_if(servers.begin(), servers.end(), [&](const FileServer& s) { return sameName(s.name, name); });
    return it != servers.end() ? &*it : nullptr;
}

const Queue* Environment::queue(std::string_view serverName, std::string_view name) const
{
    auto it = std::find_if(queues.begin(), queues.end(),
                           [&](const Queue& q) { return sameName(q.server, serverName) && sameName(q.name, name); });
    return it != queues.end() ? &*it : nullptr;
}

const PrintServer* Environment::printServer(std::string_view serverName, std::string_view name,
                                            std::string_view queueName) const
{
    auto it = std::find_if(printServers.begin(), printServers.end(), [&](const PrintServer& p) {
        return sameName(p.server, serverName) && sameName(p.name, name) && sameName(p.queue, queueName);
    });
    return it != printServers.end() ? &*it : nullptr;
}

bool Environment::printServerExists(std::string_view serverName, std::string_view name) const
{
    return std::any_of(printServers.begin(), printServers.end(),
                       [&](const PrintServer& p) { return sameName(p.server, serverName) && sameName(p.name, name); });
}

const Capture* Environment::capture(int lpt) const
{
    auto it = std::find_if(captures.begin(), captures.end(), [&](const Capture& c) { return c.lpt == lpt; });
    return it != captures.end() ? &*it : nullptr;
}

bool Environment::put(FileServer s)
{
    if (!validName(s.name) || s.majorVersion < 1 || s.majorVersion > 99) return false;
    s.name = upperName(s.name);
    return replaceOrAdd(servers, std::move(s), [](const auto& a, const auto& b) { return a.name == b.name; });
}

bool Environment::put(Queue q)
{
    if (!validName(q.server) || !validName(q.name)) return false;
    if (!std::all_of(q.printServers.begin(), q.printServers.end(), [](const auto& n) { return validName(n); })) {
        return false;
    }
    q.server = upperName(q.server);
    q.name = upperName(q.name);
    for (auto& n : q.printServers) n = upperName(n);
    return replaceOrAdd(queues, std::move(q),
                        [](const auto& a, const auto& b) { return a.server == b.server && a.name == b.name; });
}

bool Environment::put(PrintServer p)
{
    if (!validName(p.server) || !validName(p.name) || !validName(p.queue) || p.printers.size() > 255) return false;
    p.server = upperName(p.server);
    p.name = upperName(p.name);
    p.queue = upperName(p.queue);
    return replaceOrAdd(printServers, std::move(p), [](const auto& a, const auto& b) {
        return a.server == b.server && a.name == b.name && a.queue == b.queue;
    });
}

bool Environment::put(Capture c)
{
    if (c.lpt < 1 || c.lpt > 9 || !validName(c.server) || !validName(c.queue)) return false;
    c.server = upperName(c.server);
    c.queue = upperName(c.queue);
    return replaceOrAdd(captures, std::move(c), [](const auto& a, const auto& b) { return a.lpt == b.lpt; });
}

bool Environment::removeCapture(int lpt)
{
    return std::erase_if(captures, [&](const Capture& c) { return c.lpt == lpt; }) > 0;
}

Result<Environment> parse(std::string_view text)
{
    Environment env;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        if (auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto f = fields(line);
        if (f.empty()) continue;
        const auto bad = [&](std::string_view why) {
            return fault("netware.conf line " + std::to_string(lineNumber) + ": " + std::string(why));
        };
        bool stored = false;
        if (f[0] == "server" && (f.size() == 2 || (f.size() == 4 && f[2] == "version"))) {
            FileServer s{std::string(f[1])};
            if (f.size() == 4) {
                auto v = number<int>(f[3]);
                if (!v) return bad("the version is not a number");
                s.majorVersion = *v;
            }
            if (const FileServer* old = env.server(s.name)) s.printServerAddress = old->printServerAddress;
            stored = env.put(std::move(s));
        } else if (f[0] == "print-server-address" && f.size() == 3) {
            auto address = Address::parse(f[2]);
            if (!address) return bad("the address is not network:node:socket in hexadecimal");
            FileServer s = env.server(f[1]) ? *env.server(f[1]) : FileServer{std::string(f[1])};
            s.printServerAddress = address;
            stored = env.put(std::move(s));
        } else if (f[0] == "queue" && f.size() >= 3) {
            Queue q{std::string(f[1]), std::string(f[2]), {}};
            for (std::size_t i = 3; i < f.size(); ++i) q.printServers.emplace_back(f[i]);
            stored = env.put(std::move(q));
        } else if (f[0] == "print-server" && f.size() >= 4) {
            PrintServer p{std::string(f[1]), std::string(f[2]), std::string(f[3]), {}};
            for (std::size_t i = 4; i < f.size(); ++i) {
                auto n = number<std::uint16_t>(f[i]);
                if (!n) return bad("a printer number is not a number from 0 to 65535");
                p.printers.push_back(*n);
            }
            stored = env.put(std::move(p));
        } else if (f[0] == "capture" && f.size() == 4) {
            auto lpt = lptNumber(f[1]);
            if (!lpt) return bad("a capture names LPT1 to LPT9");
            stored = env.put(Capture{*lpt, std::string(f[2]), std::string(f[3])});
        } else {
            return bad("unknown record or wrong number of fields");
        }
        if (!stored) return bad("a name is empty, longer than 47 bytes or out of range");
    }
    return env;
}

std::string format(const Environment& env)
{
    std::ostringstream out;
    out << "# NetWare environment of this system root (servers, queues, print servers, captures)\n";
    for (const auto& s : env.servers) {
        out << "server " << s.name;
        if (s.majorVersion != 3) out << " version " << s.majorVersion;
        out << '\n';
        if (s.printServerAddress)
            out << "print-server-address " << s.name << ' ' << s.printServerAddress->text() << '\n';
    }
    for (const auto& q : env.queues) {
        out << "queue " << q.server << ' ' << q.name;
        for (const auto& p : q.printServers) out << ' ' << p;
        out << '\n';
    }
    for (const auto& p : env.printServers) {
        out << "print-server " << p.server << ' ' << p.name << ' ' << p.queue;
        for (auto n : p.printers) out << ' ' << n;
        out << '\n';
    }
    for (const auto& c : env.captures) out << "capture LPT" << c.lpt << ' ' << c.server << ' ' << c.queue << '\n';
    return out.str();
}

std::string environmentFile() { return (runDir() / "netware.conf").string(); }

namespace {

Result<Environment> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return Environment{};
        return Error{errno, "cannot read " + path + ": " + std::strerror(errno)};
    }
    std::string text;
    text.resize(kMaxFileBytes + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileBytes) return Error{EFBIG, path + " is larger than 1 MiB"};
    return parse(text);
}

}  // namespace

Result<Environment> load() { return readFile(environmentFile()); }

Result<bool> update(const std::function<void(Environment&)>& change)
{
    const std::string path = environmentFile();
    const std::string lockPath = path + ".lock";
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) return Error{errno, "cannot open " + lockPath + ": " + std::strerror(errno)};
    struct Unlock {
        int fd;
        ~Unlock() { ::close(fd); }  // closing drops the flock
    } unlock{lock};
    while (::flock(lock, LOCK_EX) != 0) {
        if (errno != EINTR) return Error{errno, "cannot lock " + lockPath + ": " + std::strerror(errno)};
    }
    auto env = readFile(path);
    if (!env) return env.error();
    change(env.value());
    const std::string text = format(env.value());

    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return Error{errno, "cannot write beside " + path + ": " + std::strerror(errno)};
    const bool whole = writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    const int writeError = errno;
    ::close(fd);
    if (!whole || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int e = whole ? errno : writeError;
        ::unlink(temporary.c_str());
        return Error{e, "cannot write " + path + ": " + std::strerror(e)};
    }
    return true;
}

}  // namespace plat::netware
