#pragma once
// The single-instance rule of a program: the first process of a program in a system root holds its
// lock; others are refused for as long as it runs. The lock is an flock on run/<program>.lock, so it
// goes with the process however the process ends.

#include <memory>
#include <string>
#include <string_view>

namespace plat::proc {

class InstanceLock {
public:
    // The lock for `program`, or null when another process of it holds the lock (or the lock file
    // cannot be made, which the trace hook reports).
    static std::unique_ptr<InstanceLock> tryAcquire(std::string_view program);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

private:
    explicit InstanceLock(int fd) : m_fd(fd) {}
    int m_fd;
};

}  // namespace plat::proc
