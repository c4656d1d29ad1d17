#pragma once
// A horizontal strip of items: galleries (screenshots), carousels (banners),
// with optional paging (each scroll settles on an item boundary). The strip is
// small, so every item has its widget.
//
// The user scrolls it with a horizontal wheel, a touch swipe or by dragging
// it with the mouse; those report willBeginDragging when they start and
// didEndDragging then didEndDecelerating when they end. A click on an item
// selects it unless the press was a drag or the data source declines; so does
// Return on the strip the keyboard focus is on, for the item in view.
#include <QPointer>
#include <QScrollArea>
#include <QTimer>
#include <functional>
#include <vector>

class UICollectionView;

class UICollectionViewDataSource {
public:
    virtual ~UICollectionViewDataSource() = default;
    virtual int numberOfItems(UICollectionView*) = 0;
    // A new widget for the item (the strip owns it).
    virtual QWidget* cellForItem(UICollectionView*, int index) = 0;
    virtual QSize sizeForItem(UICollectionView*, int index) = 0;
    virtual void didSelectItem(UICollectionView*, int index) {}
    // Asked on the release of a click (not of a drag) before didSelectItem.
    virtual bool shouldSelectItem(UICollectionView*, int index) { return true; }
};

class UICollectionView : public QScrollArea {
    Q_OBJECT
public:
    explicit UICollectionView(QWidget* parent = nullptr);
    void setDataSource(UICollectionViewDataSource* ds) { dataSource_ = ds; }
    void setSpacing(int s) { spacing_ = s; }
    void setContentInsets(int left, int right) {
        insetLeft_ = left;
        insetRight_ = right;
    }
    void setPagingEnabled(bool on) { paging_ = on; }
    bool isPagingEnabled() const { return paging_; }
    // New widgets for every item, the strip back at its start.
    void reloadData();
    // The same widgets placed again at the sizes the data source gives now,
    // the item in view kept in view: what an item is in the middle of (a
    // press, an animation) carries on. With another number of items it
    // reloads instead.
    void layoutItems();
    int numberOfItems() const { return static_cast<int>(items_.size()); }
    QWidget* cellForItem(int index) const;
    enum class ScrollPosition { Left, CenteredHorizontally };
    void scrollToItem(int index, bool animated, ScrollPosition position = ScrollPosition::Left);
    // The offset scrollToItem goes to (within the scrollable range).
    int offsetForItem(int index, ScrollPosition position) const;
    // The item whose left edge is nearest the visible left edge.
    int currentIndex() const;
    // The horizontal scroll offset.
    int contentOffset() const;
    void setContentOffset(int x);
    bool isDragging() const { return dragging_; }

signals:
    void currentIndexChanged(int index);
    void willBeginDragging();
    void didEndDragging(bool willDecelerate);
    void didEndDecelerating();

protected:
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    // Sizes and places items_ side by side; the strip and the view follow.
    void placeItems();
    void settle();
    void beginDragging();
    UICollectionViewDataSource* dataSource_ = nullptr;
    QWidget* strip_;
    std::vector<QWidget*> items_;
    int spacing_ = 12;
    int insetLeft_ = 16, insetRight_ = 16;
    bool paging_ = false;
    int lastIndex_ = -1;
    QTimer settleTimer_;
    bool dragging_ = false;
    bool mousePressed_ = false;
    QPoint pressPos_;
    int pressOffset_ = 0;
};
