#pragma once
// A rounded card with a soft shadow: corner radius 20, shadow radius 12,
// shadow opacity 0.25, no offset. The shadow colour follows the palette's
// shadowColor; the fill is the card colour (the palette's cell background).
// Content goes into the card's layout (setLayout / a child layout).
#include <QColor>
#include <QWidget>

#include "UIKit/CardShadowEffect.h"

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
    CardShadowEffect* shadow() const { return shadow_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor color_;
    CardShadowEffect* shadow_;
};
