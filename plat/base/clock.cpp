#include "plat/base/clock.h"

#include <algorithm>

namespace plat {

namespace {

class SteadyClock final : public Clock {
public:
    std::chrono::milliseconds real(std::chrono::milliseconds fixed) const override { return fixed; }
};

}  // namespace

const Clock& steadyClock()
{
    static const SteadyClock clock;
    return clock;
}

std::chrono::milliseconds ScaledClock::real(std::chrono::milliseconds fixed) const
{
    if (fixed.count() <= 0) return fixed;
    return std::max(std::chrono::milliseconds(1),
                    std::chrono::milliseconds(static_cast<long long>(static_cast<double>(fixed.count()) * m_scale)));
}

}  // namespace plat
