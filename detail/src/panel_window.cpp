#include "panel_window.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QWindow>
#include <map>

#include "facts/paper_block.h"
#include "help_contexts.h"
#include "ink_guide.h"
#include "plat/base/trace.h"
#include "resources/help.h"
#include "resources/pictures.h"
#include "resources/string_table.h"
#include "resources/version_fields.h"
#include "templates.h"
#include "vigil.h"
#include "watchcore_events.h"
#include "watchpanel/outside_programs.h"
#include "watchpanel/texts.h"

namespace watchpanel {

namespace {

constexpr int kPlaceholder = 1202;
constexpr uint32_t kCommandBase = 1;
constexpr const char* kTemplates = ":/ui/";
// The card slots an information block can hold (its slot count is never trusted beyond them).
constexpr int kCardSlots = 5;

// Texts of the window's table: the status page's two button captions, the About box's description and
// trademark.
constexpr int kTroubleshootingCaption = 21050, kInkGuideCaption = 21051;
constexpr int kAboutDescription = 21110, kTrademark = 21111;
constexpr int kAboutItem = 10000;
constexpr int kInformationPage = 1, kSettingsPage = 2, kToolsPage = 3;

// Page templates and help contexts per family; the page kind is the section category.
struct PageSet {
    const char* status;
    int statusHelp;
    const char* tools;
};
constexpr PageSet kPageSets[] = {{"#1300", 1001, "#1800"}, {"#1400", 4001, "#1900"}, {"#1500", 3001, "#2000"}};
constexpr int kPageHelp[] = {0, 2001, 6001, 5001};

template <class W = QWidget>
W* numbered(const QWidget* root, int number)
{
    return root == nullptr ? nullptr : root->findChild<W*>(QStringLiteral("c%1").arg(number));
}

QString fromUtf8(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

void setControlText(QWidget* w, const std::string& value)
{
    const QString shown = kestrel::displayText(value);
    if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) {
        edit->setPlainText(shown);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(shown);
        // The label's accessible name is its caption ("トレイの用紙サイズ"); the value goes with it.
        label->setAccessibleDescription(shown);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(kestrel::displayText(value, true));
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(shown);
    }
}

}  // namespace

QString windowTitle(const std::string& printer, const QString& dialogTitle)
{
    return fromUtf8(printer) + dialogTitle.left(30);
}

PanelWindow::PanelWindow(int slot, std::unique_ptr<Sound> sound, std::filesystem::path historyFile,
                         NotificationsMaker notifications)
    : m_sound(std::move(sound)),
      m_historyFile(historyFile),
      m_thread(slot, *this, this, historyFile, std::move(notifications))
{
    connect(&m_tray, &PanelTray::doubleClicked, this,
            [this] { m_thread.post([](Panel& panel) { panel.foregroundRequested(); }); });
    m_sound->onFinished([this] { m_settings.soundFinished(); });
}

PanelWindow::~PanelWindow()
{
    m_history.reset();
    m_tools.finish();  // the engine stays up until a head move has returned
    m_thread.stop();
    if (m_sectionMade) fDeleteDlgSection(&m_section);
    m_dialog.reset();
}

void PanelWindow::openHistory()
{
    if (m_historyFile.empty()) return;
    if (!m_history) m_history = std::make_unique<kestrel::history::HistoryWindow>(m_historyFile, m_printer);
    m_history->refresh();
    m_history->present();
}

bool PanelWindow::start()
{
    auto loaded = loadTemplate(1200, nullptr);
    m_dialog.reset(qobject_cast<QDialog*>(loaded.get()));
    if (m_dialog == nullptr) return false;
    loaded.release();
    m_dialog->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    m_dialog->setWindowIcon(kestrel::icon(100));
    m_dialog->installEventFilter(this);
    // The About item of the window menu: the dialog's context menu here.
    auto* about = new QAction(kestrel::displayText(text(kAboutItem).value_or(""), true), m_dialog.get());
    connect(about, &QAction::triggered, this, &PanelWindow::openAbout);
    m_dialog->addAction(about);
    if (!m_historyFile.empty()) {
        auto* history = new QAction(kestrel::history::menuText(), m_dialog.get());
        history->setObjectName(QStringLiteral("historyAction"));
        connect(history, &QAction::triggered, this, &PanelWindow::openHistory);
        m_dialog->addAction(history);
    }
    m_dialog->setContextMenuPolicy(Qt::ActionsContextMenu);
    if (auto* close = numbered<QPushButton>(m_dialog.get(), 2)) {
        connect(close, &QPushButton::clicked, this, &PanelWindow::closePressed);
    }
    if (auto* help = numbered<QPushButton>(m_dialog.get(), 57670)) {
        connect(help, &QPushButton::clicked, this, [this] { kestrel::openHelp(m_helpContext); });
    }

    // The slot is shared memory, no store: the panel is attached here, before its thread takes it.
    Panel& panel = m_thread.panel();
    if (!panel.attach()) return false;
    m_printer = panel.printerName();
    m_family = panel.family();
    const PrinterEntry entry = panel.lastEntry();
    m_state.entry = entry;
    // The paper rows of the model, as the panel's start presets them, until the panel sends its own.
    presetEquipment(entry.ModelCode, m_state.paper.data(), m_state.information.data());
    m_state.informationCategories = m_family == facts::Family::Page ? 10 : 0;
    if (!buildTabs() || !buildPages()) {
        panel.failInitialisation();
        return false;
    }
    m_dialog->setWindowTitle(windowTitle(m_printer, m_dialog->windowTitle()));
    selectPage(0);  // the header and the paper rows of the model, before the printer first answers
    m_thread.start();
    return true;
}

void PanelWindow::started()
{
    if (currentPage() == 0) selectPage(0);  // the header as the connection check left the entry
}

bool PanelWindow::buildTabs()
{
    m_tabs = numbered<QTabWidget>(m_dialog.get(), 1201);
    if (m_tabs == nullptr) return false;
    const bool four = m_family == facts::Family::Page;
    m_tabPages = four ? std::vector<int>{0, 1, 2, 3} : std::vector<int>{0, 2, 3};
    static constexpr int kIcons[] = {700, 701, 702, 703};
    const int textBase = four ? 10010 : 10020, tipBase = four ? 10030 : 10040;
    for (int i = 0; i < static_cast<int>(m_tabPages.size()); ++i) {
        auto* page = new QWidget(m_tabs);
        page->setMaximumHeight(0);
        const int tab = m_tabs->addTab(page, kestrel::icon(kIcons[m_tabPages[i]]),
                                       kestrel::displayText(text(textBase + i).value_or(""), true));
        if (auto tip = text(tipBase + i)) m_tabs->setTabToolTip(tab, fromUtf8(*tip));
    }
    m_tabs->setCurrentIndex(0);
    m_tabs->tabBar()->installEventFilter(this);
    m_tabs->installEventFilter(this);
    connect(m_tabs, &QTabWidget::currentChanged, this, &PanelWindow::tabChanged);
    return true;
}

bool PanelWindow::buildPages()
{
    if (fInitDlgSection(&m_section, kCommandBase, m_dialog.get(), kPlaceholder, nullptr) == 0) return false;
    m_sectionMade = true;
    fSetDlgSectionThreshold(&m_section, 1, 1);
    const PageSet& set = kPageSets[static_cast<int>(m_family)];
    for (int kind : m_tabPages) {
        const char* name = kind == 0 ? set.status : kind == 1 ? "#1600" : kind == 2 ? "#1700" : set.tools;
        if (iAddDlgSectionCategory(&m_section, kTemplates, name, kind, 1, 0) == 0) return false;
    }
    m_helpContext = set.statusHelp;
    if (fSelectDlgSectionCategory(&m_section, 0) == 0) return false;
    m_tabs->setFocus();
    return true;
}

int PanelWindow::currentPage() const
{
    const int tab = m_tabs == nullptr ? -1 : m_tabs->currentIndex();
    return tab < 0 || tab >= static_cast<int>(m_tabPages.size()) ? -1 : m_tabPages[tab];
}

void PanelWindow::tabChanged(int index)
{
    if (m_switching || index < 0 || index >= static_cast<int>(m_tabPages.size())) return;
    if (iGetDlgSectionCurrentID(&m_section) == kSettingsPage && m_tabPages[index] != kSettingsPage)
        m_settings.pageLeft();
    selectPage(m_tabPages[index]);
    if (m_tabPages[index] == 0) m_thread.post([](Panel& panel) { panel.redrawNow(); });
}

void PanelWindow::selectPage(int kind)
{
    fSelectDlgSectionCategory(&m_section, kind);
    m_helpContext = kind == 0 ? kPageSets[static_cast<int>(m_family)].statusHelp : kPageHelp[kind];
    if (kind == kSettingsPage) m_settings.pageSelected();
    if (kind == kToolsPage) m_tools.pageSelected();
    if (kind == kInformationPage) {
        DlgSectionCategory* category = pseccatGetDlgSectionCategory(&m_section, kind);
        PrinterEntry entry{};
        if (category != nullptr && readEntry(entry)) fillHeader(category->page, entry);
        m_info.pageSelected();
        readCardNames();
    }
    if (kind != 0) return;
    // The section list gives a page its template texts again when it is shown.
    if (auto* trouble = numbered<QPushButton>(m_dialog.get(), 1308)) {
        trouble->setText(kestrel::displayText(text(kTroubleshootingCaption).value_or(""), true));
    }
    if (auto* guide = numbered<QPushButton>(m_dialog.get(), 1339)) {
        guide->setText(kestrel::displayText(text(kInkGuideCaption).value_or(""), true));
    }
    PrinterEntry entry{};
    if (readEntry(entry)) fillHeader(m_dialog.get(), entry);
    applyChanges(paperVisibility(static_cast<std::uint32_t>(m_family), m_state.paper.data()), false);
}

void PanelWindow::selectStatusPage()
{
    {
        const QSignalBlocker quiet(m_tabs);
        m_switching = true;
        m_tabs->setCurrentIndex(0);
        m_switching = false;
    }
    selectPage(0);
}

void PanelWindow::pageCreated(int kind)
{
    if (kind == kSettingsPage || kind == kToolsPage || kind == kInformationPage) {
        DlgSectionCategory* category = pseccatGetDlgSectionCategory(&m_section, kind);
        if (category == nullptr) return;
        if (kind == kSettingsPage) m_settings.attach(category->page);
        if (kind == kToolsPage) m_tools.attach(category->page);
        if (kind == kInformationPage) m_info.attach(category->page);
        return;
    }
    if (kind != 0) return;
    if (auto* trouble = numbered<QPushButton>(m_dialog.get(), 1308)) {
        connect(trouble, &QPushButton::clicked, this, &PanelWindow::openTroubleshooting);
    }
    if (auto* guide = numbered<QPushButton>(m_dialog.get(), 1339)) {
        connect(guide, &QPushButton::clicked, this, &PanelWindow::openInkGuide);
    }
    for (int n : {1302, 1303, 1304}) {
        if (auto* label = numbered<QLabel>(m_dialog.get(), n))
            label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    // The paper, toner and photoconductor groups carry their icons.
    for (auto [n, icon] : {std::pair{1310, 720}, {1329, 721}, {1326, 722}}) {
        auto* label = numbered<QLabel>(m_dialog.get(), n);
        const QIcon shown = kestrel::icon(icon);
        if (label != nullptr && !shown.isNull()) label->setPixmap(shown.pixmap(16, 16));
    }
}

void PanelWindow::fillHeader(QWidget* root, const PrinterEntry& entry)
{
    if (auto* icon = numbered<QLabel>(root, 1301)) {
        const QIcon shown = kestrel::icon(entry.NetworkPort != 0 ? 711 : 710);
        if (!shown.isNull()) icon->setPixmap(shown.pixmap(icon->maximumSize().boundedTo(QSize(32, 32))));
    }
    auto measureIn = [](QLabel* label) {
        return [metrics = QFontMetrics(label->font())](std::string_view s) {
            return metrics.horizontalAdvance(fromUtf8(s));
        };
    };
    auto widthOf = [](QLabel* label) { return std::max(label->contentsRect().width(), label->minimumWidth()); };
    if (auto* name = numbered<QLabel>(root, 1302)) {
        name->setText(fromUtf8(shortened(fieldText(entry.PrinterName), widthOf(name), measureIn(name))));
        name->setToolTip(fromUtf8(fieldText(entry.PrinterName)));
        name->setAccessibleDescription(name->toolTip());  // the whole name, though the label shows a part
    }
    if (auto* model = numbered<QLabel>(root, 1303)) {
        model->setText(fromUtf8(fieldText(entry.ModelName)));
        model->setAccessibleDescription(model->text());
    }
    if (auto* destination = numbered<QLabel>(root, 1304)) {
        destination->setText(fromUtf8(outputDestination(entry, widthOf(destination), measureIn(destination))));
        destination->setAccessibleDescription(destination->text().replace(QLatin1Char('\n'), QString()));
    }
}

QWidget* PanelWindow::control(int number) const { return numbered(m_dialog.get(), number); }

void PanelWindow::applyChanges(const Changes& changes, bool stopAtMissing)
{
    const qreal ratio = m_dialog->devicePixelRatioF();
    for (const ControlChange& change : changes) {
        QWidget* w = control(change.control);
        if (w == nullptr) {
            if (stopAtMissing) return;
            continue;
        }
        switch (change.kind) {
        case ControlChange::Kind::Visible: w->setVisible(change.on); break;
        case ControlChange::Kind::Enabled: w->setEnabled(change.on); break;
        case ControlChange::Kind::Text: setControlText(w, change.text); break;
        case ControlChange::Kind::Picture:
            if (auto* label = qobject_cast<QLabel*>(w)) {
                const QPixmap pixmap = kestrel::picture(change.picture, ratio);
                if (!pixmap.isNull()) {
                    label->setPixmap(pixmap);
                    label->setProperty("kestrelPicture", change.picture);
                }
            }
            break;
        }
    }
}

void PanelWindow::redraw(const PrinterEntry& entry)
{
    if (currentPage() != 0) return;
    int explanation = 0;
    const auto family = static_cast<std::uint32_t>(m_family);
    PrinterEntry shown = entry;
    shown.PrinterFamily = family;
    const Changes status = statusChanges(shown, m_state.paper.data(), &explanation);
    applyChanges(status, false);
    if (explanation != 0) {
        m_explanation = explanation;
        m_thread.post([explanation](Panel& panel) { panel.setExplanation(explanation); });
    }
    applyChanges(paperTexts(shown, m_state.paper.data()), true);
    applyChanges(levelPictures(family, m_state.paper.data()), false);
    describeLevels();
    // The picture says what the message says, for those who cannot see it.
    if (auto* picture = control(1305)) {
        if (auto* message = numbered<QPlainTextEdit>(m_dialog.get(), 1306)) {
            picture->setAccessibleDescription(message->toPlainText());
        }
    }
}

void PanelWindow::describeLevels()
{
    // A bar's level in words too, in its tooltip and for screen readers: never told by the picture alone.
    for (const ControlChange& change : levelTexts(static_cast<std::uint32_t>(m_family), m_state.paper.data())) {
        if (QWidget* w = control(change.control)) {
            w->setToolTip(fromUtf8(change.text));
            w->setAccessibleDescription(fromUtf8(change.text));
        }
    }
}

void PanelWindow::showWindow(bool activate)
{
    m_dialog->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    if (m_dialog->isMinimized()) m_dialog->showNormal();
    m_dialog->show();
    if (activate) bringToFront();
}

void PanelWindow::hideWindow() { m_dialog->hide(); }

void PanelWindow::bringToFront()
{
    m_dialog->raise();
    m_dialog->activateWindow();
}

void PanelWindow::end() { finish(0); }

void PanelWindow::finish(int exitCode)
{
    if (m_ended) return;
    m_ended = true;
    m_exitCode = exitCode;
    m_thread.stopTimers();
    // A box or dialog the user left open must not keep the program alive.
    for (QDialog* open : m_dialog->findChildren<QDialog*>()) open->reject();
    m_dialog->hide();
    emit ended();
}

void PanelWindow::closePressed()
{
    m_thread.post([](Panel& panel) { panel.closePressed(); });
}

void PanelWindow::openTroubleshooting()
{
    PrinterEntry entry{};
    if (!readEntry(entry)) return;
    auto box = loadTemplate(2100, m_dialog.get());
    auto* dialog = qobject_cast<QDialog*>(box.get());
    if (dialog == nullptr) return;
    dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    fillHeader(dialog, entry);
    if (auto* explanation = numbered<QPlainTextEdit>(dialog, 2101)) {
        explanation->setPlainText(kestrel::displayText(text(m_explanation).value_or("")));
    }
    if (auto* ok = numbered<QPushButton>(dialog, 1)) connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    dialog->exec();
}

void PanelWindow::openInkGuide()
{
    PrinterEntry entry{};
    if (!readEntry(entry)) return;
    showInkGuide(m_dialog.get(), std::string(fieldText(entry.ModelFullName)));
}

void PanelWindow::openAbout()
{
    auto box = loadTemplate(1000, m_dialog.get());
    auto* dialog = qobject_cast<QDialog*>(box.get());
    if (dialog == nullptr) return;
    dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    kestrel::fillVersionFields(dialog, 1001, fromUtf8(text(kAboutDescription).value_or("")),
                               fromUtf8(text(kTrademark).value_or("")));
    if (auto* ok = numbered<QPushButton>(dialog, 1)) connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    dialog->exec();
}

void PanelWindow::contextHelp()
{
    // The topic of the focused control, or of the page when the help table does not list it.
    int context = 0;
    for (QWidget* w = m_dialog->focusWidget(); w != nullptr && w != m_dialog.get() && context == 0;
         w = w->parentWidget()) {
        bool numberedName = false;
        const int number = w->objectName().mid(1).toInt(&numberedName);
        if (numberedName && w->objectName().startsWith(QLatin1Char('c')))
            context = controlHelp(m_family, currentPage(), number);
    }
    kestrel::openHelp(context != 0 ? context : m_helpContext);
}

bool PanelWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_dialog.get()) {
        if (event->type() == WatchcoreCommandEvent::kType) {
            const auto* command = static_cast<WatchcoreCommandEvent*>(event);
            if ((command->wParam & 0xFFFF) == kCommandBase && (command->wParam >> 16) == 1) {
                pageCreated(static_cast<int>(command->lParam));
            }
            return true;
        }
        if (event->type() == QEvent::Close) {
            // The caption's close button hides the window like "閉じる"; only the list program ends it.
            if (!m_ended) {
                event->ignore();
                closePressed();
                return true;
            }
            return false;
        }
    }
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (watched == m_dialog.get() && key->key() == Qt::Key_Escape) {
            closePressed();
            return true;
        }
        if (watched == m_dialog.get() && key->key() == Qt::Key_F1) {
            contextHelp();
            return true;
        }
        const bool onTabs = m_tabs != nullptr && (watched == m_tabs || watched == m_tabs->tabBar());
        const bool ctrlTab = key->modifiers().testFlag(Qt::ControlModifier) &&
                             (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab);
        if (onTabs && ctrlTab) {
            const int count = m_tabs->count(), current = m_tabs->currentIndex();
            if (count == 0 || current < 0) {
                QApplication::beep();
                return true;
            }
            const bool back = key->key() == Qt::Key_Backtab || key->modifiers().testFlag(Qt::ShiftModifier);
            m_tabs->setCurrentIndex((current + (back ? count - 1 : 1)) % count);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void PanelWindow::settingsLoaded(const DetailSettings& settings, bool putIntoEffect)
{
    m_stored = settings;
    if (putIntoEffect) m_settings.loadFromStore();
}

DetailSettings PanelWindow::loadSettings(const std::string&, facts::Family)
{
    if (m_stored) return *m_stored;
    // Not read yet (the panel reads them ahead as it starts): the page shows the fallbacks until the
    // panel has loaded the stored ones, which then take their place.
    m_thread.loadSettings();
    return {};
}

bool PanelWindow::storeSettings(const std::string&, const DetailSettings& settings)
{
    m_stored = settings;
    m_thread.applySettings(settings);
    return true;  // a refusal comes back as settingsNotStored()
}

bool PanelWindow::updateEntry(const std::function<void(PrinterEntry&)>& change)
{
    m_thread.post([change](Panel& panel) { panel.update(change); });
    return true;
}

void PanelWindow::setAlwaysOnTop(bool on)
{
    if (m_dialog == nullptr || m_dialog->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) return;
    // Changing a flag re-creates the native window, which hides it: show it again where it was.
    const bool visible = m_dialog->isVisible();
    m_dialog->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (visible) {
        m_dialog->setAttribute(Qt::WA_ShowWithoutActivating, true);
        m_dialog->show();
    }
}

void PanelWindow::setTrayShown(bool shown)
{
    m_tray.setShown(shown);
    m_thread.refreshTray();  // its icon and tooltip from the entry the settings were written to
}

int PanelWindow::chooseTrayIconSet(int current) { return watchpanel::chooseTrayIconSet(m_dialog.get(), current); }

std::optional<std::string> PanelWindow::chooseSoundFile(const std::string& folder)
{
    return browseSoundFile(m_dialog.get(), folder);
}

int PanelWindow::waveFormatPicture(const std::string& path) { return watchpanel::waveFormatPicture(path); }

void PanelWindow::startJobWindow(const std::string& printer)
{
    m_thread.post([printer](Panel&) { watchpanel::openJobWindow(printer); });
}

void PanelWindow::startPrinterSetup(const std::string& driverFile, const std::string& printer, const std::string& port)
{
    // The setup library shows its dialog on this thread and reads the spooler from there. So it is
    // called only once the spooler has just answered for the printer, on the panel's spooler thread:
    // a scheduler that does not answer keeps the dialog away instead of freezing the window (and the
    // library would show nothing for an unanswered printer anyway).
    if (m_setupAsked) return;
    m_setupAsked = true;
    m_thread.askSpooler(printer, [this, driverFile, printer, port](bool listed) {
        if (!listed) plat::trace("printer setup: the spooler does not answer, or has no \"" + printer + "\"");
        if (listed && !m_ended) openPrinterSetup(m_dialog.get(), driverFile, printer, port);
        m_setupAsked = false;
    });
}

std::int32_t PanelWindow::moveHead(const std::string& port) { return ActHeadFunc(port.c_str()); }

std::string PanelWindow::icCardName(const std::string&, int slot)
{
    const auto it = m_cardNames.find(slot);
    return it == m_cardNames.end() ? std::string() : it->second;
}

void PanelWindow::readCardNames()
{
    m_thread.post([this, printer = m_printer](Panel&) {
        std::map<int, std::string> names;
        for (int slot = 0; slot < kCardSlots; ++slot) {
            char name[256] = {};
            if (fGetRegistoryIcCardNameOnSlot(printer.c_str(), name, 255, static_cast<std::uint32_t>(slot)) != 0)
                names[slot] = std::string(name, strnlen(name, sizeof name));
        }
        plat::gui::postTo(this, [this, names] {
            if (names == m_cardNames) return;
            m_cardNames = names;
            if (currentPage() == kInformationPage) m_info.refresh();
        });
    });
}

void PanelWindow::playAlert(const std::string& path)
{
    if (m_sound) m_sound->play(path);
}

void PanelWindow::updateTray(const PrinterEntry& entry)
{
    m_tray.setShown(entry.MonitorFlag != 0);
    if (entry.MessageIndex >= entry.MessageCount) return;
    const std::optional<std::string> message = statusMessage(entry, m_state.paper.data());
    if (!message) return;
    m_tray.update(trayIconNumber(entry.SelectIcon, static_cast<int>(entry.PrinterState)),
                  trayTooltip(m_printer, *message));
}

}  // namespace watchpanel
