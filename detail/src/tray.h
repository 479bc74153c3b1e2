#pragma once
// The printer's icon in the desktop's tray, and the chooser of its icon set.

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <string>

class QSystemTrayIcon;
class QWidget;

namespace watchpanel {

inline constexpr int kTrayIconSets = 9;

// The tray icon's number for a set (0..8) and status level (0 normal, 1 warning, 2 error): 800..826.
int trayIconNumber(int set, int level);
// "printer: message", cut to 63 characters without splitting one.
QString trayTooltip(const std::string& printer, const std::string& message);

// The icon while shown. When the desktop has no tray yet, it appears as soon as one does.
class PanelTray : public QObject {
    Q_OBJECT
public:
    explicit PanelTray(QObject* parent = nullptr);
    ~PanelTray() override;

    void setShown(bool shown);
    bool shown() const { return m_shown; }
    // The icon and the tooltip; kept while hidden, shown with the icon.
    void update(int iconNumber, const QString& tooltip);
    // Whether the icon is in a tray now.
    bool visibleInTray() const;

signals:
    void doubleClicked();

private:
    void showWhenTrayAvailable();

    std::unique_ptr<QSystemTrayIcon> m_icon;
    bool m_shown = false;
    int m_iconNumber = -1;
    QString m_tooltip;
    QTimer* m_trayCheck;  // single shot: looks for a tray again while the icon waits for one
};

// Dialog 2200: the nine sets' normal icons to choose from, `current` preselected. The chosen set, or -1
// when cancelled (or when the icons cannot be loaded).
int chooseTrayIconSet(QWidget* parent, int current);

}  // namespace watchpanel
