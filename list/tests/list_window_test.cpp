// The list window over hand-made items: which commands it offers when, what its requests carry, the
// sort by a header click, the view modes and the environment they persist through.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <cstdlib>

#include "history_window.h"
#include "list_window.h"
#include "resources/language.h"
#include "status_history.h"
#include "testsupport/temp_root.h"

using namespace watchlist;

namespace {

Row row(int number, std::string name, bool monitorable, int jobs = -1)
{
    Row r;
    r.row = number;
    r.slot = monitorable ? static_cast<std::uint16_t>(number) : kNoSlot;
    r.name = std::move(name);
    r.state = monitorable ? MonitorState::NotMonitoring : MonitorState::CannotMonitor;
    r.jobCount = jobs;
    return r;
}

class ListWindowTest : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ::setenv("KESTREL_MESSAGE_BOXES", "stderr", 1);
        // The pictures are taken in the locale's language (scripts/screenshot runs them in each).
        if (!qEnvironmentVariable("KESTREL_LIST_SHOTS").isEmpty())
            kestrel::useLanguage(kestrel::languageFromEnvironment());
        items.reset(
            {row(0, "Alpha", true, 2), row(1, "Bravo", false), row(2, "Charlie", true, 10), row(3, "Delta", true, -1)});
        for (int p = 0; p < items.count(); ++p) {
            const int jobs = items.rows()[static_cast<std::size_t>(p)].jobCount;
            items.setText(p, 3, std::to_string(jobs));
        }
        window = std::make_unique<ListWindow>(items);
    }

    QAction* command(int number) const { return window->findChild<QAction*>(QStringLiteral("command%1").arg(number)); }
    QAbstractItemView* view() const
    {
        return window->findChild<QAbstractItemView*>(window->viewMode() == 3 ? "details" : "list");
    }
    void select(std::initializer_list<int> positions)
    {
        QAbstractItemView* v = view();
        v->selectionModel()->clearSelection();
        for (int p : positions)
            v->selectionModel()->select(v->model()->index(p, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QString shownText(int position, int column) const
    {
        return view()->model()->index(position, column).data().toString();
    }
    void pressEnter()
    {
        view()->setFocus();
        QTest::keyClick(view(), Qt::Key_Return);
    }

    ListRows items;
    std::unique_ptr<ListWindow> window;
};

TEST_F(ListWindowTest, CommandsNeedASelectionAndNoRebuild)
{
    QAction* detail = command(500);
    QAction* jobs = command(501);
    QAction* refresh = command(509);
    ASSERT_TRUE(detail && jobs && refresh);
    EXPECT_FALSE(detail->isEnabled());
    EXPECT_FALSE(jobs->isEnabled());
    EXPECT_TRUE(refresh->isEnabled());

    select({0});
    EXPECT_TRUE(detail->isEnabled());
    EXPECT_TRUE(jobs->isEnabled());

    window->setBuilding(true, true);
    EXPECT_FALSE(detail->isEnabled());
    EXPECT_FALSE(jobs->isEnabled());
    EXPECT_FALSE(refresh->isEnabled());
    QSignalSpy refreshes(window.get(), &ListWindow::refreshRequested);
    refresh->trigger();
    EXPECT_EQ(refreshes.count(), 0);

    window->setBuilding(false, true);
    EXPECT_TRUE(detail->isEnabled());
    EXPECT_TRUE(refresh->isEnabled());
    refresh->trigger();
    EXPECT_EQ(refreshes.count(), 1);

    // A reset of the items drops the selection and the commands follow.
    items.reset({row(0, "Echo", true)});
    EXPECT_FALSE(detail->isEnabled());
}

// The printer menu's history item opens the history of each selected printer, one that cannot be
// monitored included, and a second time raises the same window.
TEST_F(ListWindowTest, TheHistoryItemOpensTheSelectedPrintersHistory)
{
    auto* item = window->findChild<QAction*>(QStringLiteral("historyItem"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), QString::fromUtf8("状態の履歴(&H)..."));
    select({1});
    EXPECT_FALSE(item->isEnabled()) << "no history to open";
    window->setHistoryFile(kestrel::history::historyFile(root.path()));
    EXPECT_TRUE(item->isEnabled());
    select({});
    EXPECT_FALSE(item->isEnabled());

    select({1});
    item->trigger();
    kestrel::history::HistoryWindow* bravo = window->historyWindow("Bravo");
    ASSERT_NE(bravo, nullptr);
    EXPECT_TRUE(bravo->isVisible());
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return bravo->model().phase() == kestrel::history::HistoryModel::Phase::Empty; }));
    item->trigger();
    EXPECT_EQ(window->historyWindow("Bravo"), bravo);
    EXPECT_EQ(window->historyWindow("Alpha"), nullptr);
}

