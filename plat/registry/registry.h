#pragma once
// The registry store: keys and values in two roots, kept in one SQLite database per system root
// (registry.db) that every process of the system opens at once.
//
// - Key paths are backslash-separated ("Software\VELTA\VELTA Kestrel\KswList\Notify"); key paths and
//   value names are compared without regard to case (ASCII letters), and keep the spelling of their
//   first writer. A leading or trailing backslash is ignored; an empty component is refused.
// - Values are typed: DWORD (4 bytes, little-endian), string (bytes, with or without a terminating
//   zero, exactly as the writer gave them), binary.
// - A set is visible to every other process as soon as it returns and survives a crash (even kill -9) of
//   the writer: it is a committed transaction whose pages the kernel holds. That is also all a flush
//   promises: the system flushes on every status tick, and a sync to the disk on each would wake the disk
//   many times a second while nothing happens. The disk is synced at the log's checkpoints and when a
//   caller asks for it (syncToDisk(): the list program's start and end, the user's applied settings), so
//   a crash of the machine loses at most what changed since the last of those.
// - Many processes use one store: waiting for another writer is done here (busy time-out and retry),
//   so no caller ever sees "database is locked".
// - A store file that is not a store, is damaged or cannot be read is refused with a clear error; it is
//   never replaced by an empty store. A store that can be read but not written (a read-only file or
//   folder) opens for reading; every change then gives ReadOnly.
// - The store file and its log files are private to the user (0600), whatever the umask; an older
//   store with wider modes is narrowed when it is opened. The log is kept to a few megabytes however
//   long the processes that share the store run.
//
// Threads: a Store may be used from any thread; its calls are serialised inside. A Key belongs to one
// thread at a time. A forked child must open its own Store.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plat/base/result.h"

namespace plat::registry {

enum class Root : std::uint8_t { LocalMachine = 1, CurrentUser = 2 };

// The numbers are the ones the system's stored data and tools have always used.
enum class ValueType : std::uint32_t { String = 1, Binary = 3, Dword = 4 };

enum class Status : int {
    Ok = 0,
    NotFound,         // the key or value does not exist (or the key was deleted while open)
    MoreData,         // the caller's buffer is smaller than the value; the size out says what is needed
    AccessDenied,     // the key was opened without the access this call needs
    InvalidArgument,  // a malformed key path, an over-long name or value, a closed key
    StoreError,       // the store cannot be read or written (damaged, full, unreadable)
    ReadOnly,         // a change asked of a store whose file or folder cannot be written
};

// One line for a person, e.g. for a command-line tool.
const char* describe(Status status);

// Limits of names: a key path of components of 1..255 bytes, at most 4096 bytes in all; a value name
// of at most 16383 bytes. A name beyond them is refused with InvalidArgument.
inline constexpr std::size_t kMaxKeyComponentBytes = 255;
inline constexpr std::size_t kMaxKeyPathBytes = 4096;
inline constexpr std::size_t kMaxValueNameBytes = 16383;

// Whether `path` is a key path the store takes (a leading or trailing backslash is ignored).
bool isValidKeyPath(std::string_view path);

// Access a key is opened with.
enum Access : unsigned { Query = 1u, Set = 2u, QueryAndSet = 3u };

class Store;

// An open key. Closes itself when destroyed; move-only.
class Key {
public:
    struct Value {
        std::string name;
        ValueType type;
        std::vector<std::byte> data;
    };

    Key() = default;
    ~Key();
    Key(Key&& other) noexcept;
    Key& operator=(Key&& other) noexcept;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    bool isOpen() const { return m_store != nullptr; }
    void close();

    // Reads value `name` into `buffer`. On Ok and on MoreData, `size` receives the value's size in
    // bytes. A buffer whose data() is null only asks for the size and type.
    Status query(std::string_view name, std::span<std::byte> buffer, std::uint32_t* size,
                 ValueType* type = nullptr) const;
    Status set(std::string_view name, ValueType type, std::span<const std::byte> data);
    Status setDword(std::string_view name, std::uint32_t value);
    // Makes every set done so far on this key seen by every process and survive a crash of the writer:
    // what every set does already, so it only checks that the key is open. (A sync to the disk is
    // Store::syncToDisk().)
    Status flush();
    Status deleteValue(std::string_view name);

    // Names of the direct sub-keys and the values, in name order.
    Result<std::vector<std::string>> subKeys() const;
    Result<std::vector<Value>> values() const;

private:
    friend class Store;
    Store* m_store = nullptr;
    std::int64_t m_id = 0;
    unsigned m_access = 0;
};

class Store {
public:
    // Opens the store file, making a new store only where there is no file yet.
    static Result<std::unique_ptr<Store>> open(const std::filesystem::path& file);

    // The store of the current system root (plat::registryFile()), opened once per process and root
    // and kept for the life of the process. Not for a forked child of a process that used it. Only the
    // libraries' edges (plat::edgeServices()) and the tests ask for it; everything else is handed a store.
    static Result<Store*> forCurrentRoot();

    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Creates the key and every missing key above it with `className`, or opens it if it exists;
    // the key is opened for query and set. `created` tells which happened.
    Status createKey(Root root, std::string_view path, std::string_view className, Key& out, bool* created = nullptr);
    Status openKey(Root root, std::string_view path, unsigned access, Key& out);
    // Deletes the key with all its sub-keys and values. A root itself cannot be deleted.
    Status deleteKey(Root root, std::string_view path);

    // Runs `body`, which uses this store's calls on this thread, as one transaction: other processes
    // see all of its changes or none, and none at all unless it returns Ok.
    Status atomically(const std::function<Status()>& body);
    // Runs `body`, which only reads through this store's calls on this thread, against one snapshot:
    // a change another process commits meanwhile is seen whole after it or not at all. Works on a
    // read-only store too.
    Status readConsistently(const std::function<Status()>& body);

    // Open, one query, close, as one call: what Key::query() gives, NotFound when the key or the value
    // is missing. The cheap path for code that reads one value per access.
    Status getValue(Root root, std::string_view path, std::string_view name, std::span<std::byte> buffer,
                    std::uint32_t* size, ValueType* type = nullptr);
    // Open, one set, close, as one call. The key must exist. Flush says what the caller needs (a flushed
    // set, as the system's flushed keys want); every set gives it, so it changes nothing.
    enum class Flush { No, Yes };
    Status setValue(Root root, std::string_view path, std::string_view name, ValueType type,
                    std::span<const std::byte> data, Flush flush);

    // Makes everything committed so far, by any process, survive a crash of the machine: the store's log
    // is synced to the disk. For the moments that matter (a program's start and end, settings the user
    // applied), never for each change.
    Status syncToDisk();

    const std::filesystem::path& file() const;

    struct Impl;  // opaque: the connection and its statements

private:
    friend class Key;
    explicit Store(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m;
};

}  // namespace plat::registry
