#include "registry_store.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <span>

#include "facts/store_names.h"
#include "plat/base/trace.h"
#include "plat/registry/registry.h"
#include "plat/services/services.h"
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

bool setValue(Store& store, StoreKey key, std::string_view owner, std::string_view name, ValueType type,
              std::span<const std::byte> data)
{
    auto path = storeKeyPath(key, owner);
    if (!path) return false;
    // Visible to other processes once set; the flush is what makes it survive a crash of the machine.
    return store.setValue(rootOf(key), *path, name, type, data,
                          isFlushed(key) ? Store::Flush::Yes : Store::Flush::No) == Status::Ok;
}

// Reads a value of at most `size` bytes into `buffer`; the value's size goes to `length`.
bool queryValue(Store& store, StoreKey key, std::string_view owner, std::string_view name, void* buffer,
                std::uint32_t size, std::uint32_t& length)
{
    if (buffer == nullptr) return false;
    auto path = storeKeyPath(key, owner);
    if (!path) return false;
    return store.getValue(rootOf(key), *path, name, std::span(static_cast<std::byte*>(buffer), size), &length) ==
           Status::Ok;
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

bool getDword(Store& store, StoreKey key, std::string_view owner, std::string_view name, std::uint32_t& out)
{
    std::uint32_t value = out;
    std::uint32_t length = 0;
    if (!queryValue(store, key, owner, name, &value, sizeof value, length)) return false;
    out = value;  // a shorter value replaced only its own bytes, as a 4-byte query would
    return true;
}

bool setDword(Store& store, StoreKey key, std::string_view owner, std::string_view name, std::uint32_t value)
{
    return setValue(store, key, owner, name, ValueType::Dword, std::as_bytes(std::span(&value, 1)));
}

bool getText(Store& store, StoreKey key, std::string_view owner, std::string_view name, char* buffer,
             std::uint32_t size)
{
    std::uint32_t length = 0;
    if (size == 0 || !queryValue(store, key, owner, name, buffer, size, length)) return false;
    if (length > 0 && buffer[length - 1] == '\0') return true;
    // Stored without its terminating zero (the engine's way): add it if there is room.
    if (length >= size) return false;
    buffer[length] = '\0';
    return true;
}

bool setText(Store& store, StoreKey key, std::string_view owner, std::string_view name, std::string_view text)
{
    std::string data(text);
    return setValue(store, key, owner, name, ValueType::String,
                    std::as_bytes(std::span(data.c_str(), data.size() + 1)));
}

bool getBinary(Store& store, StoreKey key, std::string_view owner, std::string_view name, void* buffer,
               std::uint32_t size)
{
    std::uint32_t length = 0;
    return queryValue(store, key, owner, name, buffer, size, length);
}

bool setBinary(Store& store, StoreKey key, std::string_view owner, std::string_view name, const void* data,
               std::uint32_t size)
{
    if (data == nullptr && size != 0) return false;
    return setValue(store, key, owner, name, ValueType::Binary,
                    std::span(static_cast<const std::byte*>(data), data ? size : 0));
}

bool createStoreKey(Store& store, StoreKey key, std::string_view owner)
{
    auto path = storeKeyPath(key, owner);
    if (!path) return false;
    Key k;
    if (store.createKey(rootOf(key), *path, kKeyClass, k) != Status::Ok) return false;
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

// The exports' edge: the store of the library's services, or null when it does not open.
plat::registry::Store* edgeStore()
{
    plat::Services* services = plat::edgeServices();
    return services != nullptr ? &services->store() : nullptr;
}

int32_t getVigilmonDword(const char* printer, const char* name, uint32_t* out)
{
    auto* store = edgeStore();
    return store != nullptr && printer != nullptr && out != nullptr &&
           watchcore::getDword(*store, StoreKey::Vigilmon, printer, name, *out);
}

int32_t setVigilmonDword(const char* printer, const char* name, uint32_t v)
{
    auto* store = edgeStore();
    return store != nullptr && printer != nullptr && watchcore::setDword(*store, StoreKey::Vigilmon, printer, name, v);
}

int32_t getVigilmonText(const char* printer, const char* name, char* buffer, uint32_t size)
{
    auto* store = edgeStore();
    return store != nullptr && printer != nullptr &&
           watchcore::getText(*store, StoreKey::Vigilmon, printer, name, buffer, size);
}

int32_t getNotifyDword(const char* name, uint32_t* out)
{
    auto* store = edgeStore();
    return store != nullptr && out != nullptr && watchcore::getDword(*store, StoreKey::ListNotify, {}, name, *out);
}

int32_t setNotifyDword(const char* name, uint32_t v)
{
    auto* store = edgeStore();
    return store != nullptr && watchcore::setDword(*store, StoreKey::ListNotify, {}, name, v);
}

}  // namespace

void vWatchcoreUseServices(plat::Services* services) { plat::handOverEdgeServices(services); }

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
    auto* store = edgeStore();
    return store != nullptr && printer != nullptr &&
           watchcore::getBinary(*store, StoreKey::Vigilmon, printer, value::kDeviceIDStrings, buffer, size);
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
    auto* store = edgeStore();
    return store != nullptr && driver != nullptr &&
           watchcore::getText(*store, StoreKey::Driver, driver, value::kDriverMonitor, buffer, size);
}

