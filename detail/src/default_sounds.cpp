// The default alert sounds, copied from the program's resources into the root's media folder where
// the settings point. A file that is there is the user's: it is never written over, not even for a
// moment. Each copy is written in full to a private temporary file and then linked under its name,
// which fails if the name exists; so a half-written sound never appears under a real name either.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "plat/base/system_root.h"
#include "plat/base/trace.h"
#include "plat/base/write_all.h"
#include "sound.h"

namespace watchpanel {
namespace {

constexpr const char* kDefaultSounds[] = {
    "01READY.WAV",  "02STOP.WAV",   "03PPROUT.WAV", "04PPRFEW.WAV", "05JAM.WAV",    "06PCOVER.WAV",
    "07TONFEW.WAV", "08TONOUT.WAV", "09INKFEW.WAV", "10INKOUT.WAV", "11COMERR.WAV", "12ERROR.WAV",
};

bool writeAll(int fd, const QByteArray& bytes)
{
    return plat::writeAll(fd, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void traceFailure(const std::filesystem::path& path, const char* what)
{
    plat::trace("default sounds: " + std::string(what) + " " + path.string() + ": " + std::strerror(errno));
}

// Where hard links are not supported: create the name exclusively and write it; a failed write removes
// the file again (it is ours: the exclusive create made it).
void writeExclusive(const std::filesystem::path& target, const QByteArray& bytes)
{
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno != EEXIST) traceFailure(target, "cannot create");
        return;
    }
    const bool written = writeAll(fd, bytes);
    if (!written) traceFailure(target, "cannot write");
    if (::close(fd) != 0 || !written) ::unlink(target.c_str());
}

void install(const std::filesystem::path& media, const char* name)
{
    const std::filesystem::path target = media / name;
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0) return;  // the user's, whatever it holds
    QFile resource(QStringLiteral(":/sounds/") + QString::fromLatin1(name));
    if (!resource.open(QIODevice::ReadOnly)) {
        plat::trace(std::string("default sounds: no resource for ") + name);
        return;
    }
    const QByteArray bytes = resource.readAll();

    std::string temporary = (media / ("." + std::string(name) + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());  // 0600, a name nobody else has
    if (fd < 0) {
        traceFailure(temporary, "cannot create");
        return;
    }
    const bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    if (!written) traceFailure(temporary, "cannot write");
    if (::close(fd) == 0 && written && ::link(temporary.c_str(), target.c_str()) != 0) {
        if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS) {
            writeExclusive(target, bytes);
        } else if (errno != EEXIST) {  // EEXIST: it appeared meanwhile; it is left as it is
            traceFailure(target, "cannot make");
        }
    }
    ::unlink(temporary.c_str());
}

}  // namespace

void installDefaultSounds()
{
    const std::filesystem::path media = plat::windowsDir() / "media";
    // The root makes the folder once per process; it may have gone since.
    if (::mkdir(media.c_str(), 0700) != 0 && errno != EEXIST) {
        traceFailure(media, "cannot make");
        return;
    }
    for (const char* name : kDefaultSounds) install(media, name);
}

}  // namespace watchpanel
