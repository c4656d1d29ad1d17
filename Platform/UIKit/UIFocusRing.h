#pragma once
// The ring a desktop draws around what the keyboard moved the focus to. A
// widget focused by Tab or Shift+Tab gets a rounded outline in the palette's
// link colour (the tint); the ring follows it while it moves or scrolls (cut to
// what shows of it) and goes when the focus moves by the mouse or by the
// program, as browsers draw :focus-visible. Many of our widgets paint
// themselves (tab buttons, rows, flat buttons) and show no focus of their own.
#include <QPointer>
#include <QWidget>

class UIFocusRing : public QWidget {
    Q_OBJECT
public:
    // One ring for the window and the widgets in it.
    static UIFocusRing* install(QWidget* window);
    QWidget* target() const { return target_; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void paintEvent(QPaintEvent*) override;

private:
    explicit UIFocusRing(QWidget* window);
    void follow(QWidget* target);
    void place();
    QPointer<QWidget> target_;
};
