#include "UIKit/UIWindow.h"

#include <QHideEvent>
#include <QShowEvent>
#include <QVBoxLayout>

#include "UIKit/UIViewController.h"

UIWindow::UIWindow(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    resize(420, 780);
}

void UIWindow::setRootViewController(UIViewController* vc) {
    const bool visible = isVisible();
    if (root_) {
        if (visible) {
            root_->beginAppearanceTransition(false, false);
            root_->endAppearanceTransition();
        }
        layout()->removeWidget(root_);
        root_->hide();
    }
    root_ = vc;
    if (!vc) return;
    vc->setParent(this);
    layout()->addWidget(vc);
    vc->loadViewIfNeeded();
    vc->show();
    if (visible) {
        vc->beginAppearanceTransition(true, false);
        vc->endAppearanceTransition();
    }
}

UIViewController* UIWindow::topPresentedViewController() const {
    UIViewController* top = root_;
    while (top && top->presentedViewController() && !top->presentedViewController()->isBeingDismissed())
        top = top->presentedViewController();
    return top;
}

void UIWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (root_ && !e->spontaneous()) {
        root_->beginAppearanceTransition(true, false);
        root_->endAppearanceTransition();
        if (!root_->isCoveredByPresentation()) root_->takeKeyboardFocus();
    }
}

void UIWindow::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    if (root_ && !e->spontaneous()) {
        root_->beginAppearanceTransition(false, false);
        root_->endAppearanceTransition();
    }
}
