// Section lists: the detail window's page mechanism. A page is the widget tree of a Designer template,
// made inside the host's placeholder widget when the page is first needed, shown while it is current,
// hidden (its texts emptied) otherwise, and destroyed again by pruning when too many pages are alive.
// The host hears of each creation and of each pruning through a WatchcoreCommandEvent, sent (not
// posted) so that it fills or forgets the page's widgets before the list goes on.
//
// Every notification can call back into the list and add or delete categories, which moves the
// category array: after a notification the code finds its category again by id.

#include <QAbstractButton>
#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>
#include <QThread>
#include <QVBoxLayout>
#include <QXmlStreamReader>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "plat/base/trace.h"
#include "plat/gui/form_loader.h"
#include "watchcore.h"
#include "watchcore_events.h"

namespace {

constexpr uint32_t kPrunable = 1;
constexpr uint32_t kCreateWhenAdded = 2;
constexpr uint32_t kPageCreated = 1;
constexpr uint32_t kPageDestroyed = 2;
constexpr int32_t kNoCategory = -1;

// A widget whose text comes from the template, and that text.
struct TemplateText {
    QPointer<QWidget> widget;
    QString text;
};

// What a category keeps besides its public fields (DlgSectionCategory::reserved).
struct CategoryState {
    std::string instance;
    QByteArray bytes;        // the template, zero-terminated (loadedTemplate points here)
    QPointer<QWidget> page;  // null once the page is gone, whoever destroyed it
    std::vector<TemplateText> texts;
};

CategoryState* stateOf(const DlgSectionCategory& category) { return static_cast<CategoryState*>(category.reserved); }

QString controlName(int32_t number) { return QStringLiteral("c%1").arg(number); }

bool isControlName(QStringView name)
{
    if (name.size() < 2 || name[0] != u'c') return false;
    for (QChar ch : name.mid(1))
        if (!ch.isDigit()) return false;
    return true;
}

// Widgets live on the application's GUI thread and are touched only there. Asked of the application,
// not of the host, so a list can still be emptied after its host is gone.
bool onGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && app->thread() == QThread::currentThread();
}

bool onHostThread(const DlgSection* list) { return list->host != nullptr && onGuiThread(); }

QWidget* placeholderOf(const DlgSection* list)
{
    return list->host ? list->host->findChild<QWidget*>(controlName(list->placeholder)) : nullptr;
}

DlgSectionCategory* find(DlgSection* list, int32_t id)
{
    for (int32_t i = 0; i < list->count; ++i)
        if (list->categories[i].id == id) return &list->categories[i];
    return nullptr;
}

void notify(const DlgSection* list, uint32_t code, int32_t id)
{
    WatchcoreCommandEvent event((list->commandBase & 0xFFFFu) | code << 16, id);
    QCoreApplication::sendEvent(list->host, &event);
}

// Whether the category's widgets exist. A page destroyed behind the list's back (with its host, say)
// no longer counts as alive.
bool hasPage(DlgSection* list, DlgSectionCategory& category)
{
    if (category.page != nullptr && stateOf(category)->page.isNull()) {
        category.page = nullptr;
        stateOf(category)->texts.clear();
        --list->live;
    }
    return category.page != nullptr;
}

// ---- Template texts -------------------------------------------------------------------------------

// The text a control shows, for the kinds of control that have one. A label without text is left
// out: it may be holding a picture.
bool readText(QWidget* widget, QString& text)
{
    if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
    else if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
    else if (auto* group = qobject_cast<QGroupBox*>(widget)) text = group->title();
    else if (auto* edit = qobject_cast<QLineEdit*>(widget)) text = edit->text();
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget)) text = plain->toPlainText();
    else if (auto* rich = qobject_cast<QTextEdit*>(widget)) text = rich->toHtml();
    else return false;
    return !text.isEmpty() || qobject_cast<QLabel*>(widget) == nullptr;
}

