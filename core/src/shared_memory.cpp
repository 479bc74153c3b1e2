// The shared-memory channel: slot names, the server's and the client's mapping and view, and whole-
// record copies. Copies hold the library's lock (threads of one process) and the view's lock (other
// processes), so no reader ever sees a record half written.
//
// Handles are checked, never trusted: every handle this library gives out is a key of its handle
// table, not an address or a descriptor, and a view is an address the platform layer knows as one.
// A handle closed already or never given out names nothing and is refused.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

#include "plat/base/message_box.h"
#include "plat/base/system_root.h"
#include "plat/base/trace.h"
#include "plat/shm/shm.h"
#include "plat/text/text.h"
#include "watchcore.h"

namespace {

constexpr const char* kErrorCaption = "エラー";
constexpr std::size_t kNameBuffer = 32;
// The longest file name the file-backed mode takes; the system's own are "WTCHF" and a slot number.
constexpr std::size_t kMaxFileName = 64;

// Serialises the copies, and the unmapping of views against them, so no thread unmaps a view while
// another copies through it.
std::mutex& copyLock()
{
    static auto* lock = new std::mutex();  // one per process, alive as long as any caller
    return *lock;
}

// Keys count up from one counter shared by both kinds and are never given out twice, so a stale
// handle cannot name a later object and a file handle is never a mapping handle. They start far above
// any descriptor number, 0 ("no handle") and kWatchcoreNoFile.
struct HandleTable {
    std::mutex mutex;
    intptr_t next = 0x10000;
    std::map<intptr_t, std::unique_ptr<plat::shm::Mapping>> mappings;
    std::map<intptr_t, int> files;  // descriptors of files in tmp/
};

HandleTable& handles()
{
    static auto* table = new HandleTable();  // alive as long as any caller
    return *table;
}

template <class Map, class Value>
intptr_t addHandle(Map& map, Value value)
{
    HandleTable& table = handles();
    std::lock_guard lock(table.mutex);
    const intptr_t handle = table.next++;
    map.emplace(handle, std::move(value));
    return handle;
}

void errorBox(const char* text) { plat::messageBox(kErrorCaption, text); }

int32_t buildName(char* out, const char* prefix, int32_t slot)
{
    if (out == nullptr || slot < 0) return 0;
    char name[kNameBuffer];
    plat::text::copyBounded(name, 10, prefix);
    std::snprintf(name + std::strlen(name), kNameBuffer - std::strlen(name), "%d", slot);
    std::memcpy(out, name, std::strlen(name) + 1);
    return 1;
}

// Opens the file-backed mode's file: a bare name in the root's tmp/ folder, nothing else. A file that
// is there already keeps its data; a link is not followed, and anything but a regular file of this
// user is refused. -1 with errno when refused.
int openTmpFile(const char* name)
{
    const std::size_t length = ::strnlen(name, kMaxFileName + 1);
    const std::string_view bare(name, length);
    if (length == 0 || length > kMaxFileName || bare == "." || bare == ".." || bare.find('/') != bare.npos) {
        errno = EINVAL;
        return -1;
    }
    const std::string file = (plat::tmpDir() / std::string(bare)).string();
    // O_NONBLOCK: a FIFO or device someone put there is refused below instead of waited on.
    constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    for (int attempt = 0; attempt < 3; ++attempt) {  // again only when the file goes between two opens
        int fd = ::open(file.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            if (::fchmod(fd, 0600) == 0) return fd;  // the umask may have taken bits of 0600 away
            int error = errno;
            ::close(fd);
            ::unlink(file.c_str());
            errno = error;
            return -1;
        }
        if (errno != EEXIST) return -1;
        fd = ::open(file.c_str(), kFlags);
        if (fd < 0) {
            if (errno == ENOENT) continue;
            return -1;
        }
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
            ::close(fd);
            errno = EACCES;
            return -1;
        }
        return fd;
    }
    return -1;
}

// A copy between a view and a caller's buffer, bounded by the view: an address that is not a live
// view, or a byte count beyond the mapping, is refused rather than read or written past its end.
template <class Copy>
int32_t lockedCopy(const void* view, uint32_t count, Copy copy)
{
    if (view == nullptr) return 0;
    std::lock_guard lock(copyLock());
    const std::size_t size = plat::shm::viewSize(view);
    if (size == 0 || count > size) return 0;
    plat::shm::lockView(view);
    copy();
    plat::shm::unlockView(view);
    return 1;
}

// Closes what a close call names, after checking all of it: a refused close changes nothing. A
// mapping handle of 0 and a null view are "none"; `file` is null when no file is to be closed.
int32_t closeHandles(void* view, intptr_t mapping, const intptr_t* file)
{
    std::lock_guard copying(copyLock());
    HandleTable& table = handles();
    std::unique_ptr<plat::shm::Mapping> closing;
    int fd = -1;
    {
        std::lock_guard lock(table.mutex);
        const auto m = mapping != 0 ? table.mappings.find(mapping) : table.mappings.end();
        if (mapping != 0 && m == table.mappings.end()) return 0;
        const auto f = file != nullptr ? table.files.find(*file) : table.files.end();
        if (file != nullptr && f == table.files.end()) return 0;
        if (view != nullptr && !plat::shm::unmapView(view)) return 0;
        if (m != table.mappings.end()) {
            closing = std::move(m->second);
            table.mappings.erase(m);
        }
        if (f != table.files.end()) {
            fd = f->second;
            table.files.erase(f);
        }
    }
    closing.reset();  // a server's close removes the name
    if (fd >= 0) ::close(fd);
    return 1;
}

}  // namespace

