#include "testsupport/temp_root.h"

#include <stdlib.h>

#include <stdexcept>
#include <string>
#include <thread>

namespace testsupport {

plat::registry::Store& rootStore()
{
    auto store = plat::registry::Store::forCurrentRoot();
    if (!store) throw std::runtime_error("the test root's store does not open: " + store.error().detail);
    return *store.value();
}

TempRoot::TempRoot()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed for " << pattern;
    }
    m_path = pattern;
    ::setenv("KESTREL_ROOT", m_path.c_str(), 1);
}

TempRoot::~TempRoot()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
    ::unsetenv("KESTREL_ROOT");
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace testsupport
