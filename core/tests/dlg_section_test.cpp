// Section lists through the library's exports: pages made from templates inside a host, shown and hidden
// on selection, pruned by the marks, and the notifications the host gets, in order.

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QUiLoader>
#include <QVBoxLayout>
#include <QtTest>
#include <memory>
#include <vector>

#include "watchcore.h"
#include "watchcore_events.h"

namespace {

constexpr uint32_t kBase = 7;
using Commands = std::vector<std::pair<uint32_t, int32_t>>;
std::pair<uint32_t, int32_t> made(int32_t id) { return {kBase | 1u << 16, id}; }
std::pair<uint32_t, int32_t> gone(int32_t id) { return {kBase | 2u << 16, id}; }

QByteArray control(const char* cls, const char* name, const char* property = nullptr, const char* text = "")
{
    QByteArray item = QByteArray("<item><widget class=\"") + cls + "\" name=\"" + name + "\">";
    if (property) item += QByteArray("<property name=\"") + property + "\"><string>" + text + "</string></property>";
    return item + "</widget></item>";
}

QByteArray page(const QByteArray& controls)
{
    return "<ui version=\"4.0\"><widget class=\"QWidget\" name=\"page\"><layout class=\"QVBoxLayout\" "
           "name=\"layout\">" +
           controls + "</layout></widget></ui>";
}

// A host as the detail window is one: a placeholder control, and the commands it was sent.
class Host : public QWidget {
public:
    explicit Host(DlgSection* list) : list(list)
    {
        auto* placeholder = new QWidget(this);
        placeholder->setObjectName("c1202");
        (new QVBoxLayout(this))->addWidget(placeholder);
    }
    bool event(QEvent* event) override
    {
        if (event->type() != WatchcoreCommandEvent::kType) return QWidget::event(event);
        const auto* command = static_cast<WatchcoreCommandEvent*>(event);
        const auto id = static_cast<int32_t>(command->lParam);
        commands.push_back({command->wParam, id});
        const DlgSectionCategory* category = pseccatGetDlgSectionCategory(list, id);
        inListWhenSent = category != nullptr;
        if (command->wParam >> 16 == 2) widgetsWhenTold &= category && category->page;  // told before they go
        return true;
    }
    DlgSection* list;
    Commands commands;
    bool inListWhenSent = false;
    bool widgetsWhenTold = true;
};

}  // namespace

class DlgSectionTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    QByteArray folderPath;
    const char* instance = nullptr;
    DlgSection list{};
    std::unique_ptr<Host> host;

    // Templates "#100", "#200", "#300" as ids 0, 1, 2.
    void addThree(uint32_t flagsOfId1 = 1)
    {
        for (int32_t id : {0, 1, 2})
            QCOMPARE(iAddDlgSectionCategory(&list, instance, ("#" + QByteArray::number(100 * (id + 1))).constData(), id,
                                            id == 1 ? flagsOfId1 : 1, 0),
                     id + 1);
    }
    template <class T>
    T* controlOf(int32_t id, const char* name)
    {
        DlgSectionCategory* category = pseccatGetDlgSectionCategory(&list, id);
        return category && category->page ? category->page->findChild<T*>(name) : nullptr;
    }

