#pragma once
// A horizontal strip of items: galleries (screenshots), carousels (banners),
// with optional paging (each scroll settles on an item boundary). The strip is
// small, so every item has its widget.
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
    void reloadData();
    int numberOfItems() const { return static_cast<int>(items_.size()); }
    QWidget* cellForItem(int index) const;
    void scrollToItem(int index, bool animated);
    // The item whose left edge is nearest the visible left edge.
    int currentIndex() const;

signals:
    void currentIndexChanged(int index);
    void didEndDecelerating();

protected:
    void wheelEvent(QWheelEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void settle();
    UICollectionViewDataSource* dataSource_ = nullptr;
    QWidget* strip_;
    std::vector<QWidget*> items_;
    int spacing_ = 12;
    int insetLeft_ = 16, insetRight_ = 16;
    bool paging_ = false;
    int lastIndex_ = -1;
    QTimer settleTimer_;
};
