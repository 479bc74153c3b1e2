#include "watchpanel/outside_programs.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "plat/base/system_root.h"
#include "plat/base/trace.h"
#include "plat/proc/process.h"
#include "watchcore.h"

namespace watchpanel {

namespace {

constexpr const char* kQueueProgram = "kestrel-queue";
constexpr const char* kSetupLibrary = "libcfgprn32.so";
constexpr const char* kSetupEntry = "VLSetPrin32";
constexpr const char* kGapTool = "TUNEUP.EXE";

using SetupEntry = std::int32_t (*)(QWidget*, const char*, const char*, const char*);

// The folder of the running program, where its companions are installed.
std::filesystem::path programDirectory()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::filesystem::current_path(error);
    return self.parent_path();
}

// The setup library: the program directory's copy first, then one on the library path. Once loaded
// it stays loaded: a dialog of it may still be on the way out when the call returns.
void* loadSetupLibrary(std::string& why)
{
    const std::string local = (programDirectory() / kSetupLibrary).string();
    if (void* handle = ::dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
    const char* error = ::dlerror();
    why = error != nullptr ? error : local + ": not found";
    if (void* handle = ::dlopen(kSetupLibrary, RTLD_NOW | RTLD_LOCAL)) return handle;
    error = ::dlerror();
    why += std::string("; ") + (error != nullptr ? error : "not on the library path");
    return nullptr;
}

// The gap tool installed with the programs in `directory`: beside them, or in the RCTOOL folder the
// build keeps next to the programs' folder. An absolute path, so the link works from any root.
std::optional<std::filesystem::path> installedGapTool(const std::filesystem::path& directory)
{
    for (const std::filesystem::path& candidate : {directory / kGapTool, directory / ".." / "RCTOOL" / kGapTool}) {
        struct stat info {};
        if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || ::access(candidate.c_str(), X_OK) != 0)
            continue;
        std::error_code error;
        std::filesystem::path canonical = std::filesystem::canonical(candidate, error);
        if (!error) return canonical;
    }
    return std::nullopt;
}

}  // namespace

GapToolLink linkGapTool() { return linkGapTool(programDirectory()); }

GapToolLink linkGapTool(const std::filesystem::path& programDirectory)
{
    const std::filesystem::path link = plat::windowsDir() / "RCTOOL" / kGapTool;
    struct stat info {};
    if (::lstat(link.c_str(), &info) == 0) return GapToolLink::AlreadyThere;
    const std::optional<std::filesystem::path> tool = installedGapTool(programDirectory);
    if (!tool) return GapToolLink::NotInstalled;
    // symlink() never replaces: a tool the user puts there meanwhile stays theirs.
    if (::symlink(tool->c_str(), link.c_str()) == 0) return GapToolLink::Made;
    if (errno == EEXIST) return GapToolLink::AlreadyThere;
    plat::trace("gap tool: cannot link " + link.string() + " to " + tool->string() + ": " + std::strerror(errno));
    return GapToolLink::Failed;
}

bool openJobWindow(const std::string& printer)
{
    const std::filesystem::path directory = programDirectory();
    std::array<char, 260> path{};
    if (fCreateShortCutFile(directory.c_str(), printer.c_str(), path.data()) != 1) {
        plat::trace("job window: no shortcut for \"" + printer + "\" in " + directory.string());
        return false;
    }
    // The queue program gets the shortcut as one argument; no shell ever sees the path or the name.
    auto started =
        plat::proc::start((directory / kQueueProgram).string(), {std::string(path.data())}, plat::proc::Show::Normal);
    if (!started) {
        plat::trace("job window: " + started.error().detail);
        std::error_code ignored;
        std::filesystem::remove(path.data(), ignored);  // nobody will read it
        return false;
    }
    return true;
}

bool openPrinterSetup(QWidget* owner, const std::string& driverFile, const std::string& printer,
                      const std::string& port)
{
    std::string why;
    void* library = loadSetupLibrary(why);
    if (library == nullptr) {
        plat::trace("printer setup: no " + std::string(kSetupLibrary) + ": " + why);
        return false;
    }
    auto entry = reinterpret_cast<SetupEntry>(::dlsym(library, kSetupEntry));
    if (entry == nullptr) {
        plat::trace("printer setup: " + std::string(kSetupLibrary) + " has no " + kSetupEntry);
        return false;
    }
    entry(owner, driverFile.c_str(), printer.c_str(), port.c_str());  // its result is its own business
    return true;
}

}  // namespace watchpanel
