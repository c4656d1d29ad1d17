#include "UIKit/UIRefreshControl.h"

#include <QPainter>
#include <QTimer>

UIRefreshControl::UIRefreshControl(QWidget* parent) : QWidget(parent), spin_(new QTimer(this)) {
    setFixedHeight(kHeight);
    hide();
    spin_->setInterval(50);
    connect(spin_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
}

void UIRefreshControl::beginRefreshing() {
    if (refreshing_) return;
    refreshing_ = true;
    spin_->start();
    show();
    emit refreshingChanged(true);
}

void UIRefreshControl::endRefreshing() {
    if (!refreshing_) return;
    refreshing_ = false;
    spin_->stop();
    hide();
    emit refreshingChanged(false);
}

void UIRefreshControl::triggerByUser() {
    if (refreshing_) return;
    beginRefreshing();
    emit valueChanged();
}

void UIRefreshControl::setTintColor(const QColor& c) {
    tint_ = c;
    update();
}

void UIRefreshControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(width() / 2.0, height() / 2.0);
    p.rotate(angle_);
    for (int i = 0; i < 8; ++i) {
        QColor c = tint_;
        c.setAlphaF(0.25f + 0.75f * i / 7.0f);
        p.setPen(QPen(c, 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(0, -6), QPointF(0, -11));
        p.rotate(45);
    }
}
