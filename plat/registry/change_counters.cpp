#include "plat/registry/change_counters.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace plat::registry {
namespace {

// The keys' counter, then one per key, then one per value.
constexpr std::size_t kKeyCounters = 2047;
constexpr std::size_t kValueCounters = 4096;
constexpr std::size_t kWords = 1 + kKeyCounters + kValueCounters;
constexpr std::size_t kBytes = kWords * sizeof(std::uint32_t);

std::size_t keyWord(std::int64_t id) { return 1 + static_cast<std::uint64_t>(id) % kKeyCounters; }

std::size_t valueWord(std::int64_t id, std::string_view name)
{
    // FNV-1a over the id and the name in the store's case rule (ASCII letters fold).
    std::uint64_t hash = 14695981039346656037ull;
    const auto mix = [&](unsigned char c) { hash = (hash ^ c) * 1099511628211ull; };
    for (int shift = 0; shift < 64; shift += 8)
        mix(static_cast<unsigned char>(static_cast<std::uint64_t>(id) >> shift));
    for (char c : name) mix(static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    return 1 + kKeyCounters + hash % kValueCounters;
}

std::uint32_t load(std::uint32_t& word) { return std::atomic_ref(word).load(std::memory_order_acquire); }
void bump(std::uint32_t& word) { std::atomic_ref(word).fetch_add(1, std::memory_order_acq_rel); }

}  // namespace

std::unique_ptr<ChangeCounters> ChangeCounters::open(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return nullptr;
    struct stat info {};
    // Growing a short file only adds zeros, so two processes making it at once agree.
    bool sized = ::fstat(fd, &info) == 0 &&
                 (static_cast<std::size_t>(info.st_size) >= kBytes || ::ftruncate(fd, static_cast<off_t>(kBytes)) == 0);
    void* words = sized ? ::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    ::close(fd);
    if (words == MAP_FAILED) return nullptr;
    return std::unique_ptr<ChangeCounters>(new ChangeCounters(static_cast<std::uint32_t*>(words)));
}

ChangeCounters::~ChangeCounters() { ::munmap(m_words, kBytes); }

std::uint32_t ChangeCounters::keys() const { return load(m_words[0]); }
void ChangeCounters::keysChanged() { bump(m_words[0]); }

std::uint32_t ChangeCounters::valuesOf(std::int64_t id) const { return load(m_words[keyWord(id)]); }

std::uint32_t ChangeCounters::valueOf(std::int64_t id, std::string_view name) const
{
    return load(m_words[valueWord(id, name)]);
}

void ChangeCounters::valueChanged(std::int64_t id, std::string_view name)
{
    bump(m_words[valueWord(id, name)]);
    bump(m_words[keyWord(id)]);
}

}  // namespace plat::registry
