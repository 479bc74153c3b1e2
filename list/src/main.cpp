// watchlist.exe [/d | -d]: the list of every printer the spooler knows and its monitoring state. One
// instance per system root; it starts one hidden detail program per monitorable printer and ends them
// all when it closes. /d: quiet start (no initialising dialog at the first build, a pending exit
// request is honoured).

#include <QApplication>
#include <string>

#include "list_program.h"
#include "plat/base/command_line.h"
#include "plat/gui/termination.h"
#include "plat/proc/instance_lock.h"
#include "watchcore.h"

namespace {

constexpr const char* kUsage =
    "usage: watchlist.exe [/d | -d]\n"
    "The printers the spooler knows, each with its monitoring state, printer state and waiting jobs.\n"
    "One instance runs per system root ($KESTREL_ROOT); a second one ends at once.\n"
    "  /d, -d   quiet start: no initialising dialog at the first build; a pending exit request\n"
    "           (KswExitFlag 1) closes the program at its first timer tick\n";

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = plat::argumentsOf(argc, argv);
    if (plat::printHelpIfAsked(args, kUsage)) return 0;
    bool quiet = false;
    for (const std::string& a : args) quiet = quiet || a == "/d" || a == "-d";

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
    if (!quiet) fSetRegistoryKswExitFlag(0);
    const std::string directory = QCoreApplication::applicationDirPath().toStdString();
    watchlist::removeLeftovers(directory);

    int status = 1;
    {
        watchlist::ListProgram program(directory, quiet);
        QObject::connect(&program, &watchlist::ListProgram::ended, &app, &QApplication::quit, Qt::QueuedConnection);
        plat::gui::onTermination(&app, [&program] { program.close(); });
        // The desktop session ends: close as the user would, detail programs first.
        QObject::connect(&app, &QGuiApplication::commitDataRequest, &program, &watchlist::ListProgram::close);
        if (program.start()) status = app.exec();
    }
    fSetRegistoryKswListRunFlag(0);
    return status;
}
