#pragma once
// A one-finger (left button) long press on a widget: it begins once the press
// has lasted the minimum duration without moving, and ends when the button is
// released over the widget. Moving beyond the drag distance (before or after
// it began), releasing outside the widget, or the widget going away cancels
// it. A press that began swallows its release, so no click follows it.
#include <QObject>
#include <QPoint>
#include <QTimer>
#include <QWidget>
#include <functional>

class UILongPressGestureRecognizer : public QObject {
    Q_OBJECT
public:
    enum class State { Began, Ended, Cancelled };
    using Action = std::function<void(State)>;

    // Watches `view` (which owns the recognizer). Ended and Cancelled come
    // only after Began.
    static UILongPressGestureRecognizer* add(QWidget* view, double minimumPressSeconds, Action action);

    // Between Began and its end.
    bool isActive() const { return began_; }
    int minimumPressMs() const { return timer_.interval(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    UILongPressGestureRecognizer(QWidget* view, double minimumPressSeconds, Action action);
    void finish(State state);

    QWidget* view_;
    Action action_;
    QTimer timer_;
    QPoint pressPos_;
    bool pressed_ = false;
    bool began_ = false;
};
