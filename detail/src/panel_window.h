#pragma once
// The detail window: the main dialog of template 1200 with its tabs, the pages the section list creates
// over the placeholder, and the two timers. It shows what Panel decides and passes the user's actions
// back to it; nothing here waits on a port or a process.

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <vector>

#include "info_widget.h"
#include "panel.h"
#include "settings_widget.h"
#include "sound.h"
#include "tools_widget.h"
#include "tray.h"
#include "watchcore.h"

class QDialog;
class QTabWidget;
class QWidget;

namespace watchpanel {

class PanelWindow : public QObject, public PanelView, public SettingsHost, public ToolsHost, public InfoHost {
    Q_OBJECT
public:
    // `sound` plays the alerts and the settings page's tests; the desktop's by default.
    explicit PanelWindow(int slot, std::unique_ptr<Sound> sound = makeDesktopSound());
    ~PanelWindow() override;

    // Builds the window, attaches to the slot and starts the engine and the timers. False when the
    // program is to end at once (the slot then says why, as far as it can be written).
    bool start();

    QDialog* dialog() const { return m_dialog.get(); }
    Panel& panel() { return m_panel; }
    // The page kind of the current tab: 0 status, 1 information, 2 settings, 3 tools.
    int currentPage() const;
    PanelTray& tray() { return m_tray; }
    SettingsWidget& settingsPage() { return m_settings; }
    ToolsWidget& toolsPage() { return m_tools; }
    InfoWidget& informationPage() { return m_info; }
    int helpContext() const { return m_helpContext; }

    // PanelView
    void redraw(const PrinterEntry& entry) override;
    void selectStatusPage() override;
    void loadSettings() override;
    const DetailSettings& settings() const override { return m_settings.applied(); }
    void playAlert(const std::string& path) override;
    void updateTray(const PrinterEntry& entry) override;
    void openJobWindow() override { m_tools.openJobList(); }

    // SettingsHost
    std::string printerName() const override { return m_panel.printerName(); }
    facts::Family family() const override { return m_panel.family(); }
    bool readEntry(PrinterEntry& entry) override;
    bool updateEntry(const std::function<void(PrinterEntry&)>& change) override { return m_panel.update(change); }
    void setAlwaysOnTop(bool on) override;
    void setTrayShown(bool shown) override;
    Sound& sound() override { return *m_sound; }
    int chooseTrayIconSet(int current) override;
    std::optional<std::string> chooseSoundFile(const std::string& folder) override;
    int waveFormatPicture(const std::string& path) override;

    // ToolsHost
    void startJobWindow(const std::string& printer) override;
    void startPrinterSetup(const std::string& driverFile, const std::string& printer, const std::string& port) override;
    std::int32_t moveHead(const std::string& port) override;

    // InfoHost
    const std::int32_t* informationBlock() const override { return m_panel.information(); }
    const std::int32_t* paperBlock() const override { return m_panel.paper(); }
    int informationCategoryCount() const override { return m_panel.informationCategories(); }
    std::string icCardName(const std::string& printer, int slot) override;
    void showWindow(bool activate) override;
    void hideWindow() override;
    void bringToFront() override;
    void end() override;

signals:
    // The window has ended; the program ends with it.
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
    void openTroubleshooting();
    void openInkGuide();
    void openAbout();
    void contextHelp();
    QWidget* control(int number) const;

    Panel m_panel;
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
    QTimer m_statusTimer, m_driverTimer;
};

// The window title: the printer's name and the dialog's own title, of which at most 30 characters.
QString windowTitle(const std::string& printer, const QString& dialogTitle);

}  // namespace watchpanel
