#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kestrel_status {

bool replaceFile(const std::filesystem::path& file, std::string_view text, std::string& why)
{
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    std::string pattern = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        why = "cannot make a file in " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    auto fail = [&](const std::string& what) {
        why = what + " " + name.data() + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(name.data());
        return false;
    };
    // Readable by the collector, which commonly runs as a user of its own.
    if (::fchmod(fd, 0644) != 0) return fail("cannot set the mode of");
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("cannot write");
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        why = std::string("cannot write ") + name.data() + ": " + std::strerror(errno);
        ::unlink(name.data());
        return false;
    }
    if (::rename(name.data(), file.c_str()) != 0) {
        why = "cannot replace " + file.string() + ": " + std::strerror(errno);
        ::unlink(name.data());
        return false;
    }
    return true;
}

}  // namespace kestrel_status
