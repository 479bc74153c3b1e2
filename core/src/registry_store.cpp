#include "registry_store.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <span>

#include "facts/store_names.h"
#include "plat/base/trace.h"
#include "plat/registry/registry.h"
#include "watchcore.h"

namespace watchcore {
namespace {

using plat::registry::Key;
using plat::registry::Root;
using plat::registry::Status;
using plat::registry::Store;
using plat::registry::ValueType;

static_assert(std::endian::native == std::endian::little, "DWORD values are stored little-endian");

constexpr std::size_t kKeyPathBuffer = 256;
constexpr const char* kKeyClass = "WATCHLIST";

Root rootOf(StoreKey key)
{
    return key == StoreKey::ListEnv || key == StoreKey::ListNotify ? Root::CurrentUser : Root::LocalMachine;
}

bool isFlushed(StoreKey key) { return key == StoreKey::Vigilmon || key == StoreKey::ListNotify; }

bool setValue(StoreKey key, std::string_view owner, std::string_view name, ValueType type,
              std::span<const std::byte> data)
{
    auto path = storeKeyPath(key, owner);
    auto store = Store::forCurrentRoot();
    if (!path || !store) return false;
    // Visible to other processes once set; the flush is what makes it survive a crash of the machine.
    return store.value()->setValue(rootOf(key), *path, name, type, data,
                                   isFlushed(key) ? Store::Flush::Yes : Store::Flush::No) == Status::Ok;
}

// Reads a value of at most `size` bytes into `buffer`; the value's size goes to `length`.
bool queryValue(StoreKey key, std::string_view owner, std::string_view name, void* buffer, std::uint32_t size,
                std::uint32_t& length)
{
    if (buffer == nullptr) return false;
    auto path = storeKeyPath(key, owner);
    auto store = Store::forCurrentRoot();
    if (!path || !store) return false;
    return store.value()->getValue(rootOf(key), *path, name, std::span(static_cast<std::byte*>(buffer), size),
                                   &length) == Status::Ok;
}

// The text of a fixed-size record field, which need not hold its terminating zero.
template <std::size_t N>
std::string_view fieldText(const char (&field)[N])
{
    return std::string_view(field, strnlen(field, N));
}

}  // namespace

std::optional<std::string> storeKeyPath(StoreKey key, std::string_view owner)
{
    std::string path;
    switch (key) {
    case StoreKey::Vigilmon:
        path = std::string(facts::key::kPrinters).append(owner).append(facts::key::kEngineStore);
        break;
    case StoreKey::StEnviron:
        path = std::string(facts::key::kPrinters).append(owner).append(facts::key::kDetailSettings);
        break;
    case StoreKey::Driver: path = std::string(facts::key::kDrivers).append(owner); break;
    case StoreKey::Monitor: path = std::string(facts::key::kMonitors).append(owner); break;
    case StoreKey::ListEnv: path = facts::key::kListEnv; break;
    case StoreKey::ListNotify: path = facts::key::kListNotify; break;
    }
    if (path.size() >= kKeyPathBuffer) {
        plat::trace("store: key path longer than 255 bytes refused: " + path);
        return std::nullopt;
    }
    return path;
}

bool getDword(StoreKey key, std::string_view owner, std::string_view name, std::uint32_t& out)
{
    std::uint32_t value = out;
    std::uint32_t length = 0;
    if (!queryValue(key, owner, name, &value, sizeof value, length)) return false;
    out = value;  // a shorter value replaced only its own bytes, as a 4-byte query would
    return true;
}

bool setDword(StoreKey key, std::string_view owner, std::string_view name, std::uint32_t value)
{
    return setValue(key, owner, name, ValueType::Dword, std::as_bytes(std::span(&value, 1)));
}

bool getText(StoreKey key, std::string_view owner, std::string_view name, char* buffer, std::uint32_t size)
{
    std::uint32_t length = 0;
    if (size == 0 || !queryValue(key, owner, name, buffer, size, length)) return false;
    if (length > 0 && buffer[length - 1] == '\0') return true;
    // Stored without its terminating zero (the engine's way): add it if there is room.
    if (length >= size) return false;
    buffer[length] = '\0';
    return true;
}

bool setText(StoreKey key, std::string_view owner, std::string_view name, std::string_view text)
{
    std::string data(text);
    return setValue(key, owner, name, ValueType::String, std::as_bytes(std::span(data.c_str(), data.size() + 1)));
}

bool getBinary(StoreKey key, std::string_view owner, std::string_view name, void* buffer, std::uint32_t size)
{
    std::uint32_t length = 0;
    return queryValue(key, owner, name, buffer, size, length);
}

bool setBinary(StoreKey key, std::string_view owner, std::string_view name, const void* data, std::uint32_t size)
{
    if (data == nullptr && size != 0) return false;
    return setValue(key, owner, name, ValueType::Binary,
                    std::span(static_cast<const std::byte*>(data), data ? size : 0));
}

bool createStoreKey(StoreKey key, std::string_view owner)
{
    auto path = storeKeyPath(key, owner);
    if (!path) return false;
    auto store = Store::forCurrentRoot();
    if (!store) return false;
    Key k;
    if (store.value()->createKey(rootOf(key), *path, kKeyClass, k) != Status::Ok) return false;
    if (isFlushed(key)) k.flush();
    return true;
}

std::string numberedName(const char* format, long n)
{
    char name[64];
    std::snprintf(name, sizeof name, format, n);
    return name;
}

}  // namespace watchcore

