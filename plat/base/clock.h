#pragma once
// Time as the system's fixed waits see it. Every fixed wait of the engine and of the network link goes
// through a Clock, and so does every fixed time-out they hand to the system (port reads, network
// replies): real() says how long it takes here.
//
// The steady clock is what ships: a wait of 500 ms takes 500 ms. A ScaledClock runs its fixed waits
// faster (scale 0.02: 500 ms take 10 ms), so that a test covers minutes of polling in seconds without a
// sleep of its own. Times the user chose (a status interval, a retry time read from the store) and the
// programs' own timer periods are not fixed waits: interval() says how long they take, as they are unless
// a soak asks its ScaledClock to run them faster too, so that an hour covers a day of polling.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace plat {

class Clock {
public:
    virtual ~Clock() = default;

    // How long a fixed wait of `fixed` takes on this clock; 0 stays 0, anything else is at least 1 ms.
    virtual std::chrono::milliseconds real(std::chrono::milliseconds fixed) const = 0;

    // Waits a fixed `duration` on `wake` (with `lock` held on entry) until `done()` is true; true when it
    // is. Whoever changes what `done` reads notifies `wake`.
    template <class Done>
    bool waitFor(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, std::chrono::milliseconds duration,
                 Done done) const
    {
        return wake.wait_for(lock, real(duration), std::move(done));
    }

    // How long a timer period or a time the user chose takes on this clock (at least 1 ms unless 0).
    virtual std::chrono::milliseconds interval(std::chrono::milliseconds chosen) const { return chosen; }
};

// The clock the programs use: fixed waits take their time.
const Clock& steadyClock();

// A clock whose fixed waits take `scale` times their time, and intervals `intervalScale` times theirs
// (0 < scale; 1 is the steady clock's; a value out of range counts as 1).
class ScaledClock final : public Clock {
public:
    explicit ScaledClock(double scale, double intervalScale = 1.0)
        : m_scale(scale > 0 ? scale : 1.0), m_intervalScale(intervalScale > 0 ? intervalScale : 1.0)
    {
    }
    std::chrono::milliseconds real(std::chrono::milliseconds fixed) const override;
    std::chrono::milliseconds interval(std::chrono::milliseconds chosen) const override;
    double scale() const { return m_scale; }

private:
    double m_scale;
    double m_intervalScale;
};

}  // namespace plat
