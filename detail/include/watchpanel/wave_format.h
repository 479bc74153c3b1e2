#pragma once
// The "fmt " chunk of a wave file: what the settings page's format picture shows, and what the sound
// output checks before it hands a file to the desktop. The reader looks only at the start of a file, so
// a file of any size, or one that lies about its lengths, costs at most one bounded read.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace watchpanel {

struct WaveFormat {
    std::uint16_t formatTag = 0;  // 1: PCM
    std::uint16_t channels = 0;   // never 0 in a parsed format
    std::uint32_t sampleRate = 0;
    std::uint32_t byteRate = 0;  // as the file says; not checked against the other fields
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
};

// How much of a file is read to find its "fmt " chunk; writers put it first or close behind.
inline constexpr std::size_t kWaveHeaderLimit = 64 * 1024;

// The "fmt " chunk of the "RIFF" form of type "WAVE" that `bytes` begins; nullopt when there is none
// inside the bytes (or inside the form's own length, if shorter), when it is shorter than the 16 bytes
// of a PCM format, or when it names no channel.
std::optional<WaveFormat> parseWaveFormat(std::span<const std::byte> bytes);

// The format picture's code: 0 for one channel, 6 for more; plus 4 above 22050 samples a second, plus
// 2 at exactly 22050; plus 1 above 8 bits a sample.
int waveFormatCode(const WaveFormat& format);

struct WaveHeader {
    std::string bytes;           // the file's first kWaveHeaderLimit bytes, or all of a shorter file
    std::uint64_t fileSize = 0;  // the whole file's
};

// The start of a regular file; never waits on a pipe or a device. nullopt when it cannot be opened or
// read, or is not a regular file.
std::optional<WaveHeader> readWaveHeader(const std::string& path);

}  // namespace watchpanel