// ---- Exports ------------------------------------------------------------------------------------

using watchcore::StoreKey;
namespace value = facts::value;

namespace {

int32_t getVigilmonDword(const char* printer, const char* name, uint32_t* out)
{
    return printer != nullptr && out != nullptr && watchcore::getDword(StoreKey::Vigilmon, printer, name, *out);
}

int32_t setVigilmonDword(const char* printer, const char* name, uint32_t v)
{
    return printer != nullptr && watchcore::setDword(StoreKey::Vigilmon, printer, name, v);
}

int32_t getVigilmonText(const char* printer, const char* name, char* buffer, uint32_t size)
{
    return printer != nullptr && watchcore::getText(StoreKey::Vigilmon, printer, name, buffer, size);
}

int32_t getNotifyDword(const char* name, uint32_t* out)
{
    return out != nullptr && watchcore::getDword(StoreKey::ListNotify, {}, name, *out);
}

}  // namespace

int32_t fGetRegistoryGetRealTimeStatusTime(const char* printer, uint32_t* value)
{
    return getVigilmonDword(printer, value::kGetRealTimeStatusTime, value);
}

int32_t fGetRegistoryRealTimeStatusStrings(const char* printer, char* buffer, uint32_t size)
{
    return getVigilmonText(printer, value::kRealTimeStatusStrings, buffer, size);
}

int32_t fGetRegistoryVigilExistFlag(const char* printer, uint32_t* value)
{
    return getVigilmonDword(printer, value::kVigilExistFlag, value);
}

int32_t fSetRegistoryVigilExistFlag(const char* printer, uint32_t value)
{
    return setVigilmonDword(printer, value::kVigilExistFlag, value);
}

int32_t fGetRegistoryPrinterStFlag(const char* printer, uint32_t* value)
{
    return getVigilmonDword(printer, value::kPrinterStFlag, value);
}

int32_t fGetRegistoryStRetryTime(const char* printer, uint32_t* value)
{
    return getVigilmonDword(printer, value::kStRetryTime, value);
}

int32_t fGetRegistoryICCardName(const char* printer, char* buffer, uint32_t size)
{
    return getVigilmonText(printer, value::kICCardName, buffer, size);
}

int32_t fGetRegistoryInkLevel(const char* printer, char* buffer, uint32_t size)
{
    return getVigilmonText(printer, value::kInkLevel, buffer, size);
}

int32_t fGetRegistoryGepStrings(const char* printer, char* buffer, uint32_t size)
{
    return getVigilmonText(printer, value::kGapStrings, buffer, size);
}

int32_t fGetRegistoryDeviceIDStrings(const char* printer, void* buffer, uint32_t size)
{
    return printer != nullptr &&
           watchcore::getBinary(StoreKey::Vigilmon, printer, value::kDeviceIDStrings, buffer, size);
}

int32_t fGetRegistoryDeviceIDLength(const char* printer, uint32_t* value)
{
    return getVigilmonDword(printer, value::kDeviceIDLength, value);
}

int32_t fGetRegistoryIcCardNameOnSlot(const char* printer, char* buffer, uint32_t size, uint32_t slot)
{
    return getVigilmonText(printer, slot == 0 ? value::kICCardSlotA : value::kICCardSlotB, buffer, size);
}

int32_t fGetRegistoryStRealThreadExistFlag(const char* printer, uint32_t* value)
{
    return getVigilmonDword(printer, value::kStRealThreadExistFlag, value);
}

int32_t fSetRegistoryStRealThreadExistFlag(const char* printer, uint32_t value)
{
    return setVigilmonDword(printer, value::kStRealThreadExistFlag, value);
}

