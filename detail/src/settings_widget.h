#pragma once
// The settings page's widgets (template 1700) over SettingsPage. The section list creates the page's
// widget tree when the page is first shown and destroys it again when it prunes the page, so this
// object lives as long as the window and is attached to each new tree; the page's state stays here.
//
// Wiring in the detail window:
//   - construct it once with a SettingsHost (the window's entry, always-on-top, tray, sound, dialogs);
//   - on the section list's "created" notice for the settings page: attach(category->page);
//   - after fSelectDlgSectionCategory made the settings page current: pageSelected();
//     when another page becomes current: pageLeft() (before or after the switch);
//   - on the first status tick and whenever the window is shown: loadFromStore();
//   - when the window's Sound reports an end: soundFinished();
//   - when the settings "更新" handed to the host were not stored: storeFailed();
//   - the alert rule reads applied().

#include <QObject>
#include <QPointer>
#include <QRect>
#include <optional>
#include <string>

#include "settings_page.h"

class QComboBox;
class QTreeWidget;
class QWidget;

namespace watchpanel {

class SettingsWidget : public QObject {
    Q_OBJECT
public:
    explicit SettingsWidget(SettingsHost& host, QObject* parent = nullptr);
    ~SettingsWidget() override;

    // Binds to the page's widget tree (made from template 1700); the tree may be destroyed at any time
    // after, and attach() called again for a new one.
    void attach(QWidget* page);
    bool attached() const { return !m_page.isNull(); }

    void pageSelected();
    void pageLeft();
    void loadFromStore();
    void soundFinished();
    // The settings "更新" handed over were not stored after all.
    void storeFailed();

    const DetailSettings& applied() const { return m_state.applied(); }
    SettingsPage& state() { return m_state; }

    // Where the alert list draws row `row`'s check mark, in its viewport's coordinates.
    static QRect checkMarkArea(QTreeWidget* list, int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* control(int number) const;
    void connectControls();
    void setCaptions();
    // Shows the state's controls, then applies its focus request.
    void render();
    void renderList();
    void renderSounds();
    void renderFormat();
    bool listKey(int key);
    bool listMouse(QEvent* event);
    // Runs a user action on the state and shows the result.
    template <class Action>
    void act(Action&& action);

    SettingsPage m_state;
    QPointer<QWidget> m_page;
    QPointer<QTreeWidget> m_list;
    QPointer<QComboBox> m_sounds;
    QPointer<QObject> m_listObject, m_viewportObject;  // what the event filter watches
};

// The file-open dialog for a sound ("ｳｪｰﾌﾞﾌｧｲﾙ (*.WAV)", existing files only) over `parent`, starting in
// `folder`: the chosen path as the file system names it, or nothing.
std::optional<std::string> browseSoundFile(QWidget* parent, const std::string& folder);

}  // namespace watchpanel
