#pragma once
// A rounded card with a soft shadow: corner radius 20, shadow radius 12,
// shadow opacity 0.25, no offset. The shadow colour follows the palette's
// shadowColor; the fill is the card colour (the palette's cell background).
// Content goes into the card's layout (setLayout / a child layout).
#include <QColor>
#include <QGraphicsDropShadowEffect>
#include <QWidget>

class CardView : public QWidget {
    Q_OBJECT
public:
    static constexpr double kCornerRadius = 20;
    static constexpr double kShadowRadius = 12;
    static constexpr double kShadowOpacity = 0.25;

    explicit CardView(QWidget* parent = nullptr);
    void setCardColor(const QColor& c);
    QColor cardColor() const { return color_; }
    void setShadowColor(const QColor& c);
    QGraphicsDropShadowEffect* shadow() const { return shadow_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor color_;
    QGraphicsDropShadowEffect* shadow_;
};
