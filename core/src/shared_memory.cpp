// The shared-memory channel: slot names, the server's and the client's mapping and view, and whole-
// record copies. Copies hold the library's lock (threads of one process) and the view's lock (other
// processes), so no reader ever sees a record half written.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "plat/base/message_box.h"
#include "plat/base/system_root.h"
#include "plat/base/trace.h"
#include "plat/shm/shm.h"
#include "plat/text/text.h"
#include "watchcore.h"

namespace {

constexpr const char* kErrorCaption = "エラー";
constexpr std::size_t kNameBuffer = 32;

std::mutex& copyLock()
{
    static auto* lock = new std::mutex();  // one per process, alive as long as any caller
    return *lock;
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

plat::shm::Mapping* mappingOf(intptr_t handle) { return reinterpret_cast<plat::shm::Mapping*>(handle); }

// A copy between a view and a caller's buffer, bounded by the view: a byte count beyond the mapping
// is refused rather than read or written past its end.
template <class Copy>
int32_t lockedCopy(const void* view, uint32_t count, Copy copy)
{
    if (view == nullptr || count > plat::shm::viewSize(view)) return 0;
    std::lock_guard lock(copyLock());
    plat::shm::lockView(view);
    copy();
    plat::shm::unlockView(view);
    return 1;
}

}  // namespace

int32_t fSharedMemoryCreateFileName(char* name, int32_t slot) { return buildName(name, "WTCHF", slot); }

int32_t fSharedMemoryCreateMapName(char* name, int32_t slot) { return buildName(name, "WTCHM", slot); }

intptr_t hSharedMemoryCreateFile(const char* name, int32_t useFile)
{
    if (!useFile) return kWatchcoreNoFile;
    // The file-backed mode is not used by the system; its file lives in the root's tmp/ folder.
    const std::string file = (plat::tmpDir() / (name != nullptr ? name : "")).string();
    int fd = name != nullptr ? ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600) : -1;
    if (fd < 0) {
        plat::trace("hCreateMapFile :CreateFile");
        errorBox("サーバー: CreateMapFile() 異常終了!");
        return 0;
    }
    return fd + 1;  // 0 stays "no handle"
}

intptr_t hSharedMemoryCreateFileMapping(intptr_t file, const char* name, int32_t useFile, uint32_t size)
{
    if (file == 0) {
        errorBox("サーバー: MapFileHandle が NULL です!");
        return 0;
    }
    if (useFile) {
        // A file-backed mapping takes the file's own size, which is 0 for a new file.
        struct stat info {};
        size = ::fstat(static_cast<int>(file - 1), &info) == 0 ? static_cast<uint32_t>(info.st_size) : 0;
    }
    auto mapping = name != nullptr ? plat::shm::create(name, size) : plat::Result<std::unique_ptr<plat::shm::Mapping>>(plat::Error{});
    if (!mapping) {
        plat::trace("hCreateMap :CreateFileMapping");
        errorBox("サーバー: CreateMap() 異常終了!");
        return 0;
    }
    return reinterpret_cast<intptr_t>(mapping.value().release());
}

void* lpvSharedMemoryMapViewFile(intptr_t mapping)
{
    if (mapping == 0) {
        errorBox("ファイル ビューのマッピング異常終了!");
        return nullptr;
    }
    auto view = plat::shm::mapView(*mappingOf(mapping));
    if (!view) {
        plat::trace("lpvMapView :MapViewOfFile");
        errorBox(" MapView() 異常終了!");
        return nullptr;
    }
    return view.value();
}

intptr_t hSharedMemoryOpenFileMapping(const char* name)
{
    auto mapping = name != nullptr ? plat::shm::open(name) : plat::Result<std::unique_ptr<plat::shm::Mapping>>(plat::Error{});
    if (!mapping) {
        plat::trace("hOpenMap :OpenFileMapping");
        errorBox("クライアント: ファイル マッピング オープン異常終了!");
        return 0;
    }
    return reinterpret_cast<intptr_t>(mapping.value().release());
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

int32_t fSharedMemoryUpdate(void* view, uint32_t count)
{
    // Shared memory has no backing file to flush to; the copy under the lock is all there is.
    lockedCopy(view, count, [] {});
    return 1;
}

int32_t fSharedMemoryClientClose(void* view, intptr_t mapping)
{
    if (view != nullptr && !plat::shm::unmapView(view)) return 0;
    if (mapping != 0) plat::shm::close(std::unique_ptr<plat::shm::Mapping>(mappingOf(mapping)));
    return 1;
}

int32_t fSharedMemoryServerClose(void* view, intptr_t mapping, intptr_t file, int32_t fileOwned)
{
    if (!fSharedMemoryClientClose(view, mapping)) return 0;
    if (fileOwned && file != 0 && file != kWatchcoreNoFile) ::close(static_cast<int>(file - 1));
    return 1;
}
