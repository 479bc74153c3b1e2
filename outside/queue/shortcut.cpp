#include "shortcut.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <initializer_list>

namespace queue {

namespace {

constexpr std::size_t kHead = 120;
constexpr std::size_t kNameLimit = 255;  // the spooler's limit on a printer name
constexpr std::size_t kLargest = kHead + kNameLimit + 3;

plat::Error failure(ShortcutFailure code, std::string detail) { return {static_cast<int>(code), std::move(detail)}; }

bool bytesAt(const std::string& data, std::size_t at, std::initializer_list<unsigned char> values)
{
    for (unsigned char v : values) {
        if (static_cast<unsigned char>(data[at++]) != v) return false;
    }
    return true;
}

std::size_t word16(const std::string& data, std::size_t at)
{
    return static_cast<unsigned char>(data[at]) |
           (static_cast<std::size_t>(static_cast<unsigned char>(data[at + 1])) << 8);
}

}  // namespace

plat::Result<std::string> readPrinterShortcut(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return failure(ShortcutFailure::Unreadable, path + ": " + std::strerror(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return failure(ShortcutFailure::Unreadable, path + ": not a regular file");
    }
    // One byte past the largest shortcut tells a longer file from a full-length one.
    std::array<char, kLargest + 1> buffer{};
    std::size_t size = 0;
    while (size < buffer.size()) {
        const ssize_t got = ::read(fd, buffer.data() + size, buffer.size() - size);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return failure(ShortcutFailure::Unreadable, path + ": " + std::strerror(error));
        }
        if (got == 0) break;
        size += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return parsePrinterShortcut(std::string_view(buffer.data(), size), path);
}

plat::Result<std::string> parsePrinterShortcut(std::string_view bytes, const std::string& path)
{
    const std::string data(bytes);
    const std::size_t size = data.size();
    const std::string notOurs = path + ": not a printer shortcut of this system";
    if (size > kLargest) return failure(ShortcutFailure::NotOurs, notOurs + " (too long)");
    if (size < kHead + 4) return failure(ShortcutFailure::NotOurs, notOurs + " (too short)");
    const bool head =
        bytesAt(data, 0, {0x4C, 0, 0, 0}) &&
        bytesAt(data, 4,
                {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}) &&
        word16(data, 78) == 20 && bytesAt(data, 80, {0x1F, 0x00}) &&
        bytesAt(data, 82,
                {0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D}) &&
        word16(data, 98) == 20 && bytesAt(data, 100, {0x2E, 0x00}) &&
        bytesAt(data, 102,
                {0x80, 0xA2, 0x27, 0x22, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xDE, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D});
    if (!head) return failure(ShortcutFailure::NotOurs, notOurs);
    // The name's length is told twice; both must agree with what is in the file.
    const std::size_t n = size - kHead - 3;
    if (word16(data, 76) != n + 45 || word16(data, 118) != n + 3 || !bytesAt(data, size - 3, {0, 0, 0})) {
        return failure(ShortcutFailure::NotOurs, notOurs + " (truncated or damaged)");
    }
    std::string printer = data.substr(kHead, n);
    if (printer.find('\0') != std::string::npos) return failure(ShortcutFailure::NotOurs, notOurs + " (damaged name)");
    return printer;
}

}  // namespace queue