int32_t fSharedMemoryCreateFileName(char* name, int32_t slot) { return buildName(name, "WTCHF", slot); }

int32_t fSharedMemoryCreateMapName(char* name, int32_t slot) { return buildName(name, "WTCHM", slot); }

intptr_t hSharedMemoryCreateFile(const char* name, int32_t useFile)
{
    if (!useFile) return kWatchcoreNoFile;
    // The file-backed mode is not used by the system; its file lives in the root's tmp/ folder.
    int fd = name != nullptr ? openTmpFile(name) : -1;
    if (fd < 0) {
        plat::trace("hCreateMapFile :CreateFile");
        errorBox("サーバー: CreateMapFile() 異常終了!");
        return 0;
    }
    return addHandle(handles().files, fd);
}

intptr_t hSharedMemoryCreateFileMapping(intptr_t file, const char* name, int32_t useFile, uint32_t size)
{
    if (file == 0) {
        errorBox("サーバー: MapFileHandle が NULL です!");
        return 0;
    }
    bool knownFile = file == kWatchcoreNoFile;
    {
        HandleTable& table = handles();
        std::lock_guard lock(table.mutex);
        const auto it = table.files.find(file);
        knownFile = knownFile || it != table.files.end();
        if (useFile) {
            // A file-backed mapping takes the file's own size, which is 0 for a new file.
            struct stat info {};
            const bool sized = it != table.files.end() && ::fstat(it->second, &info) == 0 && info.st_size <= UINT32_MAX;
            size = sized ? static_cast<uint32_t>(info.st_size) : 0;
        }
    }
    using Created = plat::Result<std::unique_ptr<plat::shm::Mapping>>;
    auto mapping = knownFile && name != nullptr ? plat::shm::create(name, size) : Created(plat::Error{});
    if (!mapping) {
        plat::trace("hCreateMap :CreateFileMapping");
        errorBox("サーバー: CreateMap() 異常終了!");
        return 0;
    }
    return addHandle(handles().mappings, std::move(mapping).value());
}

void* lpvSharedMemoryMapViewFile(intptr_t mapping)
{
    plat::Result<void*> view = plat::Error{};
    bool known = false;
    if (mapping != 0) {
        HandleTable& table = handles();
        std::lock_guard lock(table.mutex);
        const auto it = table.mappings.find(mapping);
        known = it != table.mappings.end();
        if (known) view = plat::shm::mapView(*it->second);
    }
    if (!known) {  // no handle, or one that names nothing open
        errorBox("ファイル ビューのマッピング異常終了!");
        return nullptr;
    }
    if (!view) {
        plat::trace("lpvMapView :MapViewOfFile");
        errorBox(" MapView() 異常終了!");
        return nullptr;
    }
    return view.value();
}

intptr_t hSharedMemoryOpenFileMapping(const char* name)
{
    using Opened = plat::Result<std::unique_ptr<plat::shm::Mapping>>;
    auto mapping = name != nullptr ? plat::shm::open(name) : Opened(plat::Error{});
    if (!mapping) {
        plat::trace("hOpenMap :OpenFileMapping");
        errorBox("クライアント: ファイル マッピング オープン異常終了!");
        return 0;
    }
    return addHandle(handles().mappings, std::move(mapping).value());
}

int32_t fSharedMemoryReadAccess(const void* view, void* buffer, uint32_t count)
{
    if (buffer == nullptr) return 0;
    return lockedCopy(view, count, [&] { std::memcpy(buffer, view, count); });
}

int32_t fSharedMemoryWriteAccess(void* view, const void* buffer, uint32_t count)
{
    if (buffer == nullptr) return 0;
    return lockedCopy(view, count, [&] { std::memcpy(view, buffer, count); });
}

int32_t fSharedMemoryChangeAccess(void* view, void* buffer, uint32_t count,
                                  int32_t (*change)(void* buffer, void* context), void* context)
{
    if (buffer == nullptr || change == nullptr) return 0;
    return lockedCopy(view, count, [&] {
        std::memcpy(buffer, view, count);
        if (change(buffer, context) != 0) std::memcpy(view, buffer, count);
    });
}

int32_t fSharedMemoryUpdate(void* view, uint32_t count)
{
    // Shared memory has no backing file to flush to; the copy under the lock is all there is. What
    // a copy would refuse is refused here too.
    return lockedCopy(view, count, [] {});
}

int32_t fSharedMemoryClientClose(void* view, intptr_t mapping) { return closeHandles(view, mapping, nullptr); }

int32_t fSharedMemoryServerClose(void* view, intptr_t mapping, intptr_t file, int32_t fileOwned)
{
    const bool closesFile = fileOwned && file != 0 && file != kWatchcoreNoFile;
    return closeHandles(view, mapping, closesFile ? &file : nullptr);
}