void writeText(QWidget* widget, const QString& text)
{
    if (auto* label = qobject_cast<QLabel*>(widget)) label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->setText(text);
    else if (auto* group = qobject_cast<QGroupBox*>(widget)) group->setTitle(text);
    else if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->setText(text);
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget)) plain->setPlainText(text);
    else if (auto* rich = qobject_cast<QTextEdit*>(widget)) text.isEmpty() ? rich->clear() : rich->setHtml(text);
}

// The texts of the widgets the template made (the parts Qt makes inside a spin box or a tab widget are
// named "qt_..." or not at all, and are not the template's).
void recordTexts(CategoryState& state, QWidget* page)
{
    state.texts.clear();
    for (QWidget* widget : page->findChildren<QWidget*>()) {
        const QString name = widget->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))) continue;
        QString text;
        if (readText(widget, text)) state.texts.push_back({widget, text});
    }
}

void emptyTexts(const CategoryState& state)
{
    for (const auto& entry : state.texts)
        if (entry.widget) writeText(entry.widget, QString());
}

void restoreTexts(const CategoryState& state)
{
    for (const auto& entry : state.texts)
        if (entry.widget) writeText(entry.widget, entry.text);
}

// Switches the host's drawing off while pages are swapped, so it never shows half of each.
class UpdatesOff {
public:
    UpdatesOff(QWidget* host, bool active) : m_host(active ? host : nullptr), m_was(host->updatesEnabled())
    {
        if (m_host) m_host->setUpdatesEnabled(false);
    }
    ~UpdatesOff()
    {
        if (m_host) m_host->setUpdatesEnabled(m_was);
    }
    UpdatesOff(const UpdatesOff&) = delete;
    UpdatesOff& operator=(const UpdatesOff&) = delete;

private:
    QPointer<QWidget> m_host;
    bool m_was;
};

// ---- Templates ----------------------------------------------------------------------------------------

// Reads "<instance><number>.ui" for the template name "#<number>" and counts its controls.
bool loadTemplate(const char* instance, const char* templateName, CategoryState& state, int32_t& controlCount)
{
    const std::string_view name(templateName);
    if (name.size() < 2 || name.size() >= sizeof DlgSectionCategory::templateName || name[0] != '#') return false;
    for (char ch : name.substr(1))
        if (ch < '0' || ch > '9') return false;

    QFile file(QString::fromUtf8(instance) + QString::fromLatin1(name.substr(1).data(), name.size() - 1) +
               QStringLiteral(".ui"));
    if (!file.open(QIODevice::ReadOnly)) {
        plat::trace("section list: no template " + file.fileName().toStdString());
        return false;
    }
    QByteArray bytes = file.readAll();
    if (bytes.isEmpty()) return false;

    int32_t controls = 0;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("widget") &&
            isControlName(xml.attributes().value(QLatin1String("name")))) {
            ++controls;
        }
    }
    if (xml.hasError()) {
        plat::trace("section list: template " + file.fileName().toStdString() +
                    " is not readable: " + xml.errorString().toStdString());
        return false;
    }
    state.instance = instance;
    state.bytes = std::move(bytes);
    controlCount = controls;
    return true;
}

void initCategory(DlgSectionCategory& category, CategoryState* state, const char* templateName, int32_t id,
                  uint32_t flags, intptr_t userValue, int32_t controlCount)
{
    category = DlgSectionCategory{};
    category.id = id;
    category.flags = flags;
    category.instance = state->instance.c_str();
    std::strncpy(category.templateName, templateName, sizeof category.templateName - 1);
    category.userValue = userValue;
    category.loadedTemplate = state->bytes.data();
    category.controlCount = controlCount;
    category.reserved = state;
}

// ---- Pages -----------------------------------------------------------------------------------------

// Destroys the page's widgets (the template stays). Deleted at once, not later: the host must not find
// them after it was told they are gone.
void destroyWidgets(DlgSection* list, DlgSectionCategory& category)
{
    if (!hasPage(list, category)) return;
    CategoryState* state = stateOf(category);
    QWidget* page = state->page;
    category.page = nullptr;
    state->page.clear();
    state->texts.clear();
    --list->live;
    delete page;
}

