#include "tools_widget.h"

#include <QAbstractButton>
#include <QIcon>
#include <QLabel>
#include <QWidget>

#include "plat/base/trace.h"
#include "resources/pictures.h"
#include "resources/string_table.h"
#include "watchpanel/status_page.h"
#include "watchpanel/texts.h"

namespace watchpanel {

namespace {

using namespace tools_control;

// The captions with their mnemonic pairs (texts of the window's table); the template holds them as they
// show without a keyboard.
struct Caption {
    int control;
    int text;
};
constexpr Caption kCaptions[] = {{kJobList, 21020}, {kSetup, 21021}, {kHeadMove, 21022}};

}  // namespace

ToolsWidget::ToolsWidget(ToolsHost& host, QObject* parent) : QObject(parent), m_host(host) {}

ToolsWidget::~ToolsWidget() { finish(); }

void ToolsWidget::finish()
{
    if (m_worker) m_worker->stop();
}

QWidget* ToolsWidget::control(int number) const
{
    return m_page ? m_page->findChild<QWidget*>(QStringLiteral("c%1").arg(number)) : nullptr;
}

void ToolsWidget::attach(QWidget* page)
{
    m_page = page;
    if (page == nullptr) return;
    setCaptions();
    for (auto [number, icon] : {std::pair{kJobIcon, 723}, {kSetupIcon, 724}, {kHeadIcon, 725}}) {
        auto* label = qobject_cast<QLabel*>(control(number));
        const QIcon shown = kestrel::icon(icon);
        // At the screen's scale, so the drawing stays crisp.
        if (label != nullptr && !shown.isNull())
            label->setPixmap(shown.pixmap(QSize(16, 16), label->devicePixelRatioF()));
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control(kJobList)))
        connect(button, &QAbstractButton::clicked, this, &ToolsWidget::openJobList);
    if (auto* button = qobject_cast<QAbstractButton*>(control(kSetup)))
        connect(button, &QAbstractButton::clicked, this, &ToolsWidget::openPrinterSetup);
    if (auto* button = qobject_cast<QAbstractButton*>(control(kHeadMove)))
        connect(button, &QAbstractButton::clicked, this, &ToolsWidget::moveHead);
}

void ToolsWidget::setCaptions()
{
    for (const Caption& caption : kCaptions) {
        if (auto* button = qobject_cast<QAbstractButton*>(control(caption.control)))
            button->setText(kestrel::displayText(text(caption.text).value_or(""), true));
    }
}

void ToolsWidget::pageSelected()
{
    // The section list gives a page its template texts again when it shows it.
    setCaptions();
    applyEnabling();
}

void ToolsWidget::applyEnabling()
{
    if (!m_page) return;
    PrinterEntry entry{};
    if (m_host.readEntry(entry)) {
        const ToolsEnabling on = toolsEnabling(m_host.family(), entry);
        for (int n : {kSetupGroup, kSetupIcon, kSetup}) {
            if (QWidget* w = control(n)) w->setEnabled(on.printerSetup);
        }
        for (int n : {kHeadGroup, kHeadIcon}) {
            if (QWidget* w = control(n)) w->setEnabled(on.headMove);
        }
        m_headOffered = on.headMove;
    }
    if (QWidget* button = control(kHeadMove)) {
        button->setEnabled(m_headOffered && !m_moving);
        if (m_moving) {
            button->setCursor(Qt::BusyCursor);
        } else {
            button->unsetCursor();
        }
    }
}

void ToolsWidget::openJobList()
{
    PrinterEntry entry{};
    if (!m_host.readEntry(entry)) return;
    m_host.startJobWindow(std::string(fieldText(entry.PrinterName)));
}

void ToolsWidget::openPrinterSetup()
{
    PrinterEntry entry{};
    if (!m_host.readEntry(entry)) return;
    m_host.startPrinterSetup(std::string(facts::setupDriverFile(entry.ModelCode)),
                             std::string(fieldText(entry.PrinterName)), std::string(fieldText(entry.PortName)));
}

void ToolsWidget::moveHead()
{
    if (m_moving) return;
    PrinterEntry entry{};
    if (!m_host.readEntry(entry)) return;
    const std::optional<std::string> port = headMovePort(entry);
    if (!port) return;
    if (!m_worker) m_worker = std::make_unique<plat::gui::Worker>("panel-head");
    m_moving = true;
    applyEnabling();
    m_worker->post([this, port = *port] {
        const std::int32_t result = m_host.moveHead(port);
        // Delivered on the GUI thread; dropped with this object if the window ends first.
        plat::gui::postTo(this, [this, result] { headMoveEnded(result); });
    });
}

void ToolsWidget::headMoveEnded(std::int32_t result)
{
    m_moving = false;
    plat::trace("watchpanel: head move ended with " + std::to_string(result));
    applyEnabling();
    emit headMoveFinished(result);
}

}  // namespace watchpanel
