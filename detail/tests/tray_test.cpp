// The tray icon: its numbers and tooltip, the pictures of the nine icon sets and of the settings page, the
// icon itself where the desktop has no tray, and the icon set chooser driven the way a user drives it.

#include "tray.h"
#include "resources/language.h"

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "resources/pictures.h"

using watchpanel::chooseTrayIconSet;
using watchpanel::kTrayIconSets;
using watchpanel::PanelTray;
using watchpanel::trayIconNumber;
using watchpanel::trayTooltip;

namespace {

QImage imageOf(const QPixmap& pixmap) { return pixmap.toImage().convertToFormat(QImage::Format_ARGB32); }

QImage iconImage(int number, int side) { return imageOf(kestrel::icon(number).pixmap(QSize(side, side))); }

// Pixels of the lower right quarter close to a hue, as the level badges are drawn: how much of a badge
// there is.
int badgePixels(const QImage& image, int hue)
{
    int count = 0;
    for (int y = image.height() / 2; y < image.height(); ++y)
        for (int x = image.width() / 2; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 200 && c.saturation() > 150 && c.value() > 150 && std::abs(c.hue() - hue) <= 6) ++count;
        }
    return count;
}
constexpr int kAmberHue = 38;
constexpr int kRedHue = 3;

bool isBlank(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0) return false;
    return true;
}

bool hasLoneSurrogate(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate()) {
            if (i + 1 == text.size() || !text[i + 1].isLowSurrogate()) return true;
            ++i;
        } else if (text[i].isLowSurrogate()) {
            return true;
        }
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Numbers and tooltip

TEST(TrayIconNumber, FollowsSetAndLevel)
{
    EXPECT_EQ(trayIconNumber(0, 0), 800);
    EXPECT_EQ(trayIconNumber(2, 1), 807);
    EXPECT_EQ(trayIconNumber(8, 2), 826);
}

TEST(TrayIconNumber, DamagedValuesStillNameAnIcon)
{
    EXPECT_EQ(trayIconNumber(9, 1), 801);
    EXPECT_EQ(trayIconNumber(-1, 2), 802);
    EXPECT_EQ(trayIconNumber(4, 3), 814);
    EXPECT_EQ(trayIconNumber(4, -1), 812);
}

TEST(TrayTooltip, ExactlySixtyThreeCharactersStayWhole)
{
    const std::string message(58, 'm');
    const QString full = trayTooltip("PGX", message);  // 3 + 2 + 58
    EXPECT_EQ(full.size(), 63);
    EXPECT_EQ(full, QStringLiteral("PGX: ") + QString::fromStdString(message));
    std::string japanese;
    for (int i = 0; i < 29; ++i) japanese += "紙づ";
    EXPECT_EQ(trayTooltip("ﾌﾟﾘ", japanese), QStringLiteral("ﾌﾟﾘ: ") + QString::fromStdString(japanese));
    EXPECT_EQ(trayTooltip("PGXY", message).size(), 63);
}

TEST(TrayTooltip, LongAsciiIsCutToSixtyThree)
{
    const std::string message(100, 'x');
    const QString tip = trayTooltip("VELTA PG-03 (Office)", message);
    EXPECT_EQ(tip.size(), 63);
    EXPECT_EQ(tip, (QStringLiteral("VELTA PG-03 (Office): ") + QString::fromStdString(message)).left(63));
}

TEST(TrayTooltip, LongJapaneseIsCutByCharacterNotByte)
{
    std::string message;
    for (int i = 0; i < 40; ++i) message += "用紙切れ";  // three bytes a character in UTF-8
    const QString tip = trayTooltip("ﾌﾟﾘﾝﾀ", message);
    EXPECT_EQ(tip.size(), 63);
    EXPECT_TRUE(tip.startsWith(QStringLiteral("ﾌﾟﾘﾝﾀ: 用紙切れ用紙切れ")));
    EXPECT_FALSE(tip.contains(QChar::ReplacementCharacter));
    EXPECT_TRUE(QString::fromUtf8(message.data(), qsizetype(message.size())).startsWith(tip.mid(7)));
}

