#include "resources/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

#include <string>
#include <vector>

#include "plat/base/trace.h"
#include "resources/language.h"

namespace kestrel {

QUrl helpUrl(int context)
{
    const QDir programDir(QCoreApplication::applicationDirPath());
    QString page = programDir.filePath(QStringLiteral("help/watchlist.html"));
    // The page in the language in use, else in the nearest one that has it, else the Japanese one.
    const std::vector<std::string> layers = languageLayers();
    for (auto layer = layers.rbegin(); layer != layers.rend(); ++layer) {
        const QString translated =
            programDir.filePath(QStringLiteral("help/%1/watchlist.html").arg(QString::fromStdString(*layer)));
        if (QFileInfo(translated).isFile()) {
            page = translated;
            break;
        }
    }
    QUrl url = QUrl::fromLocalFile(page);
    url.setFragment(QString::number(context));
    return url;
}

namespace {

bool openPage(const QUrl& url)
{
    // Checked here because a launcher handed a missing file often reports success and shows nothing.
    if (!QFileInfo(url.toLocalFile()).isFile()) {
        plat::trace("help: no page at " + url.toLocalFile().toStdString());
        return false;
    }
    if (!QDesktopServices::openUrl(url)) {
        plat::trace("help: no browser took " + url.toString().toStdString());
        return false;
    }
    return true;
}

}  // namespace

bool openHelp(int context) { return openPage(helpUrl(context)); }

bool openHelp(const QString& anchor)
{
    QUrl url = helpUrl(0);
    url.setFragment(anchor);
    return openPage(url);
}

}  // namespace kestrel
