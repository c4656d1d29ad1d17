#pragma once
// The soft shadow around a card: an opaque rounded rectangle, so the shadow
// depends only on the card's size, corner radius and colour, never on what
// the card holds. It is blurred once per colour as a small nine-slice image
// and stretched to the card's size; the card itself is drawn straight onto
// the painter. (QGraphicsDropShadowEffect renders the whole card into a
// pixmap and blurs it at every repaint of anything inside the card, which
// costs several milliseconds per frame on a card of table rows.)
#include <QGraphicsEffect>
#include <QImage>

class CardShadowEffect : public QGraphicsEffect {
    Q_OBJECT
public:
    CardShadowEffect(double cornerRadius, double blurRadius, QObject* parent = nullptr);

    void setColor(const QColor& color);
    QColor color() const { return color_; }
    double blurRadius() const { return blur_; }
    QPointF offset() const { return {0, 0}; }
    double cornerRadius() const { return corner_; }

    QRectF boundingRectFor(const QRectF& rect) const override;

    // The shadow of a card of `size` as the effect draws it, the card at
    // (blurRadius, blurRadius) of the image.
    QImage shadowImage(const QSize& size) const;

protected:
    void draw(QPainter* painter) override;

private:
    int sliceSide() const;
    const QImage& slices() const;
    void drawShadow(QPainter* painter, const QRectF& card) const;
    double corner_;
    double blur_;
    QColor color_ = QColor(0, 0, 0, 64);
    mutable QImage slices_;  // blurred, for color_; rebuilt when the colour changes
    mutable QImage whole_;   // the last small card's shadow
};
