#include "device.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

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

// lp2 before lp10.
bool deviceOrder(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
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

std::optional<std::string> discoveryLine(std::string_view path, std::string_view deviceId)
{
    const facts::Model* model = modelOfDeviceId(deviceId);
    if (model == nullptr) return std::nullopt;
    const std::string name = model->name;
    return "direct " + uriOf(path) + " \"" + name + "\" \"" + name + " USB\" \"" + fieldSafe(deviceId) + "\" \"\"";
}

Found discover(const std::string& folder)
{
    Found found;
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name.starts_with("lp") && names.size() < 256) names.push_back(name);
        }
        ::closedir(dir);
    } else if (errno != ENOENT) {
        found.notes.push_back(folder + ": " + std::strerror(errno));
    }
    std::sort(names.begin(), names.end(), deviceOrder);
    for (const auto& name : names) {
        const std::string path = folder + "/" + name;
        // Read-only and non-blocking: asking for the ID must not disturb a printer or wait on a pipe.
        int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            found.notes.push_back(path + ": " + std::strerror(errno));
            continue;
        }
        errno = 0;
        auto id = usblpDeviceId(fd);
        const int error = errno;
        ::close(fd);
        if (!id) {
            found.notes.push_back(path + ": no device ID (" + std::strerror(error) + ")");
            continue;
        }
        if (auto line = discoveryLine(path, *id)) found.lines.push_back(*line);
        else found.notes.push_back(path + ": not a VELTA printer (" + fieldSafe(*id) + ")");
    }
    return found;
}

}  // namespace velta
