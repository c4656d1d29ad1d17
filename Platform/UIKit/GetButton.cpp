#include "UIKit/GetButton.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPointer>
#include <QPropertyAnimation>
#include <QSequentialAnimationGroup>
#include <QTimer>

#include "UIKit/UIViewController.h"

namespace GetButton {

namespace {

QFont titleFont(QFont font) {
    font.setBold(true);
    font.setPixelSize(13);
    return font;
}

int widthForTitle(const QFont& font, const QString& title) { return QFontMetrics(font).horizontalAdvance(title) + 34; }

}  // namespace

void setTitleFittingWidth(QAbstractButton* button, const QString& title) {
    const QFont bold = titleFont(button->font());
    button->setFont(bold);
    button->setText(title);
    button->setFixedWidth(widthForTitle(bold, title));
}

TitleFittingButton::TitleFittingButton(QWidget* parent) : QPushButton(parent) {
    setFont(titleFont(font()));
    setSizePolicy(QSizePolicy::Fixed, sizePolicy().verticalPolicy());
}

QSize TitleFittingButton::sizeHint() const { return {widthForTitle(font(), text()), QPushButton::sizeHint().height()}; }

void animateButton(QAbstractButton* button) {
    if (!button || button->property("vostrelleBouncing").toBool()) return;
    const int ms = UIView::durationMs(0.12);
    if (ms == 0) return;
    const QRect r = button->geometry();
    const int dx = std::max(1, r.width() / 14), dy = std::max(1, r.height() / 14);
    const QRect small = r.adjusted(dx, dy, -dx, -dy);
    button->setProperty("vostrelleBouncing", true);
    auto* group = new QSequentialAnimationGroup(button);
    auto* down = new QPropertyAnimation(button, "geometry");
    down->setDuration(ms);
    down->setStartValue(r);
    down->setEndValue(small);
    down->setEasingCurve(QEasingCurve::OutQuad);
    auto* up = new QPropertyAnimation(button, "geometry");
    up->setDuration(ms * 2);
    up->setStartValue(small);
    up->setEndValue(r);
    up->setEasingCurve(QEasingCurve::OutBack);
    group->addAnimation(down);
    group->addAnimation(up);
    QPointer<QAbstractButton> guard(button);
    QObject::connect(group, &QAbstractAnimation::finished, button, [guard, r] {
        if (!guard) return;
        guard->setGeometry(r);
        guard->setProperty("vostrelleBouncing", false);
        // Its layout places it again: a press may have retitled it meanwhile.
        guard->updateGeometry();
    });
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

namespace {

class LongPress : public QObject {
public:
    LongPress(QAbstractButton* button, std::function<void(LongPressState)> action)
        : QObject(button), button_(button), action_(std::move(action)) {
        timer_.setSingleShot(true);
        timer_.setInterval(kMinimumPressMs);
        connect(&timer_, &QTimer::timeout, this, [this] {
            began_ = true;
            animateButton(button_);
            if (action_) action_(LongPressState::Began);
        });
        button->installEventFilter(this);
    }
    void setAction(std::function<void(LongPressState)> action) { action_ = std::move(action); }

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        switch (e->type()) {
        case QEvent::MouseButtonPress:
            if (static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
                began_ = false;
                timer_.start();
            }
            return false;
        case QEvent::MouseMove:
            if (began_ && action_) action_(LongPressState::Changed);
            return false;
        case QEvent::MouseButtonRelease:
            timer_.stop();
            if (began_) {
                began_ = false;
                button_->setDown(false);
                if (action_) action_(LongPressState::Ended);
                return true;  // the long press replaces the tap
            }
            return false;
        case QEvent::Hide:
        case QEvent::EnabledChange:
            timer_.stop();
            if (began_) {
                began_ = false;
                if (action_) action_(LongPressState::Cancelled);
            }
            return false;
        default:
            return false;
        }
    }

private:
    QAbstractButton* button_;
    std::function<void(LongPressState)> action_;
    QTimer timer_;
    bool began_ = false;
};

}  // namespace

void addTargetHapticAction(QAbstractButton* button, std::function<void(LongPressState)> action) {
    if (!button) return;
    if (auto* existing = button->findChild<LongPress*>(QString(), Qt::FindDirectChildrenOnly)) {
        existing->setAction(std::move(action));
        return;
    }
    new LongPress(button, std::move(action));
}

}  // namespace GetButton
