#include "UIKit/UIScrollView.h"

#include <QPropertyAnimation>
#include <QScrollBar>
#include <QScrollEvent>
#include <QScroller>
#include <QWheelEvent>
#include <cmath>

#include "UIKit/UIViewController.h"

UIScrollView::UIScrollView(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    QScroller::grabGesture(viewport(), QScroller::TouchGesture);
    auto* scroller = QScroller::scroller(viewport());
    connect(scroller, &QScroller::stateChanged, this, [this, scroller](QScroller::State state) {
        if (state == QScroller::Dragging) {
            beginDrag();
        } else if (dragging_) {
            // Released: gliding on to finalPosition(), or at rest where it is.
            const double target = state == QScroller::Scrolling ? scroller->finalPosition().y() : contentOffsetY();
            endDrag(scroller->velocity().y(), target);
        }
    });
    connect(verticalScrollBar(), &QScrollBar::sliderPressed, this, &UIScrollView::beginDrag);
    connect(verticalScrollBar(), &QScrollBar::sliderReleased, this, [this] { endDrag(0, contentOffsetY()); });
    wheelRest_.setSingleShot(true);
    wheelRest_.setInterval(kWheelRestMs);
    connect(&wheelRest_, &QTimer::timeout, this, [this] { endDrag(0, contentOffsetY()); });
}

double UIScrollView::contentOffsetY() const { return verticalScrollBar()->value() + overshoot_.y(); }

void UIScrollView::setContentOffsetY(double y, bool animated) {
    QScrollBar* bar = verticalScrollBar();
    const int target = std::clamp(static_cast<int>(std::lround(y)), bar->minimum(), bar->maximum());
    const int ms = animated ? UIView::durationMs(0.3) : 0;
    if (ms <= 0) {
        bar->setValue(target);
        return;
    }
    auto* animation = new QPropertyAnimation(bar, "value", this);
    animation->setDuration(ms);
    animation->setEndValue(target);
    animation->setEasingCurve(QEasingCurve::OutCubic);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void UIScrollView::beginDrag() {
    if (dragging_) return;
    dragging_ = true;
    emit willBeginDragging();
}

void UIScrollView::endDrag(double velocityY, double targetY) {
    if (!dragging_) return;
    dragging_ = false;
    emit willEndDragging(velocityY, targetY);
}

void UIScrollView::scrollContentsBy(int dx, int dy) {
    QScrollArea::scrollContentsBy(dx, dy);
    if (dy != 0) emit didScroll(contentOffsetY());
}

void UIScrollView::wheelEvent(QWheelEvent* e) {
    if (e->angleDelta().y() != 0 || e->pixelDelta().y() != 0) {
        beginDrag();
        wheelRest_.start();
    }
    QScrollArea::wheelEvent(e);
}

bool UIScrollView::handleScrollEvent(QEvent* e) {
    // QScroller's positions: the bars take the position within the range, the
    // overshoot is kept (and reported) apart, so that the offset may go below 0.
    auto* se = static_cast<QScrollEvent*>(e);
    const QPointF before = overshoot_;
    overshoot_ = se->overshootDistance();
    const int oldValue = verticalScrollBar()->value();
    horizontalScrollBar()->setValue(static_cast<int>(se->contentPos().x()));
    verticalScrollBar()->setValue(static_cast<int>(se->contentPos().y()));
    // Qt moves the whole viewport by the overshoot; below the end we do the
    // same, above the top only when asked to.
    const bool pulledDown = overshoot_.y() < 0;
    const QPoint wanted = pulledDown && !movesContentOnPull_ ? QPoint(-overshoot_.toPoint().x(), 0) : -overshoot_.toPoint();
    if (wanted != movedBy_) {
        viewport()->move(viewport()->pos() + wanted - movedBy_);
        movedBy_ = wanted;
    }
    if (before.y() != overshoot_.y() && verticalScrollBar()->value() == oldValue) emit didScroll(contentOffsetY());
    return true;
}

bool UIScrollView::event(QEvent* e) {
    if (e->type() == QEvent::Scroll) return handleScrollEvent(e);
    return QScrollArea::event(e);
}

bool UIScrollView::viewportEvent(QEvent* e) {
    if (e->type() == QEvent::Scroll) return handleScrollEvent(e);
    return QScrollArea::viewportEvent(e);
}
