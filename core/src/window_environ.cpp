// The windows' settings as records (the list window's placement, a printer's detail-window settings)
// and the tab stops of list boxes, which the list views draw through a delegate of ours.

#include <QAbstractItemView>
#include <QApplication>
#include <QFontMetrics>
#include <QListView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QVariant>
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "facts/store_names.h"
#include "plat/heap/heap.h"
#include "plat/services/services.h"
#include "registry_store.h"
#include "watchcore.h"

using watchcore::StoreKey;
namespace value = facts::value;

namespace {

// The longest sound name a reader takes, without its terminating zero.
constexpr uint32_t kSoundNameBuffer = 1024;

// ---- Tab stops ---------------------------------------------------------------------------------------

constexpr const char* kTabStopsProperty = "watchcoreTabStops";  // QList<int>, dialog units
constexpr const char* kTabStopDelegateName = "watchcoreTabStopDelegate";
constexpr int kDialogUnitsPerCharacter = 4;
constexpr int kDefaultTabDialogUnits = 32;

// Where a tab at `x` (pixels from the text's left edge) takes the text: the next stop beyond it. No
// stops means one every 32 dialog units, one stop a stop every that many; past the last of several
// stops a tab is as wide as a space.
int nextTabStop(int x, const std::vector<int>& stops, int unitsToPixelsNumerator, int spaceWidth)
{
    auto pixels = [&](int units) { return units * unitsToPixelsNumerator / kDialogUnitsPerCharacter; };
    if (stops.size() <= 1) {
        const int every = std::max(1, pixels(stops.empty() ? kDefaultTabDialogUnits : stops.front()));
        return (x / every + 1) * every;
    }
    for (int stop : stops)
        if (pixels(stop) > x) return pixels(stop);
    return x + spaceWidth;
}

// Draws a line's tab-separated fields at the view's tab stops; lines without a tab as Qt would.
class TabStopDelegate : public QStyledItemDelegate {
public:
    explicit TabStopDelegate(QObject* parent) : QStyledItemDelegate(parent)
    {
        setObjectName(QLatin1String(kTabStopDelegateName));
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QString text = index.data(Qt::DisplayRole).toString();
        if (!text.contains(u'\t')) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        item.text.clear();  // the frame, selection and icon as usual, the text ourselves
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

        item.text = text;
        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
        std::vector<int> stops;
        if (widget != nullptr)
            for (const QVariant& stop : widget->property(kTabStopsProperty).toList()) stops.push_back(stop.toInt());
        const QFontMetrics metrics(item.font);
        const bool selected = item.state & QStyle::State_Selected;

        painter->save();
        painter->setFont(item.font);
        painter->setPen(item.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setClipRect(area);
        int x = 0;
        const QStringList fields = text.split(u'\t');
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (i > 0) x = nextTabStop(x, stops, metrics.averageCharWidth(), metrics.horizontalAdvance(u' '));
            painter->drawText(QRect(area.left() + x, area.top(), area.width() - x, area.height()),
                              Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, fields[i]);
            x += metrics.horizontalAdvance(fields[i]);
        }
        painter->restore();
    }
};

// The row texts of a list box; the column a QListView shows, the first otherwise.
QModelIndex rowIndex(QAbstractItemView* view, int32_t line)
{
    QAbstractItemModel* model = view->model();
    if (model == nullptr || line < 0 || line >= model->rowCount(view->rootIndex())) return {};
    auto* list = qobject_cast<QListView*>(view);
    return model->index(line, list ? list->modelColumn() : 0, view->rootIndex());
}

// ---- Environments --------------------------------------------------------------------------------------

bool getInt(plat::registry::Store& store, StoreKey key, std::string_view owner, const char* name, int32_t& field)
{
    uint32_t v = static_cast<uint32_t>(field);
    if (!watchcore::getDword(store, key, owner, name, v)) return false;
    field = static_cast<int32_t>(v);
    return true;
}

// Reads a setting or puts its fallback in; false when the fallback was used.
bool getSetting(plat::registry::Store& store, StoreKey key, std::string_view printer, const std::string& name,
                uint32_t fallback, uint32_t& field)
{
    if (watchcore::getDword(store, key, printer, name, field)) return true;
    field = fallback;
    return false;
}

}  // namespace

// ---- Exports ------------------------------------------------------------------------------------