TEST(TrayTooltip, CharacterAtTheCutIsDroppedWhole)
{
    // "P: " + 59 letters puts an emoji (two UTF-16 units) across the 63rd position.
    const std::string letters(59, 'a');
    const QString tip = trayTooltip("P", letters + "\xF0\x9F\x96\xA8" + "zzz");
    EXPECT_EQ(tip, QStringLiteral("P: ") + QString::fromStdString(letters));
    EXPECT_FALSE(hasLoneSurrogate(tip));

    // An emoji that ends exactly at 63 stays.
    const std::string fewer(58, 'a');
    const QString kept = trayTooltip("P", fewer + "\xF0\x9F\x96\xA8" + "zzz");
    EXPECT_EQ(kept.size(), 63);
    EXPECT_TRUE(kept.endsWith(QString::fromUtf8("\xF0\x9F\x96\xA8")));

    // A half-width letter and its voiced-sound mark are one character: "ﾄﾞ" is not cut to "ﾄ".
    const QString voiced = trayTooltip("P", letters + "ﾄﾞ" + "zzz");
    EXPECT_EQ(voiced, QStringLiteral("P: ") + QString::fromStdString(letters));
}

// ---------------------------------------------------------------------------------------------------------
// Pictures

TEST(TrayPictures, EveryTrayIconComesInBothSizes)
{
    for (int number = 800; number <= 826; ++number) {
        const QIcon icon = kestrel::icon(number);
        ASSERT_FALSE(icon.isNull()) << number;
        EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16))) << number;
        EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32))) << number;
        EXPECT_FALSE(isBlank(iconImage(number, 16))) << number;
        EXPECT_EQ(kestrel::pictureSize(number), QSize(16, 16)) << number;
        EXPECT_EQ(kestrel::picture(number, 2.0).size(), QSize(32, 32)) << number;
    }
    EXPECT_TRUE(kestrel::icon(799).isNull());
    EXPECT_TRUE(kestrel::icon(827).isNull());
}

TEST(TrayPictures, LevelShowsAsAnAmberOrRedBadge)
{
    for (int set = 0; set < kTrayIconSets; ++set) {
        for (int side : {16, 32}) {
            const QImage normal = iconImage(trayIconNumber(set, 0), side);
            const QImage warning = iconImage(trayIconNumber(set, 1), side);
            const QImage error = iconImage(trayIconNumber(set, 2), side);
            const int area = side * side / 4;
            // Calm: neither badge colour; the badges fill a good part of their corner.
            EXPECT_EQ(badgePixels(normal, kAmberHue), 0) << set;
            EXPECT_EQ(badgePixels(normal, kRedHue), 0) << set;
            EXPECT_GT(badgePixels(warning, kAmberHue), area / 5) << set << " at " << side;
            EXPECT_EQ(badgePixels(warning, kRedHue), 0) << set;
            EXPECT_GT(badgePixels(error, kRedHue), area / 5) << set << " at " << side;
            EXPECT_EQ(badgePixels(error, kAmberHue), 0) << set;
        }
    }
}

TEST(TrayPictures, SetsLookDifferent)
{
    for (int a = 0; a < kTrayIconSets; ++a)
        for (int b = a + 1; b < kTrayIconSets; ++b)
            EXPECT_NE(iconImage(trayIconNumber(a, 0), 16), iconImage(trayIconNumber(b, 0), 16))
                << "set " << a << " looks like set " << b;
}

