#include "plat/base/system_root.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <system_error>

#include "plat/base/trace.h"

namespace fs = std::filesystem;

namespace plat {
namespace {

fs::path rootFromEnvironment()
{
    if (const char* root = std::getenv("KESTREL_ROOT"); root != nullptr && *root != '\0') {
        return fs::path(root);
    }
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != '\0') {
        return fs::path(data) / "velta-kestrel";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : ".") / ".local" / "share" / "velta-kestrel";
}

// Makes every missing folder down to `folder` with mode 0700, whatever the umask. Folders above the
// root that have to be made get 0700 as well: that is what a data folder of the user's should have.
bool makePrivateFolders(const fs::path& folder, std::string& why)
{
    fs::path partial;
    for (const auto& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) == 0) {
            ::chmod(partial.c_str(), 0700);  // the umask may have taken the owner's bits too
        } else if (errno != EEXIST) {
            why = std::strerror(errno);
            return false;
        }
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        why = "it is not a folder";
        return false;
    }
    return true;
}

// Makes a folder once per process; later calls cost a set lookup instead of a stat. A folder that
// cannot be made is still returned: the operation that uses it fails with its own clear error.
fs::path madeFolder(fs::path folder)
{
    static std::mutex mutex;
    static std::set<fs::path> made;
    std::lock_guard lock(mutex);
    if (made.count(folder) == 0) {
        std::string why;
        if (!makePrivateFolders(folder, why)) {
            trace("system root: cannot make " + folder.string() + ": " + why);
            return folder;
        }
        // Earlier versions made these folders with the umask's modes; they hold the user's store.
        makePrivate(folder);
        made.insert(folder);
    }
    return folder;
}

}  // namespace

void makePrivate(const fs::path& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || (info.st_mode & 077) == 0) return;
    // Only what is ours and is meant to be ours alone: never another user's file, a link, or a folder
    // that is shared by design (sticky, like /tmp).
    if (info.st_uid != ::geteuid() || S_ISLNK(info.st_mode) || (info.st_mode & S_ISVTX) != 0) return;
    if (::chmod(path.c_str(), info.st_mode & 0700) != 0) {
        trace("system root: cannot make " + path.string() + " private: " + std::strerror(errno));
    }
}

fs::path systemRoot() { return madeFolder(rootFromEnvironment()); }

const std::string& rootEnvironment()
{
    thread_local std::string names;  // rebuilt in place: no allocation once it has grown
    names.clear();
    for (const char* variable : {"KESTREL_ROOT", "XDG_DATA_HOME", "HOME"}) {
        const char* value = std::getenv(variable);
        names.append(value != nullptr ? value : "").push_back('\0');
    }
    return names;
}

fs::path registryFile() { return systemRoot() / "registry.db"; }

fs::path windowsDir()
{
    fs::path windows = madeFolder(systemRoot() / "windows");
    madeFolder(windows / "media");
    madeFolder(windows / "system");
    madeFolder(windows / "RCTOOL");
    return windows;
}

fs::path runDir() { return madeFolder(systemRoot() / "run"); }

fs::path tmpDir() { return madeFolder(systemRoot() / "tmp"); }

}  // namespace plat
