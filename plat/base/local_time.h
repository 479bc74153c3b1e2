#pragma once
// The local time as the system's outside components count it: seconds since 1970-01-01 00:00 of the
// local clock (not UTC). The despooler stamps its last access this way, and the engine compares.

#include <cstdint>
#include <ctime>

namespace plat {

inline std::int64_t localEpochSeconds()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return static_cast<std::int64_t>(now) + local.tm_gmtoff;
}

}  // namespace plat
