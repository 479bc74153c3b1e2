#include "plat/services/program.h"

#include <cstdlib>

namespace plat {

Result<std::unique_ptr<Services>> openProgramServices()
{
    Services::Options options;
    if (const char* text = std::getenv("KESTREL_TEST_TIME_SCALE"); text != nullptr && *text != '\0') {
        // Kept for the life of the process, as the services that point at it are.
        static const ScaledClock scaled(std::atof(text));
        options.clock = &scaled;
    }
    return Services::open(std::move(options));
}

}  // namespace plat
