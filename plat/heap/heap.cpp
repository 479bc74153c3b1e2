#include "plat/heap/heap.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace plat {

// Each block carries a header in front of it: the list links let destroy() free what the caller left,
// the owner and the tag let free() refuse a pointer that is not one of ours.
struct alignas(16) Heap::Block {
    Block* prev;
    Block* next;
    Heap* owner;
    std::size_t bytes;
    std::uint64_t tag;
};

namespace {
constexpr std::uint64_t kBlockTag = 0x4B45535452454C48ull;  // "KESTRELH"
}

Heap* Heap::create(std::size_t maximumBytes) { return new (std::nothrow) Heap(maximumBytes); }

void Heap::destroy(Heap* heap) { delete heap; }

Heap::~Heap()
{
    for (Block* block = m_blocks; block != nullptr;) {
        Block* next = block->next;
        block->tag = 0;
        std::free(block);
        block = next;
    }
}

void* Heap::allocate(std::size_t bytes)
{
    if (bytes > SIZE_MAX - sizeof(Block)) return nullptr;
    std::lock_guard lock(m_mutex);
    if (m_maximum != 0 && (bytes > m_maximum || m_inUse > m_maximum - bytes)) return nullptr;
    auto* block = static_cast<Block*>(std::calloc(1, sizeof(Block) + bytes));
    if (block == nullptr) return nullptr;
    *block = Block{nullptr, m_blocks, this, bytes, kBlockTag};
    if (m_blocks != nullptr) m_blocks->prev = block;
    m_blocks = block;
    m_inUse += bytes;
    return block + 1;
}

bool Heap::free(void* pointer)
{
    if (pointer == nullptr) return false;
    std::lock_guard lock(m_mutex);
    Block* block = static_cast<Block*>(pointer) - 1;
    if (block->tag != kBlockTag || block->owner != this) return false;
    (block->prev ? block->prev->next : m_blocks) = block->next;
    if (block->next != nullptr) block->next->prev = block->prev;
    m_inUse -= block->bytes;
    block->tag = 0;
    std::free(block);
    return true;
}

std::size_t Heap::bytesInUse() const
{
    std::lock_guard lock(m_mutex);
    return m_inUse;
}

}  // namespace plat
