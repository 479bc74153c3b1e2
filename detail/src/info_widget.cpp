#include "info_widget.h"

#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <cstdlib>

#include "resources/string_table.h"
#include "watchcore.h"
#include "watchpanel/status_page.h"
#include "watchpanel/texts.h"

namespace watchpanel {

namespace {

using namespace info_control;

constexpr int kListCaption = 21030;
constexpr std::int32_t kCategoryTabStop = 50;

QString fromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

InfoWidget::InfoWidget(InfoHost& host, QObject* parent) : QObject(parent), m_host(host) {}

void InfoWidget::attach(QWidget* page)
{
    m_page = page;
    m_categories = page == nullptr ? nullptr : page->findChild<QListWidget*>(QStringLiteral("c%1").arg(kCategories));
    m_details = page == nullptr ? nullptr : page->findChild<QListWidget*>(QStringLiteral("c%1").arg(kDetails));
    if (page == nullptr) return;
    if (auto* label = page->findChild<QLabel*>(QStringLiteral("c%1").arg(kListLabel))) label->setBuddy(m_categories);
    if (m_categories) {
        connect(m_categories, &QListWidget::currentRowChanged, this, &InfoWidget::showCategory);
    }
}

void InfoWidget::pageSelected()
{
    if (!m_categories || m_host.informationCategoryCount() == 0) return;
    // The section list gives a page its template texts again when it shows it.
    if (auto* label = m_page->findChild<QLabel*>(QStringLiteral("c%1").arg(kListLabel)))
        label->setText(kestrel::displayText(text(kListCaption).value_or(""), true));
    {
        const QSignalBlocker quiet(m_categories);
        m_categories->clear();
        std::int32_t stops[] = {kCategoryTabStop};
        fSetListBoxTabStops(m_categories, stops, 1);
        for (const std::string& item : infoCategoryItems(m_host.informationBlock(), m_host.informationCategoryCount()))
            m_categories->addItem(fromUtf8(item));
        m_categories->setCurrentRow(0);
    }
    showCategory(m_categories->currentRow());
}

void InfoWidget::refresh()
{
    if (m_categories) showCategory(m_categories->currentRow());
}

void InfoWidget::showCategory(int row)
{
    if (!m_details) return;
    m_details->clear();
    if (!m_categories || row < 0) return;
    char field[32] = {};
    if (fGetListBoxTabStops(m_categories, row, 2, field, sizeof field) == 0) return;
    const int category = std::atoi(field);

    std::string printer;
    InfoSources sources;
    sources.information = m_host.informationBlock();
    sources.paper = m_host.paperBlock();
    sources.readEntry = [&] {
        PrinterEntry entry{};
        if (!m_host.readEntry(entry)) return false;
        printer = std::string(fieldText(entry.PrinterName));
        return true;
    };
    sources.cardName = [&](int slot) { return m_host.icCardName(printer, slot); };

    const QFontMetrics metrics(m_details->font());
    int widest = 0;
    for (const std::string& line : infoDetailLines(category, sources)) {
        const QString shown = fromUtf8(line);
        widest = std::max(widest, metrics.horizontalAdvance(shown));
        m_details->addItem(shown);
    }
    // The list scrolls sideways over its widest line and one character more.
    const int extent = widest + metrics.averageCharWidth();
    for (int i = 0; i < m_details->count(); ++i) {
        QListWidgetItem* item = m_details->item(i);
        item->setSizeHint(QSize(extent, metrics.height() + 2));
    }
}

}  // namespace watchpanel
