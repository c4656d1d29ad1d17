#include "UIKit/UISwipeGesture.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QWheelEvent>
#include <cmath>

#include "UIKit/UINavigationController.h"

// Touches reach widgets as mouse events synthesized by Qt (no widget here
// takes raw touch events, so taps keep working everywhere); the gesture
// watches those application-wide, only for presses that start inside its view,
// and never consumes them.

UISwipeGesture* UISwipeGesture::addRightSwipe(QWidget* view, std::function<void()> action) {
    return new UISwipeGesture(view, std::move(action));
}

UISwipeGesture* UISwipeGesture::addBackSwipe(UIViewController* screen) {
    return addRightSwipe(screen, [screen] {
        if (auto* nav = screen->navigationController();
            nav && nav->topViewController() == screen && nav->viewControllers().size() > 1)
            nav->popViewController(true);
    });
}

UISwipeGesture::UISwipeGesture(QWidget* view, std::function<void()> action) : QObject(view), action_(std::move(action)) {
    qApp->installEventFilter(this);
    view->installEventFilter(this);
}

namespace {
bool fromTouch(const QMouseEvent* e) {
    return e->pointingDevice() && e->pointingDevice()->type() == QInputDevice::DeviceType::TouchScreen;
}
}  // namespace

bool UISwipeGesture::eventFilter(QObject* watched, QEvent* event) {
    auto* view = static_cast<QWidget*>(parent());
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* m = static_cast<QMouseEvent*>(event);
        auto* w = qobject_cast<QWidget*>(watched);
        if (!fromTouch(m) || !w || !view->isVisible() || !(w == view || view->isAncestorOf(w))) return false;
        tracking_ = true;
        start_ = m->globalPosition();
        return false;
    }
    case QEvent::MouseButtonRelease: {
        auto* m = static_cast<QMouseEvent*>(event);
        if (!tracking_ || !fromTouch(m)) return false;
        tracking_ = false;
        const QPointF d = m->globalPosition() - start_;
        if (d.x() >= kMinimumDistance && std::abs(d.y()) < d.x() / 2 && action_) {
            QPointer<QObject> alive(this);
            action_();
        }
        return false;
    }
    case QEvent::Wheel: {
        if (watched != view) return false;
        // A touch pad's horizontal scroll gesture: the content follows the
        // fingers, so a rightward swipe arrives as a positive x delta.
        auto* w = static_cast<QWheelEvent*>(event);
        if (w->pixelDelta().isNull() || std::abs(w->pixelDelta().x()) <= std::abs(w->pixelDelta().y())) return false;
        if (w->phase() == Qt::ScrollBegin) wheelTravel_ = 0;
        wheelTravel_ += w->pixelDelta().x();
        if (w->phase() == Qt::ScrollEnd) {
            if (wheelTravel_ >= kMinimumDistance * 1.5 && action_) action_();
            wheelTravel_ = 0;
        }
        return false;
    }
    default:
        return false;
    }
}
