// Fuzz target: arbitrary bytes as a printer shortcut (ksw*.lnk) that the queue window is started on.
// A name the reader accepts is all that lies between the head and the three closing zeros, holds no
// zero byte, and is no longer than a printer name may be.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "shortcut.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto printer = queue::parsePrinterShortcut(bytes, "fuzz.lnk");
    if (!printer) return 0;
    const std::string& name = printer.value();
    if (name.empty() || name.size() > 255 || name.find('\0') != std::string::npos) std::abort();
    if (size != 120 + name.size() + 3 || bytes.substr(120, name.size()) != name) std::abort();
    return 0;
}
