#pragma once
// The ink replacement guide: a few pictures with texts that walk the user through changing an ink
// cartridge, for the inkjet models that have such a guide. `InkGuide` holds where the user is; the
// dialog only shows it, so the stepping is tested without a window.

#include <QDialog>

#include <span>
#include <string>
#include <string_view>

class QPlainTextEdit;
class QPushButton;

namespace watchpanel {

struct InkGuideStep {
    int picture;  // picture number of the step's drawing
    int text;     // string number of the step's text
};

class InkGuide {
public:
    // Looks the model up by its driver name, exactly as the driver spells it (case matters). A model
    // without a guide has no steps: every move is refused and both buttons stay disabled.
    explicit InkGuide(std::string_view driverName);

    bool found() const { return !steps_.empty(); }
    int stepCount() const { return static_cast<int>(steps_.size()); }
    // The current step, counted from 0; 0 when the model has no guide.
    int step() const { return step_; }
    // The picture and string numbers of the current step; 0 (no such resource) without a guide.
    int picture() const { return found() ? steps_[step_].picture : 0; }
    int text() const { return found() ? steps_[step_].text : 0; }

    bool canGoNext() const { return step_ + 1 < stepCount(); }
    bool canGoBack() const { return found() && step_ > 0; }
    // One step forward or back; false (and no change) when there is none.
    bool next();
    bool back();

private:
    std::span<const InkGuideStep> steps_;
    int step_ = 0;
};

// The guide's modal dialog, built from the "2400" window template: the step's picture, its text, and
// "戻る", "次へ", "閉じる". "閉じる", Esc and the caption's close button end it with Rejected.
class InkGuideDialog : public QDialog {
    Q_OBJECT

public:
    explicit InkGuideDialog(const std::string& driverName, QWidget* owner = nullptr);

    const InkGuide& guide() const { return guide_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void goNext();
    void goBack();
    void showStep();
    void updateButtons();
    // Moves the focus on before `button` goes grey, so the keyboard user is never left on a dead control.
    void disableKeepingFocus(QPushButton* button);

    InkGuide guide_;
    QPushButton* picture_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* close_ = nullptr;
};

// Runs the guide for `driverName` modally over `owner`; returns the dialog's result.
int showInkGuide(QWidget* owner, const std::string& driverName);

}  // namespace watchpanel
