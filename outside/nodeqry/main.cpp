// NODEQRY.EXE FILE: the address lookup. FILE holds a 12-byte IPX address (network 4, node 6, socket 2);
// the answer replaces it: a 16-bit result code (little-endian; 0 = found) and the 6-byte local target,
// the node through which the address is reached. On this system every network is the loopback network
// 00000001, reached directly: the local target is the address's own node.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "plat/base/write_all.h"

namespace {

enum Result : std::uint16_t { kFound = 0, kNoRoute = 0x00FA, kMalformed = 0xFFFF };
enum Exit { kAnswered = 0, kNotAnAddress = 1, kNoFile = 2, kUsage = 3 };

constexpr const char* kHelp =
    "usage: NODEQRY.EXE FILE\n"
    "Looks up the local target of the IPX address in FILE (exactly 12 bytes: network, node, socket)\n"
    "and rewrites FILE with 8 bytes: a 16-bit little-endian result code and the 6-byte local target.\n"
    "Result codes: 0 found (the local target is the address's own node), 0x00FA no route (not the\n"
    "loopback network 00000001 or not a 127.x.x.x node), 0xFFFF FILE did not hold 12 bytes.\n"
    "Exit codes: 0 answered (whatever the result code), 1 FILE did not hold 12 bytes (answered with\n"
    "0xFFFF), 2 FILE cannot be read or written (not answered), 3 wrong arguments.\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kHelp, stdout);
        return kAnswered;
    }
    if (argc != 2) {
        std::fputs(kHelp, stderr);
        return kUsage;
    }
    const int fd = ::open(argv[1], O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        std::fprintf(stderr, "NODEQRY.EXE: %s: %s\n", argv[1], std::strerror(errno));
        return kNoFile;
    }
    // One byte more than an address, to tell a longer file from an address.
    std::array<std::uint8_t, 13> address{};
    std::size_t got = 0;
    while (got < address.size()) {
        const ssize_t n = ::read(fd, address.data() + got, address.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            std::fprintf(stderr, "NODEQRY.EXE: %s: %s\n", argv[1], std::strerror(errno));
            ::close(fd);
            return kNoFile;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    std::array<std::uint8_t, 8> answer{};
    std::uint16_t result = kMalformed;
    if (got == 12) {
        const bool loopbackNetwork = address[0] == 0 && address[1] == 0 && address[2] == 0 && address[3] == 1;
        const bool loopbackNode = address[4] == 0 && address[5] == 0 && address[6] == 127;
        result = loopbackNetwork && loopbackNode ? kFound : kNoRoute;
        if (result == kFound) std::copy(address.begin() + 4, address.begin() + 10, answer.begin() + 2);
    }
    answer[0] = static_cast<std::uint8_t>(result);
    answer[1] = static_cast<std::uint8_t>(result >> 8);
    const bool written =
        ::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0 && plat::writeAll(fd, answer.data(), answer.size());
    ::close(fd);
    if (!written) {
        std::fprintf(stderr, "NODEQRY.EXE: cannot write the answer to %s\n", argv[1]);
        return kNoFile;
    }
    return result == kMalformed ? kNotAnAddress : kAnswered;
}
