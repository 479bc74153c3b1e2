// What F1 and the Help button open: the help table of the pages and of the tray icon chooser, and that
// every topic the window can ask for is a place on the help page.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QListWidget>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <set>

#include "help_contexts.h"
#include "tray.h"

using namespace watchpanel;
using facts::Family;

namespace {

struct Case {
    const char* name;
    Family family;
    int page;
    int control;
    int topic;
};

TEST(HelpTable, ControlsOpenTheTopicsTheTableGivesThem)
{
    const Case cases[] = {
        {"page printer: output destination", Family::Page, kStatusPageKind, 1304, 1101},
        {"page printer: printer name", Family::Page, kStatusPageKind, 1302, 1102},
        {"page printer: model", Family::Page, kStatusPageKind, 1303, 1103},
        {"page printer: picture", Family::Page, kStatusPageKind, 1305, 1104},
        {"page printer: message", Family::Page, kStatusPageKind, 1306, 1105},
        {"page printer: action", Family::Page, kStatusPageKind, 1307, 1106},
        {"page printer: troubleshooting", Family::Page, kStatusPageKind, 1308, 1107},
        {"page printer: paper group", Family::Page, kStatusPageKind, 1309, 1108},
        {"page printer: a paper size", Family::Page, kStatusPageKind, 1317, 1108},
        {"page printer: toner group", Family::Page, kStatusPageKind, 1328, 1109},
        {"page printer: toner bar", Family::Page, kStatusPageKind, 1324, 1109},
        {"page printer: photoconductor bar", Family::Page, kStatusPageKind, 1327, 1110},
        {"inkjet: the header keeps its topics", Family::Inkjet, kStatusPageKind, 1304, 1101},
        {"inkjet: the message keeps its topic", Family::Inkjet, kStatusPageKind, 1306, 1105},
        {"inkjet: troubleshooting", Family::Inkjet, kStatusPageKind, 1308, 1107},
        {"inkjet: picture", Family::Inkjet, kStatusPageKind, 1305, 3104},
        {"inkjet: ink pictures", Family::Inkjet, kStatusPageKind, 1501, 3108},
        {"impact: the name keeps its topic", Family::Impact, kStatusPageKind, 1302, 1102},
        {"impact: action", Family::Impact, kStatusPageKind, 1307, 1106},
        {"impact: picture", Family::Impact, kStatusPageKind, 1305, 4104},
        {"impact: paper group", Family::Impact, kStatusPageKind, 1309, 4108},
        {"impact: no toner on an impact printer", Family::Impact, kStatusPageKind, 1324, 0},
        {"information: the list", Family::Page, kInformationPageKind, 1602, 2107},
        {"information: its label", Family::Page, kInformationPageKind, 1601, 2107},
        {"information: the details", Family::Page, kInformationPageKind, 1605, 2108},
        {"tools: job list", Family::Inkjet, kToolsPageKind, 1803, 5101},
        {"tools: printer setup", Family::Impact, kToolsPageKind, 1805, 5102},
        {"tools: head move", Family::Inkjet, kToolsPageKind, 1812, 5103},
        {"settings: frequency", Family::Page, kSettingsPageKind, 1702, 6101},
        {"settings: window", Family::Page, kSettingsPageKind, 1705, 6102},
        {"settings: size check", Family::Page, kSettingsPageKind, 1710, 6103},
        {"settings: monitor", Family::Page, kSettingsPageKind, 1708, 6104},
        {"settings: tray icon", Family::Page, kSettingsPageKind, 1709, 6105},
        {"settings: alert list", Family::Page, kSettingsPageKind, 1712, 6106},
        {"settings: all on", Family::Page, kSettingsPageKind, 1713, 6107},
        {"settings: all off", Family::Page, kSettingsPageKind, 1714, 6108},
        {"settings: defaults", Family::Page, kSettingsPageKind, 1715, 6109},
        {"settings: sound group", Family::Page, kSettingsPageKind, 1717, 6110},
        {"settings: desktop notifications", Family::Page, kSettingsPageKind, 1726, 6113},
        {"settings: sound name", Family::Page, kSettingsPageKind, 1719, 6111},
        {"settings: test", Family::Page, kSettingsPageKind, 1723, 6112},
        {"settings: apply is not in the table", Family::Page, kSettingsPageKind, 1725, 0},
        {"a control of another page", Family::Page, kSettingsPageKind, 1306, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(controlHelp(c.family, c.page, c.control), c.topic) << c.name;
}

TEST(HelpTable, PagesOpenTheirOwnTopics)
{
    EXPECT_EQ(pageHelp(Family::Page, kStatusPageKind), 1001);
    EXPECT_EQ(pageHelp(Family::Impact, kStatusPageKind), 4001);
    EXPECT_EQ(pageHelp(Family::Inkjet, kStatusPageKind), 3001);
    EXPECT_EQ(pageHelp(Family::Inkjet, kInformationPageKind), 2001);
    EXPECT_EQ(pageHelp(Family::Impact, kSettingsPageKind), 6001);
    EXPECT_EQ(pageHelp(Family::Page, kToolsPageKind), 5001);
}

// The anchors of the help page.
std::set<int> anchors()
{
    QFile file(QStringLiteral(KESTREL_HELP_SOURCE));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    std::set<int> ids;
    auto it = QRegularExpression(QStringLiteral("\\bid=\"(\\d+)\"")).globalMatch(QString::fromUtf8(file.readAll()));
    while (it.hasNext()) ids.insert(it.next().captured(1).toInt());
    return ids;
}

TEST(HelpTable, EveryTopicTheWindowAsksForIsOnTheHelpPage)
{
    const std::set<int> ids = anchors();
    for (Family family : {Family::Page, Family::Impact, Family::Inkjet}) {
        for (int page = kStatusPageKind; page <= kToolsPageKind; ++page) {
            EXPECT_TRUE(ids.contains(pageHelp(family, page))) << pageHelp(family, page);
            for (int control = 1000; control < 2500; ++control) {
                const int topic = controlHelp(family, page, control);
                EXPECT_TRUE(topic == 0 || ids.contains(topic))
                    << "family " << static_cast<int>(family) << " page " << page << " control " << control << ": "
                    << topic << " is not on the help page";
            }
        }
    }
    EXPECT_TRUE(ids.contains(kTrayChooserHelp));
}

// Records the pages handed to the desktop's browser instead of opening them: a text browser's setSource
// slot takes the address (and shows the page, which nobody looks at).
struct HelpRecorder {
    HelpRecorder() { QDesktopServices::setUrlHandler(QStringLiteral("file"), &browser, "setSource"); }
    ~HelpRecorder() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QString topic() const { return browser.source().fragment(); }
    QTextBrowser browser;
};

TEST(TrayChooserHelp, F1OpensTheChoosersTopic)
{
    HelpRecorder help;
    bool pressed = false;
    QTimer drive;
    drive.setInterval(10);
    QObject::connect(&drive, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        if (!pressed) {
            pressed = true;
            QTest::keyClick(dialog->findChild<QListWidget*>(QStringLiteral("c2204")), Qt::Key_F1);
            return;
        }
        dialog->reject();
    });
    drive.start();
    EXPECT_EQ(chooseTrayIconSet(nullptr, 1), -1);
    EXPECT_TRUE(pressed);
    EXPECT_EQ(help.topic(), QStringLiteral("7101"));
}

}  // namespace
