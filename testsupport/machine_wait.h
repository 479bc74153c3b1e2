#pragma once
// How long the calling thread was kept from running by the rest of the machine. Tests that measure how
// long an event loop stood still take this time out: on a busy machine a thread may wait for a CPU
// longer than it runs, and on a virtual machine the host may take the CPU away for 100 ms at a time
// (steal time). Neither pause is the program's.

#include <cstdint>
#include <vector>

namespace testsupport {

class MachineWait {
public:
    // Measures the thread that makes it.
    MachineWait();
    ~MachineWait();
    MachineWait(const MachineWait&) = delete;
    MachineWait& operator=(const MachineWait&) = delete;

    // Nanoseconds so far: the thread's waits for a CPU (schedstat) and the time the host took the CPUs
    // away, counted between two calls as the most any one CPU lost (the thread may have moved). 0 for
    // what the kernel does not tell.
    std::int64_t nanoseconds();

private:
    std::int64_t runQueueWait() const;
    std::int64_t stealSinceLastCall();

    const int m_schedstat;
    const int m_stat;
    std::vector<std::int64_t> m_stealTicks;  // each CPU's steal at the last call
    std::int64_t m_stolen = 0;
};

}  // namespace testsupport