TEST_F(ListWindowTest, RequestsCarryOnlyMonitorableItems)
{
    QSignalSpy shows(window.get(), &ListWindow::showRequested);
    QSignalSpy jobWindows(window.get(), &ListWindow::jobWindowRequested);

    select({1});  // Bravo cannot be monitored
    pressEnter();
    command(500)->trigger();
    EXPECT_EQ(shows.count(), 0);

    select({0, 2});
    command(500)->trigger();
    ASSERT_EQ(shows.count(), 1);
    EXPECT_EQ(shows.takeFirst().at(0).value<std::vector<int>>(), (std::vector<int>{0, 2}));

    select({0, 1, 2});
    pressEnter();
    ASSERT_EQ(shows.count(), 1);
    EXPECT_EQ(shows.takeFirst().at(0).value<std::vector<int>>(), (std::vector<int>{0, 2}));
    command(501)->trigger();
    ASSERT_EQ(jobWindows.count(), 1);
    EXPECT_EQ(jobWindows.takeFirst().at(0).value<std::vector<int>>(), (std::vector<int>{0, 2}));

    // A double click shows the item under the mouse, if it can be monitored.
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QApplication::processEvents();  // the icons are laid out
    auto doubleClick = [this](int position) {
        QAbstractItemView* v = view();
        const QPoint at = v->visualRect(v->model()->index(position, 0)).center();
        // The view takes a double click only on the item the button went down on.
        QTest::mousePress(v->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(v->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(v->viewport(), Qt::LeftButton, {}, at);
    };
    doubleClick(1);
    EXPECT_EQ(shows.count(), 0);
    doubleClick(3);
    ASSERT_EQ(shows.count(), 1);
    EXPECT_EQ(shows.takeFirst().at(0).value<std::vector<int>>(), std::vector<int>{3});

    // While the list is rebuilt its positions may name the wrong printer.
    window->setBuilding(true, true);
    pressEnter();
    doubleClick(3);
    EXPECT_EQ(shows.count(), 0);
}

TEST_F(ListWindowTest, CloseWaitsForTheController)
{
    QSignalSpy closes(window.get(), &ListWindow::closeRequested);
    window->show();
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    command(57665)->trigger();
    EXPECT_EQ(closes.count(), 2);
    window->closeNow();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(ListWindowTest, HeaderClickSortsAsTextAndChangesReachTheirItems)
{
    window->setViewMode(3);
    window->show();
    auto* details = window->findChild<QTreeView*>("details");
    ASSERT_NE(details, nullptr);
    select({0});  // Alpha, 2 jobs
    QHeaderView* header = details->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(3) + 10, header->height() / 2));

    // "-1" first (Bravo and Delta, equal, by name), then "10" before "2": compared as text.
    EXPECT_EQ(shownText(0, 0), "Bravo");
    EXPECT_EQ(shownText(1, 0), "Delta");
    EXPECT_EQ(shownText(2, 0), "Charlie");
    EXPECT_EQ(shownText(3, 0), "Alpha");
    EXPECT_EQ(window->selectedPositions(), std::vector<int>{3});  // the selection followed Alpha

    // The poller changes Charlie's item by its new position; the view is told about that row only.
    QSignalSpy changes(details->model(), &QAbstractItemModel::dataChanged);
    items.setText(2, 1, "changed");
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(0).toModelIndex().row(), 2);
    EXPECT_EQ(changes.at(0).at(1).toModelIndex().row(), 2);
    EXPECT_EQ(shownText(2, 1), "changed");
    EXPECT_EQ(shownText(2, 0), "Charlie");

    // Clicking again keeps the order: it is always ascending.
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(3) + 10, header->height() / 2));
    EXPECT_EQ(shownText(3, 0), "Alpha");
    EXPECT_FALSE(header->isSortIndicatorShown());
}

