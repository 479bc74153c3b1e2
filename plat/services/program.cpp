#include "plat/services/program.h"

#include <cstdlib>

namespace plat {

Result<std::unique_ptr<Services>> openProgramServices()
{
    Services::Options options;
    const auto scaleFrom = [](const char* name) {
        const char* text = std::getenv(name);
        return text != nullptr && *text != '\0' ? std::atof(text) : 1.0;
    };
    const double waits = scaleFrom("KESTREL_TEST_TIME_SCALE");
    const double intervals = scaleFrom("KESTREL_TEST_INTERVAL_SCALE");
    if (waits != 1.0 || intervals != 1.0) {
        // Kept for the life of the process, as the services that point at it are.
        static const ScaledClock scaled(waits, intervals);
        options.clock = &scaled;
    }
    return Services::open(std::move(options));
}

}  // namespace plat
