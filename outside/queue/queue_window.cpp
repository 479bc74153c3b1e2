#include "queue_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace queue {

PrinterQueue::PrinterQueue(plat::spool::Spooler& spooler, std::string printer)
    : m_spooler(spooler), m_printer(std::move(printer))
{
}

bool PrinterQueue::refresh()
{
    // The count first: a change after it is seen by the next poll rather than lost.
    m_seen = m_spooler.changeCount();
    auto printer = m_spooler.printer(m_printer);
    if (!printer) {
        m_jobs = 0;
        m_gone = printer.error().code == static_cast<int>(plat::spool::Failure::NotFound);
        m_problem = m_gone ? "The printer \"" + m_printer + "\" no longer exists."
                           : "The spooler cannot be read: " + printer.error().detail;
        return false;
    }
    m_jobs = printer.value().jobs;
    m_problem.clear();
    m_gone = false;
    return true;
}

bool PrinterQueue::changed() { return m_spooler.changeCount() != m_seen; }

bool PrinterQueue::cancel(std::uint32_t count)
{
    auto done = m_spooler.finishJobs(m_printer, count);
    const bool ok = done.ok();
    refresh();
    if (!ok && m_problem.empty()) m_problem = "The jobs could not be cancelled: " + done.error().detail;
    return ok;
}

QueueWindow::QueueWindow(plat::spool::Spooler& spooler, std::string printer, QWidget* parent)
    : QWidget(parent),
      m_queue(spooler, std::move(printer)),
      m_summary(new QLabel(this)),
      m_list(new QListWidget(this)),
      m_cancelOne(new QPushButton(tr("&Cancel one job"), this)),
      m_cancelAll(new QPushButton(tr("Cancel &all jobs"), this))
{
    setWindowTitle(tr("%1 - Print queue").arg(QString::fromStdString(m_queue.printer())));
    m_summary->setObjectName("summary");
    m_summary->setTextFormat(Qt::PlainText);  // the printer's name is data, never markup
    m_summary->setWordWrap(true);
    m_summary->setAccessibleName(tr("Queue state"));
    m_list->setObjectName("jobs");
    m_list->setAccessibleName(tr("Pending jobs"));
    m_cancelOne->setObjectName("cancelOne");
    m_cancelAll->setObjectName("cancelAll");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancelOne);
    buttons->addWidget(m_cancelAll);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    resize(420, 280);

    connect(m_cancelOne, &QPushButton::clicked, this, &QueueWindow::cancelOne);
    connect(m_cancelAll, &QPushButton::clicked, this, &QueueWindow::cancelAll);
    // The change count is one small store read: cheap enough for a timer on the GUI thread.
    connect(&m_poll, &QTimer::timeout, this, &QueueWindow::poll);
    m_poll.start(500);
    m_queue.refresh();
    showState();
}

void QueueWindow::showState()
{
    m_list->clear();
    const bool known = m_queue.problem().empty();
    if (!known) {
        m_summary->setText(QString::fromStdString(m_queue.problem()));
    } else if (m_queue.jobs() == 0) {
        m_summary->setText(tr("No jobs are waiting."));
    } else {
        // Honest about what the spooler keeps: a count, not the documents.
        const QString count =
            m_queue.jobs() == 1 ? tr("1 job is waiting.") : tr("%1 jobs are waiting.").arg(m_queue.jobs());
        m_summary->setText(count + ' ' + tr("The spooler keeps their number only, not their names."));
        for (std::uint32_t i = 1; i <= m_queue.jobs(); ++i) m_list->addItem(tr("Job %1 - pending").arg(i));
    }
    m_cancelOne->setEnabled(known && m_queue.jobs() > 0);
    m_cancelAll->setEnabled(known && m_queue.jobs() > 0);
}

void QueueWindow::cancelOne()
{
    m_queue.cancel(1);
    showState();
}

void QueueWindow::cancelAll()
{
    m_queue.cancelAll();
    showState();
}

void QueueWindow::poll()
{
    if (!m_queue.changed()) return;
    m_queue.refresh();
    showState();
}

}  // namespace queue
