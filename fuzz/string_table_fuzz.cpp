// Fuzz target: arbitrary bytes as a string table's data file. Every text the reader keeps is UTF-8
// without a zero byte (the windows use them as C strings too), and shows as a caption and as plain
// text.

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "plat/base/utf8.h"
#include "resources/string_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const kestrel::StringTable table = kestrel::StringTable::parse(bytes, "fuzz");
    // A text or a bad line per line at most.
    const auto lines = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
    if (table.size() + static_cast<std::size_t>(table.badLines()) > lines) std::abort();
    // The table cannot be walked: look up the number at the start of every line.
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t end = std::min(bytes.find('\n', at), bytes.size());
        const std::string_view line = bytes.substr(at, end - at);
        at = end + 1;
        int number = 0;
        const auto [rest, error] = std::from_chars(line.data(), line.data() + line.size(), number);
        if (error != std::errc() || rest == line.data()) continue;
        const auto text = table.text(number);
        if (!text) continue;
        if (!plat::isValidUtf8(*text) || text->find('\0') != std::string::npos) std::abort();
        (void)kestrel::displayText(*text, true);
        (void)kestrel::displayText(*text, false);
    }
    return 0;
}
