#include "UIKit/UILongPressGestureRecognizer.h"

#include <QApplication>
#include <QMouseEvent>

UILongPressGestureRecognizer* UILongPressGestureRecognizer::add(QWidget* view, double minimumPressSeconds, Action action) {
    return new UILongPressGestureRecognizer(view, minimumPressSeconds, std::move(action));
}

UILongPressGestureRecognizer::UILongPressGestureRecognizer(QWidget* view, double minimumPressSeconds, Action action)
    : QObject(view), view_(view), action_(std::move(action)) {
    timer_.setSingleShot(true);
    timer_.setInterval(static_cast<int>(minimumPressSeconds * 1000));
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (!pressed_) return;
        began_ = true;
        if (action_) action_(State::Began);
    });
    view->installEventFilter(this);
}

void UILongPressGestureRecognizer::finish(State state) {
    timer_.stop();
    pressed_ = false;
    if (!began_) return;
    began_ = false;
    if (action_) action_(state);
}

bool UILongPressGestureRecognizer::eventFilter(QObject*, QEvent* e) {
    switch (e->type()) {
    case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() != Qt::LeftButton) return false;
        pressed_ = true;
        began_ = false;
        pressPos_ = me->globalPosition().toPoint();
        timer_.start();
        return false;
    }
    case QEvent::MouseMove: {
        if (!pressed_) return false;
        auto* me = static_cast<QMouseEvent*>(e);
        // A press that travels is a drag (of the strip or page under it).
        if ((me->globalPosition().toPoint() - pressPos_).manhattanLength() > QApplication::startDragDistance())
            finish(State::Cancelled);
        return false;
    }
    case QEvent::MouseButtonRelease: {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() != Qt::LeftButton || !pressed_) return false;
        const bool began = began_;
        finish(view_->rect().contains(me->position().toPoint()) ? State::Ended : State::Cancelled);
        return began;  // the long press replaces the click
    }
    case QEvent::Hide:
    case QEvent::EnabledChange:
        if (pressed_) finish(State::Cancelled);
        return false;
    default:
        return false;
    }
}
