#pragma once
// A one-finger rightward swipe on a widget (a touch screen or a touch pad's
// horizontal two-finger scroll), the desktop's form of "swipe right to go back".
#include <QObject>
#include <QPointF>
#include <QWidget>
#include <functional>

class UIViewController;

class UISwipeGesture : public QObject {
    Q_OBJECT
public:
    // Watches `view` and calls `action` on a rightward swipe. Owned by the view.
    static UISwipeGesture* addRightSwipe(QWidget* view, std::function<void()> action);
    // The pushed screen's "swipe right to go back": pops `screen` when it is
    // the top of its navigation stack (and not the stack's root).
    static UISwipeGesture* addBackSwipe(UIViewController* screen);

    // The minimum horizontal travel, in pixels.
    static constexpr double kMinimumDistance = 80.0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    UISwipeGesture(QWidget* view, std::function<void()> action);
    std::function<void()> action_;
    QPointF start_;
    bool tracking_ = false;
    double wheelTravel_ = 0;
};
