// Mapped file access: a whole file mapped for reading, or a new file of a given size mapped for
// reading and writing.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "watchcore.h"

namespace {

// munmap needs the length; the views this library made remember theirs.
std::mutex viewsMutex;
std::map<void*, std::size_t>& views()
{
    static auto* table = new std::map<void*, std::size_t>();
    return *table;
}

}  // namespace

void* lpvFMAPopenFile(const char* file, uint32_t mode, uint32_t size, intptr_t* handle, uint32_t* fileSize)
{
    auto fail = [&]() -> void* {
        if (handle != nullptr) *handle = 0;
        return nullptr;
    };
    if (file == nullptr || (mode != 1 && mode != 2)) return fail();
    const bool reading = mode == 1;
    int fd = ::open(file, reading ? O_RDONLY | O_CLOEXEC : O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail();
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return fail();
    }
    if (fileSize != nullptr) *fileSize = static_cast<uint32_t>(info.st_size & 0xFFFFFFFF);
    const std::size_t length = reading ? static_cast<std::size_t>(info.st_size) : size;
    // A write mapping of a size makes the file that size, as the mapping object did.
    if (length == 0 || (!reading && ::ftruncate(fd, static_cast<off_t>(length)) != 0)) {
        ::close(fd);
        return fail();
    }
    void* view = ::mmap(nullptr, length, reading ? PROT_READ : PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);  // the view stays valid until it is unmapped
    if (view == MAP_FAILED) return fail();
    std::lock_guard lock(viewsMutex);
    views()[view] = length;
    return view;
}

int32_t fFMAPcloseFile(void** view, intptr_t* handle)
{
    if (handle != nullptr && *handle != 0) {
        ::close(static_cast<int>(*handle));
        *handle = 0;
    }
    if (view != nullptr && *view != nullptr) {
        std::lock_guard lock(viewsMutex);
        auto it = views().find(*view);
        if (it == views().end() || ::munmap(*view, it->second) != 0) return 0;
        views().erase(it);
        *view = nullptr;
    }
    return 1;
}
