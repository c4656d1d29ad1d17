#include "UIKit/UIViewAlpha.h"

#include <QGraphicsOpacityEffect>
#include <algorithm>

namespace UIView {

void setAlpha(QWidget* view, double alpha) {
    if (!view) return;
    alpha = std::clamp(alpha, 0.0, 1.0);
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
    if (view->graphicsEffect() && !effect) return;
    if (alpha >= 1.0) {
        if (effect) view->setGraphicsEffect(nullptr);
        return;
    }
    if (!effect) {
        effect = new QGraphicsOpacityEffect(view);
        view->setGraphicsEffect(effect);
    }
    effect->setOpacity(alpha);
}

double alpha(const QWidget* view) {
    if (!view) return 0;
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

}  // namespace UIView
