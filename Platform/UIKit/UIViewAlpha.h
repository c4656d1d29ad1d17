#pragma once
// A view's alpha (0...1). Below 1 the view is drawn through an opacity
// effect; at 1 the effect goes, so that an opaque view costs nothing extra
// to paint. A view's own graphics effect of another kind is left alone.
#include <QWidget>

namespace UIView {
void setAlpha(QWidget* view, double alpha);
double alpha(const QWidget* view);
}  // namespace UIView
