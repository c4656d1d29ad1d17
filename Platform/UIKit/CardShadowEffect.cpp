#include "UIKit/CardShadowEffect.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// One pass of a box blur of `radius` over a row or column of `n` values read
// and written `stride` apart; values outside count as 0.
void boxPass(uint8_t* data, int n, int stride, int radius, std::vector<int>& scratch) {
    scratch.assign(static_cast<size_t>(n), 0);
    for (int i = 0; i < n; ++i) scratch[static_cast<size_t>(i)] = data[i * stride];
    const int width = 2 * radius + 1;
    int sum = 0;
    for (int i = -radius; i <= radius; ++i)
        if (i >= 0 && i < n) sum += scratch[static_cast<size_t>(i)];
    for (int i = 0; i < n; ++i) {
        data[i * stride] = static_cast<uint8_t>((sum + width / 2) / width);
        const int out = i - radius, in = i + radius + 1;
        if (out >= 0) sum -= scratch[static_cast<size_t>(out)];
        if (in < n) sum += scratch[static_cast<size_t>(in)];
    }
}

// Three box passes each way: close to a Gaussian whose spread is about 3 × radius.
void blurAlpha(QImage& alpha, int radius) {
    std::vector<int> scratch;
    const int w = alpha.width(), h = alpha.height();
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < h; ++y) boxPass(alpha.scanLine(y), w, 1, radius, scratch);
        for (int x = 0; x < w; ++x) boxPass(alpha.bits() + x, h, static_cast<int>(alpha.bytesPerLine()), radius, scratch);
    }
}

}  // namespace

CardShadowEffect::CardShadowEffect(double cornerRadius, double blurRadius, QObject* parent)
    : QGraphicsEffect(parent), corner_(cornerRadius), blur_(blurRadius) {}

void CardShadowEffect::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    slices_ = QImage();
    whole_ = QImage();
    update();
}

QRectF CardShadowEffect::boundingRectFor(const QRectF& rect) const { return rect.adjusted(-blur_, -blur_, blur_, blur_); }

QImage CardShadowEffect::shadowImage(const QSize& size) const {
    const int pad = static_cast<int>(std::ceil(blur_));
    QImage alpha(size.width() + 2 * pad, size.height() + 2 * pad, QImage::Format_Alpha8);
    alpha.fill(0);
    {
        QPainter p(&alpha);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(pad, pad, size.width(), size.height()), corner_, corner_);
        p.fillPath(path, Qt::black);
    }
    blurAlpha(alpha, std::max(1, static_cast<int>(std::lround(blur_ / 3))));
    QImage out(alpha.size(), QImage::Format_ARGB32_Premultiplied);
    const int a = color_.alpha();
    for (int y = 0; y < out.height(); ++y) {
        const uint8_t* in = alpha.constScanLine(y);
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const int shade = in[x] * a / 255;
            line[x] = qPremultiply(qRgba(color_.red(), color_.green(), color_.blue(), shade));
        }
    }
    return out;
}

int CardShadowEffect::sliceSide() const {
    // Wide enough that its middle lines lie beyond the blur's reach of both corners.
    return 2 * (static_cast<int>(std::ceil(corner_)) + static_cast<int>(std::ceil(blur_))) + 1;
}

const QImage& CardShadowEffect::slices() const {
    if (slices_.isNull()) slices_ = shadowImage(QSize(sliceSide(), sliceSide()));
    return slices_;
}

void CardShadowEffect::drawShadow(QPainter* painter, const QRectF& cardRect) const {
    const QRect card = cardRect.toAlignedRect();
    const int pad = static_cast<int>(std::ceil(blur_));
    const QRect outer = card.adjusted(-pad, -pad, pad, pad);
    if (card.width() < sliceSide() || card.height() < sliceSide()) {
        // Too small for the slices: blurred at its own size, kept while the size stays.
        if (whole_.isNull() || whole_.size() != outer.size()) whole_ = shadowImage(card.size());
        painter->drawImage(outer.topLeft(), whole_);
        return;
    }
    // Nine slices: four corners as they are, the middle lines of the edges stretched.
    const QImage& s = slices();
    const int k = pad + static_cast<int>(std::ceil(corner_));  // a corner slice's side
    const int m = s.width() / 2;                               // the middle line
    const int e = s.width() - k;                                // where the far corners start
    const int innerW = outer.width() - 2 * k, innerH = outer.height() - 2 * k;
    const int l = outer.left(), t = outer.top(), r = outer.right() - k + 1, b = outer.bottom() - k + 1;
    painter->drawImage(QRect(l, t, k, k), s, QRect(0, 0, k, k));
    painter->drawImage(QRect(r, t, k, k), s, QRect(e, 0, k, k));
    painter->drawImage(QRect(l, b, k, k), s, QRect(0, e, k, k));
    painter->drawImage(QRect(r, b, k, k), s, QRect(e, e, k, k));
    painter->drawImage(QRect(l + k, t, innerW, k), s, QRect(m, 0, 1, k));
    painter->drawImage(QRect(l + k, b, innerW, k), s, QRect(m, e, 1, k));
    painter->drawImage(QRect(l, t + k, k, innerH), s, QRect(0, m, k, 1));
    painter->drawImage(QRect(r, t + k, k, innerH), s, QRect(e, m, k, 1));
    painter->fillRect(QRect(l + k, t + k, innerW, innerH), QColor::fromRgba(s.pixel(m, m)));
}

void CardShadowEffect::draw(QPainter* painter) {
    const QRectF card = sourceBoundingRect(Qt::LogicalCoordinates);
    if (color_.alpha() > 0 && !card.isEmpty()) {
        painter->save();
        painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
        drawShadow(painter, card);
        painter->restore();
    }
    drawSource(painter);
}
