// watchlist.exe [/d | -d]: the list of every printer the spooler knows and its monitoring state. One
// instance per system root; it starts one hidden detail program per monitorable printer and ends them
// all when it closes. /d: quiet start (no initialising dialog at the first build, a pending exit
// request is honoured).

#include <QApplication>
#include <cstdio>
#include <string>

#include "list_program.h"
#include "plat/base/command_line.h"
#include "plat/gui/termination.h"
#include "plat/proc/instance_lock.h"
#include "plat/services/program.h"
#include "resources/language.h"
#include "vigil.h"
#include "watchcore.h"

namespace {

constexpr const char* kUsage =
    "usage: watchlist.exe [/d | -d]\n"
    "The printers the spooler knows, each with its monitoring state, printer state and waiting jobs.\n"
    "One instance runs per system root ($KESTREL_ROOT); a second one ends at once.\n"
    "  /d, -d   quiet start: no initialising dialog at the first build; a pending exit request\n"
    "           (KswExitFlag 1) closes the program at its first timer tick\n"
    "The windows speak Japanese in a Japanese locale and English in any other (LANGUAGE, LC_ALL,\n"
    "LC_MESSAGES, LANG, read as gettext reads them).\n";

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = plat::argumentsOf(argc, argv);
    if (plat::printHelpIfAsked(args, kUsage)) return 0;
    bool quiet = false;
    for (const std::string& a : args) quiet = quiet || a == "/d" || a == "-d";

    // The process's services, handed to the libraries it calls: they share its store and its spooler.
    auto services = plat::openProgramServices();
    if (!services) {
        std::fprintf(stderr, "watchlist.exe: %s\n", services.error().detail.c_str());
        return 1;
    }
    plat::Services& shared = *services.value().release();  // for the life of the process
    vWatchcoreUseServices(&shared);
    VigilUseServices(&shared);
    // What the system committed while no list ran goes to the disk now; the rest at the log's
    // checkpoints and at the list's end. Nothing else of the system syncs the disk while idle.
    shared.store().syncToDisk();

    fCreateRegistoryNotifySubKey();
    fSetRegistoryKswListRunFlag(1);
    auto instance = plat::proc::InstanceLock::tryAcquire("watchlist");
    if (instance == nullptr) {
        // Another list runs: this one ends without a window (and, as ever, leaves the flag at 0).
        fSetRegistoryKswListRunFlag(0);
        return 0;
    }

    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("com.velta.Kestrel"));  // docks find the icon by it
    app.setQuitOnLastWindowClosed(false);  // the list ends through its close path only
    kestrel::useLanguage(kestrel::languageFromEnvironment());
    // The leftovers of the last run and a stale exit request go on the program's worker, before its
    // first tick.
    const std::string directory = QCoreApplication::applicationDirPath().toStdString();

    int status = 1;
    {
        watchlist::ListProgram program(shared, directory, quiet);
        QObject::connect(&program, &watchlist::ListProgram::ended, &app, &QApplication::quit, Qt::QueuedConnection);
        plat::gui::onTermination(&app, [&program] { program.close(); });
        // The desktop session ends: close as the user would, detail programs first.
        QObject::connect(&app, &QGuiApplication::commitDataRequest, &program, &watchlist::ListProgram::close);
        if (program.start()) status = app.exec();
    }
    fSetRegistoryKswListRunFlag(0);
    shared.store().syncToDisk();
    return status;
}