void prune(DlgSection* list)
{
    if (list->lowerMark <= 0 || list->upperMark < list->lowerMark || list->live <= list->upperMark) return;
    for (int32_t i = 0; i < list->count && list->live > list->lowerMark; ++i) {
        DlgSectionCategory& category = list->categories[i];
        if (category.id == list->current || !(category.flags & kPrunable) || !hasPage(list, category)) continue;
        const int32_t id = category.id;
        QWidget* page = category.page;
        notify(list, kPageDestroyed, id);
        // The host may have changed the list meanwhile: destroy what is still this page.
        DlgSectionCategory* again = find(list, id);
        if (again != nullptr && again->page == page) destroyWidgets(list, *again);
    }
}

// Creates the category's widgets hidden inside the placeholder, tells the host, prunes. `category`
// may be an element that is not in the array yet. True when the widgets exist.
bool createWidgets(DlgSection* list, DlgSectionCategory& category)
{
    if (hasPage(list, category)) return true;
    QWidget* placeholder = placeholderOf(list);
    if (placeholder == nullptr) return false;
    CategoryState* state = stateOf(category);

    QBuffer buffer;
    buffer.setData(state->bytes);
    if (!buffer.open(QIODevice::ReadOnly)) return false;
    QString error;
    QWidget* page = plat::gui::loadForm(&buffer, placeholder, &error);
    if (page == nullptr) {
        plat::trace("section list: template " + std::string(category.templateName) +
                    " cannot be made: " + error.toStdString());
        return false;
    }
    if (page->isWindow()) page->setWindowFlags(Qt::Widget);  // a dialog template still becomes a page
    page->hide();
    QLayout* layout = placeholder->layout();
    if (layout == nullptr) {
        layout = new QVBoxLayout(placeholder);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    layout->addWidget(page);
    // A minimum the host's template gives the placeholder wins over what its pages ask for: grow it to
    // fit every page made, so that no page is squeezed below its own minimum (longer texts in another
    // language need more room).
    if (placeholder->minimumWidth() > 0 || placeholder->minimumHeight() > 0)
        placeholder->setMinimumSize(placeholder->minimumSize().expandedTo(page->minimumSizeHint()));

    category.page = page;
    state->page = page;
    recordTexts(*state, page);
    ++list->live;
    const int32_t id = category.id;
    notify(list, kPageCreated, id);
    prune(list);
    return true;
}

void freeCategory(DlgSection* list, DlgSectionCategory& category)
{
    destroyWidgets(list, category);
    delete stateOf(category);
    category.reserved = nullptr;
    category.loadedTemplate = nullptr;
    category.instance = nullptr;
}

}  // namespace

// ---- Exports ------------------------------------------------------------------------------------

int32_t fInitDlgSection(DlgSection* list, uint32_t commandBase, QWidget* host, int32_t placeholder, void* userData)
{
    if (list == nullptr || host == nullptr || !onGuiThread()) return 0;
    if (host->findChild<QWidget*>(controlName(placeholder)) == nullptr) return 0;
    *list = DlgSection{};
    list->commandBase = commandBase;
    list->host = host;
    list->placeholder = placeholder;
    list->current = kNoCategory;
    list->userData = userData;
    return 1;
}

int32_t fSetDlgSectionThreshold(DlgSection* list, int32_t lowerMark, int32_t upperMark)
{
    if (list == nullptr || !onHostThread(list)) return 0;
    list->lowerMark = lowerMark;
    list->upperMark = upperMark;
    prune(list);
    return 1;
}

