#pragma once
// Numbered places a program's processes claim in a system root, one process a place: a detail program
// claims its slot for as long as it lives. A claim goes with its process however the process ends
// (a POSIX record lock on byte `place` of run/<program>.claims), and another process can ask who holds
// which place: a list program that starts after one that was killed finds the detail programs it left.

#include <sys/types.h>

#include <memory>
#include <string_view>
#include <vector>

namespace plat::proc {

class Claim {
public:
    // Claims `place` (0 ..) of `program` for this process. Null when another process holds it, with its
    // pid in `holder`; null with `holder` 0 when the claim file cannot be opened or locked (the trace hook
    // says why).
    static std::unique_ptr<Claim> tryAcquire(std::string_view program, int place, pid_t* holder = nullptr);
    ~Claim();
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

private:
    explicit Claim(int fd) : m_fd(fd) {}
    int m_fd;  // the only descriptor of the claim file in this process: closing any other would end the lock
};

struct Claimant {
    int place;
    pid_t pid;
};

// The processes that hold places 0 .. places-1 of `program` now (other than this process), by place.
std::vector<Claimant> claimants(std::string_view program, int places);

// A descriptor that turns readable when this process's parent ends: how a started program notices that
// whoever started it is gone (killed or crashed) without asking on a timer; close-on-exec. -1 when the
// system cannot watch the parent, or when the parent ended while it was being opened (then
// `parentGone` is set, when given). A parent that ended before this call is not noticed: the process
// has been handed to another parent by then.
int watchParentEnd(bool* parentGone = nullptr);

}  // namespace plat::proc
