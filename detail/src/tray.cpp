#include "tray.h"

#include <QDialog>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QSystemTrayIcon>
#include <QTextBoundaryFinder>
#include <QTimer>

#include <array>
#include <memory>
#include <string>

#include "help_contexts.h"
#include "plat/base/trace.h"
#include "resources/help.h"
#include "resources/pictures.h"
#include "resources/string_table.h"
#include "templates.h"
#include "watchpanel/texts.h"

namespace watchpanel {
namespace {

constexpr int kFirstTrayIcon = 800;
constexpr int kTrayLevels = 3;
constexpr qsizetype kTooltipLimit = 63;
// How often a hidden icon looks for a tray that is not there yet: cheap, and soon enough after a panel
// (re)starts.
constexpr int kTrayCheckMs = 2000;

// Dialog 2200's controls, by the numbers the template gives them.
constexpr const char* kPicture = "c2201";
constexpr const char* kListLabel = "c2203";
constexpr const char* kList = "c2204";
constexpr const char* kOkButton = "c1";
constexpr const char* kCancelButton = "c2";
constexpr int kChooserPicture = 113;
constexpr int kListCaption = 21040;
constexpr int kSetNames = 21041;  // what a screen reader says for each set's item, one text per set

// Each item is a 56 x 48 cell with the set's 32 x 32 icon 12 across and 8 down: centred.
constexpr QSize kItemSize(56, 48);
constexpr QPoint kIconOffset(12, 8);
constexpr QSize kIconSize(32, 32);

// A cell of the list: the highlight colour when selected, the set's icon at its offset, and the focus
// rectangle on the item the arrow keys move from.
class IconSetDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QRect cell = option.rect;
        const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                           : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                                   : QPalette::Inactive;
        const bool selected = option.state & QStyle::State_Selected;
        if (selected) painter->fillRect(cell, option.palette.brush(group, QPalette::Highlight));
        // The focus rectangle goes under the icon: some styles fill it with a tint.
        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.rect = cell.adjusted(2, 2, -2, -2);
            focus.state |= QStyle::State_KeyboardFocusChange;
            focus.backgroundColor = option.palette.color(group, selected ? QPalette::Highlight : QPalette::Base);
            const QWidget* widget = option.widget;
            QStyle* style = widget ? widget->style() : nullptr;
            if (style) style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
        const QIcon icon = qvariant_cast<QIcon>(index.data(Qt::DecorationRole));
        icon.paint(painter, QRect(cell.topLeft() + kIconOffset, kIconSize));
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return kItemSize; }
};

// F1 in the chooser: a key its controls leave unhandled reaches the dialog.
class HelpKey : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
            kestrel::openHelp(kTrayChooserHelp);
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

// The nine sets side by side in one row: arrow keys walk them, nothing scrolls.
void setUpList(QListWidget& list, const std::array<QIcon, kTrayIconSets>& icons)
{
    list.setViewMode(QListView::IconMode);
    list.setFlow(QListView::LeftToRight);
    list.setWrapping(false);
    list.setMovement(QListView::Static);
    list.setDragEnabled(false);
    list.setSelectionMode(QAbstractItemView::SingleSelection);
    list.setUniformItemSizes(true);
    list.setIconSize(kIconSize);
    list.setGridSize(kItemSize);
    list.setSpacing(0);
    list.setItemDelegate(new IconSetDelegate(&list));
    for (int set = 0; set < kTrayIconSets; ++set) {
        auto* item = new QListWidgetItem(icons[set], QString(), &list);
        const QString name = QString::fromStdString(text(kSetNames + set).value_or(""));
        item->setData(Qt::AccessibleTextRole, name);
        item->setToolTip(name);
        item->setSizeHint(kItemSize);
    }
    const int frame = 2 * list.frameWidth();
    list.setFixedSize(kTrayIconSets * kItemSize.width() + frame, kItemSize.height() + frame);
}

}  // namespace

int trayIconNumber(int set, int level)
{
    // A damaged entry still shows an icon: an unknown set is the first one, a level is kept to the three.
    if (set < 0 || set >= kTrayIconSets) set = 0;
    if (level < 0) level = 0;
    if (level >= kTrayLevels) level = kTrayLevels - 1;
    return kFirstTrayIcon + kTrayLevels * set + level;
}

