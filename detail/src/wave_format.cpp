// The wave file reader behind the format picture. Every length it takes from the file is checked
// against the bytes it has before it is used, so a truncated or lying header reads as "no format".

#include "watchpanel/wave_format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace watchpanel {
namespace {

constexpr std::size_t kChunkHeader = 8;  // four-letter id, 32-bit little-endian size
constexpr std::size_t kPcmFormatSize = 16;

std::uint16_t le16(std::span<const std::byte> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(bytes[at]) | std::to_integer<unsigned>(bytes[at + 1])
                                                                                 << 8);
}

std::uint32_t le32(std::span<const std::byte> bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(le16(bytes, at)) | static_cast<std::uint32_t>(le16(bytes, at + 2)) << 16;
}

bool hasId(std::span<const std::byte> bytes, std::size_t at, const char (&id)[5])
{
    return std::memcmp(bytes.data() + at, id, 4) == 0;
}

}  // namespace

std::optional<WaveFormat> parseWaveFormat(std::span<const std::byte> bytes)
{
    if (bytes.size() < 12 || !hasId(bytes, 0, "RIFF") || !hasId(bytes, 8, "WAVE")) return std::nullopt;
    // The form ends where its length says, or where the bytes do if they end first. 64-bit sums: no
    // length from the file can wrap them.
    const std::uint64_t formEnd = std::min<std::uint64_t>(kChunkHeader + std::uint64_t{le32(bytes, 4)}, bytes.size());
    std::uint64_t at = 12;
    while (at + kChunkHeader <= formEnd) {
        const std::uint64_t size = le32(bytes, at + 4);
        const std::uint64_t body = at + kChunkHeader;
        if (hasId(bytes, at, "fmt ")) {
            // The PCM fields have to be there; an extended format's extra bytes are not needed.
            if (size < kPcmFormatSize || body + kPcmFormatSize > formEnd) return std::nullopt;
            WaveFormat format;
            format.formatTag = le16(bytes, body);
            format.channels = le16(bytes, body + 2);
            format.sampleRate = le32(bytes, body + 4);
            format.byteRate = le32(bytes, body + 8);
            format.blockAlign = le16(bytes, body + 12);
            format.bitsPerSample = le16(bytes, body + 14);
            if (format.channels == 0) return std::nullopt;  // no sound to describe
            return format;
        }
        at = body + size + (size & 1);  // a chunk of odd length is followed by a pad byte
    }
    return std::nullopt;
}

int waveFormatCode(const WaveFormat& format)
{
    int code = format.channels == 1 ? 0 : 6;
    if (format.sampleRate > 22050) {
        code += 4;
    } else if (format.sampleRate == 22050) {
        code += 2;
    }
    if (format.bitsPerSample > 8) code += 1;
    return code;
}

std::optional<WaveHeader> readWaveHeader(const std::string& path)
{
    // Non-blocking open: a named pipe picked as a sound would otherwise wait for a writer forever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<WaveHeader> header;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        header.emplace();
        header->fileSize = static_cast<std::uint64_t>(info.st_size);
        header->bytes.resize(kWaveHeaderLimit);
        std::size_t filled = 0;
        while (filled < header->bytes.size()) {
            const ssize_t got = ::read(fd, header->bytes.data() + filled, header->bytes.size() - filled);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                header.reset();
                break;
            }
            if (got == 0) break;
            filled += static_cast<std::size_t>(got);
        }
        if (header) header->bytes.resize(filled);
    }
    ::close(fd);
    return header;
}

int waveFormatPicture(const std::string& path)
{
    constexpr int kNoFile = 312;
    constexpr int kFirst = 300;  // also the picture of a file that is not a readable wave file
    if (path.empty()) return kNoFile;
    const auto header = readWaveHeader(path);
    if (!header) return kFirst;
    const auto format = parseWaveFormat(std::as_bytes(std::span(header->bytes)));
    return format ? kFirst + waveFormatCode(*format) : kFirst;
}

}  // namespace watchpanel
