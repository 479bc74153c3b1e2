// The family's alert types and their default sounds, and a printer's detail settings between the store
// (one DetailEnviron record through Watchcore) and the program.

#include <memory>

#include "alerts.h"
#include "plat/base/system_root.h"
#include "plat/base/utf8.h"
#include "plat/heap/heap.h"
#include "watchcore.h"
#include "watchpanel/texts.h"

namespace watchpanel {

namespace {

constexpr int kNameTexts = 15000, kSoundTexts = 15300, kFamilyStep = 100;
constexpr std::size_t kNameBytes = 25;

bool validRow(facts::Family family, int row) { return row >= 0 && row < alertTypeCount(family); }

int familyOffset(facts::Family family) { return static_cast<int>(family) * kFamilyStep; }

// The longest prefix of `text` of at most `bytes` bytes that ends between two characters.
std::string cut(std::string text, std::size_t bytes)
{
    if (text.size() <= bytes) return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

struct HeapDeleter {
    void operator()(plat::Heap* heap) const { plat::Heap::destroy(heap); }
};

}  // namespace

int alertTypeCount(facts::Family family) { return facts::countsOf(family).alertTypes; }

std::string alertTypeName(facts::Family family, int row)
{
    if (!validRow(family, row)) return {};
    return cut(text(kNameTexts + familyOffset(family) + row).value_or(""), kNameBytes);
}

std::string defaultSoundFile(facts::Family family, int row)
{
    // A single-space text reads as empty: the type has no sound.
    if (!validRow(family, row)) return {};
    return text(kSoundTexts + familyOffset(family) + row).value_or("");
}

bool acceptableSoundPath(const std::string& path)
{
    return !path.empty() && path.size() <= kMaxSoundPath && plat::isValidUtf8(path) &&
           path.find('\0') == std::string::npos;
}

void applyAlertDefaults(facts::Family family, DetailSettings& settings)
{
    const std::filesystem::path media = plat::windowsDir() / "media";
    for (int row = 0; row < alertTypeCount(family) && row < kAlertSlots; ++row) {
        AlertSetting& alert = settings.alerts[static_cast<std::size_t>(row)];
        alert.enabled = !(family == facts::Family::Page && row == 3);  // "paper low" would sound all day
        const std::string file = defaultSoundFile(family, row);
        const std::string path = file.empty() ? std::string() : (media / file).string();
        // A root so deep that the path does not fit is no sound rather than a cut, wrong path.
        alert.hasSound = acceptableSoundPath(path);
        alert.path = alert.hasSound ? path : std::string();
    }
}

DetailSettings loadDetailSettings(const std::string& printer, facts::Family family)
{
    const std::unique_ptr<plat::Heap, HeapDeleter> heap(plat::Heap::create());
    DetailEnviron record{};
    const bool complete = fGetDetailEnviron(printer.c_str(), &record, heap.get()) == 1;

    DetailSettings settings;
    settings.hide = record.hideFlag != 0;
    settings.intervalMs = record.statusInterval;
    settings.topMost = record.topMostFlag != 0;
    settings.openWhenPrinting = record.printOpenFlag != 0;
    settings.openOnError = record.errorOpenFlag != 0;
    settings.sizeCheck = record.sizeCheckFlag != 0;
    settings.monitor = record.monitorFlag != 0;
    settings.iconSet = static_cast<int>(record.selectIcon);
    settings.alertCount = static_cast<int>(record.alertCount);
    for (int n = 0; n < kAlertSlots; ++n) {
        AlertSetting& alert = settings.alerts[static_cast<std::size_t>(n)];
        alert.enabled = record.alertTypes[n] != 0;
        const char* name = record.soundNames[n];
        // A stored name longer than a path may be is dropped, never cut into another file's name.
        const std::string path = name != nullptr ? std::string(name) : std::string();
        alert.hasSound = record.soundTypes[n] != 0 && acceptableSoundPath(path);
        alert.path = alert.hasSound ? path : std::string();
    }
    std::uint32_t notify = 1;
    fGetRegistoryDesktopNotifyFlag(printer.c_str(), &notify);  // on when not stored yet
    settings.desktopNotify = notify != 0;
    if (!complete) {
        applyAlertDefaults(family, settings);
        storeDetailSettings(printer, settings);
    }
    return settings;
}

bool storeDetailSettings(const std::string& printer, const DetailSettings& settings)
{
    DetailEnviron record{};
    record.hideFlag = settings.hide ? 1 : 0;
    record.statusInterval = settings.intervalMs;
    record.topMostFlag = settings.topMost ? 1 : 0;
    record.printOpenFlag = settings.openWhenPrinting ? 1 : 0;
    record.errorOpenFlag = settings.openOnError ? 1 : 0;
    record.sizeCheckFlag = settings.sizeCheck ? 1 : 0;
    record.monitorFlag = settings.monitor ? 1 : 0;
    record.selectIcon = static_cast<std::uint32_t>(settings.iconSet);
    record.alertCount = static_cast<std::uint32_t>(settings.alertCount);
    for (int n = 0; n < kAlertSlots; ++n) {
        const AlertSetting& alert = settings.alerts[static_cast<std::size_t>(n)];
        record.alertTypes[n] = alert.enabled ? 1 : 0;
        record.soundTypes[n] = alert.hasSound ? 1 : 0;
        // Written as "" when there is none; the store only reads through the pointer.
        record.soundNames[n] = alert.hasSound && !alert.path.empty() ? const_cast<char*>(alert.path.c_str()) : nullptr;
    }
    // Before the record: storing the record puts both on the disk.
    return fSetRegistoryDesktopNotifyFlag(printer.c_str(), settings.desktopNotify ? 1 : 0) == 1 &&
           fSetDetailEnviron(printer.c_str(), &record) == 1;
}

}  // namespace watchpanel