TEST_F(ListWindowTest, ANetworkPrinterShowsTheNetworkPictureAndItsQueuePath)
{
    window->setViewMode(3);
    const QModelIndex alpha = view()->model()->index(0, 0), charlie = view()->model()->index(2, 0);
    const qint64 localPicture = alpha.data(Qt::DecorationRole).value<QIcon>().cacheKey();
    EXPECT_FALSE(alpha.data(Qt::ToolTipRole).isValid()) << "nothing to show before the port is checked";

    QSignalSpy changes(view()->model(), &QAbstractItemModel::dataChanged);
    items.setConnection(0, true, "\\\\FS1\\QUEUE1");
    items.setConnection(2, false, "LPT1:");
    EXPECT_EQ(changes.count(), 2);
    EXPECT_NE(alpha.data(Qt::DecorationRole).value<QIcon>().cacheKey(), localPicture);
    EXPECT_EQ(charlie.data(Qt::DecorationRole).value<QIcon>().cacheKey(), localPicture);
    EXPECT_EQ(alpha.data(Qt::ToolTipRole).toString(), "\\\\FS1\\QUEUE1");
    EXPECT_EQ(alpha.data(Qt::AccessibleDescriptionRole).toString(), "\\\\FS1\\QUEUE1");
    EXPECT_EQ(charlie.data(Qt::ToolTipRole).toString(), "LPT1:");
    EXPECT_FALSE(view()->model()->index(0, 1).data(Qt::ToolTipRole).isValid()) << "the name column only";
}

TEST_F(ListWindowTest, ModesKeepTheSelectionAndPersist)
{
    EXPECT_EQ(window->viewMode(), 0);
    EXPECT_EQ(window->size(), QSize(620, 340));
    window->restoreEnvironment();  // nothing stored yet
    EXPECT_EQ(window->viewMode(), 0);
    EXPECT_EQ(window->size(), QSize(620, 340));

    select({2, 3});
    for (int mode : {3, 1, 2, 0, 3}) {
        window->setViewMode(mode);
        EXPECT_EQ(window->viewMode(), mode);
        EXPECT_EQ(window->selectedPositions(), (std::vector<int>{2, 3})) << mode;
        EXPECT_TRUE(command(502 + mode)->isChecked());
    }
    command(503)->trigger();
    EXPECT_EQ(window->viewMode(), 1);

    // The toolbar follows its View item, and comes back with the window after a hide.
    auto* toolBar = window->findChild<QToolBar*>("toolBar");
    window->show();
    command(59392)->trigger();
    EXPECT_FALSE(toolBar->isVisible());
    command(59392)->trigger();
    window->hide();
    window->show();
    EXPECT_TRUE(command(59392)->isChecked());
    EXPECT_TRUE(toolBar->isVisible());

    window->setGeometry(40, 50, 500, 300);
    window->storeEnvironment();
    ListWindow second(items);
    second.restoreEnvironment();
    EXPECT_EQ(second.viewMode(), 1);
    EXPECT_EQ(second.geometry(), QRect(40, 50, 500, 300));

    // Maximised, the normal placement is what is kept.
    second.show();
    second.showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.isMaximized(); }, 5000));
    second.storeEnvironment();
    ListWindow third(items);
    third.restoreEnvironment();
    EXPECT_EQ(third.geometry(), QRect(40, 50, 500, 300));
}