int32_t fGetRegistoryLanguageMonitorDriver(const char* monitor, char* buffer, uint32_t size)
{
    auto* store = edgeStore();
    return store != nullptr && monitor != nullptr &&
           watchcore::getText(*store, StoreKey::Monitor, monitor, value::kMonitorDriver, buffer, size);
}

int32_t fCreateRegistoryNotifySubKey(void)
{
    auto* store = edgeStore();
    return store != nullptr && watchcore::createStoreKey(*store, StoreKey::ListNotify, {});
}

int32_t fGetRegistoryKswExitFlag(uint32_t* value) { return getNotifyDword(value::kKswExitFlag, value); }

int32_t fSetRegistoryKswExitFlag(uint32_t v) { return setNotifyDword(value::kKswExitFlag, v); }

int32_t fGetRegistoryKswListRunFlag(uint32_t* value) { return getNotifyDword(value::kKswListRunFlag, value); }

int32_t fSetRegistoryKswListRunFlag(uint32_t v) { return setNotifyDword(value::kKswListRunFlag, v); }

int32_t fInitRegistory(const PrinterEntry* entry)
{
    auto* store = edgeStore();
    if (entry == nullptr || store == nullptr) return 0;
    const std::string printer(watchcore::fieldText(entry->PrinterName));
    const std::string model(watchcore::fieldText(entry->ModelName));
    auto dword = [&](const char* name, uint32_t v) {
        return watchcore::setDword(*store, StoreKey::Vigilmon, printer, name, v);
    };
    auto text = [&](const char* name, std::string_view t) {
        return watchcore::setText(*store, StoreKey::Vigilmon, printer, name, t);
    };
    auto empty = [&](const char* name) {
        return watchcore::setBinary(*store, StoreKey::Vigilmon, printer, name, nullptr, 0);
    };
    // A user's setting is kept unless it is missing or 0.
    auto keepOrDefault = [&](const char* name, uint32_t fallback) {
        uint32_t current = 0;
        return (watchcore::getDword(*store, StoreKey::Vigilmon, printer, name, current) && current != 0) ||
               dword(name, fallback);
    };

    watchcore::createStoreKey(*store, StoreKey::Vigilmon, printer);  // a failure shows in the first set

    auto sizeCheckSetting = [&] {
        uint32_t sizeCheck = 0;
        return watchcore::getDword(*store, StoreKey::StEnviron, printer, value::kSizeCheckFlag.name, sizeCheck)
                   ? sizeCheck
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
