#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

namespace plat::registry {

// Counters in a small file that every process of a store maps: a writer bumps them after its change is
// committed, and a reader that saw a counter unchanged since its last read may keep what it read
// without asking the store again. Keys and values share counters by hash (a collision costs a read).
class ChangeCounters {
public:
    // Maps `file`, making it (user-only) where it is missing; nothing when it cannot be mapped.
    static std::unique_ptr<ChangeCounters> open(const std::filesystem::path& file);
    ~ChangeCounters();
    ChangeCounters(const ChangeCounters&) = delete;
    ChangeCounters& operator=(const ChangeCounters&) = delete;

    // Bumped when a key is made or deleted: key ids and every key's values may have changed.
    std::uint32_t keys() const;
    void keysChanged();
    // Bumped when value `name` of key `id` is set or deleted: one counter for the key's values as a
    // whole and one for the value.
    std::uint32_t valuesOf(std::int64_t id) const;
    std::uint32_t valueOf(std::int64_t id, std::string_view name) const;
    void valueChanged(std::int64_t id, std::string_view name);

private:
    explicit ChangeCounters(std::uint32_t* words) : m_words(words) {}
    std::uint32_t* m_words;
};

}  // namespace plat::registry
