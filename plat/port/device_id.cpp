#include "plat/port/device_id.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>

namespace plat::port {
namespace {

constexpr std::string_view kUriScheme = "velta://";
constexpr std::string_view kTargetPrefix = "id:";
constexpr std::size_t kMaxNodes = 256;

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Every byte outside the unreserved set as %XX; `keep` bytes stay as they are too.
std::string encoded(std::string_view text, std::string_view keep = {})
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '.' || c == '_' || c == '~' || c == '-' ||
            keep.find(static_cast<char>(c)) != keep.npos) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        }
    }
    return out;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %XX decoded; nothing for a broken escape or a control character.
std::optional<std::string> decoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int high = hexDigit(text[i + 1]), low = hexDigit(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) return std::nullopt;
        out += c;
    }
    return out;
}

// A target's "mfg=...&mdl=...&sn=..." into an identity; nothing for any other key or a repeated one.
std::optional<DeviceIdentity> identityOfQuery(std::string_view query)
{
    constexpr std::string_view makeKey = "mfg", modelKey = "mdl", serialKey = "sn";
    DeviceIdentity identity;
    bool make = false, model = false, serial = false;
    while (!query.empty()) {
        const auto end = query.find('&');
        const std::string_view pair = query.substr(0, end);
        query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
        const auto equals = pair.find('=');
        if (equals == std::string_view::npos) return std::nullopt;
        auto value = decoded(pair.substr(equals + 1));
        if (!value) return std::nullopt;
        const std::string_view key = pair.substr(0, equals);
        bool* seen = key == makeKey ? &make : key == modelKey ? &model : key == serialKey ? &serial : nullptr;
        if (seen == nullptr || *seen) return std::nullopt;
        *seen = true;
        (key == makeKey ? identity.make : key == modelKey ? identity.model : identity.serial) = std::move(*value);
    }
    return identity;
}

// lp2 before lp10.
bool nodeOrder(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

}  // namespace

std::optional<DeviceIdentity> identityOf(std::string_view deviceId)
{
    DeviceIdentity identity;
    for (std::size_t at = 0; at < deviceId.size();) {
        const std::size_t end = std::min(deviceId.find(';', at), deviceId.size());
        const std::string_view pair = deviceId.substr(at, end - at);
        at = end + 1;
        const std::size_t colon = pair.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view key = trimmed(pair.substr(0, colon)), value = trimmed(pair.substr(colon + 1));
        if (sameIgnoringCase(key, "MFG") || sameIgnoringCase(key, "MANUFACTURER")) identity.make = value;
        else if (sameIgnoringCase(key, "MDL") || sameIgnoringCase(key, "MODEL")) identity.model = value;
        else if (sameIgnoringCase(key, "SN") || sameIgnoringCase(key, "SERN") || sameIgnoringCase(key, "SERIALNUMBER"))
            identity.serial = value;
    }
    if (identity.make.empty() || identity.model.empty()) return std::nullopt;
    return identity;
}

bool isSamePrinter(const DeviceIdentity& wanted, const DeviceIdentity& found)
{
    return sameIgnoringCase(wanted.make, found.make) && sameIgnoringCase(wanted.model, found.model) &&
           (wanted.serial.empty() || wanted.serial == found.serial);
}

std::string uriOfIdentity(const DeviceIdentity& identity)
{
    std::string uri = std::string(kUriScheme) + encoded(identity.make) + "/" + encoded(identity.model);
    if (!identity.serial.empty()) uri += "?serial=" + encoded(identity.serial);
    return uri;
}

std::optional<DeviceIdentity> identityOfUri(std::string_view uri)
{
    if (!uri.starts_with(kUriScheme) || uri.find('#') != std::string_view::npos) return std::nullopt;
    std::string_view rest = uri.substr(kUriScheme.size());
    const auto slash = rest.find('/');
    if (slash == std::string_view::npos || slash == 0) return std::nullopt;
    const std::string_view host = rest.substr(0, slash);
    rest.remove_prefix(slash + 1);
    const auto question = rest.find('?');
    const std::string_view path = rest.substr(0, question);
    if (path.empty() || path.find('/') != std::string_view::npos) return std::nullopt;
    auto make = decoded(host), model = decoded(path);
    if (!make || !model || make->empty() || model->empty()) return std::nullopt;
    DeviceIdentity identity{*make, *model, {}};
    if (question != std::string_view::npos) {
        const std::string_view query = rest.substr(question + 1);
        constexpr std::string_view kSerial = "serial=";
        auto serial = query.starts_with(kSerial) ? decoded(query.substr(kSerial.size())) : std::nullopt;
        if (!serial || serial->empty() || query.find('&') != std::string_view::npos) return std::nullopt;
        identity.serial = *serial;
    }
    return identity;
}

std::string targetOfIdentity(const std::string& folder, const DeviceIdentity& identity)
{
    std::string target = std::string(kTargetPrefix) + encoded(folder, "/") + "?mfg=" + encoded(identity.make) +
                         "&mdl=" + encoded(identity.model);
    if (!identity.serial.empty()) target += "&sn=" + encoded(identity.serial);
    return target;
}

std::optional<IdentifiedTarget> parseIdentityTarget(std::string_view target)
{
    if (!target.starts_with(kTargetPrefix)) return std::nullopt;
    target.remove_prefix(kTargetPrefix.size());
    const auto question = target.find('?');
    if (question == std::string_view::npos) return std::nullopt;
    auto folder = decoded(target.substr(0, question));
    auto identity = identityOfQuery(target.substr(question + 1));
    if (!folder || !folder->starts_with('/') || !identity || identity->make.empty() || identity->model.empty())
        return std::nullopt;
    return IdentifiedTarget{*folder, *identity};
}

std::vector<std::string> printerNodes(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name.starts_with("lp") && name.size() > 2 && names.size() < kMaxNodes) names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end(), nodeOrder);
    for (auto& name : names) name = folder + "/" + name;
    return names;
}

Search findPrinter(const std::string& folder, const DeviceIdentity& wanted,
                   const std::function<std::optional<std::string>(const std::string& node)>& readId)
{
    Search search;
    for (const auto& node : printerNodes(folder)) {
        auto id = readId(node);
        if (!id) {
            search.unreadable.push_back(node);
            continue;
        }
        auto found = identityOf(*id);
        if (found && isSamePrinter(wanted, *found)) search.matches.push_back(node);
    }
    return search;
}

}  // namespace plat::port
