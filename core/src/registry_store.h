#pragma once
// The per-printer registry store as the rest of Watchcore uses it: one key of the system, one value,
// one open-access-close per call, on the store the export's services give. Flushing follows the key: every set on
// \Vigilmon and on "KswList\Notify" is flushed at once, sets on \StEnviron and "KswList\Env" are not.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plat::registry {
class Store;
}

namespace watchcore {

enum class StoreKey {
    Vigilmon,    // local machine: printer key + "\Vigilmon"; owner = printer name
    StEnviron,   // local machine: printer key + "\StEnviron"; owner = printer name
    Driver,      // local machine: spooler driver key; owner = driver name
    Monitor,     // local machine: spooler monitor key; owner = monitor name
    ListEnv,     // current user: "...\KswList\Env"; no owner
    ListNotify,  // current user: "...\KswList\Notify"; no owner
};

// The key's path, or nothing when it would not fit the system's 256-byte path buffer (255 bytes and
// the terminating zero), which limits printer names to 197 bytes.
std::optional<std::string> storeKeyPath(StoreKey key, std::string_view owner);

// A DWORD getter reads at most 4 bytes without looking at the stored type; `out` is untouched on
// failure. A text getter fills `buffer` (capacity `size`) with the text and its terminating zero,
// whether or not the writer stored the zero.
bool getDword(plat::registry::Store& store, StoreKey key, std::string_view owner, std::string_view name,
              std::uint32_t& out);
bool setDword(plat::registry::Store& store, StoreKey key, std::string_view owner, std::string_view name,
              std::uint32_t value);
bool getText(plat::registry::Store& store, StoreKey key, std::string_view owner, std::string_view name, char* buffer,
             std::uint32_t size);
// Stores the text with its terminating zero.
bool setText(plat::registry::Store& store, StoreKey key, std::string_view owner, std::string_view name,
             std::string_view text);
bool getBinary(plat::registry::Store& store, StoreKey key, std::string_view owner, std::string_view name, void* buffer,
               std::uint32_t size);
bool setBinary(plat::registry::Store& store, StoreKey key, std::string_view owner, std::string_view name,
               const void* data, std::uint32_t size);

// Creates the key (class "WATCHLIST") or opens it, flushes it when it is a flushed key, closes it.
bool createStoreKey(plat::registry::Store& store, StoreKey key, std::string_view owner);

// The name of a numbered value ("AreatType%ld" with n).
std::string numberedName(const char* format, long n);

}  // namespace watchcore
