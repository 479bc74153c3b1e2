#include "plat/base/system_root.h"

#include <cstdlib>
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

// Makes a folder once per process; later calls cost a set lookup instead of a stat. A folder that
// cannot be made is still returned: the operation that uses it fails with its own clear error.
fs::path madeFolder(fs::path folder)
{
    static std::mutex mutex;
    static std::set<fs::path> made;
    std::lock_guard lock(mutex);
    if (made.count(folder) == 0) {
        std::error_code error;
        fs::create_directories(folder, error);
        if (error) {
            trace("system root: cannot make " + folder.string() + ": " + error.message());
            return folder;
        }
        made.insert(folder);
    }
    return folder;
}

}  // namespace

fs::path systemRoot() { return madeFolder(rootFromEnvironment()); }

fs::path registryFile() { return systemRoot() / "registry.db"; }

fs::path windowsDir()
{
    fs::path windows = systemRoot() / "windows";
    madeFolder(windows / "media");
    madeFolder(windows / "system");
    madeFolder(windows / "RCTOOL");
    return madeFolder(windows);
}

fs::path runDir() { return madeFolder(systemRoot() / "run"); }

fs::path tmpDir() { return madeFolder(systemRoot() / "tmp"); }

}  // namespace plat
