#include "plat/shm/shm.h"

#include <dirent.h>
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
#include <vector>

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
    return ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

// Where the system's shared-memory namespace shows as files (glibc's shm_open works there).
constexpr const char* kObjectFolder = "/dev/shm";

std::string serverLockFile() { return (runDir() / "shm-servers.lock").string(); }

// The shared hold a process keeps on each root's server lock file: one descriptor per root, taken
// with its first server mapping there and let go with its last.
struct ServerHold {
    int fd;
    int mappings;
};
std::mutex serverHoldsMutex;
std::map<std::string, ServerHold>& serverHolds()
{
    static auto* table = new std::map<std::string, ServerHold>();  // outlives every static user
    return *table;
}

bool holdServerLock(const std::string& file)
{
    std::lock_guard lock(serverHoldsMutex);
    if (auto it = serverHolds().find(file); it != serverHolds().end()) {
        ++it->second.mappings;
        return true;
    }
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    // Blocks only while removeStaleObjects() runs in this root, so it never removes a new object.
    while (::flock(fd, LOCK_SH) != 0) {
        if (errno != EINTR) {
            int error = errno;
            ::close(fd);
            errno = error;
            return false;
        }
    }
    serverHolds()[file] = ServerHold{fd, 1};
    return true;
}

void releaseServerLock(const std::string& file)
{
    std::lock_guard lock(serverHoldsMutex);
    auto it = serverHolds().find(file);
    if (it == serverHolds().end()) return;
    if (--it->second.mappings == 0) {
        ::close(it->second.fd);
        serverHolds().erase(it);
    }
}

// Shared memory is a world-writable namespace: a name someone else made first must not be used.
bool isOurs(const struct stat& info) { return S_ISREG(info.st_mode) && info.st_uid == ::geteuid(); }

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

Mapping::Mapping(int fd, Role role, std::size_t size, std::string name, std::string objectName, bool existed,
                 std::string serverLock)
    : m_fd(fd),
      m_role(role),
      m_size(size),
      m_name(std::move(name)),
      m_objectName(std::move(objectName)),
      m_existed(existed),
      m_serverLock(std::move(serverLock))
{
}

Mapping::~Mapping()
{
    if (m_role == Role::Server) ::shm_unlink(m_objectName.c_str());
    ::close(m_fd);
    if (m_role == Role::Server) releaseServerLock(m_serverLock);
}

Result<std::unique_ptr<Mapping>> create(std::string_view name, std::size_t size)
{
    if (!validName(name) || size == 0) {
        errno = EINVAL;
        return failure("create", name);
    }
    std::string object = objectName(name);
    const std::string serverLock = serverLockFile();
    if (!holdServerLock(serverLock)) return failure("create (server lock)", name);
    bool existed = false;
    int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        existed = true;
        fd = ::shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
        Error error = failure("create", name);
        releaseServerLock(serverLock);
        return error;
    }
    struct stat info {};
    const char* failedStep = nullptr;
    if (::fstat(fd, &info) != 0) {
        failedStep = "create";
    } else if (!isOurs(info)) {
        errno = EACCES;
        failedStep = "create (another user's object)";
    } else if (::fchmod(fd, 0600) != 0) {  // the umask may have taken bits away, locking clients out
        failedStep = "create (mode)";
    } else if (static_cast<std::size_t>(info.st_size) < size && ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        failedStep = "size";
    }
    if (failedStep != nullptr) {
        Error error = failure(failedStep, name);
        ::close(fd);
        if (!existed) ::shm_unlink(object.c_str());
        releaseServerLock(serverLock);
        return error;
    }
    std::size_t actual = std::max(size, static_cast<std::size_t>(info.st_size));
    return std::unique_ptr<Mapping>(
        new Mapping(fd, Role::Server, actual, std::string(name), object, existed, serverLock));
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
    if (::fstat(fd, &info) != 0 || !isOurs(info) || info.st_size <= 0) {
        if (info.st_size <= 0) errno = ENODATA;
        if (!isOurs(info)) errno = EACCES;
        Error error = failure("open", name);
        ::close(fd);
        return error;
    }
    return std::unique_ptr<Mapping>(new Mapping(fd, Role::Client, static_cast<std::size_t>(info.st_size),
                                                std::string(name), object, true, std::string()));
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

Result<std::size_t> removeStaleObjects()
{
    const std::string prefix = objectName("").substr(1);  // as the names show in the folder
    const std::string lockFile = serverLockFile();
    int lock = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0) return failure("clean up: open", lockFile);
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        const bool served = errno == EWOULDBLOCK;
        Error error = failure("clean up: lock", lockFile);
        ::close(lock);
        if (served) return std::size_t{0};  // a live server holds the lock: nothing is provably stale
        return error;
    }
    DIR* folder = ::opendir(kObjectFolder);
    if (folder == nullptr) {
        Error error = failure("clean up: list", kObjectFolder);
        ::close(lock);
        return error;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view object = entry->d_name;
        struct stat info {};
        if (!object.starts_with(prefix) || ::fstatat(::dirfd(folder), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !isOurs(info)) {
            continue;
        }
        stale.emplace_back(object);
    }
    ::closedir(folder);
    std::size_t removed = 0;
    for (const std::string& object : stale) {
        if (::shm_unlink(("/" + object).c_str()) == 0) {
            trace("shm: removed " + object + ", left by a server that ended without closing it");
            ++removed;
        }
    }
    ::close(lock);
    return removed;
}

}  // namespace plat::shm
