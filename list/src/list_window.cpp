#include "list_window.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QActionGroup>
#include <QDialog>
#include <QEvent>
#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenuBar>

#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <set>
#include "history_window.h"

#include "plat/base/trace.h"
#include "plat/gui/form_loader.h"
#include "resources/help.h"
#include "resources/pictures.h"
#include "resources/string_table.h"
#include "resources/version_fields.h"
#include "watchcore.h"

namespace watchlist {

namespace {

constexpr int kDefaultWidth = 620;
constexpr int kDefaultHeight = 340;
constexpr int kColumnWidths[kColumns] = {160, 150, 180, 120};
constexpr int kColumnTitles = 10000;
constexpr int kCaption = 128;
constexpr int kIdleText = 57345;
constexpr int kListName = 10230;
constexpr int kToolBarName = 10231;
constexpr int kStatusBarName = 10232;
// The About box: the program's description, the spooler field (%1 its name), that field's name, the
// trademark.
constexpr int kAboutDescription = 10300, kSpoolerField = 10301, kSpoolerName = 10302, kTrademark = 10303;
constexpr int kLocalIcon = 130;
constexpr int kNetworkIcon = 131;
constexpr int kFirstFrame = 137;  // the initialising animation, 137..147
constexpr int kFrameTicks = 12;   // the twelfth tick finds no picture and keeps the last one
constexpr int kFramePeriodMs = 200;

enum Command {
    kDetail = 500,
    kJobs = 501,
    kLargeIcons = 502,
    kDetails = 505,
    kRefresh = 509,
    kVersion = 57664,
    kClose = 57665,
    kHelpTopics = 57667,
    kToolBar = 59392,
    kStatusBar = 59393,
};

QString text(int number) { return QString::fromStdString(listText(number)); }

// A command's prompt: the status-bar text before the line break, the tool tip after it.
QString statusPrompt(int command) { return text(command).section(QLatin1Char('\n'), 0, 0); }
QString promptTip(int command) { return text(command).section(QLatin1Char('\n'), 1); }

// The version strings of the version dialog, compiled into the program.

std::unique_ptr<QWidget> loadTemplate(const QString& path, QWidget* parent)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        plat::trace("list window: no template " + path.toStdString());
        return nullptr;
    }
    QString error;
    std::unique_ptr<QWidget> form(plat::gui::loadForm(&file, parent, &error));
    if (form == nullptr) plat::trace("list window: template " + path.toStdString() + ": " + error.toStdString());
    return form;
}

template <typename T>
T* numbered(QWidget* form, int number)
{
    return form->findChild<T*>(QStringLiteral("c%1").arg(number));
}

// The items of ListRows as a table: one row per item in display order, the four column texts, and the
// local or network picture in the first column.
class RowsModel : public QAbstractTableModel {
public:
    explicit RowsModel(ListRows& items, QObject* parent) : QAbstractTableModel(parent), m_items(items)
    {
        m_local = kestrel::icon(kLocalIcon);
        m_network = kestrel::icon(kNetworkIcon);
    }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : m_items.count(); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : kColumns; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_items.count() || index.column() >= kColumns) return {};
        const ListRows::Item& item = m_items.item(index.row());
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return QString::fromStdString(item.texts[static_cast<std::size_t>(index.column())]);
        case Qt::DecorationRole:
            if (index.column() == 0) return item.network ? m_network : m_local;
            return {};
        case Qt::ToolTipRole:
        case Qt::AccessibleDescriptionRole:
            // Where the printer prints: its port, or for a network printer its queue path.
            if (index.column() == 0 && !item.destination.empty()) return QString::fromStdString(item.destination);
            return {};
        default: return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return text(kColumnTitles + section);
        if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    // ListRows has already changed when it tells; views ask again after the reset.
    void itemChanged(int position)
    {
        if (position < 0 || position >= rowCount()) {
            beginResetModel();
            endResetModel();
        } else {
            emit dataChanged(index(position, 0), index(position, kColumns - 1));
        }
    }

private:
    ListRows& m_items;
    QIcon m_local, m_network;
};

}  // namespace

