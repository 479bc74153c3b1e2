#include "settings_widget.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTreeWidget>
#include <tuple>

#include "resources/pictures.h"
#include "resources/string_table.h"
#include "watchpanel/texts.h"

namespace watchpanel {

namespace {

using namespace settings_control;

constexpr int kNameWidth = 150, kSoundWidth = 350;

// The captions with their mnemonic pairs (texts of the window's table); the template holds them as they
// show without a keyboard.
struct Caption {
    int control;
    int text;
};
constexpr Caption kCaptions[] = {
    {kIntervalGroup, 21000}, {kWindowGroup, 21001}, {kMonitor, 21002}, {kTrayIcon, 21003},      {kSizeCheck, 21004},
    {kAlertGroup, 21005},    {kAllOn, 21006},       {kAllOff, 21007},  {kDefaults, 21008},      {kSoundLabel, 21009},
    {kBrowse, 21010},        {kTestLabel, 21011},   {kApply, 21012},   {kDesktopNotify, 21013},
};
constexpr int kNoSoundText = 21080, kMono = 21081, kStereo = 21082, kRates = 21083, kBits = 21086;
constexpr int kFormatLayout = 21088, kWaveFilter = 21089;

QString fromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string t(int number) { return text(number).value_or(""); }

// What a format picture says, for screen readers and for when the picture is missing.
QString formatText(int picture)
{
    if (picture == kNoFilePicture) return fromUtf8(t(kNoSoundText));
    const int code = picture - 300;
    if (code < 0 || code > 11) return {};
    const bool stereo = code >= 6;
    const int rest = code - (stereo ? 6 : 0);
    const int rate = rest >= 4 ? 2 : rest >= 2 ? 1 : 0;
    return fromUtf8(kestrel::fillIn(
        t(kFormatLayout), {t(stereo ? kStereo : kMono), t(kRates + rate), t(kBits + ((rest & 1) != 0 ? 1 : 0))}));
}

}  // namespace

SettingsWidget::SettingsWidget(SettingsHost& host, QObject* parent) : QObject(parent), m_state(host) {}

SettingsWidget::~SettingsWidget() = default;

QWidget* SettingsWidget::control(int number) const
{
    return m_page ? m_page->findChild<QWidget*>(QStringLiteral("c%1").arg(number)) : nullptr;
}

void SettingsWidget::attach(QWidget* page)
{
    m_page = page;
    m_list = qobject_cast<QTreeWidget*>(control(kAlertList));
    m_sounds = qobject_cast<QComboBox*>(control(kSoundName));
    m_listObject = nullptr;
    m_viewportObject = nullptr;
    if (m_list) {
        m_list->setColumnCount(2);
        m_list->setHeaderHidden(true);
        m_list->setRootIsDecorated(false);
        m_list->setColumnWidth(0, kNameWidth);
        m_list->setColumnWidth(1, kSoundWidth);
        m_list->setSelectionMode(QAbstractItemView::SingleSelection);
        m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_list->installEventFilter(this);
        m_list->viewport()->installEventFilter(this);
        m_listObject = m_list.data();
        m_viewportObject = m_list->viewport();
    }
    // Picture 114 holds the play and the stop image side by side; the button greys a disabled one.
    const QPixmap images = kestrel::picture(114, page->devicePixelRatioF());
    for (auto [number, half, fallback] :
         {std::tuple{kPlay, 0, QStyle::SP_MediaPlay}, {kStop, 1, QStyle::SP_MediaStop}}) {
        auto* button = qobject_cast<QPushButton*>(control(number));
        if (button == nullptr) continue;
        const qreal ratio = images.devicePixelRatio();
        QPixmap image = images.isNull() ? QPixmap()
                                        : images.copy(QRect(QPoint(qRound(16 * ratio * half), 0),
                                                            QSize(qRound(16 * ratio), qRound(16 * ratio))));
        image.setDevicePixelRatio(ratio);
        button->setIcon(image.isNull() ? button->style()->standardIcon(fallback) : QIcon(image));
        button->setIconSize(QSize(16, 16));
    }
    connectControls();
    setCaptions();
    render();
}

template <class Action>
void SettingsWidget::act(Action&& action)
{
    action();
    render();
}

void SettingsWidget::connectControls()
{
    if (auto* slider = qobject_cast<QSlider*>(control(kInterval))) {
        connect(slider, &QSlider::valueChanged, this, [this](int v) { act([&] { m_state.setIntervalPosition(v); }); });
    }
    auto onClick = [this](int number, auto&& handler) {
        if (auto* button = qobject_cast<QAbstractButton*>(control(number))) {
            connect(button, &QAbstractButton::clicked, this,
                    [this, handler](bool checked) { act([&] { handler(checked); }); });
        }
    };
    onClick(kOnTop, [this](bool on) { m_state.setOnTop(on); });
    onClick(kOpenWhenPrinting, [this](bool on) { m_state.setOpenWhenPrinting(on); });
    onClick(kOpenOnError, [this](bool on) { m_state.setOpenOnError(on); });
    onClick(kSizeCheck, [this](bool on) { m_state.setSizeCheck(on); });
    onClick(kMonitor, [this](bool on) { m_state.setMonitor(on); });
    onClick(kDesktopNotify, [this](bool on) { m_state.setDesktopNotify(on); });
    onClick(kTrayIcon, [this](bool) { m_state.chooseTrayIcon(); });
    onClick(kAllOn, [this](bool) { m_state.allOn(); });
    onClick(kAllOff, [this](bool) { m_state.allOff(); });
    onClick(kDefaults, [this](bool) { m_state.restoreDefaults(); });
    onClick(kBrowse, [this](bool) { m_state.browse(); });
    onClick(kPlay, [this](bool) { m_state.testPlay(); });
    onClick(kStop, [this](bool) { m_state.testStop(); });
    onClick(kApply, [this](bool) { m_state.apply(); });
    if (m_sounds) {
        // Only the user's choices: filling the list does not count as choosing.
        connect(m_sounds, &QComboBox::activated, this, [this](int index) { act([&] { m_state.chooseSound(index); }); });
    }
}

void SettingsWidget::setCaptions()
{
    // The section list puts the template's plain texts back each time the page is shown.
    for (const Caption& caption : kCaptions) {
        QWidget* w = control(caption.control);
        const QString shown = kestrel::displayText(t(caption.text), true);
        if (auto* button = qobject_cast<QAbstractButton*>(w)) button->setText(shown);
        else if (auto* group = qobject_cast<QGroupBox*>(w)) group->setTitle(shown);
        else if (auto* label = qobject_cast<QLabel*>(w)) label->setText(shown);
    }
}

void SettingsWidget::pageSelected()
{
    m_state.selected();
    setCaptions();
    render();
}

void SettingsWidget::pageLeft() { m_state.left(); }

void SettingsWidget::loadFromStore()
{
    m_state.loadFromStore();
    render();
}

void SettingsWidget::soundFinished()
{
    m_state.soundFinished();
    render();
}

void SettingsWidget::storeFailed()
{
    m_state.storeFailed();
    render();
}

void SettingsWidget::render()
{
    if (!m_page) return;
    const Controls& c = m_state.controls();
    if (auto* slider = qobject_cast<QSlider*>(control(kInterval))) {
        const QSignalBlocker quiet(slider);
        slider->setRange(c.intervalMin, c.intervalMax);
        slider->setPageStep(c.intervalPageStep);
        slider->setTickInterval(c.intervalPageStep);
        slider->setValue(c.intervalPosition);
    }
    for (auto [number, on] : {std::pair{kOnTop, c.onTop},
                              {kOpenWhenPrinting, c.openWhenPrinting},
                              {kOpenOnError, c.openOnError},
                              {kSizeCheck, c.sizeCheck},
                              {kMonitor, c.monitor},
                              {kDesktopNotify, c.desktopNotify}}) {
        if (auto* box = qobject_cast<QAbstractButton*>(control(number))) {
            const QSignalBlocker quiet(box);
            box->setChecked(on);
        }
    }
    const std::pair<int, bool> enabled[] = {{kSizeCheck, c.sizeCheckEnabled},
                                            {kTrayIcon, c.trayIconEnabled},
                                            {kSoundGroup, c.soundGroupEnabled},
                                            {kSoundLabel, c.soundGroupEnabled},
                                            {kSoundName, c.soundGroupEnabled},
                                            {kBrowse, c.soundGroupEnabled},
                                            {kTestLabel, c.testEnabled},
                                            {kPlay, c.testEnabled},
                                            {kStop, c.stopEnabled},
                                            {kApply, c.applyEnabled}};
    renderList();
    renderSounds();
    renderFormat();
    QWidget* hadFocus = control(kApply);
    const bool applyHadFocus = hadFocus != nullptr && hadFocus->hasFocus();
    for (auto [number, on] : enabled) {
        if (QWidget* w = control(number)) w->setEnabled(on);
    }

    if (c.focus == kFocusNext) {
        // The pressed button is disabled now; where the toolkit left the focus on it, move it on.
        QWidget* from = control(kApply);
        if (from != nullptr && applyHadFocus && from->hasFocus()) {
            for (QWidget* next = from->nextInFocusChain(); next != nullptr && next != from;
                 next = next->nextInFocusChain()) {
                if (next->isEnabled() && next->isVisibleTo(next->window()) && (next->focusPolicy() & Qt::TabFocus)) {
                    next->setFocus(Qt::TabFocusReason);
                    break;
                }
            }
        }
    } else if (c.focus != 0) {
        if (QWidget* w = control(c.focus)) w->setFocus(Qt::OtherFocusReason);
    }
    m_state.focusTaken();
}

void SettingsWidget::renderList()
{
    if (!m_list) return;
    const Controls& c = m_state.controls();
    const QSignalBlocker quiet(m_list);
    const int rows = static_cast<int>(c.alerts.size());
    if (m_list->topLevelItemCount() != rows) {
        m_list->clear();
        for (int row = 0; row < rows; ++row) {
            auto* item = new QTreeWidgetItem(m_list);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        }
    }
    for (int row = 0; row < rows; ++row) {
        const AlertItem& alert = c.alerts[static_cast<std::size_t>(row)];
        QTreeWidgetItem* item = m_list->topLevelItem(row);
        item->setText(0, fromUtf8(alert.name));
        item->setText(1, fromUtf8(alert.file));
        item->setCheckState(0, alert.checked ? Qt::Checked : Qt::Unchecked);
    }
    if (c.selected >= 0 && c.selected < rows) {
        m_list->setCurrentItem(m_list->topLevelItem(c.selected));
    } else {
        m_list->clearSelection();
        m_list->setCurrentItem(nullptr);
    }
}

void SettingsWidget::renderSounds()
{
    if (!m_sounds) return;
    const Controls& c = m_state.controls();
    const QSignalBlocker quiet(m_sounds);
    QStringList items;
    for (const std::string& name : c.soundItems) items.push_back(fromUtf8(name));
    QStringList shown;
    for (int i = 0; i < m_sounds->count(); ++i) shown.push_back(m_sounds->itemText(i));
    if (shown != items) {
        m_sounds->clear();
        m_sounds->addItems(items);
    }
    m_sounds->setCurrentIndex(c.soundIndex);
}

void SettingsWidget::renderFormat()
{
    auto* label = qobject_cast<QLabel*>(control(kFormat));
    if (label == nullptr) return;
    const int number = m_state.controls().formatPicture;
    if (label->property("kestrelPicture").toInt() == number) return;
    label->setProperty("kestrelPicture", number);
    label->clear();
    if (number == 0) return;
    const QPixmap pixmap = kestrel::picture(number, label->devicePixelRatioF());
    if (!pixmap.isNull()) label->setPixmap(pixmap);
    else label->setText(formatText(number));
    label->setAccessibleDescription(formatText(number));
}

QRect SettingsWidget::checkMarkArea(QTreeWidget* list, int row)
{
    QTreeWidgetItem* item = list == nullptr ? nullptr : list->topLevelItem(row);
    if (item == nullptr) return {};
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.rect = list->visualRect(list->model()->index(row, 0));
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.checkState = item->checkState(0);
    option.text = item->text(0);
    option.widget = list;
    return list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list);
}

