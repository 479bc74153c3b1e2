// Fuzz target: arbitrary bytes as a queue's PPD file, through the few lines the CUPS spooler reads of
// it. Whatever it takes from the file is UTF-8, as the store and the windows need it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "plat/base/utf8.h"
#include "plat/spool/ppd_facts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    std::vector<char> bytes(data, data + size);
    std::FILE* file = ::fmemopen(bytes.data(), bytes.size(), "r");
    if (file == nullptr) return 0;
    const plat::spool::PpdFacts facts = plat::spool::parsePpd(file);
    std::fclose(file);
    for (const std::string* text : {&facts.nickName, &facts.driverFile, &facts.monitor, &facts.monitorFile}) {
        if (!plat::isValidUtf8(*text)) std::abort();
    }
    return 0;
}
