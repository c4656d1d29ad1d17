#pragma once
// The dark sheet that the leave-review and reply screens share: a dimmed
// backdrop over the screen it is presented on, a centred card
// (containerView) with the screen's own controls, and two buttons (cancel
// and send) in the sheets' own style: grey with corners of 15, turning white
// while pressed. A click beside the card ends editing; Escape or a right
// swipe closes the sheet without sending.
//
// Presented over the full screen, animated; a subclass fills the card in
// viewDidLoad() after calling ReviewSheet::viewDidLoad().
#include <QFrame>
#include <QPushButton>
#include <QVBoxLayout>

#include "UIKit/UIViewController.h"

class ReviewSheet : public UIViewController {
    Q_OBJECT
public:
    static constexpr int kCardWidth = 340;
    static constexpr double kButtonCornerRadius = 15;
    static constexpr double kTextCornerRadius = 10;
    // The buttons' grey (red, green and blue 0.24).
    static QColor buttonColor() { return QColor::fromRgbF(0.24, 0.24, 0.24, 1.0); }

    explicit ReviewSheet(QWidget* parent = nullptr);

    QFrame* containerView() const { return container_; }
    QPushButton* cancelBtn() const { return cancelBtn_; }
    // Closes the sheet, animated, sending nothing.
    void cancel();
    void backSwipe() { cancel(); }
    void dismissKeyboard();

    // The screen on top of `window` (the sheet's, taken before it goes): where
    // the outcome popup goes once the sheet has gone. The application's
    // window when `window` is gone or no UIWindow.
    static UIViewController* topPresenterOf(QWidget* window);
    // Shows the popup "title" with `message` and "OK" on top of `presenter`'s
    // chain of presentations.
    static void presentOutcome(UIViewController* presenter, const std::string& title, const std::string& message);

protected:
    void viewDidLoad() override;
    // The card's layout, for the subclass's controls (buttons come last).
    QVBoxLayout* cardLayout() const { return cardLayout_; }
    // Makes one of the two buttons; `primary` is the send button.
    QPushButton* makeButton(const QString& title);
    // Adds the row of the two buttons at the end of the card.
    void addButtonRow(QPushButton* send);
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    QFrame* container_ = nullptr;
    QVBoxLayout* cardLayout_ = nullptr;
    QPushButton* cancelBtn_ = nullptr;
};
