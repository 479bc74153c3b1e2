#include "history_model.h"

#include <QDateTime>

#include "facts/models.h"
#include "facts/state_keywords.h"
#include "resources/string_table.h"
#include "watchpanel/status_page.h"
#include "watchpanel/texts.h"

namespace kestrel::history {

namespace {

// The numbers of resources/strings/tools/history.txt.
constexpr int kTitle = 1, kFirstHead = 2, kHeads = 5, kPrinterHead = 7;
constexpr int kFirstState = 10;
constexpr int kReading = 20, kNothing = 21, kUnreadable = 22;
constexpr int kMenuItem = 30;
// The inkjet tables' "%s" names the ink: the generic name, since the history does not keep which one.
constexpr int kInkName = 19000;
// The most rows a window holds: one printer's history is bounded by the same number.
constexpr std::size_t kMostRows = 1000;

std::string own(int number)
{
    static const StringTable texts = StringTable::load(":/strings/tools/history.txt");
    return texts.text(number).value_or("");
}

QString ownText(int number) { return displayText(own(number)); }

}  // namespace

QString messageText(int model, int message)
{
    const facts::Model* known = facts::byNumber(model);
    if (known != nullptr && message >= 0) {
        if (auto base =
                watchpanel::messageBase(static_cast<std::uint32_t>(known->family), static_cast<std::uint32_t>(model))) {
            if (auto text = watchpanel::text(*base + message); text && !text->empty()) {
                std::string filled = *text;
                if (auto at = filled.find("%s"); at != std::string::npos) {
                    filled.replace(at, 2, watchpanel::text(kInkName).value_or(""));
                }
                return displayText(filled);
            }
        }
    }
    return QString::number(message);
}

namespace {

HistoryRow rowOf(const Change& change)
{
    HistoryRow row;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(change.time.time_since_epoch()).count();
    row.time = QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    row.state = stateText(change.state);
    row.level = QString::number(change.level);
    row.message = messageText(change.model, change.message);
    QStringList reasons;
    for (const std::string& reason : change.reasons) reasons << QString::fromStdString(reason);
    row.reasons = reasons.join(QStringLiteral(", "));
    return row;
}

}  // namespace

QString HistoryRow::accessibleText() const
{
    QStringList parts{time, state, message};
    if (!reasons.isEmpty()) parts << reasons;
    return parts.join(QStringLiteral(", "));
}

QString stateText(const std::string& keyword)
{
    if (auto state = facts::stateFromKeyword(keyword)) return ownText(kFirstState + static_cast<int>(*state));
    return QString::fromStdString(keyword);
}

QString columnHead(int column) { return ownText(column == 5 ? kPrinterHead : kFirstHead + column); }

QString menuText() { return displayText(own(kMenuItem), true); }

HistoryModel::HistoryModel(std::string printer) : m_printer(std::move(printer)) {}

QString HistoryModel::title() const { return displayText(fillIn(own(kTitle), {m_printer})); }

QStringList HistoryModel::columnHeads() const
{
    QStringList heads;
    for (int i = 0; i < kHeads; ++i) heads << ownText(kFirstHead + i);
    return heads;
}

QString HistoryModel::notice() const
{
    switch (m_phase) {
    case Phase::Reading: return m_rows.empty() ? ownText(kReading) : QString();
    case Phase::Shown: return {};
    case Phase::Empty: return ownText(kNothing);
    case Phase::Failed: return m_failure;
    }
    return {};
}

void HistoryModel::reading() { m_phase = Phase::Reading; }

void HistoryModel::show(const std::vector<Change>& changes)
{
    m_rows.clear();
    for (const Change& change : changes) {
        if (change.printer != m_printer) continue;
        if (m_rows.size() == kMostRows) break;
        m_rows.push_back(rowOf(change));
    }
    m_phase = m_rows.empty() ? Phase::Empty : Phase::Shown;
}

void HistoryModel::fail(const std::string& why)
{
    m_rows.clear();
    m_failure = displayText(fillIn(own(kUnreadable), {why}));
    m_phase = Phase::Failed;
}

Query HistoryModel::query() const
{
    Query query;
    query.printer = m_printer;
    query.limit = kMostRows;
    return query;
}

}  // namespace kestrel::history
