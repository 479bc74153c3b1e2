// A box the library asks for reaches the program's process-wide hook: the program below exports it,
// as a windowing program does, and the library finds it although it has its own platform layer.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "watchcore.h"

namespace {
std::vector<std::string> shown;
}

extern "C" __attribute__((visibility("default"))) void kestrelMessageBoxHook(const char* caption, const char* text,
                                                                             void* owner)
{
    shown.push_back(std::string(caption) + "|" + text + "|" + (owner != nullptr ? "owned" : "none"));
}

TEST(MessageBoxHook, ReachesTheProgramFromInsideTheLibrary)
{
    int window = 0;
    vDisplayError(reinterpret_cast<QWidget*>(&window), 1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "VELTA ｹｽﾄﾚﾙ|メモリがありません。\nアプリケーションを終了して下さい。|owned");
}
