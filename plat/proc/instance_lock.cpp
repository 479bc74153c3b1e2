#include "plat/proc/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "plat/base/system_root.h"
#include "plat/base/trace.h"

namespace plat::proc {

std::unique_ptr<InstanceLock> InstanceLock::tryAcquire(std::string_view program)
{
    const std::string file = (runDir() / (std::string(program) + ".lock")).string();
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        trace("instance lock: cannot open " + file + ": " + std::strerror(errno));
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() { ::close(m_fd); }

}  // namespace plat::proc
