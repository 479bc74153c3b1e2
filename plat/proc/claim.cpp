#include "plat/proc/claim.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "plat/base/system_root.h"
#include "plat/base/trace.h"

namespace plat::proc {
namespace {

std::string claimFile(std::string_view program) { return (runDir() / (std::string(program) + ".claims")).string(); }

struct flock placeLock(short type, int place)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = place;
    lock.l_len = 1;
    return lock;
}

}  // namespace

std::unique_ptr<Claim> Claim::tryAcquire(std::string_view program, int place, pid_t* holder)
{
    if (holder != nullptr) *holder = 0;
    if (place < 0) return nullptr;
    const std::string file = claimFile(program);
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        trace("claim: cannot open " + file + ": " + std::strerror(errno));
        return nullptr;
    }
    // A record lock, not flock: its holder's pid can be asked for (F_GETLK), and it is not inherited by
    // the programs this one starts.
    struct flock lock = placeLock(F_WRLCK, place);
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
        const int error = errno;
        if ((error == EACCES || error == EAGAIN) && holder != nullptr) {
            struct flock held = placeLock(F_WRLCK, place);
            if (::fcntl(fd, F_GETLK, &held) == 0 && held.l_type != F_UNLCK) *holder = held.l_pid;
        }
        if (error != EACCES && error != EAGAIN) trace("claim: cannot lock " + file + ": " + std::strerror(error));
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<Claim>(new Claim(fd));
}

Claim::~Claim() { ::close(m_fd); }

std::vector<Claimant> claimants(std::string_view program, int places)
{
    std::vector<Claimant> found;
    const std::string file = claimFile(program);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return found;  // nobody ever claimed a place
    for (int place = 0; place < places; ++place) {
        struct flock lock = placeLock(F_WRLCK, place);
        if (::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK && lock.l_pid > 0)
            found.push_back({place, lock.l_pid});
    }
    ::close(fd);
    return found;
}

int watchParentEnd(bool* parentGone)
{
    if (parentGone != nullptr) *parentGone = false;
    const pid_t parent = ::getppid();
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, parent, 0));
    if (fd < 0) {
        trace(std::string("proc: the parent cannot be watched: ") + std::strerror(errno));
        return -1;
    }
    // The parent may have ended before it was opened: this process then has another parent already.
    if (::getppid() != parent) {
        ::close(fd);
        if (parentGone != nullptr) *parentGone = true;
        return -1;
    }
    return fd;
}

}  // namespace plat::proc
