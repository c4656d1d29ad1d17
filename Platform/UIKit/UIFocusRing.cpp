#include "UIKit/UIFocusRing.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPainter>

UIFocusRing* UIFocusRing::install(QWidget* window) {
    if (!window) return nullptr;
    if (auto* ring = window->findChild<UIFocusRing*>(QString(), Qt::FindDirectChildrenOnly)) return ring;
    return new UIFocusRing(window);
}

UIFocusRing::UIFocusRing(QWidget* window) : QWidget(window) {
    setObjectName("focusRing");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    hide();
    // Focus changes reach the widgets themselves, not the window.
    qApp->installEventFilter(this);
}

bool UIFocusRing::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
    case QEvent::FocusIn:
    case QEvent::FocusOut: {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || widget->window() != parentWidget()) break;
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
        // The window losing and regaining the activation, or a menu opening, moves nothing.
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) break;
        if (e->type() == QEvent::FocusIn)
            follow(reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ? widget : nullptr);
        else if (widget == target_)
            follow(nullptr);
        break;
    }
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        if (target_ && watched->isWidgetType() &&
            (watched == target_ || static_cast<QWidget*>(watched)->isAncestorOf(target_)))
            place();
        break;
    default:
        break;
    }
    return false;
}

void UIFocusRing::follow(QWidget* target) {
    if (target_) disconnect(target_, &QObject::destroyed, this, nullptr);
    target_ = target;
    // A widget deleted with the focus takes the ring with it.
    if (target) connect(target, &QObject::destroyed, this, [this] { hide(); });
    place();
}

void UIFocusRing::place() {
    QWidget* window = parentWidget();
    if (!target_ || !target_->isVisible() || !window) {
        hide();
        return;
    }
    // What shows of the widget: cut by every scrolling area around it.
    QRect shown(target_->mapTo(window, QPoint(0, 0)), target_->size());
    for (QWidget* p = target_->parentWidget(); p && p != window; p = p->parentWidget())
        shown &= QRect(p->mapTo(window, QPoint(0, 0)), p->size());
    if (shown.isEmpty()) {
        hide();
        return;
    }
    setGeometry(shown.adjusted(-3, -3, 3, 3) & window->rect());
    show();
    raise();
    update();
}

void UIFocusRing::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(parentWidget()->palette().color(QPalette::Link), 2);  // the tint, as links and bar buttons
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 5, 5);
}
