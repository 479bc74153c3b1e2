#pragma once
// A fresh system root for one test: a new folder under the temporary directory, made the process's
// KESTREL_ROOT for the test's lifetime and removed afterwards.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "plat/registry/registry.h"

namespace testsupport {

class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// The store of the current root (KESTREL_ROOT), opened once per root and process.
plat::registry::Store& rootStore();

// Fixture base: every test gets its own root.
class RootTest : public ::testing::Test {
protected:
    TempRoot root;
};

// Polls `condition` until it holds or `bound` passes; true if it held. For waiting on another process.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound = std::chrono::seconds(20));

}  // namespace testsupport