int32_t fGetListEnviron(ListEnviron* record)
{
    plat::Services* services = plat::edgeServices();
    if (record == nullptr || services == nullptr) return 0;
    plat::registry::Store& store = services->store();
    // In field order; a value that is missing ends the reading and leaves the later fields alone.
    return getInt(store, StoreKey::ListEnv, {}, value::kDispStat, record->viewMode) &&
           getInt(store, StoreKey::ListEnv, {}, value::kTop, record->top) &&
           getInt(store, StoreKey::ListEnv, {}, value::kLeft, record->left) &&
           getInt(store, StoreKey::ListEnv, {}, value::kWidth, record->width) &&
           getInt(store, StoreKey::ListEnv, {}, value::kHeight, record->height);
}

int32_t fSetListEnviron(const ListEnviron* record)
{
    plat::Services* services = plat::edgeServices();
    if (record == nullptr || services == nullptr) return 0;
    plat::registry::Store& store = services->store();
    watchcore::createStoreKey(store, StoreKey::ListEnv, {});  // a failure shows in the first set
    auto set = [&store](const char* name, int32_t v) {
        return watchcore::setDword(store, StoreKey::ListEnv, {}, name, static_cast<uint32_t>(v));
    };
    return set(value::kDispStat, record->viewMode) && set(value::kTop, record->top) &&
           set(value::kLeft, record->left) && set(value::kWidth, record->width) && set(value::kHeight, record->height);
}

int32_t fGetDetailEnviron(const char* printer, DetailEnviron* record, plat::Heap* heap)
{
    plat::Services* services = plat::edgeServices();
    if (printer == nullptr || record == nullptr || services == nullptr) return 0;
    plat::registry::Store& store = services->store();
    const std::string_view p(printer);
    bool all = true;
    auto setting = [&](const facts::value::DwordSetting& s, uint32_t& field, StoreKey key = StoreKey::StEnviron) {
        all = getSetting(store, key, p, s.name, s.fallback, field) && all;
    };
    // Every value is read, whatever failed before it: each field ends with a defined value.
    setting(value::kHideFlag, record->hideFlag);
    setting(value::kSettingsStatusTime, record->statusInterval, StoreKey::Vigilmon);
    setting(value::kTopMostFlag, record->topMostFlag);
    setting(value::kPrintOpenFlag, record->printOpenFlag);
    setting(value::kErrorOpenFlag, record->errorOpenFlag);
    setting(value::kSizeCheckFlag, record->sizeCheckFlag);
    setting(value::kSettingsMonitorFlag, record->monitorFlag);
    setting(value::kSelectIcon, record->selectIcon);
    setting(value::kAreatCount, record->alertCount);
    for (long n = 0; n < value::kAlertSlots; ++n) {
        all = getSetting(store, StoreKey::StEnviron, p, watchcore::numberedName(value::kAreatTypeN.name, n),
                         value::kAreatTypeN.fallback, record->alertTypes[n]) &&
              all;
    }
    for (long n = 0; n < value::kAlertSlots; ++n) {
        all = getSetting(store, StoreKey::StEnviron, p, watchcore::numberedName(value::kSoundTypeN.name, n),
                         value::kSoundTypeN.fallback, record->soundTypes[n]) &&
              all;
    }
    for (long n = 0; n < value::kAlertSlots; ++n) {
        record->soundNames[n] = nullptr;
        char name[kSoundNameBuffer];
        if (!watchcore::getText(store, StoreKey::StEnviron, p, watchcore::numberedName(value::kSoundNameN, n), name,
                                sizeof name)) {
            all = false;
            continue;
        }
        const std::size_t length = std::strlen(name);
        auto* copy = heap ? static_cast<char*>(heap->allocate(length + 1)) : nullptr;
        if (copy != nullptr) std::memcpy(copy, name, length);  // the block comes zero-filled
        record->soundNames[n] = copy;
    }
    return all ? 1 : 0;
}

