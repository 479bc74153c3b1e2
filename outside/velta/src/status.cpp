#include "status.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace velta {
namespace {

using facts::Family;
using facts::Model;

constexpr std::string_view kRemoteEntry{"\x1b(R\x08\x00\x00REMOTE1", 13};
constexpr std::string_view kRemoteExit{"\x1b\x00\x00\x00", 4};

std::string remote(std::string_view command)
{
    return std::string(kRemoteEntry) + std::string(command) + std::string(kRemoteExit);
}

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::string statusEnableCommand(const Model& model)
{
    if (model.family == Family::Page) {
        return std::string("\x1b\x01@KJL REQUEST STATUS=1\r\n\x1b\x01@KJL \n\x1b\x01@KJL \n");
    }
    const char mode = model.statusEnableMode3 ? '\x03' : '\x01';
    return std::string("\x1b@\x1b@") + remote(std::string("ST\x02\x00\x00", 5) + mode);
}

std::string inkQueryCommand(const Model& model)
{
    if (model.family != Family::Inkjet || !model.ink.reportedApart) return {};
    return remote(std::string("IQ\x01\x00\x01", 5));
}

std::string editInkReply(std::string_view reply)
{
    reply = reply.substr(0, kMaxReply);
    if (reply.size() == 22 || reply.size() == 38) return std::string(reply);
    std::string out;
    for (std::size_t at = 0; at < reply.size();) {
        std::size_t key = reply.find("IQ:", at);
        if (key == std::string_view::npos) {
            out.append(reply.substr(at));
            break;
        }
        out.append(reply.substr(at, key + 3 - at));
        at = std::min(reply.size(), key + 5);
    }
    return out;
}

const Model* modelOfDeviceId(std::string_view deviceId)
{
    std::string_view maker, shortName;
    for (std::size_t at = 0; at < deviceId.size();) {
        std::size_t end = std::min(deviceId.find(';', at), deviceId.size());
        std::string_view pair = deviceId.substr(at, end - at);
        at = end + 1;
        std::size_t colon = pair.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view key = pair.substr(0, colon), value = pair.substr(colon + 1);
        while (!key.empty() && key.front() == ' ') key.remove_prefix(1);
        if (sameIgnoringCase(key, "MFG") || sameIgnoringCase(key, "MANUFACTURER")) maker = value;
        else if (sameIgnoringCase(key, "MDL") || sameIgnoringCase(key, "MODEL")) shortName = value;
    }
    if (!sameIgnoringCase(maker, "VELTA")) return nullptr;
    return facts::byShortName(shortName);
}

}  // namespace velta
