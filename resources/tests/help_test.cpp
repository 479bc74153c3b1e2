// The help pages: where the programs look for them, and that every context the windows ask for has its
// place on the page.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <vector>

#include "resources/help.h"
#include "resources/language.h"

namespace {

// The contexts the windows hand to the help: pages, their control groups and the tray icon chooser.
std::vector<int> helpContexts()
{
    std::vector<int> all = {1001, 2001, 2107, 2108, 3001, 3104, 3108, 4001,
                            4104, 4108, 5001, 5101, 5102, 5103, 6001, 7101};
    for (int c = 1101; c <= 1110; ++c) all.push_back(c);
    for (int c = 6101; c <= 6113; ++c) all.push_back(c);
    return all;
}

QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "resources_help_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString helpSource(const QString& path = QStringLiteral(KESTREL_HELP_SOURCE))
{
    const QByteArray bytes = readFile(path);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    return utf8.hasError() ? QString() : text;
}

// The pages of every language: the Japanese one and help/<language>/watchlist.html.
QStringList helpPages()
{
    QStringList pages{QStringLiteral(KESTREL_HELP_SOURCE)};
    const QDir folder = QFileInfo(QStringLiteral(KESTREL_HELP_SOURCE)).dir();
    for (const QString& language : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        pages << folder.filePath(language + QStringLiteral("/watchlist.html"));
    return pages;
}

int anchorCount(const QString& html, const QString& id)
{
    return int(html.count(QRegularExpression(QStringLiteral("\\bid=\"%1\"").arg(QRegularExpression::escape(id)))));
}

}  // namespace

TEST(HelpPages, UrlPointsIntoTheProgramsHelpFolderAtTheContext)
{
    application();
    const QUrl url = kestrel::helpUrl(6105);
    ASSERT_TRUE(url.isLocalFile());
    EXPECT_EQ(url.fragment().toStdString(), "6105");
    EXPECT_EQ(url.toLocalFile().toStdString(),
              QDir(QCoreApplication::applicationDirPath()).filePath("help/watchlist.html").toStdString());
    // The build puts an up-to-date copy there, as an installation does.
    const QByteArray copy = readFile(url.toLocalFile());
    EXPECT_FALSE(copy.isEmpty());
    EXPECT_EQ(copy, readFile(QStringLiteral(KESTREL_HELP_SOURCE)));
}

TEST(HelpPages, EveryContextHasExactlyOneAnchorInEveryLanguage)
{
    ASSERT_GE(helpPages().size(), 2);
    for (const QString& page : helpPages()) {
        SCOPED_TRACE(page.toStdString());
        const QString html = helpSource(page);
        ASSERT_FALSE(html.isEmpty()) << "the page is missing or not UTF-8";
        for (int context : helpContexts())
            EXPECT_EQ(anchorCount(html, QString::number(context)), 1) << "context " << context;
        EXPECT_EQ(anchorCount(html, QStringLiteral("list")), 1);

        // No stray anchors either: a number nobody asks for is a typo of one that is asked for.
        const std::vector<int> contexts = helpContexts();
        static const QRegularExpression numbered(QStringLiteral("\\bid=\"(\\d+)\""));
        for (auto it = numbered.globalMatch(html); it.hasNext();) {
            const int id = it.next().captured(1).toInt();
            EXPECT_NE(std::count(contexts.begin(), contexts.end(), id), 0) << "unknown anchor " << id;
        }
    }
}

TEST(HelpPages, PageIsSelfContained)
{
    for (const QString& page : helpPages()) {
        SCOPED_TRACE(page.toStdString());
        const QString html = helpSource(page);
        ASSERT_FALSE(html.isEmpty());
        EXPECT_TRUE(html.contains(QStringLiteral("<meta charset=\"utf-8\">"), Qt::CaseInsensitive));
        EXPECT_FALSE(html.contains(QStringLiteral("<script"), Qt::CaseInsensitive));
        // Opened from disk on a desk that may be offline: nothing is fetched from elsewhere.
        static const QRegularExpression outside(QStringLiteral("(href|src)\\s*=\\s*\"(?!#)"),
                                                QRegularExpression::CaseInsensitiveOption);
        EXPECT_FALSE(html.contains(outside));
        // Every link inside the page leads to an anchor that exists.
        static const QRegularExpression link(QStringLiteral("href=\"#([^\"]+)\""));
        for (auto it = link.globalMatch(html); it.hasNext();) {
            const QString target = it.next().captured(1);
            EXPECT_EQ(anchorCount(html, target), 1) << "dangling link #" << target.toStdString();
        }
    }
}

TEST(HelpPages, TheLanguageInUseGetsItsOwnPageAndTheOthersEnglish)
{
    application();
    const QDir programDir(QCoreApplication::applicationDirPath());
    EXPECT_EQ(kestrel::helpUrl(6105).toLocalFile(), programDir.filePath("help/watchlist.html"));
    kestrel::useLanguage("en");
    const QUrl english = kestrel::helpUrl(6105);
    EXPECT_EQ(english.toLocalFile(), programDir.filePath("help/en/watchlist.html"));
    EXPECT_EQ(english.fragment(), QStringLiteral("6105"));
    EXPECT_EQ(readFile(english.toLocalFile()),
              readFile(QFileInfo(QStringLiteral(KESTREL_HELP_SOURCE)).dir().filePath("en/watchlist.html")))
        << "the build copies every language's page beside the programs";
    kestrel::useLanguage("de");
    EXPECT_EQ(kestrel::helpUrl(1).toLocalFile(), programDir.filePath("help/en/watchlist.html"));
    kestrel::useLanguage("ja");
}