int32_t fGetRegistoryDisplayFlag(const char* printer, uint32_t* value)
{
    return getVigilmonDword(printer, value::kDisplayFlag, value);
}

int32_t fSetRegistoryDisplayFlag(const char* printer, uint32_t value)
{
    return setVigilmonDword(printer, value::kDisplayFlag, value);
}

int32_t fGetRegistoryDriverMonitor(const char* driver, char* buffer, uint32_t size)
{
    return driver != nullptr && watchcore::getText(StoreKey::Driver, driver, value::kDriverMonitor, buffer, size);
}

int32_t fGetRegistoryLanguageMonitorDriver(const char* monitor, char* buffer, uint32_t size)
{
    return monitor != nullptr && watchcore::getText(StoreKey::Monitor, monitor, value::kMonitorDriver, buffer, size);
}

int32_t fCreateRegistoryNotifySubKey(void) { return watchcore::createStoreKey(StoreKey::ListNotify, {}); }

int32_t fGetRegistoryKswExitFlag(uint32_t* value) { return getNotifyDword(value::kKswExitFlag, value); }

int32_t fSetRegistoryKswExitFlag(uint32_t v)
{
    return watchcore::setDword(StoreKey::ListNotify, {}, value::kKswExitFlag, v);
}

int32_t fGetRegistoryKswListRunFlag(uint32_t* value) { return getNotifyDword(value::kKswListRunFlag, value); }

int32_t fSetRegistoryKswListRunFlag(uint32_t v)
{
    return watchcore::setDword(StoreKey::ListNotify, {}, value::kKswListRunFlag, v);
}

int32_t fInitRegistory(const PrinterEntry* entry)
{
    if (entry == nullptr) return 0;
    const std::string printer(watchcore::fieldText(entry->PrinterName));
    const std::string model(watchcore::fieldText(entry->ModelName));
    auto dword = [&](const char* name, uint32_t v) {
        return watchcore::setDword(StoreKey::Vigilmon, printer, name, v);
    };
    auto text = [&](const char* name, std::string_view t) {
        return watchcore::setText(StoreKey::Vigilmon, printer, name, t);
    };
    auto empty = [&](const char* name) { return watchcore::setBinary(StoreKey::Vigilmon, printer, name, nullptr, 0); };
    // A user's setting is kept unless it is missing or 0.
    auto keepOrDefault = [&](const char* name, uint32_t fallback) {
        uint32_t current = 0;
        return (watchcore::getDword(StoreKey::Vigilmon, printer, name, current) && current != 0) ||
               dword(name, fallback);
    };

    watchcore::createStoreKey(StoreKey::Vigilmon, printer);  // a failure shows in the first set

    auto sizeCheckSetting = [&] {
        uint32_t sizeCheck = 0;
        return watchcore::getDword(StoreKey::StEnviron, printer, value::kSizeCheckFlag.name, sizeCheck) ? sizeCheck
                                                                                                        : 0u;
    };

    // The order is fixed: a failure stops here and leaves what was written before it.
    const bool done = dword(value::kLanMonExistFlag, 0) && dword(value::kRunFlag, 0) && empty(value::kCommandStrings) &&
                      dword(value::kCommandLength, 0) && empty(value::kPassStrings) && dword(value::kPassLength, 0) &&
                      text(value::kRetStrings, "") && dword(value::kGetRealTimeStatusStartFlag, 1) &&
                      keepOrDefault(value::kGetRealTimeStatusTime, value::kDefaultStatusTimeMs) &&
                      text(value::kRealTimeStatusStrings, "") && dword(value::kCommandOkFlag, 0) &&
                      dword(value::kVigilExistFlag, 0) && dword(value::kStRealThreadExistFlag, 0) &&
                      dword(value::kPrinterStFlag, 0) && text(value::kIDMDL, model) &&
                      keepOrDefault(value::kStRetryTime, value::kDefaultRetryTimeMs) &&
                      dword(value::kPaperCheckFlag, sizeCheckSetting()) && text(value::kICCardName, "") &&
                      text(value::kInkLevel, "") && text(value::kGapStrings, "") && text(value::kCDStrings, "") &&
                      empty(value::kDeviceIDStrings) && dword(value::kDeviceIDLength, 0) &&
                      dword(value::kMonitorFlag, 0) && dword(value::kGetTimeCount, 0) &&
                      dword(value::kCommandExecStartFlag, 1) && text(value::kICCardSlotA, "") &&
                      text(value::kICCardSlotB, "");
    return done ? 1 : 0;
}
