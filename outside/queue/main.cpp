// kestrel-queue: the queue window of one printer, opened on a printer shortcut. The detail program makes
// the shortcut and starts this program with its path; the shortcut is deleted once read.

#include <QApplication>
#include <QMessageBox>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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
#include "resources/language.h"
#include "shortcut.h"

namespace {

constexpr const char* kHelp = R"(kestrel-queue - the print queue of one printer

Usage:
  kestrel-queue SHORTCUT [--list] [--cancel-one] [--cancel-all]

SHORTCUT is a printer shortcut made by the detail program. The program reads the printer's name from
it, deletes it, and shows the printer's pending jobs with buttons to cancel one or all of them; the
window follows the spooler's changes. On CUPS each job is listed (number, document, owner, size,
state, time submitted) and the selected one or all are cancelled; CUPS lets a user cancel only their
own jobs unless they administer it, and the window says so when it refuses. The embedded spooler keeps
a count of jobs per printer, so there the jobs are shown as numbered pending jobs.

Without a window:
  --list          print the printer and its pending jobs, then end; on CUPS one line per job:
                    job ID STATE SIZE_KB "DOCUMENT" OWNER SUBMITTED (local time)
  --cancel-one    cancel one job (on CUPS the oldest), then print as --list
  --cancel-all    cancel every job, then print as --list
With KESTREL_QUEUE_LIST_TO=FILE in the environment the program writes what --list prints to FILE
(a new file) instead of showing the window.

Exit codes: 0 done, 2 bad arguments, 3 the shortcut cannot be read or is not a printer shortcut of
this system, 4 the printer no longer exists, 5 the spooler cannot be read or changed, 6 the spooler
refused the cancel (not authorised).
)";

enum Exit { kOk = 0, kUsage = 2, kBadShortcut = 3, kNoPrinter = 4, kSpooler = 5, kRefused = 6 };

const char* stateWord(plat::spool::Job::State state)
{
    using S = plat::spool::Job::State;
    switch (state) {
    case S::Pending: return "pending";
    case S::Held: return "held";
    case S::Processing: return "printing";
    case S::Stopped: return "stopped";
    case S::Cancelled: return "cancelled";
    case S::Aborted: return "aborted";
    case S::Completed: return "completed";
    }
    return "unknown";
}

std::string listing(const std::string& printer, const queue::QueueState& state)
{
    std::ostringstream out;
    out << "printer: " << printer << "\njobs: " << state.count << '\n';
    if (!state.listed) {
        for (std::uint32_t i = 1; i <= state.count; ++i) out << "  job " << i << " pending\n";
        return out.str();
    }
    for (const auto& job : state.jobs) {
        char when[32] = "";
        const std::time_t submitted = static_cast<std::time_t>(job.submitted);
        std::tm local{};
        if (job.submitted > 0 && ::localtime_r(&submitted, &local) != nullptr)
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
        out << "  job " << job.id << ' ' << stateWord(job.state) << ' ' << job.kilobytes << " \"" << job.name << "\" "
            << job.owner << ' ' << when << '\n';
    }
    return out.str();
}

int exitOf(queue::Problem problem)
{
    switch (problem) {
    case queue::Problem::None: return kOk;
    case queue::Problem::Gone: return kNoPrinter;
    case queue::Problem::NotAllowed: return kRefused;
    case queue::Problem::Unreadable:
    case queue::Problem::NotCancelled: return kSpooler;
    }
    return kSpooler;
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
        kestrel::useLanguage(kestrel::languageFromEnvironment());
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

    // The store opens at once; the spooler only when first asked, which the window does on its worker.
    auto services = plat::openProgramServices();
    if (!services) return fail(window, kSpooler, "the store cannot be opened: " + services.error().detail, {});
    plat::Services& shared = *services.value().release();  // for the life of the process: see the worker below
    if (window) {
        QApplication app(argc, argv);
        kestrel::useLanguage(kestrel::languageFromEnvironment());
        // The window opens the spooler on its worker's thread: a scheduler that does not answer leaves
        // the window showing that it is waiting, never frozen.
        auto queueWindow =
            std::make_unique<queue::QueueWindow>([&shared] { return shared.openSpooler(); }, printer.value());
        queueWindow->show();
        const int rc = app.exec();
        queueWindow.reset();
        // A worker still inside a call to a spooler that does not answer must not hold the end up.
        if (!queue::QueueWorker::drain(std::chrono::seconds(2))) std::_Exit(rc);
        return rc;
    }

    auto spooler = shared.spooler();
    if (!spooler) return fail(false, kSpooler, "the spooler cannot be opened: " + spooler.error().detail, {});
    queue::QueueState state = queue::readQueue(*spooler.value(), printer.value());
    if (state.problem == queue::Problem::None && (cancelOne || cancelAll)) {
        queue::Cancel cancel;
        if (cancelAll) cancel.what = queue::Cancel::What::All;
        state = queue::cancelJobs(*spooler.value(), printer.value(), cancel);
    }
    if (state.problem != queue::Problem::None) return fail(false, exitOf(state.problem), state.detail, {});
    if (list || cancelOne || cancelAll) {
        std::cout << listing(printer.value(), state);
        return kOk;
    }
    std::FILE* file = std::fopen(listTo, "wx");  // a new file only, never over another
    if (file == nullptr) return fail(false, kUsage, std::string(listTo) + ": cannot be made", {});
    const std::string text = listing(printer.value(), state);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written ? kOk : kUsage;
}
