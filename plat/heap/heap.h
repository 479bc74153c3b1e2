#pragma once
// A heap object: the lists the common library builds are allocated from a heap the caller passes,
// and the caller frees them (block by block, or all at once by destroying the heap).
//
// Threads: every member may be called from any thread.

#include <cstddef>
#include <mutex>

namespace plat {

class Heap {
public:
    // `maximumBytes` 0 lets the heap grow without limit; otherwise allocations that would take the
    // bytes in use beyond it fail.
    static Heap* create(std::size_t maximumBytes = 0);
    // Frees every block still allocated, then the heap. Null is ignored.
    static void destroy(Heap* heap);

    // A zero-filled block of `bytes` (16-byte aligned), or null when it cannot be had.
    void* allocate(std::size_t bytes);
    // Frees a block of this heap. False (and nothing freed) for null or a block of another heap.
    bool free(void* block);

    std::size_t bytesInUse() const;

private:
    struct Block;
    explicit Heap(std::size_t maximumBytes) : m_maximum(maximumBytes) {}
    ~Heap();

    const std::size_t m_maximum;
    mutable std::mutex m_mutex;
    Block* m_blocks = nullptr;  // guarded by m_mutex
    std::size_t m_inUse = 0;    // guarded by m_mutex
};

}  // namespace plat