TEST(SettingsPictures, DrawAtTheirSizes)
{
    const std::vector<std::pair<int, QSize>> pictures = {
        {112, {32, 16}}, {113, {32, 32}}, {114, {32, 16}}, {312, {32, 32}}};
    std::vector<std::pair<int, QSize>> all = pictures;
    for (int number = 300; number <= 311; ++number) all.emplace_back(number, QSize(32, 32));
    for (const auto& [number, size] : all) {
        EXPECT_EQ(kestrel::pictureSize(number), size) << number;
        for (qreal ratio : {1.0, 2.0}) {
            const QPixmap pixmap = kestrel::picture(number, ratio);
            ASSERT_FALSE(pixmap.isNull()) << number;
            EXPECT_EQ(pixmap.size(), size * ratio) << number;
            EXPECT_FALSE(isBlank(imageOf(pixmap))) << number;
        }
    }
    for (int number : {111, 115, 299, 313}) EXPECT_FALSE(kestrel::pictureSize(number).isValid()) << number;
}

TEST(SettingsPictures, PairedImagesDifferAndFormatsAreTellable)
{
    // 112 and 114 are two 16 x 16 images each: check mark off / on, play / stop.
    for (int number : {112, 114}) {
        const QImage both = imageOf(kestrel::picture(number));
        EXPECT_NE(both.copy(0, 0, 16, 16), both.copy(16, 0, 16, 16)) << number;
        EXPECT_FALSE(isBlank(both.copy(0, 0, 16, 16))) << number;
        EXPECT_FALSE(isBlank(both.copy(16, 0, 16, 16))) << number;
    }
    // Each wave format and "no file" has a picture of its own.
    std::vector<QImage> formats;
    for (int number = 300; number <= 312; ++number) formats.push_back(imageOf(kestrel::picture(number)));
    for (size_t a = 0; a < formats.size(); ++a)
        for (size_t b = a + 1; b < formats.size(); ++b)
            EXPECT_NE(formats[a], formats[b]) << 300 + a << " looks like " << 300 + b;
}

// ---------------------------------------------------------------------------------------------------------
// The icon

class PanelTrayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QSystemTrayIcon::isSystemTrayAvailable()) GTEST_SKIP() << "this desktop has a tray";
    }
    static QSystemTrayIcon* iconOf(PanelTray& tray) { return tray.findChild<QSystemTrayIcon*>(); }
};

TEST_F(PanelTrayTest, WithoutATrayItIsWantedButNotVisible)
{
    PanelTray tray;
    EXPECT_FALSE(tray.shown());
    tray.setShown(true);
    EXPECT_TRUE(tray.shown());
    EXPECT_FALSE(tray.visibleInTray());
    tray.update(trayIconNumber(2, 1), trayTooltip("PG", "用紙切れ"));
    EXPECT_FALSE(tray.visibleInTray());
    // The waiting keeps going in the background without bringing anything up.
    QTest::qWait(50);
    EXPECT_FALSE(tray.visibleInTray());
    tray.setShown(false);
    EXPECT_FALSE(tray.shown());
    EXPECT_FALSE(tray.visibleInTray());
    tray.setShown(true);
    tray.setShown(true);
    EXPECT_FALSE(tray.visibleInTray());
}

TEST_F(PanelTrayTest, UpdateKeepsIconAndTooltipWhileHidden)
{
    PanelTray tray;
    QSystemTrayIcon* icon = iconOf(tray);
    ASSERT_NE(icon, nullptr);
    tray.update(807, QStringLiteral("PG: 用紙残量少"));
    EXPECT_EQ(icon->toolTip(), QStringLiteral("PG: 用紙残量少"));
    ASSERT_FALSE(icon->icon().isNull());
    const QImage warning = imageOf(icon->icon().pixmap(16, 16));
    EXPECT_EQ(warning, iconImage(807, 16));

    // A number without a picture changes the tooltip only.
    tray.update(999, QStringLiteral("PG: 紙づまり"));
    EXPECT_EQ(icon->toolTip(), QStringLiteral("PG: 紙づまり"));
    EXPECT_EQ(imageOf(icon->icon().pixmap(16, 16)), warning);

    tray.update(808, QStringLiteral("PG: 紙づまり"));
    EXPECT_EQ(imageOf(icon->icon().pixmap(16, 16)), iconImage(808, 16));
}

