#include "device.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "plat/port/device_id.h"
#include "status.h"
#include "transport.h"

namespace velta {
namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Quotes and control characters cannot stand inside a quoted field of a discovery line.
std::string fieldSafe(std::string_view text)
{
    std::string out(text.substr(0, 1024));
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '"' || c == '\\') c = ' ';
    }
    return out;
}

}  // namespace

std::optional<std::string> devicePathOf(std::string_view uri)
{
    constexpr std::string_view kScheme = "velta:";
    if (!uri.starts_with(kScheme)) return std::nullopt;
    std::string_view rest = uri.substr(kScheme.size());
    if (rest.starts_with("///")) rest.remove_prefix(2);
    else if (rest.starts_with("//")) return std::nullopt;  // a host part: not ours
    if (!rest.starts_with('/')) return std::nullopt;
    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        char c = rest[i];
        if (c == '%') {
            if (i + 2 >= rest.size()) return std::nullopt;
            int high = hexDigit(rest[i + 1]), low = hexDigit(rest[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '?' || c == '#') {
            return std::nullopt;
        }
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) return std::nullopt;
        path += c;
        if (path.size() >= PATH_MAX) return std::nullopt;
    }
    // Components: no "." or "..", so the URI names the device it seems to name.
    for (std::size_t at = 1; at <= path.size();) {
        std::size_t end = std::min(path.find('/', at), path.size());
        std::string_view part = std::string_view(path).substr(at, end - at);
        if (part == "." || part == "..") return std::nullopt;
        at = end + 1;
    }
    if (path.size() < 2 || path.back() == '/') return std::nullopt;
    return path;
}

std::string uriOf(std::string_view path)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out = "velta:";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '~' || c == '-') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        }
    }
    return out;
}

std::optional<std::string> discoveryLine(std::string_view uri, std::string_view deviceId)
{
    const facts::Model* model = modelOfDeviceId(deviceId);
    if (model == nullptr) return std::nullopt;
    const std::string name = model->name;
    return "direct " + std::string(uri) + " \"" + name + "\" \"" + name + " USB\" \"" + fieldSafe(deviceId) + "\" \"\"";
}

Found discover(const std::string& folder)
{
    Found found;
    if (DIR* dir = ::opendir(folder.c_str())) {
        ::closedir(dir);
    } else if (errno != ENOENT) {
        found.notes.push_back(folder + ": " + std::strerror(errno));
    }
    struct Printer {
        std::string node, id;
        plat::port::DeviceIdentity identity;
    };
    std::vector<Printer> printers;
    for (const auto& node : plat::port::printerNodes(folder)) {
        errno = 0;
        auto id = readDeviceId(node, -1);
        if (!id) {
            found.notes.push_back(node + ": no device ID (" + std::strerror(errno) + ")");
            continue;
        }
        auto identity = plat::port::identityOf(*id);
        if (modelOfDeviceId(*id) == nullptr || !identity) {
            found.notes.push_back(node + ": not a VELTA printer (" + fieldSafe(*id) + ")");
            continue;
        }
        printers.push_back({node, *id, *identity});
    }
    for (const auto& p : printers) {
        // An identity that another printer here also answers to would not name one printer.
        const bool alike = std::count_if(printers.begin(), printers.end(), [&](const Printer& other) {
                               return plat::port::isSamePrinter(p.identity, other.identity);
                           }) > 1;
        const std::string uri = alike ? uriOf(p.node) : plat::port::uriOfIdentity(p.identity);
        if (alike) found.notes.push_back(p.node + ": listed by its node, as another printer here is the same model");
        if (auto line = discoveryLine(uri, p.id)) found.lines.push_back(*line);
    }
    return found;
}

}  // namespace velta
