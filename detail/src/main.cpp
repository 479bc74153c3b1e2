// watchpanel.exe SLOT: the detail window of the printer in the list program's shared slot SLOT. It stays
// resident while the printer is monitored; the list program shows it, hides it and ends it through the
// slot.

#include <QApplication>
#include <cstdio>
#include <optional>
#include <string>

#include "panel_window.h"
#include "plat/base/command_line.h"
#include "plat/gui/termination.h"
#include "plat/services/program.h"
#include "resources/language.h"
#include "vigil.h"
#include "watchcore.h"

namespace {

constexpr const char* kUsage =
    "usage: watchpanel.exe SLOT\n"
    "The detail window of the printer in the list program's shared slot SLOT (0..19). The list program\n"
    "starts one per monitored printer; it stays resident until the list program ends it.\n"
    "No slot, or a negative one: ends at once without a window.\n"
    "The window speaks Japanese in a Japanese locale and English in any other (LANGUAGE, LC_ALL,\n"
    "LC_MESSAGES, LANG, read as gettext reads them).\n";

// The slot: the first blank-separated token of the first argument, a decimal number. Nothing when
// there is no token or it is not a number.
std::optional<int> slotArgument(int argc, char** argv)
{
    if (argc < 2) return std::nullopt;
    const std::string arg(argv[1]);
    const std::size_t begin = arg.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::nullopt;
    const std::string token = arg.substr(begin, arg.find_first_of(" \t", begin) - begin);
    try {
        std::size_t used = 0;
        const int slot = std::stoi(token, &used, 10);
        if (used == token.size()) return slot;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv)
{
    if (plat::printHelpIfAsked(plat::argumentsOf(argc, argv), kUsage)) return 0;
    const std::optional<int> slot = slotArgument(argc, argv);
    if (!slot || *slot < 0) return 0;

    // The process's services, handed to the libraries it calls: they share its store and its clock.
    auto services = plat::openProgramServices();
    if (!services) {
        std::fprintf(stderr, "watchpanel.exe: %s\n", services.error().detail.c_str());
        return 1;
    }
    plat::Services& shared = *services.value().release();  // for the life of the process
    vWatchcoreUseServices(&shared);
    VigilUseServices(&shared);

    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("com.velta.Kestrel"));  // docks find the icon by it
    app.setQuitOnLastWindowClosed(false);  // "閉じる" only hides; the list program ends us
    kestrel::useLanguage(kestrel::languageFromEnvironment());

    watchpanel::PanelWindow window(*slot);
    QObject::connect(
        &window, &watchpanel::PanelWindow::ended, &app, [&app, &window] { app.exit(window.exitCode()); },
        Qt::QueuedConnection);
    // SIGTERM (the list program's last resort) ends the window cleanly, the engine stopped first.
    plat::gui::onTermination(&app, [&window] { window.end(); });

    if (!window.start()) return 1;
    return app.exec();
}