int32_t iAddDlgSectionCategory(DlgSection* list, const char* instance, const char* templateName, int32_t id,
                               uint32_t flags, intptr_t userValue)
{
    if (list == nullptr || instance == nullptr || templateName == nullptr || !onHostThread(list)) return 0;
    auto* state = new (std::nothrow) CategoryState;
    if (state == nullptr) return 0;
    int32_t controlCount = 0;
    if (!loadTemplate(instance, templateName, *state, controlCount)) {
        delete state;
        return 0;
    }
    DlgSectionCategory element;
    initCategory(element, state, templateName, id, flags, userValue, controlCount);

    // Created before the category joins the list: the host hears of it first.
    if ((flags & kCreateWhenAdded) && !createWidgets(list, element)) {
        delete state;
        return 0;
    }

    auto* grown = static_cast<DlgSectionCategory*>(
        std::realloc(list->categories, (static_cast<std::size_t>(list->count) + 1) * sizeof(DlgSectionCategory)));
    if (grown == nullptr) {
        // The host was told of the widgets: tell it they go before they do.
        if (element.page != nullptr) notify(list, kPageDestroyed, id);
        freeCategory(list, element);
        return 0;
    }
    list->categories = grown;
    list->categories[list->count] = element;
    return ++list->count;
}

int32_t fSelectDlgSectionCategory(DlgSection* list, int32_t id)
{
    if (list == nullptr) return 0;
    if (id == list->current) return 1;
    if (!onHostThread(list)) return 0;
    const bool visible = list->host->isVisible();

    // A current id that names no category (a failed selection of a missing id) has no page to hide;
    // it must not keep every later selection from working.
    if (DlgSectionCategory* old = list->current == kNoCategory ? nullptr : find(list, list->current);
        old != nullptr && hasPage(list, *old)) {
        UpdatesOff off(list->host, visible);
        emptyTexts(*stateOf(*old));
        old->page->hide();
    }

    list->current = id;
    DlgSectionCategory* category = find(list, id);
    if (category == nullptr || !createWidgets(list, *category)) return 0;
    category = find(list, id);  // the notification may have moved the array
    if (category == nullptr || !hasPage(list, *category)) return 0;
    {
        UpdatesOff off(list->host, visible);
        restoreTexts(*stateOf(*category));
        category->page->show();
    }
    if (visible) list->host->update();
    return 1;
}

int32_t fUseDlgSectionCategory(DlgSection* list, DlgSectionCategory* category)
{
    if (list == nullptr || category == nullptr || !onHostThread(list)) return 0;
    // Only an element of this list's array: anything else has no state of the list's making.
    if (category < list->categories || category >= list->categories + list->count) return 0;
    return createWidgets(list, *category) ? 1 : 0;
}

int32_t iDeleteDlgSectionCategory(DlgSection* list, int32_t id)
{
    if (list == nullptr) return -1;
    DlgSectionCategory* category = find(list, id);
    if (category == nullptr || !onGuiThread()) return -1;
    if (list->current == id) list->current = kNoCategory;
    freeCategory(list, *category);

    const auto index = category - list->categories;
    std::memmove(category, category + 1, (list->count - index - 1) * sizeof(DlgSectionCategory));
    if (--list->count == 0) {
        std::free(list->categories);
        list->categories = nullptr;
    } else if (auto* shrunk = static_cast<DlgSectionCategory*>(
                   std::realloc(list->categories, list->count * sizeof(DlgSectionCategory)))) {
        list->categories = shrunk;  // a failed shrink keeps the larger block, which is as good
    }
    return list->count;
}

int32_t fDeleteDlgSection(DlgSection* list)
{
    if (list == nullptr || (list->count > 0 && !onGuiThread())) return 0;
    for (int32_t i = 0; i < list->count; ++i) freeCategory(list, list->categories[i]);
    std::free(list->categories);
    list->categories = nullptr;
    list->count = 0;
    list->live = 0;
    list->current = kNoCategory;
    return 1;
}

DlgSectionCategory* pseccatGetDlgSectionCategory(DlgSection* list, int32_t id)
{
    return list == nullptr ? nullptr : find(list, id);
}

int32_t iGetDlgSectionCurrentID(const DlgSection* list) { return list == nullptr ? kNoCategory : list->current; }

int32_t iGetDlgSectionCount(const DlgSection* list) { return list == nullptr ? -1 : list->count; }

void* lpvGetDlgSectionData(const DlgSection* list) { return list == nullptr ? nullptr : list->userData; }
