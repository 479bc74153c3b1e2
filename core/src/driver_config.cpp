// Driver configuration: the printer's latest status turned into the printer data the maker's drivers
// read (a printer-information blob, the device ID, the impact maintenance text), set on every spooler
// printer of the same model; the IC card names of a page printer's slots; and the gap-setting check.

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "facts/paper_block.h"
#include "facts/store_names.h"
#include "plat/heap/heap.h"
#include "plat/services/services.h"
#include "plat/spool/spooler.h"
#include "plat/text/text.h"
#include "registry_store.h"
#include "status_decoder.h"
#include "watchcore.h"

namespace {

using watchcore::StoreKey;
namespace value = facts::value;

constexpr std::size_t kHeaderBytes = 48, kCardRecordBytes = 36, kMaxBlobBytes = 256;
constexpr std::uint32_t kFontCard = 0x80010000, kIcCardSlot = 0x80020000;

struct ByteNumber {
    int byte;
    std::uint32_t number;
};

// A size byte of the reply → the platform's paper number (256 and up: driver-defined).
constexpr ByteNumber kPaperNumbers[] = {
    {0, 0},   {13, 8},   {14, 9}, {15, 11},  {24, 12},  {25, 13},  {30, 1},  {31, 6},  {32, 5},  {33, 7},
    {34, 14}, {35, 515}, {36, 3}, {37, 516}, {38, 513}, {72, 517}, {80, 37}, {81, 20}, {90, 27}, {91, 28},
};

struct FontCard {
    int byte;
    const char* name;
};

constexpr FontCard kFontCards[] = {
    {98, "行書体(毛筆)"},          {99, "正楷書体"},       {101, "丸ゴシック体"},   {100, "教科書体"},
    {126, "太明朝体,太角ｺﾞｼｯｸ体"}, {132, "OCRバーコード"}, {163, "太丸ゴシック体"}, {164, "太行書体"},
};
constexpr const char* kUnknownFontCard = "認識できないﾌｫﾝﾄ";

void put32(std::string& blob, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) blob[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

void append32(std::string& blob, std::uint32_t v)
{
    blob.append(4, '\0');
    put32(blob, blob.size() - 4, v);
}

std::uint32_t paperNumber(std::optional<int> byte)
{
    if (byte) {
        for (const auto& row : kPaperNumbers) {
            if (row.byte == *byte) return row.number;
        }
    }
    return 256;
}

std::string nameOf(const char (&field)[261]) { return std::string(field, strnlen(field, sizeof field)); }

// The IC card name of slot `k` from the engine's option-card reply: "SLOTA " / "SLOTB " then
// "CARD_NAME|", a decimal count of hex characters, one separator, and the name two characters a byte.
std::string decodeCardName(std::string_view reply, int k)
{
    const std::string key = std::string(k == 0 ? "SLOTA " : "SLOTB ") + "CARD_NAME|";
    std::size_t at = reply.find(key);
    if (at == std::string_view::npos) return {};
    at += key.size();
    std::size_t digitsEnd = at;
    while (digitsEnd < reply.size() && reply[digitsEnd] >= '0' && reply[digitsEnd] <= '9') ++digitsEnd;
    if (digitsEnd == at || digitsEnd - at > 6) return {};
    const std::size_t count = std::strtoul(std::string(reply.substr(at, digitsEnd - at)).c_str(), nullptr, 10);
    const std::size_t hexAt = digitsEnd + 1;  // one separator character
    if (hexAt + count > reply.size()) return {};
    std::string name;
    for (std::size_t i = 0; i + 1 < count; i += 2) {
        const char high = reply[hexAt + i], low = reply[hexAt + i + 1];
        if (!std::isxdigit(static_cast<unsigned char>(high)) || !std::isxdigit(static_cast<unsigned char>(low)))
            return {};
        const char pair[3] = {high, low, '\0'};
        name.push_back(static_cast<char>(std::strtol(pair, nullptr, 16)));
    }
    return name.substr(0, plat::text::boundaryAtOrBefore(name, 31));
}

// One card slot record, after bringing the slot's IC card name in the store up to date.
std::string cardRecord(plat::registry::Store& store, const PrinterEntry& entry, const std::string& printer,
                       std::string_view reply, std::size_t p, int k)
{
    char cards[1023];
    std::string name;
    if (watchcore::getText(store, StoreKey::Vigilmon, printer, value::kICCardName, cards, sizeof cards)) {
        name = decodeCardName(cards, k);
    }
    const char* slotValue = k == 0 ? value::kICCardSlotA : value::kICCardSlotB;
    watchcore::setText(store, StoreKey::Vigilmon, printer, slotValue, name);

    std::string record(kCardRecordBytes, '\0');
    auto byte = watchcore::codeField(reply, k == 0 ? p + 86 : p + 88);
    if (!byte || *byte == 255) return record;
    if (*byte != 0) {
        put32(record, 0, kFontCard);
        const char* font = kUnknownFontCard;
        for (const auto& row : kFontCards) {
            if (row.byte == *byte) font = row.name;
        }
        plat::text::copyBounded(record.data() + 4, 32, font);
        return record;
    }
    std::uint32_t flags = kIcCardSlot;
    if (entry.PrinterState == 2) {
        char stored[255];
        if (!watchcore::getText(store, StoreKey::Vigilmon, printer, slotValue, stored, sizeof stored) ||
            stored[0] == '\0') {
            flags |= 2;
        }
    } else {
        flags |= 2;
    }
    put32(record, 0, flags);
    return record;
}

// Sets the printer data on every spooler printer of the entry's model; the entry's own printer's
// resolution goes to `resolution`.
bool writePrinterData(plat::spool::Spooler& spooler, const PrinterEntry& entry, const std::string& blob, bool impact,
                      std::uint32_t mode, const char* lastReply, std::int32_t& resolution)
{
    // The private heap of one call: the printer list lives in it.
    plat::Heap* heap = plat::Heap::create(16384);
    if (heap == nullptr) return false;
    struct HeapGuard {
        plat::Heap* heap;
        ~HeapGuard() { plat::Heap::destroy(heap); }
    } guard{heap};
    int32_t count = 0;
    PrinterInfo2* printers = lppiGetPrinterInformation(&count, heap);
    if (printers == nullptr && count != 0) return false;

    const std::string model(entry.ModelFullName, strnlen(entry.ModelFullName, sizeof entry.ModelFullName));
    const std::string own = nameOf(entry.PrinterName);
    auto bytes = [](std::string_view s) { return std::as_bytes(std::span(s.data(), s.size())); };
    auto dword = [](const std::uint32_t& v) { return std::as_bytes(std::span(&v, 1)); };
    using plat::registry::ValueType;

    for (int32_t i = 0; i < count; ++i) {
        if (!plat::text::equalWholeIgnoringCase(printers[i].pDriverName, model)) continue;
        const std::string name = printers[i].pPrinterName;
        auto opened = spooler.printer(name);
        if (!opened) return false;
        const std::uint32_t size = static_cast<std::uint32_t>(blob.size());
        if (!spooler.setPrinterData(name, impact ? "VLPrinterInfo2" : "VLPrinterInfo", ValueType::Binary,
                                    bytes(blob)) ||
            !spooler.setPrinterData(name, "VLPrinterInfoSize", ValueType::Dword, dword(size))) {
            return false;
        }
        if (mode == 0) {
            char id[255];
            std::uint32_t length = 0;
            if (fGetRegistoryDeviceIDStrings(name.c_str(), id, sizeof id) != 1 ||
                fGetRegistoryDeviceIDLength(name.c_str(), &length) != 1 || length == 0 || length > sizeof id) {
                return false;
            }
            if (!spooler.setPrinterData(name, "VLDeviceID", ValueType::Binary, bytes({id, length})) ||
                !spooler.setPrinterData(name, "VLDeviceIDSize", ValueType::Dword, dword(length))) {
                return false;
            }
            if (impact) {
                const char* cd = lastReply != nullptr ? std::strstr(lastReply, "CD:") : nullptr;
                const std::string maintenance =
                    cd != nullptr ? std::string(cd + 3, strnlen(cd + 3, 20)) : std::string();
                const std::uint32_t maintenanceSize = static_cast<std::uint32_t>(maintenance.size());
                if (maintenance.empty() ||
                    !spooler.setPrinterData(name, "VLImpMaint", ValueType::Binary, bytes(maintenance)) ||
                    !spooler.setPrinterData(name, "VLImpMaintSize", ValueType::Dword, dword(maintenanceSize))) {
                    return false;
                }
            }
        }
        if (plat::text::equalWholeIgnoringCase(name, own)) resolution = std::abs(opened.value().quality);
    }
    return true;
}

}  // namespace

int32_t fUpDateDriverConfig(PrinterEntry* entry, int32_t* paper, int32_t* information, const char* lastReply,
                            void* /*driverBlock*/, uint32_t mode)
{
    if (entry == nullptr || paper == nullptr || information == nullptr || lastReply == nullptr) return 0;
    if (entry->PrinterFamily == 2) return 1;  // the inkjet drivers take no printer data
    plat::Services* services = plat::edgeServices();
    auto spooler = services != nullptr ? services->spooler() : plat::Result<plat::spool::Spooler*>(plat::Error{});
    if (!spooler) return 0;
    const std::string printer = nameOf(entry->PrinterName);
    const std::time_t now = std::time(nullptr);

    if (entry->PrinterFamily == 1) {
        std::string record;
        for (std::uint32_t v : {16u, 1u, entry->PanelTimer2Period, static_cast<std::uint32_t>(now)})
            append32(record, v);
        std::int32_t ignored = 0;
        return writePrinterData(*spooler.value(), *entry, record, /*impact=*/true, mode, lastReply, ignored) ? 1 : 0;
    }

    const std::string_view reply(lastReply);
    const std::size_t key = reply.find("STATUS CODE=");
    if (key == std::string_view::npos) return 0;
    const std::size_t p = key + 12;

    using namespace facts::paper;
    std::vector<std::uint32_t> sizes;
    if (paper[kTrayValid]) sizes.push_back(paperNumber(watchcore::codeField(reply, p + 78)));
    const std::size_t sizeAt[3] = {p + 80, p + 82, p + 100};
    int validCassettes = 0;
    for (int c = 0; c < std::clamp(paper[kCassetteCount], 0, 3); ++c) {
        if (!paper[kCassetteValid + c]) continue;
        sizes.push_back(paperNumber(watchcore::codeField(reply, sizeAt[c])));
        ++validCassettes;
    }
    const std::uint32_t n = static_cast<std::uint32_t>((paper[kTrayValid] ? paper[kTrayExists] : 0) + validCassettes);
    // The blob holds at most 256 bytes: a slot count beyond what fits is cut, not written past.
    const std::size_t roomForSlots = (kMaxBlobBytes - kHeaderBytes - 4 * sizes.size()) / kCardRecordBytes;
    const std::uint32_t slots =
        static_cast<std::uint32_t>(std::clamp<std::int64_t>(information[kCardSlotCount], 0, roomForSlots));

    std::string blob(kHeaderBytes, '\0');
    put32(blob, 0, kHeaderBytes);
    put32(blob, 4, mode == 2 || entry->MessageIndex == 1 ? 0 : 1);
    put32(blob, 8, entry->PanelTimer2Period / 1000);
    put32(blob, 12, static_cast<std::uint32_t>(now));
    put32(blob, 16, static_cast<std::uint32_t>(watchcore::codeField(reply, p + 2).value_or(0)));
    put32(blob, 20, n);
    put32(blob, 24, kHeaderBytes);
    put32(blob, 28, slots);
    put32(blob, 32, static_cast<std::uint32_t>(kHeaderBytes + 4 * n));
    put32(blob, 36, static_cast<std::uint32_t>(information[kMemory]) * 1024);
    put32(blob, 44, static_cast<std::uint32_t>(information[kDuplex]));
    for (std::uint32_t size : sizes) append32(blob, size);
    for (std::uint32_t k = 0; k < slots; ++k)
        blob += cardRecord(services->store(), *entry, printer, reply, p, static_cast<int>(k));

    std::int32_t resolution = information[kResolution];
    if (!writePrinterData(*spooler.value(), *entry, blob, /*impact=*/false, mode, lastReply, resolution)) return 0;
    information[kResolution] = resolution;
    return 1;
}

int32_t fCheckNeedGapSetting(const char* printer)
{
    plat::Services* services = plat::edgeServices();
    if (printer == nullptr || services == nullptr) return 0;
    char gap[255];
    if (!watchcore::getText(services->store(), StoreKey::Vigilmon, printer, value::kGapStrings, gap, sizeof gap))
        return 0;
    const char* at = std::strstr(gap, "EX:00000006");
    if (at == nullptr) return 0;
    return watchcore::codeField(std::string_view(gap), static_cast<std::size_t>(at - gap) + 11).value_or(0) == 1;
}
