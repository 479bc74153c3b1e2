#pragma once
// The help pages: HTML installed beside the programs, one anchor per help context number, opened in the
// desktop's browser.

#include <QUrl>

namespace kestrel {

// The help page of a context: <folder of the running program>/help/watchlist.html#<context>, or the page
// of the language in use, help/<language>/watchlist.html, when there is one.
QUrl helpUrl(int context);

// Opens it in the desktop's browser without waiting (QDesktopServices); false, and a trace text, when
// the page is missing or no browser takes it.
bool openHelp(int context);
// The same for a named anchor of the pages (the list window's help is "list").
bool openHelp(const QString& anchor);

}  // namespace kestrel
