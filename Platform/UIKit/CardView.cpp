#include "UIKit/CardView.h"

#include <QPainter>
#include <QPainterPath>

CardView::CardView(QWidget* parent)
    // A blur radius spans what a shadow radius spreads on each side.
    : QWidget(parent), shadow_(new CardShadowEffect(kCornerRadius, kShadowRadius * 2, this)) {
    setObjectName("CardView");
    setShadowColor(Qt::black);
    setGraphicsEffect(shadow_);
    setContentsMargins(0, 6, 0, 6);
}

void CardView::setCardColor(const QColor& c) {
    color_ = c;
    update();
}

void CardView::setShadowColor(const QColor& c) {
    QColor s = c;
    s.setAlphaF(static_cast<float>(c.alphaF() * kShadowOpacity));
    shadow_->setColor(s);
}

void CardView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
    p.fillPath(path, color_.isValid() ? color_ : palette().color(QPalette::Base));
}
