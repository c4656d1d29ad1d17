#pragma once
// Timers and delayed calls on the main thread, thin over QTimer. Both stop
// when their handle is invalidated/cancelled or destroyed.
#include <QTimer>
#include <functional>
#include <memory>

class UITimer {
public:
    // Fires every `interval` seconds (once when !repeats) on the main thread.
    static std::unique_ptr<UITimer> scheduledTimer(double interval, bool repeats, std::function<void()> block);
    ~UITimer();
    void invalidate();
    bool isValid() const;

private:
    UITimer() = default;
    std::unique_ptr<QTimer> timer_;
};

// A call after a delay that can be called off.
class DelayedCall {
public:
    DelayedCall() = default;
    static DelayedCall after(double seconds, std::function<void()> block);
    void cancel();
    bool isPending() const { return state_ && !state_->cancelled && !state_->done; }

private:
    struct State {
        bool cancelled = false;
        bool done = false;
    };
    std::shared_ptr<State> state_;
};

// Desktops have no on-screen keyboard to avoid; screens that registered their
// scroll views for it keep working unchanged.
namespace KeyboardAvoidance {
inline void registerScrollView(QWidget*) {}
inline void unregisterScrollView(QWidget*) {}
}  // namespace KeyboardAvoidance