TEST_F(PanelTrayTest, OnlyADoubleClickIsReported)
{
    PanelTray tray;
    tray.setShown(true);
    QSignalSpy doubleClicks(&tray, &PanelTray::doubleClicked);
    QSystemTrayIcon* icon = iconOf(tray);
    ASSERT_NE(icon, nullptr);
    for (auto reason :
         {QSystemTrayIcon::Trigger, QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown})
        emit icon->activated(reason);
    EXPECT_EQ(doubleClicks.count(), 0);
    emit icon->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(doubleClicks.count(), 1);
}

// Not a check by default: with KESTREL_TRAY_WAIT=seconds it starts where the desktop has no tray yet and
// waits that long for the icon to go into one; start a tray (a panel) meanwhile.
TEST(PanelTrayLive, GoesIntoATrayThatStartsLater)
{
    bool given = false;
    const int seconds = qEnvironmentVariable("KESTREL_TRAY_WAIT").toInt(&given);
    if (!given || seconds <= 0) GTEST_SKIP() << "set KESTREL_TRAY_WAIT and start a tray while it waits";
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "start the tray after the test";
    PanelTray tray;
    tray.setShown(true);
    tray.update(trayIconNumber(1, 1), QStringLiteral("PG: 用紙残量少"));
    EXPECT_FALSE(tray.visibleInTray());
    std::cout << "waiting for a tray" << std::endl;
    EXPECT_TRUE(QTest::qWaitFor([&] { return tray.visibleInTray(); }, seconds * 1000));
    tray.setShown(false);
    EXPECT_FALSE(tray.visibleInTray());
}

// ---------------------------------------------------------------------------------------------------------
// The chooser

namespace {

struct Chooser {
    QDialog* dialog;
    QListWidget* list;
    QPushButton* ok;
    QPushButton* cancel;
};

// Opens the chooser with `current` and, once it is up, lets `drive` act on it as a user would. A dialog
// that `drive` leaves open is cancelled (and reported), so a broken dialog fails instead of hanging.
int choose(int current, const std::function<void(Chooser&)>& drive)
{
    bool driven = false;
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (driven || dialog == nullptr || !dialog->isVisible()) return;
        driven = true;
        // Keys go to the active window only (mnemonics, Escape): wait until the dialog is it.
        dialog->activateWindow();
        if (!QTest::qWaitForWindowActive(dialog)) ADD_FAILURE() << "the chooser did not become active";
        Chooser c{dialog, dialog->findChild<QListWidget*>(QStringLiteral("c2204")),
                  dialog->findChild<QPushButton*>(QStringLiteral("c1")),
                  dialog->findChild<QPushButton*>(QStringLiteral("c2"))};
        if (c.list && c.ok && c.cancel) drive(c);
        else ADD_FAILURE() << "the chooser lacks a control";
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the chooser stayed open";
            dialog->reject();
        }
    });
    watch.start();
    const int result = chooseTrayIconSet(nullptr, current);
    EXPECT_TRUE(driven) << "the chooser did not come up";
    return result;
}

void clickItem(QListWidget& list, int row, bool twice = false)
{
    const QPoint centre = list.visualItemRect(list.item(row)).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, centre);
    // The second press of a double click arrives as the double click event itself.
    if (twice) QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, centre);
}

int selectedRow(const QListWidget& list)
{
    const auto items = list.selectedItems();
    return items.size() == 1 ? list.row(items.front()) : -1;
}

}  // namespace

