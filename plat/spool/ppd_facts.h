#pragma once
// The few lines of a queue's PPD file the CUPS spooler needs, read by hand (the PPD API is on its way
// out of libcups): the driver's name (*NickName), our own keywords naming the driver file and the
// language monitor, and the default resolution. PPD strings are ISO Latin-1 unless they already are
// UTF-8; the facts hold UTF-8.

#include <cstdint>
#include <cstdio>
#include <string>

namespace plat::spool {

struct PpdFacts {
    std::string nickName, driverFile, monitor, monitorFile;
    std::int32_t quality = 0;  // *DefaultResolution, in dots per inch
    bool ours() const { return !driverFile.empty(); }
};

// The facts of the PPD at `path`; none when it cannot be opened.
PpdFacts parsePpd(const char* path);
// The facts of an open PPD, read from where it stands. Lines longer than any we read are skipped, and
// a file is not read past 16 MiB: our keywords come near the top.
PpdFacts parsePpd(std::FILE* file);

}  // namespace plat::spool
