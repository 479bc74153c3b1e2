// Fuzz target: arbitrary bytes as the start of a wave file, through the "fmt " chunk reader. A parsed
// format must describe at least one channel and give a picture code in range.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "watchpanel/wave_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto bytes = std::as_bytes(std::span(data, size));
    if (const auto format = watchpanel::parseWaveFormat(bytes)) {
        const int code = watchpanel::waveFormatCode(*format);
        if (format->channels == 0 || code < 0 || code > 11) std::abort();
    }
    return 0;
}