bool SettingsWidget::listKey(int key)
{
    const int last = static_cast<int>(m_state.controls().alerts.size()) - 1;
    switch (key) {
    case Qt::Key_Space: act([&] { m_state.spacePressed(); }); return true;
    case Qt::Key_Up: act([&] { m_state.upPressed(); }); return true;
    case Qt::Key_Down: act([&] { m_state.downPressed(); }); return true;
    case Qt::Key_Home:
    case Qt::Key_PageUp: act([&] { m_state.selectAlert(0); }); return true;
    case Qt::Key_End:
    case Qt::Key_PageDown: act([&] { m_state.selectAlert(last); }); return true;
    default: return false;
    }
}

bool SettingsWidget::listMouse(QEvent* event)
{
    const bool press = event->type() == QEvent::MouseButtonPress;
    const bool doubleClick = event->type() == QEvent::MouseButtonDblClick;
    if (!press && !doubleClick) return true;  // the list's own selection and check handling stay out
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton) return true;
    m_list->setFocus(Qt::MouseFocusReason);
    const QPoint at = mouse->position().toPoint();
    const QModelIndex index = m_list->indexAt(at);
    if (!index.isValid()) return true;
    const int row = index.row();
    const bool onCheckMark = index.column() == 0 && checkMarkArea(m_list, row).contains(at);
    if (onCheckMark) {
        if (press) act([&] { m_state.toggleAlert(row); });
    } else {
        act([&] { m_state.selectAlert(row); });
    }
    return true;
}

bool SettingsWidget::eventFilter(QObject* watched, QEvent* event)
{
    // Compared as plain objects: while the list is being destroyed it is no longer a QTreeWidget.
    if (watched == m_listObject.data()) {
        if (event->type() == QEvent::KeyPress) return listKey(static_cast<QKeyEvent*>(event)->key());
        if (event->type() == QEvent::FocusIn && m_list) m_list->viewport()->update();
    } else if (watched == m_viewportObject.data()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove: return m_list ? listMouse(event) : true;
        default: break;
        }
    }
    return QObject::eventFilter(watched, event);
}

std::optional<std::string> browseSoundFile(QWidget* parent, const std::string& folder)
{
    const QString chosen =
        QFileDialog::getOpenFileName(parent, QString(), QFile::decodeName(folder.c_str()), fromUtf8(t(kWaveFilter)));
    if (chosen.isEmpty()) return std::nullopt;
    return QFile::encodeName(chosen).toStdString();
}

}  // namespace watchpanel
