// Fuzz target: what a printer sends the velta backend while a job prints, and what the job's filters
// ask it on the side channel. Byte 0 is the side-channel command, byte 1 picks the model when the
// device ID names none; the rest, up to the first newline, is the printer's device ID, and after it
// the bytes the printer sends back, taken in reads as the backend takes them. Every line the backend
// writes for the print system must stay one line, whatever the printer sent.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "facts/models.h"
#include "publisher.h"
#include "replies.h"
#include "side_channel.h"
#include "status.h"

namespace {

// The most one status read takes.
constexpr std::size_t kRead = 2 * velta::kMaxReply;

void oneLine(const std::string& line)
{
    if (line.find_first_of("\r\n") != std::string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    const auto command = static_cast<cups_sc_command_t>(data[0] % 16);  // what fits the enumeration
    std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::size_t newline = rest.find('\n');
    const std::string deviceId(rest.substr(0, newline));
    rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);

    const facts::Model* model = velta::modelOfDeviceId(deviceId);
    if (model == nullptr && data[1] < facts::kModelCount) model = facts::byNumber(data[1]);
    velta::Publisher publisher(oneLine, deviceId, std::chrono::milliseconds(1));
    publisher.describe(deviceId);
    std::string reply, ink;
    auto now = velta::Publisher::Clock::time_point{};
    while (!rest.empty()) {
        const std::string read(rest.substr(0, kRead));
        rest.remove_prefix(read.size());
        velta::splitReplies(read, reply, ink);
        if (model != nullptr && !reply.empty()) {
            publisher.status(velta::decode(*model, reply, ink), reply, ink);
        } else if (!reply.empty()) {
            publisher.status({}, reply, ink);
        }
        now += std::chrono::milliseconds(2);
        publisher.flush(now, 0);
    }
    publisher.clear();
    const int state = velta::sideChannelState(model, reply, ink, data[1] >= 0x80);
    const auto answer = velta::sideChannelAnswer(command, deviceId, state);
    if (answer.status == CUPS_SC_STATUS_OK && command != CUPS_SC_CMD_GET_DEVICE_ID && answer.data.size() != 1) {
        std::abort();
    }
    return 0;
}
