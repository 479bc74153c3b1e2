// Fuzz target: the bytes of a connection to a simulated port, as vprinter's server reads them. Byte 0
// picks the model; the rest is cut into request frames as they come whole, and each request is played
// on the printer as the server plays it, so written bytes reach the printer's command parser and
// control lines its command table. A request must lie inside its frame.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "facts/models.h"
#include "plat/port/sim_protocol.h"
#include "printer.h"
#include "requests.h"

namespace {

namespace sim = plat::port::sim;
using vprinter::Request;

bool inside(std::span<const std::byte> part, std::span<const std::byte> whole)
{
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void play(vprinter::Printer& printer, std::span<const std::byte> frame, bool& statusTaken)
{
    const Request request = vprinter::decodeRequest(frame);
    if (!inside(request.bytes, frame)) std::abort();
    switch (request.kind) {
    case Request::Kind::Write: printer.receive(sim::asText(request.bytes)); break;
    case Request::Kind::Read: {
        const std::size_t max = std::min<std::size_t>(request.maxBytes, sim::kMaxPayload);
        std::string out;
        for (std::string more; out.size() < max && !(more = printer.take(max - out.size(), statusTaken)).empty();) {
            out += more;
        }
        if (out.size() > max) std::abort();
        break;
    }
    case Request::Kind::DeviceId: (void)printer.deviceId().substr(0, request.maxBytes); break;
    case Request::Kind::Purge: printer.purge(); break;
    case Request::Kind::Control: {
        bool ok = false;
        (void)printer.control(vprinter::commandWords(sim::asText(request.bytes)), ok);
        break;
    }
    case Request::Kind::Open: statusTaken = false; break;
    case Request::Kind::Malformed: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const facts::Model* model = facts::byNumber(data[0] % facts::kModelCount);
    vprinter::Printer printer("LPT1:", *model, std::nullopt);
    auto rest = std::as_bytes(std::span(data + 1, size - 1));
    std::vector<std::byte> in;
    bool statusTaken = false;
    for (;;) {
        const auto missing = vprinter::frameBytesMissing(in);
        if (!missing) break;  // the server drops the connection
        if (*missing == 0) {
            play(printer, in, statusTaken);
            in.clear();
            continue;
        }
        if (rest.empty()) break;
        const std::size_t n = std::min(*missing, rest.size());
        in.insert(in.end(), rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(n));
        rest = rest.subspan(n);
    }
    return 0;
}
