#include "plat/base/system_root.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>

#include "testsupport/temp_root.h"

namespace fs = std::filesystem;

TEST(SystemRoot, FollowsKestrelRootAndMakesItsFoldersOnFirstUse)
{
    testsupport::TempRoot base;
    const fs::path root = base.path() / "nested" / "root";
    ::setenv("KESTREL_ROOT", root.c_str(), 1);

    EXPECT_EQ(plat::systemRoot(), root);
    EXPECT_TRUE(fs::is_directory(root));
    EXPECT_EQ(plat::registryFile(), root / "registry.db");
    EXPECT_FALSE(fs::exists(root / "registry.db")) << "the store file is the store's to make";
    EXPECT_TRUE(fs::is_directory(plat::runDir()));
    EXPECT_TRUE(fs::is_directory(plat::tmpDir()));
    const fs::path windows = plat::windowsDir();
    EXPECT_TRUE(fs::is_directory(windows / "media"));
    EXPECT_TRUE(fs::is_directory(windows / "system"));
}

TEST(SystemRoot, FallsBackToXdgDataHomeThenHome)
{
    testsupport::TempRoot base;
    ::unsetenv("KESTREL_ROOT");
    ::setenv("XDG_DATA_HOME", (base.path() / "data").c_str(), 1);
    EXPECT_EQ(plat::systemRoot(), base.path() / "data" / "velta-kestrel");

    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", base.path().c_str(), 1);
    EXPECT_EQ(plat::systemRoot(), base.path() / ".local" / "share" / "velta-kestrel");
}

namespace {

unsigned modeOf(const fs::path& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0xFFFF;
}

}  // namespace

TEST(SystemRoot, ItsFoldersArePrivateWhateverTheUmask)
{
    testsupport::TempRoot base;
    const fs::path root = base.path() / "open" / "root";
    ::setenv("KESTREL_ROOT", root.c_str(), 1);
    const mode_t saved = ::umask(0);
    const fs::path windows = plat::windowsDir();
    const fs::path run = plat::runDir();
    const fs::path tmp = plat::tmpDir();
    ::umask(saved);
    for (const fs::path& folder :
         {root, run, tmp, windows, windows / "media", windows / "system", windows / "RCTOOL"}) {
        EXPECT_EQ(modeOf(folder), 0700u) << folder;
    }
}

TEST(SystemRoot, FoldersOfAnEarlierVersionWithWiderModesAreNarrowed)
{
    testsupport::TempRoot base;
    const fs::path root = base.path() / "old";
    ::setenv("KESTREL_ROOT", root.c_str(), 1);
    fs::create_directories(root / "run");
    fs::create_directories(root / "tmp");
    ASSERT_EQ(::chmod(root.c_str(), 0755), 0);
    ASSERT_EQ(::chmod((root / "run").c_str(), 0777), 0);
    ASSERT_EQ(::chmod((root / "tmp").c_str(), 0775), 0);
    plat::runDir();
    plat::tmpDir();
    EXPECT_EQ(modeOf(root), 0700u);
    EXPECT_EQ(modeOf(root / "run"), 0700u);
    EXPECT_EQ(modeOf(root / "tmp"), 0700u);
}

TEST(SystemRoot, MakingPrivateLeavesSharedFoldersAndTheOwnersBitsAlone)
{
    testsupport::TempRoot base;
    const fs::path shared = base.path() / "shared";
    fs::create_directories(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    plat::makePrivate(shared);
    EXPECT_EQ(modeOf(shared), 01777u) << "a sticky folder is shared by design";

    const fs::path file = base.path() / "file";
    {
        std::ofstream(file) << "x";
    }
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    plat::makePrivate(file);
    EXPECT_EQ(modeOf(file), 0400u);
    plat::makePrivate(base.path() / "missing");  // nothing to do, nothing made
    EXPECT_FALSE(fs::exists(base.path() / "missing"));
}
