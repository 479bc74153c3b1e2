#include "queue_window.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace queue {
namespace {

using plat::spool::Job;

// The list's columns on CUPS.
enum Column { kNumber, kDocument, kOwner, kSize, kState, kSubmitted, kColumns };

}  // namespace

QString problemText(Problem problem, const std::string& printer)
{
    switch (problem) {
    case Problem::None: return {};
    case Problem::Gone: return QObject::tr("ﾌﾟﾘﾝﾀ「%1」は削除されています。").arg(QString::fromStdString(printer));
    case Problem::Unreadable: return QObject::tr("ｽﾌﾟｰﾗを読み取れません。");
    case Problem::NotCancelled: return QObject::tr("ｼﾞｮﾌﾞを取り消せませんでした。");
    case Problem::NotAllowed:
        return QObject::tr("ｼﾞｮﾌﾞを取り消す権限がありません。ほかのﾕｰｻﾞｰのｼﾞｮﾌﾞは取り消せません。");
    }
    return {};
}

QString stateText(Job::State state)
{
    switch (state) {
    case Job::State::Pending: return QObject::tr("印刷待ち");
    case Job::State::Held: return QObject::tr("保留中");
    case Job::State::Processing: return QObject::tr("印刷中");
    case Job::State::Stopped: return QObject::tr("停止中");
    case Job::State::Cancelled: return QObject::tr("取り消し済み");
    case Job::State::Aborted: return QObject::tr("中止");
    case Job::State::Completed: return QObject::tr("完了");
    }
    return {};
}

QueueWindow::QueueWindow(QueueWorker::Opener open, std::string printer, QWidget* parent)
    : QWidget(parent),
      m_printer(std::move(printer)),
      m_summary(new QLabel(this)),
      m_list(new QTreeWidget(this)),
      m_cancelOne(new QPushButton(tr("1件取り消し(&C)"), this)),
      m_cancelAll(new QPushButton(tr("すべて取り消し(&A)"), this))
{
    qRegisterMetaType<queue::QueueState>();
    setWindowTitle(tr("%1 - ｼﾞｮﾌﾞ一覧").arg(QString::fromStdString(m_printer)));
    m_summary->setObjectName("summary");
    m_summary->setTextFormat(Qt::PlainText);  // the printer's name is data, never markup
    m_summary->setWordWrap(true);
    m_summary->setAccessibleName(tr("ｷｭｰの状態"));
    m_summary->setText(tr("ｼﾞｮﾌﾞを読み込んでいます..."));
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
    updateButtons();

    connect(m_cancelOne, &QPushButton::clicked, this, &QueueWindow::cancelOne);
    connect(m_cancelAll, &QPushButton::clicked, this, &QueueWindow::cancelAll);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &QueueWindow::updateButtons);
    connect(this, &QueueWindow::stateRead, this, &QueueWindow::apply, Qt::QueuedConnection);
    // The worker's results come from its thread; the worker delivers nothing once it is gone, and it
    // goes before the window does.
    m_worker = std::make_unique<QueueWorker>(std::move(open), m_printer,
                                             [this](const QueueState& state) { emit stateRead(state); });
}

QueueWindow::~QueueWindow() { m_worker.reset(); }

