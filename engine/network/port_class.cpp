// How a port is served: a local LPT port, an LPT port captured to a NetWare queue, a NetWare queue
// path, or not at all.

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "facts/store_names.h"
#include "plat/base/system_root.h"
#include "plat/base/trace.h"
#include "plat/netware/client.h"
#include "plat/registry/registry.h"
#include "vigil/netware_link.h"

namespace vigil {

namespace {

namespace nw = plat::netware;

// The provider's "Name" is read with this many bytes at most.
constexpr std::size_t kProviderNameLimit = 512;

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

void writeQueuePath(std::span<char> out, const std::string& path)
{
    if (out.empty()) return;
    const std::size_t n = std::min(path.size(), out.size() - 1);
    std::memcpy(out.data(), path.data(), n);
    out[n] = '\0';
}

std::uint32_t classifyLpt(std::string_view port, std::span<char> queuePath)
{
    // The fourth character is taken as the port's digit; anything above "9" is no LPT port at all,
    // while a number no port has simply is not captured.
    const char digit = port.size() > 3 ? port[3] : '\0';
    if (digit > '9') return kNotServed;
    const int lpt = digit - '0';
    if (!nw::initCalls() || nw::captureStatus(lpt) != nw::kCaptured) return kLocalPort;
    auto flags = nw::captureFlags(lpt);
    if (!flags) return kLocalPort;
    auto server = nw::fileServerName(flags->connection);
    auto queue = nw::objectName(flags->connection, flags->queueId);
    if (!server || !queue) return kLocalPort;
    // A queue name with a context ("QUEUE.SALES") is named by its first part.
    const std::string name = queue->name.substr(0, queue->name.find('.'));
    writeQueuePath(queuePath, "\\\\" + server.value() + "\\" + name);
    return kCapturedPort;
}

bool netwareProviderInstalled(plat::registry::Store& store)
{
    std::string name(kProviderNameLimit, '\0');
    std::uint32_t size = 0;
    if (store.getValue(plat::registry::Root::LocalMachine, facts::key::kNetwareProvider, facts::value::kProviderName,
                       std::as_writable_bytes(std::span(name)), &size) != plat::registry::Status::Ok) {
        return false;
    }
    name.resize(std::min<std::size_t>(size, name.size()));
    name.resize(std::strlen(name.c_str()));
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return false;
    std::error_code error;
    return std::filesystem::is_regular_file(plat::windowsDir() / "system" / name, error);
}

std::uint32_t classifyQueuePath(plat::registry::Store& store, std::string_view port)
{
    if (!netwareProviderInstalled(store)) return kNotServed;
    auto path = splitQueuePath(port);
    if (!path) return kNotServed;
    auto connection = nw::connectionHandle(path->server);
    if (!connection) return kNotServed;
    return nw::scanObject(connection.value(), path->queue, nw::kObjectPrintQueue) ? kQueuePath : kNotServed;
}

}  // namespace

std::optional<QueuePath> splitQueuePath(std::string_view path)
{
    if (!path.starts_with("\\\\")) return std::nullopt;
    const std::string_view rest = path.substr(2);
    const std::size_t serverEnd = rest.find('\\');
    if (serverEnd == std::string_view::npos || serverEnd == 0) return std::nullopt;
    const std::size_t last = rest.rfind('\\');
    const std::string_view queue = rest.substr(last + 1);
    if (queue.empty()) return std::nullopt;
    return QueuePath{upper(rest.substr(0, serverEnd)), upper(queue)};
}

std::uint32_t classifyPort(plat::registry::Store& store, std::string_view port, std::span<char> queuePath)
{
    if (port.starts_with("LPT")) return classifyLpt(port, queuePath);
    if (port.starts_with("\\\\")) return classifyQueuePath(store, port);
    return kNotServed;
}

}  // namespace vigil
