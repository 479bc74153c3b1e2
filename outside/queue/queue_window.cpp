#include "queue_window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
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
        const bool gone = printer.error().code == static_cast<int>(plat::spool::Failure::NotFound);
        m_kind = gone ? Problem::Gone : Problem::Unreadable;
        m_problem = gone ? "The printer \"" + m_printer + "\" no longer exists."
                         : "The spooler cannot be read: " + printer.error().detail;
        return false;
    }
    m_jobs = printer.value().jobs;
    m_problem.clear();
    m_kind = Problem::None;
    return true;
}

bool PrinterQueue::changed() { return m_spooler.changeCount() != m_seen; }

bool PrinterQueue::cancel(std::uint32_t count)
{
    auto done = m_spooler.finishJobs(m_printer, count);
    const bool ok = done.ok();
    refresh();
    if (!ok && m_kind == Problem::None) {
        m_kind = Problem::NotCancelled;
        m_problem = "The jobs could not be cancelled: " + done.error().detail;
    }
    return ok;
}

QString problemText(const PrinterQueue& queue)
{
    switch (queue.problemKind()) {
    case Problem::None: return {};
    case Problem::Gone:
        return QObject::tr("ﾌﾟﾘﾝﾀ「%1」は削除されています。").arg(QString::fromStdString(queue.printer()));
    case Problem::Unreadable: return QObject::tr("ｽﾌﾟｰﾗを読み取れません。");
    case Problem::NotCancelled: return QObject::tr("ｼﾞｮﾌﾞを取り消せませんでした。");
    }
    return {};
}

QueueWindow::QueueWindow(plat::spool::Spooler& spooler, std::string printer, QWidget* parent)
    : QWidget(parent),
      m_queue(spooler, std::move(printer)),
      m_summary(new QLabel(this)),
      m_list(new QTreeWidget(this)),
      m_cancelOne(new QPushButton(tr("1件取り消し(&C)"), this)),
      m_cancelAll(new QPushButton(tr("すべて取り消し(&A)"), this))
{
    setWindowTitle(tr("%1 - ｼﾞｮﾌﾞ一覧").arg(QString::fromStdString(m_queue.printer())));
    m_summary->setObjectName("summary");
    m_summary->setTextFormat(Qt::PlainText);  // the printer's name is data, never markup
    m_summary->setWordWrap(true);
    m_summary->setAccessibleName(tr("ｷｭｰの状態"));
    m_list->setObjectName("jobs");
    m_list->setAccessibleName(tr("印刷待ちのｼﾞｮﾌﾞ"));
    m_list->setHeaderLabels({tr("ｼﾞｮﾌﾞ"), tr("状態")});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);  // the buttons act on the queue, not a row
    m_list->setColumnWidth(0, 160);
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
    const bool known = m_queue.problemKind() == Problem::None;
    if (!known) {
        m_summary->setText(problemText(m_queue));
    } else if (m_queue.jobs() == 0) {
        m_summary->setText(tr("印刷待ちのｼﾞｮﾌﾞはありません。"));
    } else {
        // Honest about what the spooler keeps: a count, not the documents.
        m_summary->setText(tr("印刷待ちのｼﾞｮﾌﾞが %1 件あります。").arg(m_queue.jobs()) +
                           tr("ｽﾌﾟｰﾗはｼﾞｮﾌﾞの数だけを記録し、文書名は記録しません。"));
        for (std::uint32_t i = 1; i <= m_queue.jobs(); ++i)
            m_list->addTopLevelItem(new QTreeWidgetItem({tr("ｼﾞｮﾌﾞ %1").arg(i), tr("印刷待ち")}));
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
