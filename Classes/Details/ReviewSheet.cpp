#include "Details/ReviewSheet.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QVariantAnimation>

#include "Browsing/SourceAddition.h"
#include "ErrorViewController.h"
#include "Miscellaneous/ZMLocalization.h"
#include "UIKit/Timers.h"
#include "UIKit/UISwipeGesture.h"
#include "UIKit/UIWindow.h"
#include "ZMVostrelle.h"

namespace {

QString buttonStyle(const QColor& background) {
    return QStringLiteral(
               "QPushButton { background: %1; color: white; border: none; border-radius: %2px; padding: 8px 14px; }"
               "QPushButton:pressed { color: #555555; }"
               "QPushButton:disabled { color: #8a8a8a; }")
        .arg(background.name(QColor::HexArgb))
        .arg(ReviewSheet::kButtonCornerRadius);
}

// Turns the button's background to `to` over 0.3 s.
void animateBackground(QPushButton* button, const QColor& to) {
    auto* animation = new QVariantAnimation(button);
    animation->setDuration(UIView::durationMs(0.3));
    animation->setStartValue(button->property("sheetBackground").value<QColor>());
    animation->setEndValue(to);
    QObject::connect(animation, &QVariantAnimation::valueChanged, button, [button](const QVariant& value) {
        button->setProperty("sheetBackground", value);
        button->setStyleSheet(buttonStyle(value.value<QColor>()));
    });
    QObject::connect(animation, &QVariantAnimation::finished, button, [button, to] {
        button->setProperty("sheetBackground", to);
        button->setStyleSheet(buttonStyle(to));
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

}  // namespace

ReviewSheet::ReviewSheet(QWidget* parent) : UIViewController(parent) {
    setModalPresentationStyle(ModalPresentationStyle::OverFullScreen);
    setFocusPolicy(Qt::StrongFocus);
}

void ReviewSheet::viewDidLoad() {
    auto* outer = new QVBoxLayout(this);
    outer->addStretch(1);
    container_ = new QFrame;
    container_->setObjectName("containerView");
    container_->setFixedWidth(kCardWidth);
    // The sheets are always dark, whatever the theme.
    container_->setStyleSheet(QStringLiteral(
        "#containerView { background: #1c1c1e; border-radius: 16px; }"
        "#containerView QLabel { color: white; background: transparent; }"
        "#containerView QLineEdit, #containerView QPlainTextEdit { background: #2c2c2e; color: white; "
        "border: none; border-radius: %1px; padding: 6px; }")
                                  .arg(kTextCornerRadius));
    QPalette dark = container_->palette();
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::PlaceholderText, Qt::lightGray);
    container_->setPalette(dark);
    cardLayout_ = new QVBoxLayout(container_);
    cardLayout_->setContentsMargins(18, 18, 18, 18);
    cardLayout_->setSpacing(12);
    outer->addWidget(container_, 0, Qt::AlignHCenter);
    outer->addStretch(1);
    cancelBtn_ = makeButton(QString());
    connect(cancelBtn_, &QPushButton::clicked, this, &ReviewSheet::cancel);
    UISwipeGesture::addRightSwipe(this, [this] { backSwipe(); });
    // A desktop has no on-screen keyboard to make room for (KeyboardAvoidance).
    KeyboardAvoidance::registerScrollView(container_);
}

QPushButton* ReviewSheet::makeButton(const QString& title) {
    auto* button = new QPushButton(title);
    button->setCursor(Qt::PointingHandCursor);
    button->setMinimumHeight(38);
    button->setProperty("sheetBackground", buttonColor());
    button->setStyleSheet(buttonStyle(buttonColor()));
    connect(button, &QPushButton::pressed, button, [button] { animateBackground(button, Qt::white); });
    connect(button, &QPushButton::released, button, [button] { animateBackground(button, buttonColor()); });
    return button;
}

void ReviewSheet::addButtonRow(QPushButton* send) {
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(cancelBtn_);
    row->addWidget(send);
    cardLayout_->addLayout(row);
}

void ReviewSheet::cancel() {
    if (!isBeingDismissed()) dismissViewController(true);
}

void ReviewSheet::dismissKeyboard() {
    if (QWidget* focused = focusWidget()) focused->clearFocus();
    setFocus();
}

UIViewController* ReviewSheet::topPresenterOf(QWidget* window) {
    if (auto* own = qobject_cast<UIWindow*>(window)) return own->topPresentedViewController();
    if (auto* app = ZMVostrelle::sharedVostrelle().window()) return app->topPresentedViewController();
    return nullptr;
}

void ReviewSheet::presentOutcome(UIViewController* presenter, const std::string& title, const std::string& message) {
    UIViewController* top = SourceAddition::topPresenter(presenter);
    if (!top) return;
    auto* popup = new ErrorViewController;
    popup->showWithTitle(title, message, 1, ZMLocalizedString("OK"));
    top->presentViewController(popup, true);
}

void ReviewSheet::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0, 150));
}

void ReviewSheet::mousePressEvent(QMouseEvent* e) {
    dismissKeyboard();
    UIViewController::mousePressEvent(e);
}

void ReviewSheet::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        cancel();
        return;
    }
    UIViewController::keyPressEvent(e);
}
