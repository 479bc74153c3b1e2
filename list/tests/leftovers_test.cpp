#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "list_program.h"
#include "testsupport/temp_root.h"

namespace fs = std::filesystem;

TEST(Leftovers, OnlyShortcutsAndTemporariesAMinuteOldAreDeleted)
{
    testsupport::TempRoot root;
    const auto make = [&](const char* name, std::chrono::minutes age) {
        const fs::path path = root.path() / name;
        std::ofstream(path) << "x";
        fs::last_write_time(path, fs::file_time_type::clock::now() - age);
        return path;
    };
    const auto oldShortcut = make("KSW1A2B.LNK", std::chrono::minutes(5));
    const auto oldTemporary = make("ksw0001.tmp", std::chrono::minutes(5));
    const auto freshShortcut = make("KSW3C4D.LNK", std::chrono::minutes(0));
    const auto other = make("notes.lnk", std::chrono::minutes(5));
    watchlist::removeLeftovers(root.path().string());
    EXPECT_FALSE(fs::exists(oldShortcut));
    EXPECT_FALSE(fs::exists(oldTemporary));
    EXPECT_TRUE(fs::exists(freshShortcut)) << "a queue window may be about to read it";
    EXPECT_TRUE(fs::exists(other));
}
