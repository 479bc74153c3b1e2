// Fuzz target: arbitrary replies, families and models through the status decoders.
// Byte 0 picks the family (and whether the model has colour and black ink), byte 1 the model
// number; the rest is the reply, and for the models that report ink apart, the text after the first
// zero byte is their ink text.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "facts/paper_block.h"
#include "status_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    PrinterEntry entry{};
    std::int32_t paper[watchcore::kPaperWords] = {};
    std::int32_t information[watchcore::kInformationWords] = {};
    const std::uint8_t family = data[0] % 3;
    entry.ModelCode = data[1] % 21;
    using namespace facts::paper;
    paper[kCassetteCount] = (data[0] >> 2) % 5;  // up to 4, one beyond what a printer has
    paper[kColorCount] = (data[0] >> 5) & 1;
    paper[kBlackCount] = (data[0] >> 6) & 1;
    const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::size_t zero = rest.find('\0');
    const std::string_view reply = rest.substr(0, zero);
    const std::string_view ink = zero == std::string_view::npos ? reply : rest.substr(zero + 1);
    switch (family) {
    case 0: watchcore::decodePageReply(reply, entry, paper, information); break;
    case 1: watchcore::decodeImpactReply(reply, entry, paper); break;
    default:
        watchcore::decodeInkjetReply(reply, watchcore::inkReportedApart(entry.ModelCode) ? ink : reply, entry, paper);
    }
    return 0;
}
