#include "requests.h"

#include <sstream>

#include "plat/port/sim_protocol.h"

namespace vprinter {
namespace sim = plat::port::sim;

std::optional<std::size_t> frameBytesMissing(std::span<const std::byte> received)
{
    if (received.size() < kFrameHeaderBytes) return kFrameHeaderBytes - received.size();
    const std::uint32_t length = sim::getU32(received, 1);
    if (length > sim::kMaxPayload) return std::nullopt;
    const std::size_t whole = kFrameHeaderBytes + length;
    return received.size() < whole ? whole - received.size() : 0;
}

Request decodeRequest(std::span<const std::byte> frame)
{
    Request request;
    if (frame.size() < kFrameHeaderBytes) return request;
    const auto payload = frame.subspan(kFrameHeaderBytes);
    switch (static_cast<sim::Op>(frame[0])) {
    case sim::Op::Open:
        request.kind = Request::Kind::Open;
        request.bytes = payload;
        break;
    case sim::Op::Write:
        if (payload.size() < 4) break;
        request.kind = Request::Kind::Write;
        request.timeoutMs = sim::getU32(payload, 0);
        request.bytes = payload.subspan(4);
        break;
    case sim::Op::Read:
        // The interval time-out (the second word) needs no wait here: a reply is readable whole or
        // not at all.
        if (payload.size() < 12) break;
        request.kind = Request::Kind::Read;
        request.maxBytes = sim::getU32(payload, 0);
        request.timeoutMs = sim::getU32(payload, 8);
        break;
    case sim::Op::DeviceId:
        if (payload.size() < 4) break;
        request.kind = Request::Kind::DeviceId;
        request.maxBytes = sim::getU32(payload, 0);
        break;
    case sim::Op::Purge: request.kind = Request::Kind::Purge; break;
    case sim::Op::Control:
        request.kind = Request::Kind::Control;
        request.bytes = payload;
        break;
    }
    return request;
}

std::vector<std::string> commandWords(std::string_view line)
{
    std::istringstream in{std::string(line)};
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

}  // namespace vprinter
