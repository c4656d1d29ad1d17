#include "UIKit/UIBarButtonItem.h"

UIBarButtonItem::UIBarButtonItem(const QString& title, Action action, QObject* parent)
    : QObject(parent), title_(title), action_(std::move(action)) {}

UIBarButtonItem::UIBarButtonItem(const QIcon& icon, Action action, QObject* parent)
    : QObject(parent), icon_(icon), action_(std::move(action)) {}

UIBarButtonItem::UIBarButtonItem(QWidget* customView, QObject* parent) : QObject(parent), customView_(customView) {}

void UIBarButtonItem::setTitle(const QString& title) {
    title_ = title;
    emit changed();
}
void UIBarButtonItem::setIcon(const QIcon& icon) {
    icon_ = icon;
    emit changed();
}
void UIBarButtonItem::setEnabled(bool enabled) {
    enabled_ = enabled;
    emit changed();
}
void UIBarButtonItem::setStyle(Style style) {
    style_ = style;
    emit changed();
}
void UIBarButtonItem::trigger() {
    if (enabled_ && action_) action_(this);
}