TEST_F(ListWindowTest, InitialisingDialogOnlyWhenNotQuiet)
{
    window->show();
    auto dialogShown = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "dialog1200" && w->isVisible()) return true;
        return false;
    };
    window->setBuilding(true, true);
    EXPECT_FALSE(dialogShown());
    window->setBuilding(true, false);
    EXPECT_TRUE(dialogShown());
    window->setBuilding(false, false);
    EXPECT_FALSE(dialogShown());
}

// The version dialog names the spooler the program uses.
TEST_F(ListWindowTest, TheVersionDialogNamesTheSpooler)
{
    window->show();
    window->setSpoolerName(QStringLiteral("CUPS"));
    QString shown;
    QTimer::singleShot(0, [&shown] {
        if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            if (auto* label = box->findChild<QLabel*>(QStringLiteral("spoolerName"))) shown = label->text();
            box->accept();
        }
    });
    command(57664)->trigger();
    EXPECT_TRUE(shown.endsWith(QStringLiteral(": CUPS"))) << shown.toStdString();
}

// The picture turns while the dialog shows and stands still while it is hidden.
TEST_F(ListWindowTest, InitialisingPictureTurns)
{
    window->show();
    window->setBuilding(true, false);
    QLabel* picture = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "dialog1200") picture = w->findChild<QLabel*>("c1201");
    ASSERT_NE(picture, nullptr);
    const QImage first = picture->pixmap().toImage();
    ASSERT_FALSE(first.isNull());
    ASSERT_TRUE(QTest::qWaitFor([&] { return picture->pixmap().toImage() != first; }, 10000));
    window->setBuilding(false, false);
    const QImage stopped = picture->pixmap().toImage();
    QTest::qWait(450);  // two ticks' time: a running animation would have moved
    EXPECT_EQ(picture->pixmap().toImage(), stopped);
}

// Not a check: with KESTREL_LIST_SHOTS=folder it writes the window in each mode, its menus opened and the
// initialising dialog as PNGs to look at.
TEST_F(ListWindowTest, Shots)
{
    const QString folder = qEnvironmentVariable("KESTREL_LIST_SHOTS");
    if (folder.isEmpty()) GTEST_SKIP() << "set KESTREL_LIST_SHOTS to write the pictures";
    std::vector<Row> rows = {row(0, "Office PG-03", true, 0), row(1, "Photo IJ-09", true, 12),
                             row(2, "Text only", false), row(3, "Forms DM-02", true, 2),
                             row(4, "Plotter on network", true, -1)};
    rows[1].network = rows[4].network = true;
    items.reset(std::move(rows));
    items.setText(0, 1, listText(10100));
    items.setText(0, 2, listText(10103));
    items.setText(0, 3, "0");
    items.setText(1, 3, "12");
    items.setText(3, 3, "2");
    window->show();
    select({1});
    for (int mode = 0; mode < 4; ++mode) {
        window->setViewMode(mode);
        QApplication::processEvents();
        ASSERT_TRUE(window->grab().save(folder + QStringLiteral("/list_mode%1.png").arg(mode)));
    }
    int index = 0;
    for (QMenu* menu : window->menuBar()->findChildren<QMenu*>()) {
        menu->popup(window->mapToGlobal(QPoint(10, 10)));
        QApplication::processEvents();
        ASSERT_TRUE(menu->grab().save(folder + QStringLiteral("/list_menu%1.png").arg(index++)));
        menu->hide();
    }
    QTimer::singleShot(0, [folder] {
        if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            box->grab().save(folder + "/list_version.png");
            box->accept();
        }
    });
    command(57664)->trigger();
    window->setBuilding(true, false);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "dialog1200" && w->isVisible()) {
            ASSERT_TRUE(w->grab().save(folder + "/list_initialising.png"));
        }
    }
    window->setBuilding(false, false);
}

}  // namespace