int32_t fSetDetailEnviron(const char* printer, const DetailEnviron* record)
{
    plat::Services* services = plat::edgeServices();
    if (printer == nullptr || record == nullptr || services == nullptr) return 0;
    plat::registry::Store& store = services->store();
    const std::string p(printer);
    watchcore::createStoreKey(store, StoreKey::StEnviron, p);  // a failure shows in the first set
    auto set = [&](const std::string& name, uint32_t v) {
        return watchcore::setDword(store, StoreKey::StEnviron, p, name, v);
    };

    // In this order, stopping at the first value that cannot be written.
    if (!(set(value::kHideFlag.name, record->hideFlag) &&
          watchcore::setDword(store, StoreKey::Vigilmon, p, value::kSettingsStatusTime.name, record->statusInterval) &&
          set(value::kTopMostFlag.name, record->topMostFlag) &&
          set(value::kPrintOpenFlag.name, record->printOpenFlag) &&
          set(value::kErrorOpenFlag.name, record->errorOpenFlag) &&
          set(value::kSizeCheckFlag.name, record->sizeCheckFlag) &&
          set(value::kSettingsMonitorFlag.name, record->monitorFlag) &&
          set(value::kSelectIcon.name, record->selectIcon) && set(value::kAreatCount.name, record->alertCount))) {
        return 0;
    }
    for (long n = 0; n < value::kAlertSlots; ++n) {
        const char* sound = record->soundNames[n];
        if (!(set(watchcore::numberedName(value::kAreatTypeN.name, n), record->alertTypes[n]) &&
              set(watchcore::numberedName(value::kSoundTypeN.name, n), record->soundTypes[n]) &&
              watchcore::setText(store, StoreKey::StEnviron, p, watchcore::numberedName(value::kSoundNameN, n),
                                 sound ? sound : ""))) {
            return 0;
        }
    }
    // The engine's copy, which it reads without the detail settings.
    if (!watchcore::setDword(store, StoreKey::Vigilmon, p, value::kPaperCheckFlag, record->sizeCheckFlag)) return 0;
    // The user applied them: they go to the disk now, not at the log's next checkpoint.
    store.syncToDisk();
    return 1;
}

int32_t fGetRegistoryDesktopNotifyFlag(const char* printer, uint32_t* flag)
{
    plat::Services* services = plat::edgeServices();
    if (flag == nullptr) return 0;
    if (printer == nullptr || services == nullptr) {
        *flag = value::kDesktopNotifyFlag.fallback;
        return 0;
    }
    return getSetting(services->store(), StoreKey::StEnviron, printer, value::kDesktopNotifyFlag.name,
                      value::kDesktopNotifyFlag.fallback, *flag)
               ? 1
               : 0;
}

int32_t fSetRegistoryDesktopNotifyFlag(const char* printer, uint32_t flag)
{
    plat::Services* services = plat::edgeServices();
    if (printer == nullptr || services == nullptr) return 0;
    plat::registry::Store& store = services->store();
    watchcore::createStoreKey(store, StoreKey::StEnviron, printer);  // a failure shows in the set
    return watchcore::setDword(store, StoreKey::StEnviron, printer, value::kDesktopNotifyFlag.name, flag) ? 1 : 0;
}

int32_t fSetListBoxTabStops(QWidget* listBox, int32_t* stops, int32_t count)
{
    if (count < 0 || (count > 0 && stops == nullptr)) return 0;
    for (int32_t i = 0; i < count; ++i) {
        const int64_t scaled = static_cast<int64_t>(stops[i]) * kDialogUnitsPerCharacter;
        if (scaled > std::numeric_limits<int32_t>::max() || scaled < std::numeric_limits<int32_t>::min()) return 0;
    }
    QVariantList units;
    for (int32_t i = 0; i < count; ++i) {
        stops[i] *= kDialogUnitsPerCharacter;
        units.push_back(stops[i]);
    }
    auto* view = qobject_cast<QAbstractItemView*>(listBox);
    if (view == nullptr) return 0;
    view->setProperty(kTabStopsProperty, units);
    QAbstractItemDelegate* current = view->itemDelegate();
    if (current == nullptr || current->objectName() != QLatin1String(kTabStopDelegateName))
        view->setItemDelegate(new TabStopDelegate(view));
    view->viewport()->update();
    return 1;
}

int32_t fGetListBoxTabStops(QWidget* listBox, int32_t line, uint32_t column, char* output, uint32_t size)
{
    auto* view = qobject_cast<QAbstractItemView*>(listBox);
    if (view == nullptr || output == nullptr) return 0;
    const QModelIndex index = rowIndex(view, line);
    if (!index.isValid()) return 0;
    std::string field = index.data(Qt::DisplayRole).toString().toStdString();
    fGetTabStopString(field.data(), column);  // works in place and never lengthens the text
    const std::size_t length = std::strlen(field.c_str());
    if (length + 1 > size) return 0;
    std::memcpy(output, field.c_str(), length + 1);
    return 1;
}