struct ListWindow::Private : QObject {
    ListWindow* q;
    ListRows& items;
    RowsModel* model = nullptr;
    QItemSelectionModel* selection = nullptr;
    QStackedWidget* stack = nullptr;
    QListView* listView = nullptr;
    QTreeView* detailsView = nullptr;
    std::map<int, QAction*> commands;
    QAction* historyItem = nullptr;
    std::filesystem::path historyFile;
    std::map<std::string, std::unique_ptr<kestrel::history::HistoryWindow>> histories;  // by printer
    int mode = -1;
    bool building = false;
    bool ending = false;
    QString spoolerName;

    // The initialising dialog, made on its first showing and kept, with the animation's frame counter.
    std::unique_ptr<QWidget> initialising;
    QLabel* frameField = nullptr;
    QTimer frameTimer;
    int frame = 0;

    Private(ListWindow* window, ListRows& rows) : q(window), items(rows) {}

    QAbstractItemView* currentView() const
    {
        return mode == 3 ? static_cast<QAbstractItemView*>(detailsView) : static_cast<QAbstractItemView*>(listView);
    }

    QAction* addCommand(QMenu* menu, int command, int menuText)
    {
        auto* action = new QAction(kestrel::displayText(listText(menuText), true), q);
        action->setObjectName(QStringLiteral("command%1").arg(command));
        action->setStatusTip(statusPrompt(command));
        action->setToolTip(promptTip(command));
        const QIcon picture = kestrel::icon(command);
        if (!picture.isNull()) action->setIcon(picture);
        action->setIconVisibleInMenu(false);  // the menus show their check and radio marks plainly
        menu->addAction(action);
        commands[command] = action;
        return action;
    }

    std::vector<int> selected() const
    {
        std::set<int> rows;
        for (const QModelIndex& index : selection->selectedIndexes()) rows.insert(index.row());
        return {rows.begin(), rows.end()};
    }

    std::vector<int> monitorable(const std::vector<int>& positions) const
    {
        std::vector<int> result;
        for (int position : positions)
            if (position < items.count() && items.item(position).monitorable()) result.push_back(position);
        return result;
    }

    // Enter and a double click. While the list is rebuilt its slots are being remade, so a position of
    // the old list could reach the wrong printer's detail program: they are ignored until it is built.
    void showFromList(const std::vector<int>& positions)
    {
        if (building) return;
        const std::vector<int> shown = monitorable(positions);
        if (!shown.empty()) emit q->showRequested(shown);
    }

    void updateCommands()
    {
        const bool any = selection->hasSelection();
        commands[kDetail]->setEnabled(!building && any);
        commands[kJobs]->setEnabled(!building && any);
        historyItem->setEnabled(any && !historyFile.empty());
        commands[kRefresh]->setEnabled(!building);
    }

    void rowsChanged(int position)
    {
        if (position >= 0) {
            model->itemChanged(position);
            return;
        }
        // A reset would give the columns their default widths back; the user's widths stay.
        std::vector<int> widths;
        for (int c = 0; c < kColumns; ++c) widths.push_back(detailsView->columnWidth(c));
        model->itemChanged(-1);
        for (int c = 0; c < kColumns; ++c) detailsView->setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
        updateCommands();
    }

    // A sort moves items: the selection follows them by their parameters, which are unique in a build.
    void sortBy(int column)
    {
        std::set<std::int32_t> chosen;
        for (int position : selected()) chosen.insert(items.item(position).parameter);
        const QModelIndex current = selection->currentIndex();
        const std::int32_t currentParameter = current.isValid() ? items.item(current.row()).parameter : -1;
        const bool hadCurrent = current.isValid();

        items.sort(column);

        QItemSelection restored;
        for (int position = 0; position < items.count(); ++position) {
            const std::int32_t parameter = items.item(position).parameter;
            if (chosen.contains(parameter))
                restored.select(model->index(position, 0), model->index(position, kColumns - 1));
            if (hadCurrent && parameter == currentParameter)
                selection->setCurrentIndex(model->index(position, 0), QItemSelectionModel::NoUpdate);
        }
        selection->select(restored, QItemSelectionModel::ClearAndSelect);
        updateCommands();
    }

