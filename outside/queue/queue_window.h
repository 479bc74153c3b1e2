#pragma once
// The queue window of one printer: its pending jobs as the spooler knows them, with cancel one and
// cancel all, following the spooler's changes. Its texts are Japanese, as the rest of the system's.
//
// The embedded spooler keeps a count of jobs per printer, not the jobs themselves, so the jobs are
// shown as numbered pending jobs and "cancel" takes jobs off the count.

#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "plat/spool/spooler.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace queue {

// What went wrong with the last refresh or cancel.
enum class Problem {
    None,
    Gone,          // the printer was deleted
    Unreadable,    // the spooler cannot be read
    NotCancelled,  // the spooler refused to take the jobs off
};

// The state the window shows, without a window.
class PrinterQueue {
public:
    PrinterQueue(plat::spool::Spooler& spooler, std::string printer);

    const std::string& printer() const { return m_printer; }
    // Reads the printer again. False when it is gone or the spooler cannot be read (see problem()).
    bool refresh();
    // True when the spooler changed since the last refresh (a cheap read).
    bool changed();
    std::uint32_t jobs() const { return m_jobs; }
    // The last problem, for the program's diagnostics (in English, as the command line's messages).
    const std::string& problem() const { return m_problem; }
    Problem problemKind() const { return m_kind; }
    // True when the last refresh found the printer deleted.
    bool gone() const { return m_kind == Problem::Gone; }

    // Takes `count` jobs (at most what is queued) off the printer's queue; then refreshes.
    bool cancel(std::uint32_t count);
    bool cancelAll() { return cancel(UINT32_MAX); }

private:
    plat::spool::Spooler& m_spooler;
    std::string m_printer;
    std::uint64_t m_seen = 0;
    std::uint32_t m_jobs = 0;
    std::string m_problem;
    Problem m_kind = Problem::None;
};

// The window's words for the queue's problem; empty when there is none.
QString problemText(const PrinterQueue& queue);

class QueueWindow : public QWidget {
    Q_OBJECT
public:
    QueueWindow(plat::spool::Spooler& spooler, std::string printer, QWidget* parent = nullptr);

    PrinterQueue& state() { return m_queue; }
    // Shows the state again (also done by the poll timer when the spooler changes).
    void showState();

private:
    void cancelOne();
    void cancelAll();
    void poll();

    PrinterQueue m_queue;
    QLabel* m_summary;
    QTreeWidget* m_list;
    QPushButton* m_cancelOne;
    QPushButton* m_cancelAll;
    QTimer m_poll;
};

}  // namespace queue
