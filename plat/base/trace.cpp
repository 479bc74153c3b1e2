#include "plat/base/trace.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace plat {

bool traceEnabled()
{
    static const bool enabled = [] {
        const char* value = std::getenv("KESTREL_TRACE");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

void trace(std::string_view text)
{
    if (!traceEnabled()) {
        return;
    }
    // One write per line so lines of concurrent threads and processes do not interleave.
    std::string line = "kestrel[" + std::to_string(::getpid()) + "] ";
    line.append(text);
    line.push_back('\n');
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace plat