void QueueWindow::apply(const QueueState& state)
{
    const bool wasListed = m_state.listed;
    const int selected =
        m_list->currentItem() != nullptr ? m_list->currentItem()->data(kNumber, Qt::UserRole).toInt() : 0;
    m_state = state;
    if (state.afterCancel) {
        m_cancels = std::max(0, m_cancels - 1);
        m_cancelProblem = state.problem;
    } else if (state.problem == Problem::None) {
        m_state.problem = m_cancelProblem;  // a refusal stays said until the next cancel
    }
    m_list->clear();
    if (m_state.listed && !wasListed) {
        // CUPS knows each job: one row per job, and the selected one can be cancelled.
        m_list->setColumnCount(kColumns);
        m_list->setHeaderLabels({tr("番号"), tr("文書名"), tr("所有者"), tr("ｻｲｽﾞ"), tr("状態"), tr("受付時刻")});
        m_list->setSelectionMode(QAbstractItemView::SingleSelection);
        m_list->setAccessibleName(tr("印刷待ちのｼﾞｮﾌﾞ"));
        m_cancelOne->setText(tr("選択したｼﾞｮﾌﾞを取り消し(&C)"));
        resize(std::max(width(), 680), height());
    }
    const bool known = m_state.problem == Problem::None || m_state.problem == Problem::NotCancelled ||
                       m_state.problem == Problem::NotAllowed;
    QString summary;
    if (m_state.problem != Problem::None) summary = problemText(m_state.problem, m_printer);
    if (known) {
        if (!summary.isEmpty()) summary += "\n";
        if (m_state.count == 0) {
            summary += tr("印刷待ちのｼﾞｮﾌﾞはありません。");
        } else {
            summary += tr("印刷待ちのｼﾞｮﾌﾞが %1 件あります。").arg(m_state.count);
            // Honest about what the embedded spooler keeps: a count, not the documents.
            if (!m_state.listed) summary += tr("ｽﾌﾟｰﾗはｼﾞｮﾌﾞの数だけを記録し、文書名は記録しません。");
        }
        if (m_state.listed) {
            for (const Job& job : m_state.jobs) {
                auto* item = new QTreeWidgetItem(
                    {QString::number(job.id), job.name.empty() ? tr("(非公開)") : QString::fromStdString(job.name),
                     QString::fromStdString(job.owner), tr("%1 KB").arg(job.kilobytes), stateText(job.state),
                     job.submitted > 0
                         ? QDateTime::fromSecsSinceEpoch(job.submitted).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"))
                         : QString()});
                item->setData(kNumber, Qt::UserRole, job.id);
                item->setTextAlignment(kNumber, Qt::AlignRight | Qt::AlignVCenter);
                item->setTextAlignment(kSize, Qt::AlignRight | Qt::AlignVCenter);
                m_list->addTopLevelItem(item);
                if (job.id == selected) m_list->setCurrentItem(item);
            }
            // The oldest job is the one a cancel takes unless another is chosen.
            if (m_list->currentItem() == nullptr && m_list->topLevelItemCount() > 0)
                m_list->setCurrentItem(m_list->topLevelItem(0));
            for (int c = 0; c < kColumns; ++c) m_list->resizeColumnToContents(c);
        } else {
            for (std::uint32_t i = 1; i <= m_state.count; ++i)
                m_list->addTopLevelItem(new QTreeWidgetItem({tr("ｼﾞｮﾌﾞ %1").arg(i), tr("印刷待ち")}));
        }
    }
    m_summary->setText(summary);
    updateButtons();
    emit stateShown();
}

void QueueWindow::updateButtons()
{
    const bool known = m_state.read && (m_state.problem == Problem::None || m_state.problem == Problem::NotCancelled ||
                                        m_state.problem == Problem::NotAllowed);
    const bool any = known && m_state.count > 0 && m_cancels == 0;
    m_cancelOne->setEnabled(any && (!m_state.listed || m_list->currentItem() != nullptr));
    m_cancelAll->setEnabled(any);
}

void QueueWindow::cancelOne()
{
    Cancel cancel;
    if (m_state.listed) {
        if (m_list->currentItem() == nullptr) return;
        cancel.what = Cancel::What::Job;
        cancel.job = m_list->currentItem()->data(kNumber, Qt::UserRole).toInt();
    }
    ++m_cancels;
    updateButtons();
    m_worker->cancel(cancel);
}

void QueueWindow::cancelAll()
{
    Cancel cancel;
    cancel.what = Cancel::What::All;
    ++m_cancels;
    updateButtons();
    m_worker->cancel(cancel);
}

}  // namespace queue
