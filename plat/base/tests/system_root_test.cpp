#include "plat/base/system_root.h"

#include <gtest/gtest.h>
#include <stdlib.h>

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