TEST(TrayChooser, ShowsNineSetsWithTheCurrentOneSelected)
{
    const int result = choose(4, [](Chooser& c) {
        EXPECT_EQ(c.dialog->windowTitle(), QStringLiteral("ﾄﾚｲｱｲｺﾝ"));
        ASSERT_EQ(c.list->count(), kTrayIconSets);
        EXPECT_EQ(selectedRow(*c.list), 4);
        EXPECT_EQ(c.list->currentRow(), 4);
        EXPECT_EQ(c.dialog->focusWidget(), c.list);
        // Each item is its set's normal icon, and the items lie in one row of 56 x 48 cells.
        for (int i = 0; i < kTrayIconSets; ++i) {
            const QIcon icon = c.list->item(i)->icon();
            EXPECT_EQ(imageOf(icon.pixmap(32, 32)), iconImage(trayIconNumber(i, 0), 32)) << i;
            EXPECT_EQ(c.list->visualItemRect(c.list->item(i)), QRect(56 * i, 0, 56, 48)) << i;
            EXPECT_FALSE(c.list->item(i)->data(Qt::AccessibleTextRole).toString().isEmpty()) << i;
        }
        EXPECT_TRUE(c.list->viewport()->rect().contains(QRect(0, 0, 9 * 56, 48)));
        QTest::keyClick(c.list, Qt::Key_Escape);
    });
    EXPECT_EQ(result, -1);
}

TEST(TrayChooser, OkReturnsTheChosenSet)
{
    EXPECT_EQ(choose(0,
                     [](Chooser& c) {
                         clickItem(*c.list, 6);
                         EXPECT_EQ(selectedRow(*c.list), 6);
                         QTest::mouseClick(c.ok, Qt::LeftButton);
                     }),
              6);
    // By keyboard: arrows move the selection, Enter presses OK.
    EXPECT_EQ(choose(3,
                     [](Chooser& c) {
                         QTest::keyClick(c.list, Qt::Key_Right);
                         QTest::keyClick(c.list, Qt::Key_Right);
                         QTest::keyClick(c.list, Qt::Key_Left);
                         QTest::keyClick(c.list, Qt::Key_Return);
                     }),
              4);
    // The preselected set, taken unchanged.
    EXPECT_EQ(choose(8, [](Chooser& c) { QTest::mouseClick(c.ok, Qt::LeftButton); }), 8);
    // A double click picks at once.
    EXPECT_EQ(choose(1, [](Chooser& c) { clickItem(*c.list, 2, true); }), 2);
}

TEST(TrayChooser, CancelAndEscapeReturnNothing)
{
    EXPECT_EQ(choose(2,
                     [](Chooser& c) {
                         clickItem(*c.list, 5);
                         QTest::mouseClick(c.cancel, Qt::LeftButton);
                     }),
              -1);
    EXPECT_EQ(choose(2,
                     [](Chooser& c) {
                         clickItem(*c.list, 5);
                         QTest::keyClick(c.dialog, Qt::Key_Escape);
                     }),
              -1);
}

TEST(TrayChooser, OkWithoutASelectionKeepsItOpen)
{
    // An unknown current set preselects nothing.
    const int result = choose(-1, [](Chooser& c) {
        EXPECT_EQ(selectedRow(*c.list), -1);
        QTest::mouseClick(c.ok, Qt::LeftButton);
        EXPECT_TRUE(c.dialog->isVisible());
        QTest::keyClick(c.list, Qt::Key_Return);
        EXPECT_TRUE(c.dialog->isVisible());
        clickItem(*c.list, 7);
        QTest::mouseClick(c.ok, Qt::LeftButton);
    });
    EXPECT_EQ(result, 7);

    // The selection taken away again (Ctrl+click) is no selection either.
    EXPECT_EQ(choose(3,
                     [](Chooser& c) {
                         QTest::mouseClick(c.list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                                           c.list->visualItemRect(c.list->item(3)).center());
                         EXPECT_EQ(selectedRow(*c.list), -1);
                         QTest::mouseClick(c.ok, Qt::LeftButton);
                         EXPECT_TRUE(c.dialog->isVisible());
                         QTest::mouseClick(c.cancel, Qt::LeftButton);
                     }),
              -1);
    EXPECT_EQ(choose(9,
                     [](Chooser& c) {
                         EXPECT_EQ(selectedRow(*c.list), -1);
                         QTest::mouseClick(c.cancel, Qt::LeftButton);
                     }),
              -1);
}

