#include "resources/help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

#include <string>

#include "plat/base/trace.h"

namespace kestrel {

QUrl helpUrl(int context)
{
    const QDir programDir(QCoreApplication::applicationDirPath());
    QUrl url = QUrl::fromLocalFile(programDir.filePath(QStringLiteral("help/watchlist.html")));
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
