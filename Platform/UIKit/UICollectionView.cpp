#include "UIKit/UICollectionView.h"

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
        if (s == QScroller::Inactive) settle();
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
    int x = insetLeft_, h = 0;
    for (int i = 0; i < n; ++i) {
        QWidget* w = dataSource_->cellForItem(this, i);
        if (!w) w = new QWidget;
        const QSize s = dataSource_->sizeForItem(this, i);
        w->setParent(strip_);
        w->setGeometry(x, 0, s.width(), s.height());
        w->installEventFilter(this);
        w->show();
        items_.push_back(w);
        x += s.width() + spacing_;
        h = std::max(h, s.height());
    }
    if (n > 0) x -= spacing_;
    strip_->resize(x + insetRight_, h);
    setFixedHeight(h);
    horizontalScrollBar()->setValue(0);
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

void UICollectionView::scrollToItem(int index, bool animated) {
    QWidget* w = cellForItem(index);
    if (!w) return;
    const int target = std::clamp(w->x() - insetLeft_, 0, horizontalScrollBar()->maximum());
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
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - d.x());
    settleTimer_.start();
    e->accept();
}

bool UICollectionView::eventFilter(QObject* o, QEvent* e) {
    if (e->type() == QEvent::MouseButtonRelease && dataSource_) {
        auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() == Qt::LeftButton) {
            for (int i = 0; i < static_cast<int>(items_.size()); ++i)
                if (items_[i] == o) dataSource_->didSelectItem(this, i);
        }
    }
    return QScrollArea::eventFilter(o, e);
}
