#pragma once
// Named shared memory: a server creates a mapping of a size under a name, clients open it by name,
// and each maps a view of the whole mapping for reading and writing.
//
// Names are scoped by the system root, so two roots never share "WTCHM0". Objects are mode 0600
// whatever the umask, and an object of the name that belongs to another user is refused, never used.
// The server's close removes the name; a client's view stays valid until it unmaps it, and the memory
// goes when the last view and handle are gone.
//
// A server that crashes cannot remove its names. Every process holds a shared lock on the root's
// run/shm-servers.lock for as long as it has a server mapping open, so when nobody holds that lock
// the objects of the root's prefix provably belong to no live server: removeStaleObjects() takes the
// lock exclusively and removes them.
//
// Threads: any function may be called from any thread; a Mapping belongs to one thread at a time.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "plat/base/result.h"

namespace plat::shm {

enum class Role { Server, Client };

// An open mapping handle (the name, not yet a view).
class Mapping {
public:
    ~Mapping();
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    Role role() const { return m_role; }
    std::size_t size() const { return m_size; }
    const std::string& name() const { return m_name; }
    // True when create() found the name already there and opened it instead.
    bool existed() const { return m_existed; }

private:
    friend Result<std::unique_ptr<Mapping>> create(std::string_view, std::size_t);
    friend Result<std::unique_ptr<Mapping>> open(std::string_view);
    friend Result<void*> mapView(const Mapping&);
    Mapping(int fd, Role role, std::size_t size, std::string name, std::string objectName, bool existed,
            std::string serverLock);

    int m_fd;
    Role m_role;
    std::size_t m_size;
    std::string m_name;        // the system's name, "WTCHM0"
    std::string m_objectName;  // the name in the system's shared-memory namespace
    bool m_existed;
    std::string m_serverLock;  // a server's: the lock file it holds shared while it lives
};

// Server side: creates the mapping of `size` bytes (zero-filled), or opens it if the name exists
// already (then it is at least `size` bytes). Waits while removeStaleObjects() runs in the root.
Result<std::unique_ptr<Mapping>> create(std::string_view name, std::size_t size);
// Client side: opens an existing mapping; fails when no server created it.
Result<std::unique_ptr<Mapping>> open(std::string_view name);
// Closes a handle; for the server this removes the name. Views stay valid.
void close(std::unique_ptr<Mapping> mapping);

// Maps the whole mapping for reading and writing.
Result<void*> mapView(const Mapping& mapping);
// Unmaps a view made by mapView(); false for an address that is not such a view.
bool unmapView(void* view);
// Size of a view made by mapView(), 0 for any other address.
std::size_t viewSize(const void* view);

// Excludes every other process that locks a view of the same mapping (a lock file per name in the
// root's run/ folder), so a whole-record copy is never seen half done. Threads of one process must
// exclude each other themselves. False for an address that is not a view.
bool lockView(const void* view);
void unlockView(const void* view);

// The name an object of the current root gets in the system's namespace (for tests and tools).
std::string objectName(std::string_view name);

// Removes the objects of the current root that a crashed server left behind, and returns how many.
// Sound at any time: while any process of the root has a server mapping open, nothing is provably
// stale and nothing is removed (the answer is 0). Only objects of the current root's prefix that
// belong to this user are touched; the lock files in run/ are kept (flock files cannot go stale).
// The list program calls it once at start, after it has won its single-instance lock and before
// it creates its first slot, so its new slots start zero-filled instead of reopening a crashed
// run's records.
Result<std::size_t> removeStaleObjects();

}  // namespace plat::shm