    void showInitialising()
    {
        if (initialising == nullptr) {
            initialising = loadTemplate(QStringLiteral(":/ui/list/1200.ui"), q);
            if (initialising == nullptr) return;
            initialising->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint |
                                         Qt::WindowDoesNotAcceptFocus);
            initialising->setAttribute(Qt::WA_ShowWithoutActivating);
            initialising->setFocusPolicy(Qt::NoFocus);
            initialising->setWindowIcon(kestrel::icon(kCaption));
            frameField = numbered<QLabel>(initialising.get(), 1201);
            if (frameField != nullptr) frameField->setPixmap(kestrel::icon(kFirstFrame).pixmap(32, 32));
        }
        initialising->adjustSize();
        const QRect frameRect = q->frameGeometry();
        initialising->move(frameRect.center() - initialising->rect().center());
        initialising->show();
        frameTimer.start();
    }

    void hideInitialising()
    {
        frameTimer.stop();
        if (initialising != nullptr) initialising->hide();
    }

    void nextFrame()
    {
        const QIcon picture = kestrel::icon(kFirstFrame + frame);
        if (!picture.isNull() && frameField != nullptr) {
            frameField->setPixmap(picture.pixmap(32, 32));
            frameField->repaint();
        }
        frame = (frame + 1) % kFrameTicks;
    }

    void showVersion()
    {
        auto form = loadTemplate(QStringLiteral(":/ui/list/1100.ui"), q);
        auto* dialog = qobject_cast<QDialog*>(form.get());
        if (dialog == nullptr) return;
        dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        if (auto* picture = numbered<QLabel>(dialog, kCaption))
            picture->setPixmap(kestrel::icon(kCaption).pixmap(32, 32));
        kestrel::fillVersionFields(dialog, 1101, text(kAboutDescription), text(kTrademark));
        // Which spooler the printers come from: with CUPS only queues on the velta backend are
        // watched while they print.
        auto* fields = dialog->findChild<QVBoxLayout*>(QStringLiteral("vbox_fields"));
        if (fields != nullptr && !spoolerName.isEmpty()) {
            auto* spooler = new QLabel(text(kSpoolerField).replace(QStringLiteral("%1"), spoolerName), dialog);
            spooler->setObjectName(QStringLiteral("spoolerName"));
            spooler->setAccessibleName(text(kSpoolerName));
            spooler->setAccessibleDescription(spoolerName);
            fields->insertWidget(std::min(3, fields->count()), spooler);
        }
        if (auto* ok = numbered<QPushButton>(dialog, 1)) connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
        dialog->exec();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == q) {
            if (event->type() == QEvent::Close && !ending) {
                // The controller stops the detail programs first and then ends the window.
                event->ignore();
                emit q->closeRequested();
                return true;
            }
            if (event->type() == QEvent::WindowActivate && !q->isMinimized()) currentView()->setFocus();
            return false;
        }
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                showFromList(selected());
                return true;
            }
        }
        return false;
    }
};