private slots:
    void initTestCase()
    {
        folderPath = (folder.path() + "/").toUtf8();
        instance = folderPath.constData();
        const std::pair<const char*, QByteArray> files[] = {
            {"100.ui", page(control("QLabel", "c101", "text", "Ready") + control("QLabel", "c102") +
                            control("QGroupBox", "c104", "title", "Paper") + control("QLineEdit", "c105", "text", "0") +
                            control("QLabel", "caption", "text", "Status:"))},
            {"200.ui", page(control("QLabel", "c201", "text", "Two"))},
            {"300.ui", page(control("QLabel", "c301", "text", "Three"))},
            {"400.ui", "<ui version=\"4.0\"><nothing/></ui>"},  // well-formed, but makes no widget
            {"500.ui", "<ui version=\"4.0\"><widget class=\"QWidget\">"}};
        for (const auto& [name, bytes] : files) {
            QFile file(folder.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        }
    }
    void init()
    {
        host = std::make_unique<Host>(&list);
        host->show();
        QCOMPARE(fInitDlgSection(&list, kBase, host.get(), 1202, this), 1);
    }
    void cleanup()
    {
        QCOMPARE(fDeleteDlgSection(&list), 1);
        QCOMPARE(list.categories, nullptr);
        if (host) QCOMPARE(host->findChild<QWidget*>("page"), nullptr);
        host.reset();
    }

    void addLoadsTemplatesAndRefusesBadOnes()
    {
        DlgSection other{};
        QCOMPARE(fInitDlgSection(&other, kBase, host.get(), 1203, nullptr), 0);  // no such placeholder
        QCOMPARE(iAddDlgSectionCategory(&list, instance, "#100", 0, 1, 42), 1);
        const DlgSectionCategory* category = pseccatGetDlgSectionCategory(&list, 0);
        QCOMPARE(category->controlCount, 4);  // "caption" is not a numbered control
        QCOMPARE(category->page, nullptr);
        for (const char* name : {"#999", "", "#", "100", "#1a", "#500", "#123456789012345"})
            QVERIFY2(iAddDlgSectionCategory(&list, instance, name, 1, 1, 0) == 0, name);
        QCOMPARE(iAddDlgSectionCategory(&list, nullptr, "#100", 1, 1, 0), 0);
        QCOMPARE(iGetDlgSectionCount(&list), 1);
        QCOMPARE(lpvGetDlgSectionData(&list), static_cast<void*>(this));
    }

    void marksOfOneKeepOnlyTheCurrentPageAlive()
    {
        QCOMPARE(fSetDlgSectionThreshold(&list, 1, 1), 1);
        addThree();
        for (int32_t id : {0, 1, 2}) QCOMPARE(fSelectDlgSectionCategory(&list, id), 1);
        QCOMPARE(host->commands, (Commands{made(0), made(1), gone(0), made(2), gone(1)}));
        QVERIFY(host->widgetsWhenTold);
        QCOMPARE(list.live, 1);
        QCOMPARE(host->findChild<QWidget*>("c101"), nullptr);  // destroyed at once, not later
        QVERIFY(controlOf<QLabel>(2, "c301")->isVisible());

        QWidget* shown = pseccatGetDlgSectionCategory(&list, 2)->page;
        QCOMPARE(fSelectDlgSectionCategory(&list, 2), 1);  // the current one again: nothing happens
        QCOMPARE(host->commands.size(), size_t(5));
        QCOMPARE(pseccatGetDlgSectionCategory(&list, 2)->page, shown);
    }

    void raisedMarksPruneAtOnceAndSpareKeptPages()
    {
        addThree(0);
        for (int32_t id : {0, 1, 2}) QCOMPARE(fUseDlgSectionCategory(&list, &list.categories[id]), 1);
        QCOMPARE(list.live, 3);  // marks 0: no pruning
        QVERIFY(!controlOf<QLabel>(0, "c101")->isVisible());
        QCOMPARE(fSetDlgSectionThreshold(&list, 1, 2), 1);
        QCOMPARE(host->commands, (Commands{made(0), made(1), made(2), gone(0), gone(2)}));
        QVERIFY(pseccatGetDlgSectionCategory(&list, 1)->page != nullptr);
        DlgSectionCategory stranger{};
        QCOMPARE(fUseDlgSectionCategory(&list, &stranger), 0);
    }

    void createdWhenAddedBeforeItJoinsTheList()
    {
        QCOMPARE(iAddDlgSectionCategory(&list, instance, "#200", 5, 3, 0), 1);
        QCOMPARE(host->commands, Commands{made(5)});
        QVERIFY(!host->inListWhenSent);
        QVERIFY(controlOf<QLabel>(5, "c201") != nullptr);
        QVERIFY(!controlOf<QLabel>(5, "c201")->isVisible());
    }

    void deletingTheCurrentPageLeavesNoneCurrent()
    {
        addThree();
        QCOMPARE(fSelectDlgSectionCategory(&list, 1), 1);
        QCOMPARE(iDeleteDlgSectionCategory(&list, 1), 2);
        QCOMPARE(iGetDlgSectionCurrentID(&list), -1);
        QCOMPARE(list.live, 0);
        QCOMPARE(host->findChild<QWidget*>("c201"), nullptr);
        QCOMPARE(host->commands, Commands{made(1)});  // deleting does not notify
        QCOMPARE(list.categories[1].id, 2);           // the later ones moved down
        QCOMPARE(iDeleteDlgSectionCategory(&list, 1), -1);
    }

    void failedSelectionKeepsTheIdCurrentAndShowsNothing()
    {
        addThree();
        QCOMPARE(iAddDlgSectionCategory(&list, instance, "#400", 4, 1, 0), 4);
        QCOMPARE(fSelectDlgSectionCategory(&list, 0), 1);
        QCOMPARE(fSelectDlgSectionCategory(&list, 4), 0);  // its template makes no widget
        QCOMPARE(iGetDlgSectionCurrentID(&list), 4);
        QVERIFY(!controlOf<QLabel>(0, "c101")->isVisible());
        QCOMPARE(fSelectDlgSectionCategory(&list, 99), 0);
        QCOMPARE(iGetDlgSectionCurrentID(&list), 99);
        QCOMPARE(fSelectDlgSectionCategory(&list, 0), 1);  // a missing current id blocks nothing
        QVERIFY(controlOf<QLabel>(0, "c101")->isVisible());
    }

    void reselectionPutsTheTemplateTextsBack()
    {
        addThree();
        QCOMPARE(fSelectDlgSectionCategory(&list, 0), 1);
        auto* status = controlOf<QLabel>(0, "c101");
        auto* picture = controlOf<QLabel>(0, "c102");
        QPixmap drawing(8, 8);
        picture->setPixmap(drawing);
        status->setText("Printing");
        controlOf<QLineEdit>(0, "c105")->setText("12");

        QCOMPARE(fSelectDlgSectionCategory(&list, 1), 1);
        QCOMPARE(status->text(), QString());
        QCOMPARE(controlOf<QGroupBox>(0, "c104")->title(), QString());
        QVERIFY(!status->isVisible());
        QVERIFY(host->updatesEnabled());

        QCOMPARE(fSelectDlgSectionCategory(&list, 0), 1);
        QCOMPARE(status->text(), QString("Ready"));
        QCOMPARE(controlOf<QGroupBox>(0, "c104")->title(), QString("Paper"));
        QCOMPARE(controlOf<QLineEdit>(0, "c105")->text(), QString("0"));
        QVERIFY(!picture->pixmap().isNull());  // no template text: it keeps its picture
    }

    void pagesThatWentWithTheirHostAreNotDestroyedAgain()
    {
        addThree();
        QCOMPARE(fSelectDlgSectionCategory(&list, 0), 1);
        QCOMPARE(fUseDlgSectionCategory(&list, &list.categories[1]), 1);
        host.reset();
        QCOMPARE(iDeleteDlgSectionCategory(&list, 1), 2);
        QCOMPARE(list.live, 1);
        QCOMPARE(fDeleteDlgSection(&list), 1);
    }

    // A placeholder with a minimum of its own (the main dialog's is 440 x 300) grows to the widest page
    // made in it, so that longer captions are never squeezed by it; it never shrinks below its own.
    void aPlaceholderWithAMinimumGrowsToFitEveryPage()
    {
        QWidget* placeholder = host->findChild<QWidget*>("c1202");
        placeholder->setMinimumSize(200, 100);
        QCOMPARE(iAddDlgSectionCategory(&list, instance, "#200", 1, 1, 0), 1);
        QCOMPARE(fSelectDlgSectionCategory(&list, 1), 1);
        QCOMPARE(placeholder->minimumSize(), QSize(200, 100));  // a small page leaves it as it was

        QFile file(folder.filePath("600.ui"));
        const QByteArray bytes = page(control("QLabel", "c601", "text", QByteArray(90, 'W').constData()));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        QCOMPARE(iAddDlgSectionCategory(&list, instance, "#600", 6, 1, 0), 2);
        QCOMPARE(fSelectDlgSectionCategory(&list, 6), 1);
        QLabel* label = controlOf<QLabel>(6, "c601");
        QVERIFY(label);
        QVERIFY(label->minimumSizeHint().width() > 200);
        QVERIFY(placeholder->minimumWidth() >= label->minimumSizeHint().width());
        QCOMPARE(placeholder->minimumHeight(), 100);
        QVERIFY(label->width() >= label->minimumSizeHint().width());  // the whole text shows
    }

    void realTemplatesInTheMainDialog()
    {
        QFile file(":/ui/1200.ui");
        QVERIFY(file.open(QIODevice::ReadOnly));
        std::unique_ptr<QWidget> dialog(QUiLoader().load(&file));
        DlgSection pages{};
        QCOMPARE(fInitDlgSection(&pages, 1, dialog.get(), 1202, nullptr), 1);
        QCOMPARE(fSetDlgSectionThreshold(&pages, 1, 1), 1);
        for (int32_t id : {0, 2, 3})
            QVERIFY(iAddDlgSectionCategory(&pages, ":/ui/", id == 0 ? "#1300" : id == 2 ? "#1400" : "#1500", id, 1, 0));
        QCOMPARE(pages.categories[0].controlCount, 35);
        dialog->show();
        for (int32_t id : {0, 2, 3, 0}) {
            QCOMPARE(fSelectDlgSectionCategory(&pages, id), 1);
            QCOMPARE(pages.live, 1);
            QVERIFY(pseccatGetDlgSectionCategory(&pages, id)->page->isVisible());
        }
        QVERIFY(dialog->findChild<QWidget*>("c1306") != nullptr);
        QCOMPARE(fDeleteDlgSection(&pages), 1);
        QCOMPARE(dialog->findChild<QWidget*>("c1306"), nullptr);
    }
};

QTEST_MAIN(DlgSectionTest)
#include "dlg_section_test.moc"
