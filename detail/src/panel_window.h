#pragma once
// The detail window: the main dialog of template 1200 with its tabs and the pages the section list
// creates over the placeholder. It shows what the Panel decides and passes the user's actions back to
// it; the Panel with its timers runs on the program's panel thread (panel_thread.h), so nothing here
// calls the store, the spooler, a port or the engine, or waits for them. Where a page needs the slot's
// record it takes the copy the panel sent last.

#include <QObject>
#include <QPointer>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "dbus_notifications.h"
#include "history_window.h"
#include "info_widget.h"
#include "panel.h"
#include "panel_thread.h"
#include "settings_widget.h"
#include "sound.h"
#include "tools_widget.h"
#include "tray.h"
#include "watchcore.h"

class QDialog;
class QTabWidget;
class QWidget;

namespace watchpanel {

class PanelWindow : public QObject, public PanelDisplay, public SettingsHost, public ToolsHost, public InfoHost {
    Q_OBJECT
public:
    // `sound` plays the alerts and the settings page's tests, `notifications` makes the service that
    // shows them on the desktop (on a thread of the window's); the desktop's by default. The status
    // changes go to the history in `historyFile` (none with an empty path).
    explicit PanelWindow(int slot, std::unique_ptr<Sound> sound = makeDesktopSound(),
                         std::filesystem::path historyFile = {},
                         NotificationsMaker notifications = makeDesktopNotifications);
    // Waits for a head move and for the panel's shutdown: the engine is stopped when it returns.
    ~PanelWindow() override;

    // Builds the window, attaches to the slot and hands the panel to its thread, which starts the
    // engine and the timers. False when the program is to end at once (the slot then says why, as far
    // as it can be written); a start that fails later ends the window with exit code 1.
    bool start();

    QDialog* dialog() const { return m_dialog.get(); }
    // The panel runs on its own thread: only engineReady() may be read from here.
    Panel& panel() { return m_thread.panel(); }
    // Before start(): the process's heartbeat, beaten by the panel's worker with its status timer.
    void beatWith(plat::Heartbeat& heartbeat) { m_thread.beatWith(heartbeat); }
    // The page kind of the current tab: 0 status, 1 information, 2 settings, 3 tools.
    int currentPage() const;
    PanelTray& tray() { return m_tray; }
    SettingsWidget& settingsPage() { return m_settings; }
    ToolsWidget& toolsPage() { return m_tools; }
    InfoWidget& informationPage() { return m_info; }
    int helpContext() const { return m_helpContext; }
    // What the program returns once ended() was emitted.
    int exitCode() const { return m_exitCode; }

    // Ends the window (SIGTERM): the program ends with it.
    void end();
    // Opens the printer's status history (the window menu's item), or raises it.
    void openHistory();
    kestrel::history::HistoryWindow* historyWindow() const { return m_history.get(); }

    // PanelDisplay
    void follow(const PanelState& state) override { m_state = state; }
    void redraw(const PrinterEntry& entry) override;
    void selectStatusPage() override;
    void settingsLoaded(const DetailSettings& settings, bool putIntoEffect) override;
    void settingsNotStored() override { m_settings.storeFailed(); }
    void playAlert(const std::string& path) override;
    void updateTray(const PrinterEntry& entry) override;
    void showWindow(bool activate) override;
    void hideWindow() override;
    void bringToFront() override;
    void started() override;
    void finished(int exitCode) override { finish(exitCode); }

    // SettingsHost
    std::string printerName() const override { return m_printer; }
    facts::Family family() const override { return m_family; }
    // The record as the panel sent it last (the panel reads the slot again for every action it runs).
    bool readEntry(PrinterEntry& entry) override
    {
        entry = m_state.entry;
        return true;
    }
    bool updateEntry(const std::function<void(PrinterEntry&)>& change) override;
    void setAlwaysOnTop(bool on) override;
    void setTrayShown(bool shown) override;
    Sound& sound() override { return *m_sound; }
    int chooseTrayIconSet(int current) override;
    std::optional<std::string> chooseSoundFile(const std::string& folder) override;
    int waveFormatPicture(const std::string& path) override;
    DetailSettings loadSettings(const std::string& printer, facts::Family family) override;
    bool storeSettings(const std::string& printer, const DetailSettings& settings) override;

    // ToolsHost
    void startJobWindow(const std::string& printer) override;
    void startPrinterSetup(const std::string& driverFile, const std::string& printer, const std::string& port) override;
    std::int32_t moveHead(const std::string& port) override;

    // InfoHost
    const std::int32_t* informationBlock() const override { return m_state.information.data(); }
    const std::int32_t* paperBlock() const override { return m_state.paper.data(); }
    int informationCategoryCount() const override { return m_state.informationCategories; }
    std::string icCardName(const std::string& printer, int slot) override;

signals:
    // The window has ended; the program ends with it (exitCode()).
    void ended();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool buildTabs();
    bool buildPages();
    void tabChanged(int index);
    void selectPage(int kind);
    void pageCreated(int kind);
    void fillHeader(QWidget* root, const PrinterEntry& entry);
    void applyChanges(const Changes& changes, bool stopAtMissing);
    void describeLevels();
    void closePressed();
    void readCardNames();
    void openTroubleshooting();
    void openInkGuide();
    void openAbout();
    void contextHelp();
    void finish(int exitCode);
    QWidget* control(int number) const;

    // What the pages follow, from the slot when the window starts and then as the panel sends it.
    std::string m_printer;
    facts::Family m_family = facts::Family::Page;
    PanelState m_state;
    int m_explanation = 0;                   // the string behind the troubleshooting button
    std::optional<DetailSettings> m_stored;  // the printer's settings as the panel last read them
    std::map<int, std::string> m_cardNames;  // IC card names by card slot, as last read
    SettingsWidget m_settings{*this};
    ToolsWidget m_tools{*this};
    InfoWidget m_info{*this};
    // After the settings page: a sound that ends as it is destroyed still reports to the page.
    std::unique_ptr<Sound> m_sound;
    PanelTray m_tray;
    std::unique_ptr<QDialog> m_dialog;
    QTabWidget* m_tabs = nullptr;
    DlgSection m_section{};
    bool m_sectionMade = false;
    std::vector<int> m_tabPages;  // page kind per tab
    int m_helpContext = 0;
    bool m_switching = false;
    bool m_ended = false;
    bool m_setupAsked = false;  // a printer setup waits for the spooler's answer or shows its dialog
    int m_exitCode = 0;
    std::filesystem::path m_historyFile;
    std::unique_ptr<kestrel::history::HistoryWindow> m_history;
    // Last: its workers stop first, while everything the panel sends to still exists.
    PanelThread m_thread;
};

// The window title: the printer's name and the dialog's own title, of which at most 30 characters.
QString windowTitle(const std::string& printer, const QString& dialogTitle);

}  // namespace watchpanel