QString trayTooltip(const std::string& printer, const std::string& message)
{
    QString text = QString::fromUtf8(printer.data(), static_cast<qsizetype>(printer.size())) + QStringLiteral(": ") +
                   QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
    if (text.size() <= kTooltipLimit) return text;
    // Cut where a character ends: never between the halves of a surrogate pair, nor between a letter and
    // the marks on it (a voiced-sound mark, an accent, an emoji's modifier).
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    characters.setPosition(kTooltipLimit);
    qsizetype cut = characters.isAtBoundary() ? kTooltipLimit : characters.toPreviousBoundary();
    if (cut < 0 || cut > kTooltipLimit) cut = kTooltipLimit;
    if (cut > 0 && text.at(cut - 1).isHighSurrogate()) --cut;
    text.truncate(cut);
    return text;
}

PanelTray::PanelTray(QObject* parent)
    : QObject(parent), m_icon(std::make_unique<QSystemTrayIcon>(this)), m_trayCheck(new QTimer(this))
{
    m_trayCheck->setSingleShot(true);
    m_trayCheck->setInterval(kTrayCheckMs);
    connect(m_trayCheck, &QTimer::timeout, this, &PanelTray::showWhenTrayAvailable);
    connect(m_icon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick) emit doubleClicked();
    });
}

PanelTray::~PanelTray() = default;

void PanelTray::setShown(bool shown)
{
    m_shown = shown;
    if (shown) {
        showWhenTrayAvailable();
    } else {
        m_trayCheck->stop();
        m_icon->hide();
    }
}

void PanelTray::update(int iconNumber, const QString& tooltip)
{
    m_tooltip = tooltip;
    m_icon->setToolTip(tooltip);
    if (iconNumber != m_iconNumber) {
        // A picture that does not load leaves the icon as it was.
        const QIcon icon = kestrel::icon(iconNumber);
        if (!icon.isNull()) {
            m_icon->setIcon(icon);
            m_iconNumber = iconNumber;
        }
    }
    if (m_shown) showWhenTrayAvailable();
}

bool PanelTray::visibleInTray() const { return m_icon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable(); }

// Shows the icon once there is a tray and a picture for it; until the tray is there it looks again every
// few seconds, as long as the icon is wanted.
void PanelTray::showWhenTrayAvailable()
{
    if (!m_shown) {
        m_trayCheck->stop();
        return;
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_trayCheck->stop();
        // Without a picture the tray would show an empty slot; the first update() brings it.
        if (!m_icon->isVisible() && !m_icon->icon().isNull()) m_icon->show();
        return;
    }
    if (!m_trayCheck->isActive()) m_trayCheck->start();
}

int chooseTrayIconSet(QWidget* parent, int current)
{
    std::array<QIcon, kTrayIconSets> icons;
    for (int set = 0; set < kTrayIconSets; ++set) {
        icons[set] = kestrel::icon(trayIconNumber(set, 0));
        if (icons[set].isNull()) {
            plat::trace("tray icon chooser: the icons of set " + std::to_string(set) + " do not load");
            return -1;
        }
    }

    QDialog dialog(parent);
    std::unique_ptr<QWidget> form = loadTemplate(2200);
    if (!form || !form->layout()) {
        plat::trace("tray icon chooser: window template 2200 has no layout");
        return -1;
    }
    dialog.setWindowTitle(form->windowTitle());
    // Taking the template's layout moves its controls into the dialog; the empty form is then dropped.
    dialog.setLayout(form->layout());
    auto* picture = dialog.findChild<QLabel*>(kPicture);
    auto* label = dialog.findChild<QLabel*>(kListLabel);
    auto* list = dialog.findChild<QListWidget*>(kList);
    auto* ok = dialog.findChild<QPushButton*>(kOkButton);
    auto* cancel = dialog.findChild<QPushButton*>(kCancelButton);
    if (!list || !ok || !cancel) {
        plat::trace("tray icon chooser: window template 2200 lacks a control");
        return -1;
    }
    if (picture) picture->setPixmap(kestrel::picture(kChooserPicture, dialog.devicePixelRatioF()));
    if (label) label->setText(kestrel::displayText(text(kListCaption).value_or(""), true));
    setUpList(*list, icons);
    dialog.layout()->setSizeConstraint(QLayout::SetFixedSize);

    int chosen = -1;
    auto choose = [&] {
        const QList<QListWidgetItem*> selected = list->selectedItems();
        if (selected.isEmpty()) return;  // nothing to return yet: the user still has to pick one
        chosen = list->row(selected.front());
        dialog.accept();
    };
    QObject::connect(ok, &QPushButton::clicked, &dialog, choose);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, choose);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    HelpKey help;  // F1 anywhere in the chooser opens its topic of the help page
    dialog.installEventFilter(&help);

    if (current >= 0 && current < kTrayIconSets) list->setCurrentRow(current);
    list->setFocus(Qt::OtherFocusReason);
    return dialog.exec() == QDialog::Accepted ? chosen : -1;
}

}  // namespace watchpanel
