#include "history_window.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "plat/gui/worker.h"
#include "resources/pictures.h"
#include "resources/string_table.h"

namespace kestrel::history {

namespace {

constexpr int kRefreshButton = 23, kCloseButton = 24, kListName = 25;

QString caption(int number)
{
    static const StringTable texts = StringTable::load(":/strings/tools/history.txt");
    return displayText(texts.text(number).value_or(""), true);
}

QString plain(int number)
{
    static const StringTable texts = StringTable::load(":/strings/tools/history.txt");
    return displayText(texts.text(number).value_or(""));
}

}  // namespace

HistoryWindow::HistoryWindow(std::filesystem::path file, std::string printer, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_file(std::move(file)),
      m_model(std::move(printer)),
      m_worker(std::make_unique<plat::gui::Worker>("kestrel-history"))
{
    setObjectName(QStringLiteral("historyWindow"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(m_model.title());
    setWindowIcon(kestrel::icon(100));
    resize(720, 360);

    auto* layout = new QVBoxLayout(this);
    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("noticeLabel"));
    m_notice->setWordWrap(true);
    layout->addWidget(m_notice);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("historyList"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setHeaderLabels(m_model.columnHeads());
    m_list->setAccessibleName(plain(kListName));
    m_list->header()->setStretchLastSection(true);
    layout->addWidget(m_list, 1);

    auto* buttons = new QDialogButtonBox(this);
    auto* refreshButton = buttons->addButton(caption(kRefreshButton), QDialogButtonBox::ActionRole);
    refreshButton->setObjectName(QStringLiteral("refreshButton"));
    auto* closeButton = buttons->addButton(caption(kCloseButton), QDialogButtonBox::RejectRole);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    layout->addWidget(buttons);
    connect(refreshButton, &QPushButton::clicked, this, &HistoryWindow::refresh);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    auto* refreshKey = new QShortcut(QKeySequence::Refresh, this);
    connect(refreshKey, &QShortcut::activated, this, &HistoryWindow::refresh);
    auto* closeKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);

    apply();
}

HistoryWindow::~HistoryWindow() { m_worker->stop(); }

void HistoryWindow::present()
{
    if (isVisible()) {
        raise();  // no activateWindow(): the user's focus stays where it is
        return;
    }
    show();
}

void HistoryWindow::refresh()
{
    m_model.reading();
    apply();
    m_worker->post([this, file = m_file, query = m_model.query()] {
        std::vector<Change> changes;
        std::string failure;
        auto store = HistoryStore::open(file, HistoryStore::Access::ReadOnly);
        if (!store) {
            failure = store.error().detail;
        } else if (auto read = store.value()->changes(query)) {
            changes = std::move(read).value();
        } else {
            failure = read.error().detail;
        }
        plat::gui::postTo(this, [this, changes = std::move(changes), failure = std::move(failure)] {
            if (failure.empty()) m_model.show(changes);
            else m_model.fail(failure);
            apply();
            emit readingDone();
        });
    });
}

void HistoryWindow::apply()
{
    const QString notice = m_model.notice();
    m_notice->setText(notice);
    m_notice->setVisible(!notice.isEmpty());
    if (m_model.phase() == HistoryModel::Phase::Reading) return;  // the old rows stay until the new come
    m_list->clear();
    QList<QTreeWidgetItem*> items;
    for (const HistoryRow& row : m_model.rows()) {
        auto* item = new QTreeWidgetItem(QStringList{row.time, row.state, row.level, row.message, row.reasons});
        for (int column = 0; column < 5; ++column) item->setData(column, Qt::AccessibleTextRole, row.accessibleText());
        items << item;
    }
    m_list->addTopLevelItems(items);
    for (int column = 0; column < 4; ++column) m_list->resizeColumnToContents(column);
}

}  // namespace kestrel::history
