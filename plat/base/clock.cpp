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

namespace {

std::chrono::milliseconds scaled(std::chrono::milliseconds time, double scale)
{
    if (time.count() <= 0) return time;
    return std::max(std::chrono::milliseconds(1),
                    std::chrono::milliseconds(static_cast<long long>(static_cast<double>(time.count()) * scale)));
}

}  // namespace

std::chrono::milliseconds ScaledClock::real(std::chrono::milliseconds fixed) const { return scaled(fixed, m_scale); }

std::chrono::milliseconds ScaledClock::interval(std::chrono::milliseconds chosen) const
{
    return scaled(chosen, m_intervalScale);
}

}  // namespace plat
