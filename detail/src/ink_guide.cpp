#include "ink_guide.h"

#include <QIcon>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>

#include <array>
#include <memory>

#include "plat/base/trace.h"
#include "resources/pictures.h"
#include "resources/string_table.h"
#include "templates.h"
#include "watchpanel/texts.h"

namespace watchpanel {
namespace {

// The IJ-05 and IJ-12 share their texts (same cartridge handling) but each has its own drawings.
constexpr InkGuideStep kIj05[] = {{900, 20004}, {901, 20005}, {902, 20006}, {903, 20007}};
constexpr InkGuideStep kIj07[] = {{910, 20000}, {911, 20001}, {912, 20002}, {913, 20003}};
constexpr InkGuideStep kIj12[] = {{914, 20004}, {915, 20005}, {916, 20006}, {917, 20007}};
constexpr InkGuideStep kIj11[] = {{918, 20008}, {919, 20009}, {920, 20010}, {921, 20011}, {922, 20012}};

struct GuideModel {
    std::string_view driverName;
    std::span<const InkGuideStep> steps;
};

constexpr std::array<GuideModel, 4> kGuides = {{
    {"VELTA IJ-05", kIj05},
    {"VELTA IJ-07", kIj07},
    {"VELTA IJ-12", kIj12},
    {"VELTA IJ-11", kIj11},
}};

const kestrel::StringTable& guideTexts()
{
    static const kestrel::StringTable table = kestrel::StringTable::load(":/strings/ink_guide.txt");
    return table;
}

constexpr int kStepOf = 21100, kNoGuide = 21101;  // texts of the window's table

// The window template's controls, by the numbers the template gives them.
constexpr const char* kPictureButton = "c2403";
constexpr const char* kStepText = "c2405";
constexpr const char* kBackButton = "c2401";
constexpr const char* kNextButton = "c2402";
constexpr const char* kCloseButton = "c2";

}  // namespace

InkGuide::InkGuide(std::string_view driverName)
{
    for (const GuideModel& model : kGuides) {
        if (model.driverName == driverName) {
            steps_ = model.steps;
            break;
        }
    }
}

bool InkGuide::next()
{
    if (!canGoNext()) return false;
    ++step_;
    return true;
}

bool InkGuide::back()
{
    if (!canGoBack()) return false;
    --step_;
    return true;
}

InkGuideDialog::InkGuideDialog(const std::string& driverName, QWidget* owner) : QDialog(owner), guide_(driverName)
{
    std::unique_ptr<QWidget> form = loadTemplate(2400);
    if (!form || !form->layout()) {
        // Without its template the dialog stays empty; Esc and the caption still close it.
        plat::trace("ink guide: window template 2400 does not load");
        return;
    }
    setWindowTitle(form->windowTitle());
    // Taking the template's layout moves its controls into this dialog; the empty form is then dropped.
    setLayout(form->layout());
    picture_ = findChild<QPushButton*>(kPictureButton);
    text_ = findChild<QPlainTextEdit*>(kStepText);
    back_ = findChild<QPushButton*>(kBackButton);
    next_ = findChild<QPushButton*>(kNextButton);
    close_ = findChild<QPushButton*>(kCloseButton);
    if (!picture_ || !text_ || !back_ || !next_ || !close_) {
        plat::trace("ink guide: window template 2400 lacks a control");
        picture_ = nullptr;
        text_ = nullptr;
        back_ = next_ = nullptr;
        if (close_) connect(close_, &QPushButton::clicked, this, &QDialog::reject);
        return;
    }

    // The picture only shows the drawing; pressing it does nothing, so it stays out of the tab order.
    picture_->setFocusPolicy(Qt::NoFocus);
    connect(back_, &QPushButton::clicked, this, &InkGuideDialog::goBack);
    connect(next_, &QPushButton::clicked, this, &InkGuideDialog::goNext);
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);

    // Without a guide "次へ" never works, so Enter closes instead.
    QPushButton* start = guide_.found() ? next_ : close_;
    start->setDefault(true);
    start->setFocus(Qt::OtherFocusReason);
    showStep();
    updateButtons();
}

void InkGuideDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Only now is the screen known, and with it the scale the drawing must be made for.
    showStep();
}

void InkGuideDialog::goNext()
{
    if (!guide_.next()) return;
    showStep();
    updateButtons();
}

void InkGuideDialog::goBack()
{
    if (!guide_.back()) return;
    showStep();
    updateButtons();
}

void InkGuideDialog::showStep()
{
    if (!picture_ || !text_) return;
    // A picture or text that is missing shows as empty: the previous step's instructions would mislead.
    const QPixmap pixmap = kestrel::picture(guide_.picture(), devicePixelRatioF());
    picture_->setIcon(pixmap.isNull() ? QIcon() : QIcon(pixmap));
    if (!pixmap.isNull()) picture_->setIconSize(pixmap.deviceIndependentSize().toSize());

    const std::optional<std::string> text = guideTexts().text(guide_.text());
    text_->setPlainText(text ? QString::fromStdString(*text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                             : QString());

    const std::string where =
        guide_.found() ? kestrel::fillIn(watchpanel::text(kStepOf).value_or(""),
                                         {std::to_string(guide_.step() + 1), std::to_string(guide_.stepCount())})
                       : watchpanel::text(kNoGuide).value_or("");
    picture_->setAccessibleDescription(QString::fromStdString(where));
    text_->setAccessibleDescription(QString::fromStdString(where));
}

void InkGuideDialog::updateButtons()
{
    if (!back_ || !next_) return;
    // Enable first, so that a button about to go grey can hand the focus on to one that works.
    if (guide_.canGoBack()) back_->setEnabled(true);
    if (guide_.canGoNext()) next_->setEnabled(true);
    if (!guide_.canGoBack()) disableKeepingFocus(back_);
    if (!guide_.canGoNext()) disableKeepingFocus(next_);
}

void InkGuideDialog::disableKeepingFocus(QPushButton* button)
{
    if (focusWidget() == button) {
        for (QWidget* w = button->nextInFocusChain(); w && w != button; w = w->nextInFocusChain()) {
            if (w != this && w->window() == this && w->isEnabled() && w->isVisibleTo(this) &&
                (w->focusPolicy() & Qt::TabFocus)) {
                w->setFocus(Qt::TabFocusReason);
                break;
            }
        }
    }
    button->setEnabled(false);
}

int showInkGuide(QWidget* owner, const std::string& driverName)
{
    InkGuideDialog dialog(driverName, owner);
    return dialog.exec();
}

}  // namespace watchpanel
