#pragma once
// The Get button's touches: the bounce when it is pressed, and a long press
// (0.2 s minimum) that bounces too and reports its phases to an action.
#include <QAbstractButton>
#include <QPushButton>
#include <functional>

namespace GetButton {

enum class LongPressState { Began, Changed, Ended, Cancelled };

// Plays the bounce: the button shrinks a little and springs back.
void animateButton(QAbstractButton* button);

// Attaches, once per button, a long press of at least 0.2 s: when it begins
// the button bounces and `action` gets Began; moves give Changed; release
// gives Ended (and the tap that would have followed is swallowed). A second
// call replaces the action.
void addTargetHapticAction(QAbstractButton* button, std::function<void(LongPressState)> action);

constexpr int kMinimumPressMs = 200;

// Sets the title in the bold 13-point font and makes the button as wide as
// the title plus 34 points, the way the package pages size their Get buttons.
void setTitleFittingWidth(QAbstractButton* button, const QString& title);

// A Get button in the bold 13-point font that is as wide as its title plus
// 34 points whoever sets the title, by its size hint: the queue entry point
// retitles the button it was pressed on, which a width fixed for the title
// before would cut.
class TitleFittingButton : public QPushButton {
public:
    explicit TitleFittingButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
};

}  // namespace GetButton
