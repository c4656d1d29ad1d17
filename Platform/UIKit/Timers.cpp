#include "UIKit/Timers.h"

#include <QCoreApplication>

std::unique_ptr<UITimer> UITimer::scheduledTimer(double interval, bool repeats, std::function<void()> block) {
    std::unique_ptr<UITimer> t(new UITimer);
    t->timer_ = std::make_unique<QTimer>();
    t->timer_->setInterval(static_cast<int>(interval * 1000));
    t->timer_->setSingleShot(!repeats);
    QObject::connect(t->timer_.get(), &QTimer::timeout, [block = std::move(block)] { block(); });
    t->timer_->start();
    return t;
}

UITimer::~UITimer() { invalidate(); }

void UITimer::invalidate() {
    if (timer_) timer_->stop();
}

bool UITimer::isValid() const { return timer_ && timer_->isActive(); }

DelayedCall DelayedCall::after(double seconds, std::function<void()> block) {
    DelayedCall call;
    call.state_ = std::make_shared<State>();
    std::weak_ptr<State> weak = call.state_;
    QTimer::singleShot(static_cast<int>(seconds * 1000), qApp, [weak, block = std::move(block)] {
        auto state = weak.lock();
        if (!state || state->cancelled) return;
        state->done = true;
        block();
    });
    return call;
}

void DelayedCall::cancel() {
    if (state_) state_->cancelled = true;
}
