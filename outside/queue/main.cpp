// kestrel-queue: the queue window of one printer, opened on a printer shortcut. The detail program makes
// the shortcut and starts this program with its path; the shortcut is deleted once read.

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>

#include "plat/base/command_line.h"
#include "plat/services/program.h"
#include "plat/spool/spooler.h"
#include "queue_window.h"
#include "shortcut.h"

namespace {

constexpr const char* kHelp = R"(kestrel-queue - the print queue of one printer

Usage:
  kestrel-queue SHORTCUT [--list] [--cancel-one] [--cancel-all]

SHORTCUT is a printer shortcut made by the detail program. The program reads the printer's name from
it, deletes it, and shows the printer's pending jobs with buttons to cancel one or all of them; the
window follows the spooler's changes. The embedded spooler keeps a count of jobs per printer, so the
jobs are shown as numbered pending jobs.

Without a window:
  --list          print the printer and its pending jobs, then end
  --cancel-one    cancel one job, then print as --list
  --cancel-all    cancel every job, then print as --list
With KESTREL_QUEUE_LIST_TO=FILE in the environment the program writes what --list prints to FILE
(a new file) instead of showing the window.

Exit codes: 0 done, 2 bad arguments, 3 the shortcut cannot be read or is not a printer shortcut of
this system, 4 the printer no longer exists, 5 the spooler cannot be read or changed.
)";

enum Exit { kOk = 0, kUsage = 2, kBadShortcut = 3, kNoPrinter = 4, kSpooler = 5 };

std::string listing(const queue::PrinterQueue& queue)
{
    std::ostringstream out;
    out << "printer: " << queue.printer() << "\njobs: " << queue.jobs() << '\n';
    for (std::uint32_t i = 1; i <= queue.jobs(); ++i) out << "  job " << i << " pending\n";
    return out.str();
}

// Says why on stderr, in English as the command line does, and with a window, in the window's words.
int fail(bool window, int code, const std::string& message, const QString& shown)
{
    std::cerr << "kestrel-queue: " << message << '\n';
    if (window) {
        int argc = 1;
        char name[] = "kestrel-queue";
        char* argv[] = {name, nullptr};
        QApplication app(argc, argv);
        QMessageBox::warning(nullptr, QObject::tr("ｼﾞｮﾌﾞ一覧"), shown);
    }
    return code;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = plat::argumentsOf(argc, argv);
    if (plat::printHelpIfAsked(args, kHelp)) return kOk;
    std::optional<std::string> shortcut;
    bool list = false, cancelOne = false, cancelAll = false;
    for (const auto& a : args) {
        if (a == "--list") list = true;
        else if (a == "--cancel-one") cancelOne = true;
        else if (a == "--cancel-all") cancelAll = true;
        else if (a.rfind("--", 0) == 0 || shortcut) {
            std::cerr << "kestrel-queue: unexpected argument \"" << a << "\"; see --help\n";
            return kUsage;
        } else shortcut = a;
    }
    if (!shortcut) {
        std::cerr << "kestrel-queue: no shortcut given; see --help\n";
        return kUsage;
    }
    const char* listTo = std::getenv("KESTREL_QUEUE_LIST_TO");
    const bool window = !list && !cancelOne && !cancelAll && (listTo == nullptr || *listTo == '\0');

    auto printer = queue::readPrinterShortcut(*shortcut);
    if (!printer) {
        return fail(window, kBadShortcut, printer.error().detail, QObject::tr("ﾌﾟﾘﾝﾀのｼｮｰﾄｶｯﾄを読み取れません。"));
    }
    // Only a shortcut we recognised is ours to delete; any other file is left as it was.
    std::error_code ignored;
    std::filesystem::remove(*shortcut, ignored);

    auto services = plat::openProgramServices();
    auto spooler = services ? services.value()->spooler() : plat::Result<plat::spool::Spooler*>(services.error());
    if (!spooler) {
        return fail(window, kSpooler, "the spooler cannot be opened: " + spooler.error().detail,
                    QObject::tr("ｽﾌﾟｰﾗを開けません。"));
    }
    queue::PrinterQueue state(*spooler.value(), printer.value());
    if (!state.refresh()) {
        return fail(window, state.gone() ? kNoPrinter : kSpooler, state.problem(), queue::problemText(state));
    }

    if (!window) {
        if ((cancelAll && !state.cancelAll()) || (cancelOne && !state.cancel(1))) {
            return fail(false, kSpooler, state.problem(), {});
        }
        if (list || cancelOne || cancelAll) {
            std::cout << listing(state);
            return kOk;
        }
        std::FILE* file = std::fopen(listTo, "wx");  // a new file only, never over another
        if (file == nullptr) return fail(false, kUsage, std::string(listTo) + ": cannot be made", {});
        const std::string text = listing(state);
        const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        return std::fclose(file) == 0 && written ? kOk : kUsage;
    }

    QApplication app(argc, argv);
    queue::QueueWindow queueWindow(*spooler.value(), printer.value());
    queueWindow.show();
    return app.exec();
}