ListWindow::ListWindow(ListRows& items, QWidget* parent)
    : QMainWindow(parent), d(std::make_unique<Private>(this, items))
{
    setWindowTitle(text(kCaption).section(QLatin1Char('\n'), 0, 0));
    setWindowIcon(kestrel::icon(kCaption));
    resize(kDefaultWidth, kDefaultHeight);

    // The list: one model and one selection, shown by whichever view the mode needs.
    d->model = new RowsModel(items, this);
    d->selection = new QItemSelectionModel(d->model, this);
    d->stack = new QStackedWidget(this);
    d->listView = new QListView(d->stack);
    d->detailsView = new QTreeView(d->stack);
    d->listView->setObjectName(QStringLiteral("list"));
    d->detailsView->setObjectName(QStringLiteral("details"));
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(d->listView), static_cast<QAbstractItemView*>(d->detailsView)}) {
        view->setModel(d->model);
        QItemSelectionModel* own = view->selectionModel();
        view->setSelectionModel(d->selection);
        delete own;
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setAccessibleName(text(kListName));
        view->installEventFilter(d.get());
        connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
            if (index.isValid()) d->showFromList({index.row()});
        });
        d->stack->addWidget(view);
    }
    d->listView->setMovement(QListView::Static);
    d->listView->setResizeMode(QListView::Adjust);
    d->listView->setUniformItemSizes(true);
    d->detailsView->setRootIsDecorated(false);
    d->detailsView->setItemsExpandable(false);
    d->detailsView->setUniformRowHeights(true);
    d->detailsView->setAllColumnsShowFocus(true);
    d->detailsView->setIconSize(QSize(16, 16));
    QHeaderView* header = d->detailsView->header();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < kColumns; ++c) d->detailsView->setColumnWidth(c, kColumnWidths[c]);
    connect(header, &QHeaderView::sectionClicked, this, [this](int column) { d->sortBy(column); });
    setCentralWidget(d->stack);

    // Menus and commands.
    QMenu* printer = menuBar()->addMenu(kestrel::displayText(listText(10200), true));
    QMenu* view = menuBar()->addMenu(kestrel::displayText(listText(10201), true));
    QMenu* help = menuBar()->addMenu(kestrel::displayText(listText(10202), true));

    QAction* detail = d->addCommand(printer, kDetail, 10210);
    detail->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(detail, &QAction::triggered, this, [this] {
        const std::vector<int> shown = d->monitorable(d->selected());
        if (!d->building && !shown.empty()) emit showRequested(shown);
    });
    QAction* jobs = d->addCommand(printer, kJobs, 10211);
    jobs->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_J));
    connect(jobs, &QAction::triggered, this, [this] {
        const std::vector<int> shown = d->monitorable(d->selected());
        if (!d->building && !shown.empty()) emit jobWindowRequested(shown);
    });
    // Any printer has a history, a printer that cannot be monitored (any more) included.
    d->historyItem = new QAction(kestrel::history::menuText(), this);
    d->historyItem->setObjectName(QStringLiteral("historyItem"));
    d->historyItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    printer->addAction(d->historyItem);
    connect(d->historyItem, &QAction::triggered, this, [this] {
        for (int position : d->selected()) {
            if (position >= d->items.count()) continue;
            const std::string name = d->items.item(position).texts[0];
            auto& window = d->histories[name];
            if (!window) window = std::make_unique<kestrel::history::HistoryWindow>(d->historyFile, name);
            window->refresh();
            window->present();
        }
    });
    printer->addSeparator();
    connect(d->addCommand(printer, kClose, 10212), &QAction::triggered, this, [this] { emit closeRequested(); });

    auto* toolBar = new QToolBar(this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setAccessibleName(text(kToolBarName));
    toolBar->setWindowTitle(text(kToolBarName));
    toolBar->setIconSize(QSize(16, 16));
    toolBar->setFloatable(false);
    addToolBar(toolBar);
    QAction* toolBarShown = d->addCommand(view, kToolBar, 10213);
    toolBarShown->setCheckable(true);
    toolBarShown->setChecked(true);
    connect(toolBarShown, &QAction::toggled, toolBar, &QToolBar::setVisible);
    // The View menu alone shows and hides the bars: the frame's own bar menu would bypass its marks.
    setContextMenuPolicy(Qt::NoContextMenu);

    QStatusBar* status = statusBar();
    status->setAccessibleName(text(kStatusBarName));
    auto* idle = new QLabel(text(kIdleText), status);  // hidden while a prompt shows
    idle->setObjectName(QStringLiteral("idleText"));
    status->addWidget(idle, 1);
    QAction* statusShown = d->addCommand(view, kStatusBar, 10214);
    statusShown->setCheckable(true);
    statusShown->setChecked(true);
    connect(statusShown, &QAction::toggled, status, &QStatusBar::setVisible);
    view->addSeparator();

    auto* modes = new QActionGroup(this);
    for (int mode = 0; mode < 4; ++mode) {
        QAction* action = d->addCommand(view, kLargeIcons + mode, 10215 + mode);
        action->setCheckable(true);
        modes->addAction(action);
        connect(action, &QAction::triggered, this, [this, mode] { setViewMode(mode); });
    }
    view->addSeparator();
    connect(d->addCommand(view, kRefresh, 10219), &QAction::triggered, this, [this] {
        if (!d->building) emit refreshRequested();
    });

    connect(d->addCommand(help, kHelpTopics, 10220), &QAction::triggered, this,
            [] { kestrel::openHelp(QStringLiteral("list")); });
    help->addSeparator();
    connect(d->addCommand(help, kVersion, 10221), &QAction::triggered, this, [this] { d->showVersion(); });

    auto* helpKey = new QAction(this);
    helpKey->setShortcut(QKeySequence(Qt::Key_F1));
    helpKey->setShortcutContext(Qt::WindowShortcut);
    connect(helpKey, &QAction::triggered, this, [] { kestrel::openHelp(QStringLiteral("list")); });
    addAction(helpKey);

    for (int command : {int(kDetail), int(kJobs), 0, 502, 503, 504, int(kDetails), 0, int(kHelpTopics)}) {
        if (command == 0) toolBar->addSeparator();
        else toolBar->addAction(d->commands[command]);
    }

    connect(d->selection, &QItemSelectionModel::selectionChanged, this, [this] { d->updateCommands(); });
    items.changed = [this](int position) { d->rowsChanged(position); };

    d->frameTimer.setInterval(kFramePeriodMs);
    connect(&d->frameTimer, &QTimer::timeout, this, [this] { d->nextFrame(); });

    installEventFilter(d.get());
    setViewMode(0);
    d->updateCommands();
}

