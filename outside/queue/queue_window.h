#pragma once
// The queue window of one printer: its waiting jobs as the spooler knows them, with cancel one and
// cancel all, following the spooler's changes. Its texts are Japanese, as the rest of the system's.
//
// On CUPS it lists the queue's jobs (number, document, owner, size, state, time submitted) and cancels
// the selected job or all of them; on the embedded spooler, which keeps only a count per printer, it
// shows numbered waiting jobs and a cancel takes jobs off the count.
//
// Every spooler call runs on the window's worker thread (queue_state.h): the window's thread never
// waits on the spooler, even one that does not answer, and shows each result the worker sends back.

#include <QString>
#include <QWidget>
#include <memory>
#include <string>

#include "queue_state.h"

class QLabel;
class QPushButton;
class QTreeWidget;

Q_DECLARE_METATYPE(queue::QueueState)

namespace queue {

// The window's words for a problem with `printer`'s queue; empty when there is none.
QString problemText(Problem problem, const std::string& printer);
// The window's word for a job's state.
QString stateText(plat::spool::Job::State state);

class QueueWindow : public QWidget {
    Q_OBJECT
public:
    // `open` makes the window's spooler; it is called on the worker's thread.
    QueueWindow(QueueWorker::Opener open, std::string printer, QWidget* parent = nullptr);
    ~QueueWindow() override;

    const std::string& printer() const { return m_printer; }
    // What the window shows now.
    const QueueState& state() const { return m_state; }

signals:
    // A result of the worker, sent from its thread and delivered queued on the window's.
    void stateRead(const queue::QueueState& state);
    // The window shows a new state (for tests that wait for one).
    void stateShown();

private:
    void apply(const QueueState& state);
    void cancelOne();
    void cancelAll();
    void updateButtons();

    std::string m_printer;
    QueueState m_state;
    int m_cancels = 0;                        // cancels on their way
    Problem m_cancelProblem = Problem::None;  // what the last cancel came to, shown until the next
    QLabel* m_summary;
    QTreeWidget* m_list;
    QPushButton* m_cancelOne;
    QPushButton* m_cancelAll;
    std::unique_ptr<QueueWorker> m_worker;  // last: it goes first, before the widgets
};

}  // namespace queue
