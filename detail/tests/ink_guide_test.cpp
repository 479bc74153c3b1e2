// The ink replacement guide: the stepping through each model's pictures and texts, and the dialog's
// controls following it when the buttons are clicked.

#include <QApplication>
#include <QIcon>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

#include "ink_guide.h"
#include "resources/pictures.h"

using watchpanel::InkGuide;
using watchpanel::InkGuideDialog;

namespace {

struct Walk {
    std::vector<int> pictures;
    std::vector<int> texts;
};

Walk walk(const char* driverName)
{
    InkGuide guide(driverName);
    Walk w;
    do {
        w.pictures.push_back(guide.picture());
        w.texts.push_back(guide.text());
    } while (guide.next());
    return w;
}

QPushButton* button(QDialog& dialog, const char* name) { return dialog.findChild<QPushButton*>(name); }
QString stepText(QDialog& dialog) { return dialog.findChild<QPlainTextEdit*>("c2405")->toPlainText(); }

}  // namespace

class InkGuideTest : public QObject {
    Q_OBJECT

private slots:
    void modelsWalkTheirOwnPicturesAndTexts()
    {
        const Walk ij05 = walk("VELTA IJ-05");
        const Walk ij11 = walk("VELTA IJ-11");
        QCOMPARE(ij11.pictures, (std::vector<int>{918, 919, 920, 921, 922}));
        QCOMPARE(ij11.texts, (std::vector<int>{20008, 20009, 20010, 20011, 20012}));
        QCOMPARE(walk("VELTA IJ-07").pictures, (std::vector<int>{910, 911, 912, 913}));
        QCOMPARE(walk("VELTA IJ-07").texts, (std::vector<int>{20000, 20001, 20002, 20003}));
        QCOMPARE(ij05.pictures, (std::vector<int>{900, 901, 902, 903}));
        QCOMPARE(ij05.texts, (std::vector<int>{20004, 20005, 20006, 20007}));
        // The IJ-12 is handled like the IJ-05 but drawn as itself.
        QCOMPARE(walk("VELTA IJ-12").texts, ij05.texts);
        QCOMPARE(walk("VELTA IJ-12").pictures, (std::vector<int>{914, 915, 916, 917}));
    }

    void movesStopAtBothEnds()
    {
        InkGuide guide("VELTA IJ-11");
        QCOMPARE(guide.stepCount(), 5);
        QVERIFY(!guide.canGoBack());
        QVERIFY(!guide.back());
        while (guide.next()) {
        }
        QCOMPARE(guide.step(), 4);
        QVERIFY(!guide.canGoNext());
        QVERIFY(guide.canGoBack());
        QVERIFY(guide.back());
        QCOMPARE(guide.step(), 3);
    }

    void onlyTheExactDriverNameHasAGuide()
    {
        for (const char* name : {"VELTA IJ-99", "velta ij-11", "VELTA IJ-11 ", " VELTA IJ-11", "VELTA IJ-1", ""}) {
            InkGuide guide(name);
            QVERIFY2(!guide.found() && guide.stepCount() == 0 && guide.picture() == 0 && guide.text() == 0, name);
            QVERIFY(!guide.canGoNext() && !guide.canGoBack());
            QVERIFY(!guide.next() && !guide.back());
            QCOMPARE(guide.step(), 0);
        }
    }

    void dialogFollowsTheButtons()
    {
        InkGuideDialog dialog("VELTA IJ-11");
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("VELTA  - ｲﾝｸ交換"));
        QPushButton* back = button(dialog, "c2401");
        QPushButton* next = button(dialog, "c2402");
        QPushButton* close = button(dialog, "c2");
        QPushButton* picture = button(dialog, "c2403");
        QVERIFY(back && next && close && picture);

        QVERIFY(next->isDefault());
        QVERIFY(!back->isEnabled());
        QVERIFY(next->isEnabled());
        QCOMPARE(stepText(dialog), QStringLiteral("１．プリンタカバーを開けます。"));
        QCOMPARE(picture->accessibleDescription(), QStringLiteral("手順 1 / 5"));

        QTest::keyClick(&dialog, Qt::Key_Return);  // Enter presses "次へ"
        QCOMPARE(dialog.guide().step(), 1);
        QVERIFY(back->isEnabled());
        // The stored line breaks become plain ones.
        QCOMPARE(stepText(dialog), QStringLiteral("２．［シフト］スイッチを３秒間押した\n     ままにします。\n     "
                                                  "ヘッドユニットが左へ移動します。"));
        for (int i = 0; i < 3; ++i) QTest::mouseClick(next, Qt::LeftButton);
        QCOMPARE(dialog.guide().step(), 4);
        QVERIFY(!next->isEnabled());
        QCOMPARE(dialog.findChild<QPlainTextEdit*>("c2405")->accessibleDescription(), QStringLiteral("手順 5 / 5"));
        // The button that went grey handed the focus to the next control.
        QCOMPARE(dialog.focusWidget(), close);
        QCOMPARE(picture->icon().isNull(), kestrel::picture(922).isNull());

        QTest::mouseClick(next, Qt::LeftButton);  // disabled: nothing moves
        QCOMPARE(dialog.guide().step(), 4);
        for (int i = 0; i < 4; ++i) QTest::mouseClick(back, Qt::LeftButton);
        QCOMPARE(dialog.guide().step(), 0);
        QVERIFY(!back->isEnabled());
        QVERIFY(next->isEnabled());
        QCOMPARE(dialog.focusWidget(), next);
        QCOMPARE(stepText(dialog), QStringLiteral("１．プリンタカバーを開けます。"));
    }

    void dialogForAnUnknownModelIsEmpty()
    {
        InkGuideDialog dialog("VELTA IJ-99");
        dialog.show();
        QVERIFY(!button(dialog, "c2401")->isEnabled());
        QVERIFY(!button(dialog, "c2402")->isEnabled());
        QVERIFY(button(dialog, "c2")->isDefault());
        QVERIFY(button(dialog, "c2403")->icon().isNull());
        QVERIFY(stepText(dialog).isEmpty());
        QTest::keyClick(&dialog, Qt::Key_Return);  // Enter closes: there is nothing to step through
        QVERIFY(!dialog.isVisible());
    }

    void closeAndEscapeEndTheDialog()
    {
        InkGuideDialog clicked("VELTA IJ-05");
        clicked.show();
        QTest::mouseClick(button(clicked, "c2"), Qt::LeftButton);
        QVERIFY(!clicked.isVisible());
        QCOMPARE(clicked.result(), int(QDialog::Rejected));

        InkGuideDialog escaped("VELTA IJ-05");
        escaped.show();
        QTest::keyClick(&escaped, Qt::Key_Escape);
        QVERIFY(!escaped.isVisible());
    }

    void showInkGuideRunsModallyOverItsOwner()
    {
        QWidget owner;
        owner.show();
        QWidget* seenOwner = nullptr;
        // Waits for the modal dialog to be up, then answers it as a user would.
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                seenOwner = modal->parentWidget();
                QTest::keyClick(modal, Qt::Key_Escape);
            }
        });
        answer.start(10);
        QCOMPARE(watchpanel::showInkGuide(&owner, "VELTA IJ-07"), int(QDialog::Rejected));
        QCOMPARE(seenOwner, &owner);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    InkGuideTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ink_guide_test.moc"
