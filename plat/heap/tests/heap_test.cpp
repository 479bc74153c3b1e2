#include "plat/heap/heap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

TEST(Heap, BlocksAreZeroFilledAlignedAndCounted)
{
    plat::Heap* heap = plat::Heap::create();
    ASSERT_NE(heap, nullptr);
    auto* a = static_cast<unsigned char*>(heap->allocate(100));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 16, 0u);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(a[i], 0) << "byte " << i;
    std::memset(a, 0xAB, 100);
    EXPECT_EQ(heap->bytesInUse(), 100u);
    EXPECT_TRUE(heap->free(a));
    EXPECT_EQ(heap->bytesInUse(), 0u);
    plat::Heap::destroy(heap);
}

TEST(Heap, AMaximumSizeRefusesWhatWouldPassIt)
{
    plat::Heap* heap = plat::Heap::create(16384);
    void* big = heap->allocate(16000);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(heap->allocate(385), nullptr);
    void* rest = heap->allocate(384);
    EXPECT_NE(rest, nullptr);
    EXPECT_TRUE(heap->free(big));
    EXPECT_NE(heap->allocate(16000), nullptr) << "freed bytes are available again";
    EXPECT_EQ(heap->allocate(SIZE_MAX), nullptr);
    plat::Heap::destroy(heap);
}

TEST(Heap, FreeRefusesBlocksOfAnotherHeapAndNull)
{
    plat::Heap* one = plat::Heap::create();
    plat::Heap* two = plat::Heap::create();
    void* block = one->allocate(8);
    EXPECT_FALSE(two->free(block));
    EXPECT_FALSE(one->free(nullptr));
    EXPECT_TRUE(one->free(block));
    // Destroying a heap frees what its owner left in it (the leak checker of a sanitizer build sees it).
    two->allocate(64);
    two->allocate(64);
    plat::Heap::destroy(two);
    plat::Heap::destroy(one);
    plat::Heap::destroy(nullptr);
}
