#pragma once
// A vertically scrolling page that tells its screen how it is scrolled:
// every change of the offset (didScroll), the start of a drag
// (willBeginDragging) and its end with the offset the page will come to rest
// at (willEndDragging).
//
// The offset is the scroll bar's value plus the overshoot of a touch drag
// (QScroller) beyond either end, so it goes below 0 while the page is pulled
// down at the top. Such a pull is only reported by default: the content stays
// where it is and the screen stretches whatever it likes (a banner).
//
// What counts as a drag on a desktop: a touch drag (QScroller), a mouse drag
// of the scroll bar's handle (from press to release), and a run of wheel
// turns, which ends once the wheel has rested for kWheelRestMs.
#include <QPointF>
#include <QScrollArea>
#include <QTimer>

class UIScrollView : public QScrollArea {
    Q_OBJECT
public:
    static constexpr int kWheelRestMs = 150;

    explicit UIScrollView(QWidget* parent = nullptr);

    // The vertical offset in points, negative while pulled down at the top.
    double contentOffsetY() const;
    // Scrolls to `y` (within the range), animated or at once.
    void setContentOffsetY(double y, bool animated);
    bool isDragging() const { return dragging_; }
    // Whether a pull beyond the top moves the content down as well (off by default).
    void setMovesContentOnPull(bool moves) { movesContentOnPull_ = moves; }

signals:
    void didScroll(double y);
    void willBeginDragging();
    // `targetY`: where the page will come to rest (the current offset when it does not glide on).
    void willEndDragging(double velocityY, double targetY);

protected:
    bool event(QEvent* e) override;
    bool viewportEvent(QEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    void beginDrag();
    void endDrag(double velocityY, double targetY);
    bool handleScrollEvent(QEvent* e);
    bool dragging_ = false;
    bool movesContentOnPull_ = false;
    QPointF overshoot_;
    QPoint movedBy_;
    QTimer wheelRest_;
};
