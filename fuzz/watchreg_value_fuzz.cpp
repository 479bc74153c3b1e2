// Fuzz target: arbitrary text as the data a user gives watchreg with /d. Byte 0 says the type
// (even: REG_DWORD, odd: REG_BINARY); the rest is the text. Whatever is accepted, written the way
// watchreg shows it, reads back to the same value.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "value_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] % 2 == 0) {
        std::uint32_t value = 0, again = 0, hex = 0;
        if (!watchreg::parseDword(text, value)) return 0;
        char written[16];
        std::snprintf(written, sizeof written, "0x%X", value);
        if (!watchreg::parseDword(std::to_string(value), again) || again != value) std::abort();
        if (!watchreg::parseDword(written, hex) || hex != value) std::abort();
    } else {
        std::vector<std::byte> bytes, again;
        if (!watchreg::parseBinary(text, bytes)) return 0;
        if (bytes.size() > text.size() / 2) std::abort();
        std::string written;
        char pair[3];
        for (std::byte b : bytes) {
            std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>(b));
            written += pair;
        }
        if (!watchreg::parseBinary(written, again) || again != bytes) std::abort();
    }
    return 0;
}
