#include "settings_page.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "plat/base/system_root.h"
#include "plat/base/utf8.h"
#include "sound.h"
#include "watchpanel/texts.h"

namespace watchpanel {

std::string noSoundItem() { return text(21090).value_or(""); }

namespace {

using namespace settings_control;

constexpr std::uint16_t kSizeCheckBit = 2;
constexpr int kSizeCheckModels[] = {0, 1, 6, 7, 8, 12, 18, 19, 20};

std::string mediaFolder() { return (plat::windowsDir() / "media").string(); }

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string joined(const std::string& folder, const std::string& name)
{
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool endsWithWav(const std::string& name)
{
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".wav";
}

}  // namespace

std::string fileNameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> waveFilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error), end;
    for (; !error && it != end; it.increment(error)) {
        std::error_code kind;
        if (!it->is_regular_file(kind)) continue;
        std::string name = it->path().filename().string();
        // Only names the store can keep as text and that make a path the page accepts: the list
        // offers nothing that choosing would then refuse.
        if (!endsWithWav(name) || !plat::isValidUtf8(name) || !acceptableSoundPath(joined(folder, name))) continue;
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

SettingsPage::SettingsPage(SettingsHost& host)
    : m_host(host), m_family(host.family()), m_sounds(static_cast<std::size_t>(kAlertSlots))
{
    buildList();
    showValues(m_record);
}

void SettingsPage::buildList()
{
    const int rows = std::min(alertTypeCount(m_family), kAlertSlots);
    m_controls.alerts.assign(static_cast<std::size_t>(rows), AlertItem{});
    for (int row = 0; row < rows; ++row)
        m_controls.alerts[static_cast<std::size_t>(row)].name = alertTypeName(m_family, row);
    m_controls.selected = -1;
}

void SettingsPage::followFamily()
{
    // The window learns its family when it attaches to the slot, which may be after this was made.
    if (m_host.family() == m_family) return;
    m_family = m_host.family();
    buildList();
}

void SettingsPage::selected()
{
    PrinterEntry entry{};
    if (!m_host.readEntry(entry)) return;
    // Shown before the first status tick read the store: read it now rather than show bare fallbacks.
    if (!m_loaded) loadFromStore();
    followFamily();
    m_current = true;
    Controls& c = m_controls;
    const bool slowNetwork = entry.NetworkPort == 1 && entry.NetworkKind == 2;
    c.intervalMin = slowNetwork ? 5 : 2;
    c.intervalMax = slowNetwork ? 60 : 10;
    c.intervalPageStep = slowNetwork ? 10 : 1;
    c.sizeCheckEnabled =
        std::ranges::find(kSizeCheckModels, static_cast<int>(entry.ModelCode)) != std::end(kSizeCheckModels);
    c.soundGroupEnabled = false;
    c.testEnabled = false;
    c.stopEnabled = false;
    c.soundItems.clear();
    c.soundIndex = -1;
    c.formatPicture = 0;
    m_folder.clear();
    buildList();
    showValues(m_record);
    // The controls show the record kept for the page; the entry and the window keep what was applied.
    putIntoEffect(m_applied);
}

void SettingsPage::left()
{
    if (!m_current) return;
    m_current = false;
    const bool pending = m_controls.applyEnabled;
    m_record = fromControls(m_record);
    m_record.applyPending = pending;
}

void SettingsPage::loadFromStore()
{
    followFamily();
    m_loaded = true;
    m_applied = m_host.loadSettings(m_host.printerName(), m_family);
    m_applied.applyPending = false;
    m_record = m_applied;
    showValues(m_record);
    if (m_controls.selected >= 0) fillSounds(m_sounds[static_cast<std::size_t>(m_controls.selected)].path);
    putIntoEffect(m_applied);
    m_controls.applyEnabled = false;
}

void SettingsPage::showValues(const DetailSettings& s)
{
    Controls& c = m_controls;
    const auto seconds = static_cast<int>(std::min<std::uint32_t>(s.intervalMs / 1000, 1000000));
    c.intervalPosition = std::clamp(seconds, c.intervalMin, c.intervalMax);
    c.onTop = s.topMost;
    c.openWhenPrinting = s.openWhenPrinting;
    c.openOnError = s.openOnError;
    c.sizeCheck = s.sizeCheck;
    c.monitor = s.monitor;
    c.trayIconEnabled = s.monitor;
    c.desktopNotify = s.desktopNotify;
    m_iconSet = s.iconSet;
    for (int row = 0; row < kAlertSlots; ++row) {
        const AlertSetting& alert = s.alerts[static_cast<std::size_t>(row)];
        m_sounds[static_cast<std::size_t>(row)] = {alert.enabled, alert.hasSound,
                                                   alert.hasSound ? alert.path : std::string()};
        if (row < alertRows()) {
            AlertItem& item = c.alerts[static_cast<std::size_t>(row)];
            item.checked = alert.enabled;
            item.file = fileNameOf(m_sounds[static_cast<std::size_t>(row)].path);
        }
    }
    c.applyEnabled = s.applyPending;
}

void applySettingsToEntry(const DetailSettings& s, PrinterEntry& e)
{
    e.StatusInterval = s.intervalMs;
    e.PrintOpenFlag = s.openWhenPrinting ? 1 : 0;
    e.ErrorOpenFlag = s.openOnError ? 1 : 0;
    e.SizeCheckFlag = s.sizeCheck ? 1 : 0;
    e.OptionBits =
        static_cast<std::uint16_t>(s.sizeCheck ? (e.OptionBits | kSizeCheckBit) : (e.OptionBits & ~kSizeCheckBit));
    e.MonitorFlag = s.monitor ? 1 : 0;
    if (s.monitor) e.SelectIcon = static_cast<std::uint16_t>(s.iconSet);
}

void SettingsPage::putIntoEffect(const DetailSettings& s)
{
    m_host.updateEntry([s](PrinterEntry& e) { applySettingsToEntry(s, e); });
    m_host.setAlwaysOnTop(s.topMost);
    m_host.setTrayShown(s.monitor);
}

DetailSettings SettingsPage::fromControls(const DetailSettings& base) const
{
    const Controls& c = m_controls;
    DetailSettings s = base;
    s.intervalMs = static_cast<std::uint32_t>(c.intervalPosition) * 1000;
    s.topMost = c.onTop;
    s.openWhenPrinting = c.openWhenPrinting;
    s.openOnError = c.openOnError;
    s.sizeCheck = c.sizeCheck;
    s.monitor = c.monitor;
    s.desktopNotify = c.desktopNotify;
    s.iconSet = m_iconSet;
    for (int row = 0; row < alertRows(); ++row) {
        AlertSetting& alert = s.alerts[static_cast<std::size_t>(row)];
        const AlertSetting& sound = m_sounds[static_cast<std::size_t>(row)];
        alert.enabled = c.alerts[static_cast<std::size_t>(row)].checked;
        alert.hasSound = sound.hasSound;
        alert.path = sound.path;
    }
    return s;
}

void SettingsPage::setIntervalPosition(int seconds)
{
    const int position = std::clamp(seconds, m_controls.intervalMin, m_controls.intervalMax);
    if (position == m_controls.intervalPosition) return;
    m_controls.intervalPosition = position;
    changed();
}

void SettingsPage::setOnTop(bool on)
{
    m_controls.onTop = on;
    changed();
}

void SettingsPage::setOpenWhenPrinting(bool on)
{
    m_controls.openWhenPrinting = on;
    changed();
}

void SettingsPage::setOpenOnError(bool on)
{
    m_controls.openOnError = on;
    changed();
}

void SettingsPage::setSizeCheck(bool on)
{
    m_controls.sizeCheck = on;
    changed();
}

void SettingsPage::setMonitor(bool on)
{
    m_controls.monitor = on;
    m_controls.trayIconEnabled = on;
    changed();
}

void SettingsPage::setDesktopNotify(bool on)
{
    m_controls.desktopNotify = on;
    changed();
}

void SettingsPage::chooseTrayIcon()
{
    const int set = m_host.chooseTrayIconSet(m_iconSet);
    if (set < 0 || set > 8) return;
    // Kept with the other controls' values until "更新", like them.
    m_iconSet = set;
    changed();
}

void SettingsPage::allOn()
{
    for (AlertItem& item : m_controls.alerts) item.checked = true;
    changed();
}

void SettingsPage::allOff()
{
    for (AlertItem& item : m_controls.alerts) item.checked = false;
    changed();
}

void SettingsPage::restoreDefaults()
{
    DetailSettings defaults = fromControls(m_record);
    applyAlertDefaults(m_family, defaults);
    for (int row = 0; row < alertRows(); ++row) {
        const AlertSetting& alert = defaults.alerts[static_cast<std::size_t>(row)];
        m_controls.alerts[static_cast<std::size_t>(row)].checked = alert.enabled;
        setAlertSound(row, alert.hasSound ? alert.path : std::string());
    }
    if (m_controls.selected >= 0) fillSounds(m_sounds[static_cast<std::size_t>(m_controls.selected)].path);
    changed();
}

void SettingsPage::spacePressed()
{
    if (m_controls.selected >= 0) toggleAlert(m_controls.selected);
}

void SettingsPage::upPressed()
{
    if (m_controls.selected < 0) {
        fillSounds({});
        m_controls.soundGroupEnabled = false;
        return;
    }
    selectAlert(std::max(m_controls.selected - 1, 0));
}

void SettingsPage::downPressed()
{
    if (alertRows() == 0) return;
    selectAlert(m_controls.selected < 0 ? 0 : std::min(m_controls.selected + 1, alertRows() - 1));
}

void SettingsPage::toggleAlert(int row)
{
    if (row < 0 || row >= alertRows()) return;
    AlertItem& item = m_controls.alerts[static_cast<std::size_t>(row)];
    item.checked = !item.checked;
    changed();
}

void SettingsPage::selectAlert(int row)
{
    if (row < 0 || row >= alertRows()) return;
    m_controls.selected = row;
    fillSounds(m_sounds[static_cast<std::size_t>(row)].path);
    m_controls.soundGroupEnabled = true;
}

void SettingsPage::fillSounds(const std::string& path)
{
    Controls& c = m_controls;
    const std::string folder = path.empty() ? mediaFolder() : folderOf(path);
    m_folder = path.empty() ? std::string() : folder;
    c.soundItems = waveFilesIn(folder);
    c.soundItems.insert(c.soundItems.begin(), noSoundItem());
    c.soundIndex = 0;
    if (!path.empty()) {
        const auto found = std::find(c.soundItems.begin() + 1, c.soundItems.end(), fileNameOf(path));
        if (found != c.soundItems.end()) c.soundIndex = static_cast<int>(found - c.soundItems.begin());
    }
    // A sound whose file is not in its folder shows as none, but stays the alert type's sound.
    c.testEnabled = c.soundIndex > 0;
    c.formatPicture = c.soundIndex > 0 ? m_host.waveFormatPicture(path) : kNoFilePicture;
}

void SettingsPage::setAlertSound(int row, const std::string& path)
{
    AlertSetting& sound = m_sounds[static_cast<std::size_t>(row)];
    sound.hasSound = !path.empty();
    sound.path = path;
    if (row < alertRows()) m_controls.alerts[static_cast<std::size_t>(row)].file = fileNameOf(path);
}

void SettingsPage::chooseSound(int index)
{
    Controls& c = m_controls;
    if (c.selected < 0 || index < 0 || index >= static_cast<int>(c.soundItems.size())) return;
    if (index == 0) {
        // No sound: the alert type still counts for the window's rules, it only plays nothing.
        setAlertSound(c.selected, {});
        c.soundIndex = 0;
        c.testEnabled = false;
        c.formatPicture = kNoFilePicture;
        changed();
        return;
    }
    // The list of "no sound" shows the media folder, so a file picked there is taken from it.
    const std::string folder = m_folder.empty() ? mediaFolder() : m_folder;
    const std::string path = joined(folder, c.soundItems[static_cast<std::size_t>(index)]);
    if (!acceptableSoundPath(path)) return;
    m_folder = folder;
    setAlertSound(c.selected, path);
    c.soundIndex = index;
    c.testEnabled = true;
    c.formatPicture = m_host.waveFormatPicture(path);
    changed();
}

bool SettingsPage::browse()
{
    if (m_controls.selected < 0) return false;
    const std::optional<std::string> chosen = m_host.chooseSoundFile(mediaFolder());
    return chosen && takeSoundFile(*chosen);
}

bool SettingsPage::takeSoundFile(const std::string& path)
{
    if (m_controls.selected < 0 || !acceptableSoundPath(path)) return false;
    fillSounds(path);
    setAlertSound(m_controls.selected, path);
    changed();
    return true;
}

void SettingsPage::testPlay()
{
    Controls& c = m_controls;
    if (!c.testEnabled || c.soundIndex <= 0 || c.soundIndex >= static_cast<int>(c.soundItems.size())) return;
    const std::string path = joined(m_folder, c.soundItems[static_cast<std::size_t>(c.soundIndex)]);
    // Started before the flag is set: the end of a sound it stops is not this play's end.
    if (!m_host.sound().play(path)) {
        // Nothing plays and no end will be reported: the play button stays usable.
        c.focus = kPlay;
        return;
    }
    m_testPlaying = true;
    c.testEnabled = false;
    c.stopEnabled = true;
    c.focus = kStop;
}

void SettingsPage::testStop()
{
    Controls& c = m_controls;
    if (m_testPlaying && m_host.sound().playing()) m_host.sound().stop();
    m_testPlaying = false;
    c.testEnabled = c.soundGroupEnabled && c.soundIndex > 0;
    c.stopEnabled = false;
    c.focus = kPlay;
}

void SettingsPage::soundFinished()
{
    if (!m_testPlaying) return;
    m_testPlaying = false;
    if (!m_current) return;
    Controls& c = m_controls;
    c.testEnabled = c.soundGroupEnabled && c.soundIndex > 0;
    c.stopEnabled = false;
    c.focus = kPlay;
}

void SettingsPage::apply()
{
    PrinterEntry entry{};
    if (!m_host.readEntry(entry)) return;  // the slot cannot be read: the command is ignored
    DetailSettings s = fromControls(m_record);
    s.applyPending = false;
    s.hide = entry.HideRequest != 0;
    putIntoEffect(s);
    m_applied = s;
    m_record = s;
    if (!m_host.storeSettings(m_host.printerName(), s)) {
        // Not stored: "更新" stays, so the user can try again.
        m_record.applyPending = true;
        return;
    }
    m_controls.applyEnabled = false;
    m_controls.focus = kFocusNext;
}

void SettingsPage::storeFailed()
{
    m_record.applyPending = true;
    if (m_current) m_controls.applyEnabled = true;
}

}  // namespace watchpanel