TEST(TrayChooser, ControlsAreNamedAndTheLabelLeadsToTheList)
{
    choose(0, [](Chooser& c) {
        for (const char* name : {"c2201", "c2202", "c2203", "c2204", "c1", "c2"}) {
            auto* w = c.dialog->findChild<QWidget*>(QLatin1String(name));
            ASSERT_NE(w, nullptr) << name;
            EXPECT_FALSE(w->accessibleName().trimmed().isEmpty()) << name;
        }
        auto* text = c.dialog->findChild<QLabel*>(QStringLiteral("c2202"));
        EXPECT_EQ(text->text(),
                  QStringLiteral("ﾀｽｸﾊﾞｰの右側のﾄﾚｲにﾌﾟﾘﾝﾀを追加します。\n表示したいｱｲｺﾝを選択してください。"));
        auto* picture = c.dialog->findChild<QLabel*>(QStringLiteral("c2201"));
        EXPECT_FALSE(picture->pixmap().isNull());
        auto* label = c.dialog->findChild<QLabel*>(QStringLiteral("c2203"));
        EXPECT_EQ(label->text(), QStringLiteral("ｱｲｺﾝ一覧(&I) :"));
        EXPECT_EQ(label->buddy(), c.list);
        // Alt+I from the OK button comes back to the list.
        c.ok->setFocus();
        QTest::keyClick(c.dialog, Qt::Key_I, Qt::AltModifier);
        EXPECT_EQ(c.dialog->focusWidget(), c.list);
        QTest::mouseClick(c.cancel, Qt::LeftButton);
    });
}

// Not a check: with KESTREL_TRAY_SHOT=file.png it writes the chooser as it looks (set 2 chosen), and
// with KESTREL_TRAY_SHEET=file.png a sheet of the tray icons and the settings pictures, to look at.
TEST(TrayChooser, Screenshot)
{
    const QString shot = qEnvironmentVariable("KESTREL_TRAY_SHOT");
    const QString sheetPath = qEnvironmentVariable("KESTREL_TRAY_SHEET");
    if (shot.isEmpty() && sheetPath.isEmpty()) GTEST_SKIP() << "set KESTREL_TRAY_SHOT or KESTREL_TRAY_SHEET";
    kestrel::useLanguage(kestrel::languageFromEnvironment());  // the picture in the locale's language
    if (!shot.isEmpty()) {
        choose(2, [&](Chooser& c) {
            // Wait until the window system has drawn it once.
            EXPECT_TRUE(QTest::qWaitForWindowExposed(c.dialog, 5000));
            QTest::qWait(300);
            EXPECT_TRUE(c.dialog->grab().save(shot));
            QTest::keyClick(c.dialog, Qt::Key_Escape);
        });
    }
    if (!sheetPath.isEmpty()) {
        // A row per set (normal, warning, error at 16 and 32), then the settings pictures at scale 2.
        QImage sheet(4 * 72 + 200, 9 * 36 + 8, QImage::Format_ARGB32);
        sheet.fill(QColor(0xf0, 0xf0, 0xf0));
        QPainter p(&sheet);
        for (int set = 0; set < kTrayIconSets; ++set)
            for (int level = 0; level < 3; ++level) {
                const QIcon icon = kestrel::icon(trayIconNumber(set, level));
                const int x = 4 + level * 60, y = 4 + set * 36;
                p.drawPixmap(x, y + 8, icon.pixmap(16, 16));
                p.drawPixmap(x + 20, y, icon.pixmap(32, 32));
            }
        const int pictures[] = {112, 113, 114, 312, 300, 301, 302, 303, 304, 305, 306, 307, 308, 309, 310, 311};
        for (int i = 0; i < 16; ++i) {
            QImage picture = kestrel::picture(pictures[i], 2.0).toImage();
            picture.setDevicePixelRatio(1);  // one sheet pixel per device pixel
            p.drawImage(200 + i % 4 * 72, 4 + i / 4 * 72, picture);
        }
        p.end();
        EXPECT_TRUE(sheet.save(sheetPath));
    }
}