ListWindow::~ListWindow()
{
    d->items.changed = nullptr;
    removeEventFilter(d.get());
    d->frameTimer.stop();
}

int ListWindow::viewMode() const { return d->mode; }

void ListWindow::setViewMode(int mode)
{
    if (mode < 0 || mode > 3 || mode == d->mode) return;
    const bool hadFocus = d->mode >= 0 && d->currentView()->hasFocus();
    d->mode = mode;
    QListView* list = d->listView;
    switch (mode) {
    case 0:
        list->setViewMode(QListView::IconMode);
        list->setIconSize(QSize(32, 32));
        list->setFlow(QListView::LeftToRight);
        list->setWrapping(true);
        list->setWordWrap(true);
        list->setGridSize(QSize(96, 72));
        break;
    case 1:
        // Small icons: the picture beside the name, the items in rows.
        list->setViewMode(QListView::ListMode);
        list->setIconSize(QSize(16, 16));
        list->setFlow(QListView::LeftToRight);
        list->setWrapping(true);
        list->setWordWrap(false);
        list->setGridSize(QSize(160, 22));
        break;
    case 2:
        list->setViewMode(QListView::ListMode);
        list->setIconSize(QSize(16, 16));
        list->setFlow(QListView::TopToBottom);
        list->setWrapping(true);
        list->setWordWrap(false);
        list->setGridSize(QSize());
        break;
    default: break;
    }
    list->setMovement(QListView::Static);
    // The details view shows the whole rows of what was selected in another mode.
    QItemSelection rows;
    for (int position : d->selected())
        rows.select(d->model->index(position, 0), d->model->index(position, kColumns - 1));
    d->selection->select(rows, QItemSelectionModel::Select);
    d->stack->setCurrentWidget(d->currentView());
    d->commands[kLargeIcons + mode]->setChecked(true);
    if (hadFocus) d->currentView()->setFocus();
}

void ListWindow::restoreEnvironment()
{
    ListEnviron stored{};
    if (fGetListEnviron(&stored) == 0) return;
    applyEnvironment(stored);
}

void ListWindow::applyEnvironment(const ListEnviron& stored)
{
    setViewMode(stored.viewMode >= 0 && stored.viewMode <= 3 ? stored.viewMode : 0);
    // A damaged size would leave the window unusable; the default one serves instead.
    if (stored.width > 0 && stored.height > 0) setGeometry(stored.left, stored.top, stored.width, stored.height);
}

void ListWindow::storeEnvironment()
{
    const ListEnviron stored = environment();
    if (fSetListEnviron(&stored) == 0) plat::trace("list window: the list environment could not be stored");
}

ListEnviron ListWindow::environment() const
{
    const QRect normal = (isMaximized() || isMinimized() || isFullScreen()) ? normalGeometry() : geometry();
    return ListEnviron{d->mode, normal.top(), normal.left(), normal.width(), normal.height()};
}

void ListWindow::setBuilding(bool building, bool quiet)
{
    d->building = building;
    if (building && !quiet) d->showInitialising();
    else if (!building) d->hideInitialising();
    d->updateCommands();
}

bool ListWindow::building() const { return d->building; }

std::vector<int> ListWindow::selectedPositions() const { return d->selected(); }

void ListWindow::setHistoryFile(const std::filesystem::path& file)
{
    d->historyFile = file;
    d->updateCommands();
}

kestrel::history::HistoryWindow* ListWindow::historyWindow(const std::string& printer) const
{
    auto found = d->histories.find(printer);
    return found == d->histories.end() ? nullptr : found->second.get();
}

void ListWindow::setSpoolerName(const QString& name) { d->spoolerName = name; }

void ListWindow::closeNow()
{
    d->ending = true;
    d->hideInitialising();
    close();
}

}  // namespace watchlist
