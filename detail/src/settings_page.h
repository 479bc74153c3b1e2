#pragma once
// The settings page ("環境設定") without a window: what its controls show, what each user action does to
// them, to the printer's entry, to the window and to the store. The page keeps three copies of the
// settings apart: what its controls show now, the record it keeps while another page is shown (with
// "apply pending" when the user left unapplied changes), and what was last loaded or applied, which is
// what the window, the entry and the alert rule act on. Changes take effect only through "更新".
//
// The widget layer (SettingsWidget) shows Controls and passes the user's actions in; tests drive this
// class directly with a fake host.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "alerts.h"
#include "facts/models.h"
#include "printer_entry.h"

namespace watchpanel {

class Sound;

// What the page needs of the detail window. Every call comes on the GUI thread.
class SettingsHost {
public:
    virtual ~SettingsHost() = default;

    virtual std::string printerName() const = 0;
    // The family the window is laid out for (its alert types).
    virtual facts::Family family() const = 0;
    // The slot's record; false when it cannot be read.
    virtual bool readEntry(PrinterEntry& entry) = 0;
    // Reads the slot's record, lets `change` edit it and writes it back; false when it cannot. The
    // window may run `change` later, on its panel's thread: it must own what it uses.
    virtual bool updateEntry(const std::function<void(PrinterEntry&)>& change) = 0;
    // The detail window keeps or loses its always-on-top position, without moving or resizing. Called on
    // every load and each time the page is selected: cheap, and no flicker, when nothing changes.
    virtual void setAlwaysOnTop(bool on) = 0;
    // Adds (true) or deletes (false) the window's tray icon and refreshes its icon and tooltip from the
    // entry, which is written before this is called. Called as often as setAlwaysOnTop.
    virtual void setTrayShown(bool shown) = 0;
    // The sound the window plays with; its ends reach the page through SettingsPage::soundFinished().
    virtual Sound& sound() = 0;
    // The tray icon chooser (dialog 2200): the chosen set, or -1.
    virtual int chooseTrayIconSet(int current) = 0;
    // The file-open dialog for a sound, starting in `folder`: the chosen path, or nothing.
    virtual std::optional<std::string> chooseSoundFile(const std::string& folder) = 0;
    // The format picture's number for a sound file (312 for no file).
    virtual int waveFormatPicture(const std::string& path) = 0;
    // The printer's stored settings, and storing them. By default the store itself.
    virtual DetailSettings loadSettings(const std::string& printer, facts::Family family)
    {
        return loadDetailSettings(printer, family);
    }
    // The window may store them later, off its thread: it then answers true and, when the store
    // refuses them, calls SettingsPage::storeFailed().
    virtual bool storeSettings(const std::string& printer, const DetailSettings& settings)
    {
        return storeDetailSettings(printer, settings);
    }
};

// The settings' copies in the slot's record (interval, open rules, size check, tray icon).
void applySettingsToEntry(const DetailSettings& settings, PrinterEntry& entry);

// Control numbers of the page.
namespace settings_control {
inline constexpr int kIntervalGroup = 1701, kInterval = 1702, kWindowGroup = 1703, kOnTop = 1704,
                     kOpenWhenPrinting = 1705, kOpenOnError = 1706, kMonitorGroup = 1707, kMonitor = 1708,
                     kTrayIcon = 1709, kSizeCheck = 1710, kAlertGroup = 1711, kAlertList = 1712, kAllOn = 1713,
                     kAllOff = 1714, kDefaults = 1715, kSoundGroup = 1717, kSoundLabel = 1718, kSoundName = 1719,
                     kBrowse = 1720, kFormat = 1721, kTestLabel = 1722, kPlay = 1723, kStop = 1724, kApply = 1725,
                     kDesktopNotify = 1726;
// A focus request for the control after the one that has the focus.
inline constexpr int kFocusNext = -1;
}  // namespace settings_control

// The first entry of the sound list: no sound.
// The sound list's first item, "(なし)" in the window's table: no sound.
std::string noSoundItem();
// The picture for no sound file.
inline constexpr int kNoFilePicture = 312;

struct AlertItem {
    std::string name;  // first column
    std::string file;  // second column: the sound's file name
    bool checked = true;

