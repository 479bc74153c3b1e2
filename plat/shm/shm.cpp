#include "plat/shm/shm.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "plat/base/system_root.h"
#include "plat/base/trace.h"

namespace plat::shm {
namespace {

// munmap needs the length that the system's unmap call never passed: views remember theirs here,
// with the lock file that excludes other processes.
struct View {
    std::size_t size;
    int lockFd;
};
std::mutex viewsMutex;
std::map<const void*, View>& views()
{
    static auto* table = new std::map<const void*, View>();  // outlives every static user
    return *table;
}

int lockFileOf(const std::string& objectName)
{
    const std::string file = (runDir() / (objectName.substr(1) + ".lock")).string();
    return ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

int lockFdOf(const void* view)
{
    std::lock_guard lock(viewsMutex);
    auto it = views().find(view);
    return it == views().end() ? -1 : it->second.lockFd;
}

Error failure(std::string_view what, std::string_view name)
{
    int error = errno;
    std::string detail = std::string(what) + " " + std::string(name) + ": " + std::strerror(error);
    trace("shm: " + detail);
    return Error{error, detail};
}

bool validName(std::string_view name)
{
    return !name.empty() && name.size() <= 64 && name.find('/') == std::string_view::npos;
}

}  // namespace

std::string objectName(std::string_view name)
{
    // FNV-1a of the root's path keeps the name short and fixed in length whatever the path is.
    std::string root = std::filesystem::weakly_canonical(systemRoot()).string();
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : root) {
        hash = (hash ^ c) * 0x100000001b3ull;
    }
    char prefix[40];
    std::snprintf(prefix, sizeof prefix, "/kestrel-%016llx-", static_cast<unsigned long long>(hash));
    return prefix + std::string(name);
}

Mapping::Mapping(int fd, Role role, std::size_t size, std::string name, std::string objectName, bool existed)
    : m_fd(fd), m_role(role), m_size(size), m_name(std::move(name)), m_objectName(std::move(objectName)),
      m_existed(existed)
{
}

Mapping::~Mapping()
{
    if (m_role == Role::Server) ::shm_unlink(m_objectName.c_str());
    ::close(m_fd);
}

Result<std::unique_ptr<Mapping>> create(std::string_view name, std::size_t size)
{
    if (!validName(name) || size == 0) {
        errno = EINVAL;
        return failure("create", name);
    }
    std::string object = objectName(name);
    bool existed = false;
    int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        existed = true;
        fd = ::shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0600);
    }
    if (fd < 0) return failure("create", name);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || (static_cast<std::size_t>(info.st_size) < size && ::ftruncate(fd, static_cast<off_t>(size)) != 0)) {
        Error error = failure("size", name);
        ::close(fd);
        if (!existed) ::shm_unlink(object.c_str());
        return error;
    }
    std::size_t actual = std::max(size, static_cast<std::size_t>(info.st_size));
    return std::unique_ptr<Mapping>(new Mapping(fd, Role::Server, actual, std::string(name), object, existed));
}

Result<std::unique_ptr<Mapping>> open(std::string_view name)
{
    if (!validName(name)) {
        errno = EINVAL;
        return failure("open", name);
    }
    std::string object = objectName(name);
    int fd = ::shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) return failure("open", name);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size <= 0) {
        if (info.st_size <= 0) errno = ENODATA;
        Error error = failure("open", name);
        ::close(fd);
        return error;
    }
    return std::unique_ptr<Mapping>(
        new Mapping(fd, Role::Client, static_cast<std::size_t>(info.st_size), std::string(name), object, true));
}

void close(std::unique_ptr<Mapping> mapping) { mapping.reset(); }

Result<void*> mapView(const Mapping& mapping)
{
    void* view = ::mmap(nullptr, mapping.m_size, PROT_READ | PROT_WRITE, MAP_SHARED, mapping.m_fd, 0);
    if (view == MAP_FAILED) return failure("map", mapping.m_name);
    std::lock_guard lock(viewsMutex);
    views()[view] = View{mapping.m_size, lockFileOf(mapping.m_objectName)};
    return view;
}

bool unmapView(void* view)
{
    std::lock_guard lock(viewsMutex);
    auto it = views().find(view);
    if (it == views().end()) return false;
    if (::munmap(view, it->second.size) != 0) return false;
    if (it->second.lockFd >= 0) ::close(it->second.lockFd);
    views().erase(it);
    return true;
}

std::size_t viewSize(const void* view)
{
    std::lock_guard lock(viewsMutex);
    auto it = views().find(view);
    return it == views().end() ? 0 : it->second.size;
}

bool lockView(const void* view)
{
    int fd = lockFdOf(view);
    if (fd < 0) return false;
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

void unlockView(const void* view)
{
    int fd = lockFdOf(view);
    if (fd >= 0) ::flock(fd, LOCK_UN);
}

}  // namespace plat::shm
