#include "UIKit/UICollectionView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QScroller>
#include <QWheelEvent>
#include <cmath>

#include "UIKit/UIViewController.h"

UICollectionView::UICollectionView(QWidget* parent) : QScrollArea(parent), strip_(new QWidget) {
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(false);
    setWidget(strip_);
    strip_->setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    QScroller::grabGesture(viewport(), QScroller::TouchGesture);
    settleTimer_.setSingleShot(true);
    settleTimer_.setInterval(180);
    connect(&settleTimer_, &QTimer::timeout, this, &UICollectionView::settle);
    connect(QScroller::scroller(viewport()), &QScroller::stateChanged, this, [this](QScroller::State s) {
        if (s == QScroller::Dragging) {
            beginDragging();
        } else if (s == QScroller::Inactive) {
            if (dragging_) {
                dragging_ = false;
                emit didEndDragging(false);
            }
            settle();
        }
    });
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        const int i = currentIndex();
        if (i != lastIndex_) {
            lastIndex_ = i;
            emit currentIndexChanged(i);
        }
    });
}

void UICollectionView::reloadData() {
    for (auto* w : items_) w->deleteLater();
    items_.clear();
    lastIndex_ = -1;
    if (!dataSource_) return;
    const int n = dataSource_->numberOfItems(this);
    for (int i = 0; i < n; ++i) {
        QWidget* w = dataSource_->cellForItem(this, i);
        if (!w) w = new QWidget;
        w->setParent(strip_);
        w->installEventFilter(this);
        items_.push_back(w);
    }
    placeItems();
    for (auto* w : items_) w->show();
    horizontalScrollBar()->setValue(0);
}

void UICollectionView::layoutItems() {
    if (!dataSource_ || dataSource_->numberOfItems(this) != static_cast<int>(items_.size())) {
        reloadData();
        return;
    }
    const int current = currentIndex();
    placeItems();
    if (current >= 0) horizontalScrollBar()->setValue(offsetForItem(current, ScrollPosition::Left));
}

void UICollectionView::placeItems() {
    int x = insetLeft_, h = 0;
    for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
        const QSize s = dataSource_->sizeForItem(this, i);
        items_[i]->setGeometry(x, 0, s.width(), s.height());
        x += s.width() + spacing_;
        h = std::max(h, s.height());
    }
    if (!items_.empty()) x -= spacing_;
    strip_->resize(x + insetRight_, h);
    setFixedHeight(h);
}

QWidget* UICollectionView::cellForItem(int index) const {
    return index >= 0 && index < static_cast<int>(items_.size()) ? items_[index] : nullptr;
}

int UICollectionView::currentIndex() const {
    if (items_.empty()) return -1;
    const int x = horizontalScrollBar()->value() + insetLeft_;
    int best = 0;
    for (int i = 1; i < static_cast<int>(items_.size()); ++i)
        if (std::abs(items_[i]->x() - x) < std::abs(items_[best]->x() - x)) best = i;
    return best;
}

int UICollectionView::contentOffset() const { return horizontalScrollBar()->value(); }

void UICollectionView::setContentOffset(int x) { horizontalScrollBar()->setValue(x); }

int UICollectionView::offsetForItem(int index, ScrollPosition position) const {
    QWidget* w = cellForItem(index);
    if (!w) return contentOffset();
    const int wanted = position == ScrollPosition::CenteredHorizontally ? w->x() + w->width() / 2 - viewport()->width() / 2
                                                                        : w->x() - insetLeft_;
    return std::clamp(wanted, 0, horizontalScrollBar()->maximum());
}

void UICollectionView::scrollToItem(int index, bool animated, ScrollPosition position) {
    if (!cellForItem(index)) return;
    const int target = offsetForItem(index, position);
    const int ms = animated ? UIView::durationMs(0.35) : 0;
    if (ms > 0) {
        auto* anim = new QPropertyAnimation(horizontalScrollBar(), "value", this);
        anim->setDuration(ms);
        anim->setEasingCurve(QEasingCurve::OutCubic);
        anim->setEndValue(target);
        connect(anim, &QPropertyAnimation::finished, this, &UICollectionView::didEndDecelerating);
        anim->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        horizontalScrollBar()->setValue(target);
        emit didEndDecelerating();
    }
}

void UICollectionView::beginDragging() {
    if (dragging_) return;
    dragging_ = true;
    emit willBeginDragging();
}

void UICollectionView::settle() {
    if (paging_) {
        scrollToItem(currentIndex(), true);
    } else {
        emit didEndDecelerating();
    }
}

void UICollectionView::wheelEvent(QWheelEvent* e) {
    // Horizontal wheel or touch pad scrolls the strip; vertical goes to the page.
    const QPoint d = e->pixelDelta().isNull() ? e->angleDelta() : e->pixelDelta();
    if (std::abs(d.x()) <= std::abs(d.y())) {
        e->ignore();
        return;
    }
    if (!settleTimer_.isActive()) emit willBeginDragging();
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - d.x());
    settleTimer_.start();
    e->accept();
}

void UICollectionView::keyPressEvent(QKeyEvent* e) {
    const bool enter = (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && !(e->modifiers() & ~Qt::KeypadModifier);
    if (!enter || !dataSource_ || items_.empty()) {
        QScrollArea::keyPressEvent(e);
        return;
    }
    // What a click on the item in view does.
    const int i = currentIndex();
    if (i >= 0 && i < static_cast<int>(items_.size()) && dataSource_->shouldSelectItem(this, i)) dataSource_->didSelectItem(this, i);
    e->accept();
}

bool UICollectionView::eventFilter(QObject* o, QEvent* e) {
    switch (e->type()) {
    case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() == Qt::LeftButton) {
            mousePressed_ = true;
            pressPos_ = me->globalPosition().toPoint();
            pressOffset_ = contentOffset();
        }
        break;
    }
    case QEvent::MouseMove: {
        auto* me = static_cast<QMouseEvent*>(e);
        if (!mousePressed_ || !(me->buttons() & Qt::LeftButton)) break;
        const QPoint moved = me->globalPosition().toPoint() - pressPos_;
        if (!dragging_ && moved.manhattanLength() > QApplication::startDragDistance()) beginDragging();
        // The item sees the move too, so that a press on it gives way to the drag.
        if (dragging_) setContentOffset(pressOffset_ - moved.x());
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() != Qt::LeftButton) break;
        mousePressed_ = false;
        if (dragging_) {
            // A drag never selects.
            dragging_ = false;
            emit didEndDragging(false);
            settle();
            return true;
        }
        if (!dataSource_) break;
        for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
            if (items_[i] != o) continue;
            if (dataSource_->shouldSelectItem(this, i)) dataSource_->didSelectItem(this, i);
            break;
        }
        break;
    }
    default:
        break;
    }
    return QScrollArea::eventFilter(o, e);
}