    bool operator==(const AlertItem&) const = default;
};

// Everything the page's controls show.
struct Controls {
    int intervalMin = 2, intervalMax = 10, intervalPageStep = 1, intervalPosition = 5;  // seconds
    bool onTop = false, openWhenPrinting = false, openOnError = true;
    bool sizeCheck = false, sizeCheckEnabled = true;
    bool monitor = true, trayIconEnabled = true;
    bool desktopNotify = true;
    std::vector<AlertItem> alerts;
    int selected = -1;                    // the list's selected item, which is the sound group's alert type; -1 none
    std::vector<std::string> soundItems;  // noSoundItem(), then file names (UTF-8)
    int soundIndex = -1;                  // selected sound item, -1 none
    int formatPicture = 0;                // 0: none shown yet
    bool soundGroupEnabled = false;       // 1717..1720
    bool testEnabled = false;             // 1722, 1723
    bool stopEnabled = false;             // 1724
    bool applyEnabled = false;            // 1725
    int focus = 0;                        // a control to move the focus to, or kFocusNext; 0 none

    bool operator==(const Controls&) const = default;
};

class SettingsPage {
public:
    explicit SettingsPage(SettingsHost& host);

    // The page was selected: its set-up for the printer on the entry, then its controls from the
    // record kept for it (read from the store first if that never happened). Ignored when the entry
    // cannot be read.
    void selected();
    // Another page was selected: the controls' values become the record kept for the page, with
    // "apply pending" when "更新" was enabled. Nothing is written.
    void left();
    bool current() const { return m_current; }
    // The first status tick and each time the window is shown: the stored settings become the
    // page's record and the applied settings, and go to the window and the entry.
    void loadFromStore();

    // What the window, the entry and the alert rule act on: the settings last loaded or applied.
    const DetailSettings& applied() const { return m_applied; }
    // The record the page keeps while it is not current.
    const DetailSettings& record() const { return m_record; }
    const Controls& controls() const { return m_controls; }
    // The widget layer applied the focus request.
    void focusTaken() { m_controls.focus = 0; }

    // The user's actions.
    void setIntervalPosition(int seconds);
    void setOnTop(bool on);
    void setOpenWhenPrinting(bool on);
    void setOpenOnError(bool on);
    void setSizeCheck(bool on);
    void setMonitor(bool on);
    void setDesktopNotify(bool on);
    void chooseTrayIcon();   // 1709
    void allOn();            // 1713
    void allOff();           // 1714
    void restoreDefaults();  // 1715
    // The alert list: space, up and down arrows, clicks on an item's check mark or label.
    void spacePressed();
    void upPressed();
    void downPressed();
    void toggleAlert(int row);
    void selectAlert(int row);
    // The sound list's entry `index` was chosen.
    void chooseSound(int index);
    // "参照": asks the host for a file; true when the chosen path became the alert type's sound.
    bool browse();
    // The chosen file becomes the current alert type's sound. False, and nothing changes, for a path
    // that may not be kept (too long, not UTF-8) or when no alert type is current.
    bool takeSoundFile(const std::string& path);
    void testPlay();
    void testStop();
    // The host's sound ended (finished or stopped).
    void soundFinished();
    // "更新". Ignored when the entry cannot be read.
    void apply();
    // The settings "更新" handed to the host were not stored after all: "更新" stays, so the user can
    // try again.
    void storeFailed();

    // The folder the sound list was filled from ("" when it shows the media folder for no sound).
    const std::string& soundFolder() const { return m_folder; }
    int iconSet() const { return m_iconSet; }
    bool testPlaying() const { return m_testPlaying; }

private:
    void buildList();
    void followFamily();
    // The controls from `settings`.
    void showValues(const DetailSettings& settings);
    // The entry, the window and the tray from `settings`.
    void putIntoEffect(const DetailSettings& settings);
    // The settings the controls show, over `base` for what they do not show.
    DetailSettings fromControls(const DetailSettings& base) const;
    void fillSounds(const std::string& path);
    void setAlertSound(int row, const std::string& path);
    void changed() { m_controls.applyEnabled = true; }
    int alertRows() const { return static_cast<int>(m_controls.alerts.size()); }

    SettingsHost& m_host;
    facts::Family m_family;
    DetailSettings m_record, m_applied;
    Controls m_controls;
    std::vector<AlertSetting> m_sounds;  // the list's alert types' sounds as edited (enabled unused)
    int m_iconSet = 0;
    std::string m_folder;  // the folder the sound list shows, "" for the media folder of no sound
    bool m_current = false;
    bool m_loaded = false;
    bool m_testPlaying = false;
};

// The file name part of a path (after the last '/').
std::string fileNameOf(const std::string& path);
// The "*.wav" files (any case) of `folder` whose names are UTF-8, sorted; none when it cannot be read.
std::vector<std::string> waveFilesIn(const std::string& folder);

}  // namespace watchpanel
