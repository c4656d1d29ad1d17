#pragma once
// A vertically scrolling list of sections and rows for lists of thousands of
// rows: only the rows on screen have widgets, taken from a reuse pool
// (registerCell / dequeueReusableCell), like the platform table it stands in for.
//
// The screen is the data source and the delegate (two interfaces below).
// Scrolling reports the phases the screens' deferred rebuilds need:
// willBeginDragging, didEndDragging(willDecelerate), didEndDecelerating, and
// didEndScrolling (either end). A touch drag drives them through QScroller; a
// mouse wheel reports begin at the first notch and both ends after a short
// idle; the scroll bar's handle reports begin and end-without-deceleration.
//
// Trailing swipe actions: a right click (context menu) lists them; a leftward
// drag on a row (mouse or touch) reveals them as buttons at the row's end.
// Plain tables pin the current section's header at the top. The keys
// (UITableViewKeyboard.cpp): Up/Down, Page Up/Page Down, Home/End move a
// highlighted row (ringed while the table has the focus), kept whole below
// the pinned header, from the row clicked last or else from the first row on
// screen; Return selects it, Delete runs its destructive swipe action. Keys
// with Alt or Ctrl are left to the screens around the table (Alt+Left goes
// back).
#include <QAbstractScrollArea>
#include <QColor>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "UIKit/UIRefreshControl.h"
#include "UIKit/UITableViewCell.h"

struct IndexPath {
    int section = 0;
    int row = 0;
    bool operator==(const IndexPath& o) const { return section == o.section && row == o.row; }
    bool operator!=(const IndexPath& o) const { return !(*this == o); }
    bool operator<(const IndexPath& o) const { return section != o.section ? section < o.section : row < o.row; }
};

class UITableView;

// One trailing swipe action. The handler gets the action, the row's cell (an
// anchor) and a completion the handler calls when done (true: performed).
struct UIContextualAction {
    enum class Style { Normal, Destructive };
    using Handler = std::function<void(const UIContextualAction&, QWidget* sourceView, std::function<void(bool)> completion)>;
    Style style = Style::Normal;
    QString title;
    QColor backgroundColor;  // invalid: grey for normal, red for destructive
    Handler handler;
};

class UITableViewDataSource {
public:
    virtual ~UITableViewDataSource() = default;
    virtual int numberOfSections(UITableView*) { return 1; }
    virtual int numberOfRows(UITableView*, int section) = 0;
    virtual UITableViewCell* cellForRow(UITableView*, IndexPath indexPath) = 0;
    virtual std::optional<QString> titleForHeader(UITableView*, int section) { return std::nullopt; }
    // The right-edge index strip; empty: none.
    virtual QStringList sectionIndexTitles(UITableView*) { return {}; }
    virtual int sectionForSectionIndexTitle(UITableView*, const QString& title, int index) { return index; }
};

class UITableViewDelegate {
public:
    virtual ~UITableViewDelegate() = default;
    // Row height; UITableView::kUseRowHeight takes the table's rowHeight,
    // UITableView::kAutomaticDimension measures the cell.
    virtual double heightForRow(UITableView*, IndexPath) ;
    // A header widget of the screen's own (the table owns it from then on);
    // nullptr: the default header with titleForHeader.
    virtual QWidget* viewForHeader(UITableView*, int section) { return nullptr; }
    // Header height; kUseRowHeight: the header's own size (0 without a header).
    virtual double heightForHeader(UITableView*, int section);
    virtual void willDisplayHeaderView(UITableView*, QWidget* view, int section) {}
    virtual void willDisplayCell(UITableView*, UITableViewCell* cell, IndexPath) {}
    virtual void didSelectRow(UITableView*, IndexPath) {}
    virtual std::vector<UIContextualAction> trailingSwipeActions(UITableView*, IndexPath) { return {}; }
    // The row's edit menu (Copy...): the context menu lists these after the
    // swipe actions; a swipe does not show them.
    virtual std::vector<UIContextualAction> editMenuActions(UITableView*, IndexPath) { return {}; }
};

class UITableView : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum class Style { Plain, Grouped };
    enum class ScrollPosition { None, Top, Middle, Bottom };
    enum class RowAnimation { None, Fade, Automatic };
    enum class SeparatorStyle { None, SingleLine };
    static constexpr double kAutomaticDimension = -1;
    static constexpr double kUseRowHeight = -2;

    explicit UITableView(Style style = Style::Plain, QWidget* parent = nullptr);
    ~UITableView() override;

    void setDataSource(UITableViewDataSource* ds) { dataSource_ = ds; }
    void setDelegate(UITableViewDelegate* d) { delegate_ = d; }
    Style style() const { return style_; }

    // Reuse: a factory per identifier; dequeue returns a recycled cell or a
    // new one from the factory (nullptr for an unknown identifier).
    void registerCell(const QString& reuseIdentifier, std::function<UITableViewCell*()> factory);
    UITableViewCell* dequeueReusableCell(const QString& reuseIdentifier);
    template <class T>
    T* dequeueReusableCell(const QString& reuseIdentifier) {
        return static_cast<T*>(dequeueReusableCell(reuseIdentifier));
    }

    void reloadData();
    void reloadRows(const std::vector<IndexPath>& rows, RowAnimation animation = RowAnimation::None);
    void reloadSections(const std::vector<int>& sections, RowAnimation animation = RowAnimation::None);
    // The data source has already changed; these update the table to it.
    void insertRows(const std::vector<IndexPath>& rows, RowAnimation animation = RowAnimation::Automatic);
    void deleteRows(const std::vector<IndexPath>& rows, RowAnimation animation = RowAnimation::Automatic);
    void beginUpdates() {}
    void endUpdates() {}

    void setRowHeight(double h);
    double rowHeight() const { return rowHeight_; }
    void setEstimatedRowHeight(double h) { estimatedRowHeight_ = h; }
    void setSeparatorStyle(SeparatorStyle s);
    SeparatorStyle separatorStyle() const { return separatorStyle_; }
    void setSeparatorColor(const QColor& c);
    QColor separatorColor() const;
    void setSectionIndexColor(const QColor& c);
    void setBackgroundColor(const QColor& c);  // transparent: the parent shows through
    void setTableHeaderView(QWidget* view);
    QWidget* tableHeaderView() const { return headerView_; }

    // A card's table: no scrolling of its own; its height follows its content.
    void setSizesToContent(bool on);
    bool sizesToContent() const { return sizesToContent_; }
    int contentHeight();

    void selectRow(IndexPath ip, bool animated, ScrollPosition position = ScrollPosition::None);
    void deselectRow(IndexPath ip, bool animated);
    std::optional<IndexPath> indexPathForSelectedRow() const { return selected_; }
    // The row the keys move (none until a key or a click picks one).
    std::optional<IndexPath> indexPathForHighlightedRow() const { return keyboardRow_; }
    // The row the keys go on from, set again after a reload (not scrolled to:
    // the user may have scrolled away from it).
    void setHighlightedRow(IndexPath ip);

    std::vector<UITableViewCell*> visibleCells() const;
    std::vector<IndexPath> indexPathsForVisibleRows() const;
    UITableViewCell* cellForRow(IndexPath ip) const;  // visible rows only
    std::optional<IndexPath> indexPathForCell(const UITableViewCell* cell) const;
    std::optional<IndexPath> indexPathForRowAt(QPoint viewportPos);
    QRect rectForRow(IndexPath ip);  // content coordinates
    QWidget* headerViewForSection(int section) const;
    void scrollToRow(IndexPath ip, ScrollPosition position, bool animated);
    double contentOffset() const;
    void setContentOffset(double y, bool animated = false);

    int numberOfSections();
    int numberOfRows(int section);

    void setRefreshControl(UIRefreshControl* rc);
    UIRefreshControl* refreshControl() const { return refresh_; }

    bool isDragging() const { return dragging_; }
    bool isDecelerating() const { return decelerating_; }

    // Swipe actions of a row, then its edit menu: shows them as a menu at
    // `globalPos` (what a right click does). The menu stays reachable through activeSwipeMenu().
    QMenu* showSwipeMenu(IndexPath ip, QPoint globalPos);
    QMenu* activeSwipeMenu() const { return swipeMenu_; }
    // Reveals the swipe buttons at the row's end (what a leftward drag does).
    QWidget* revealSwipeActions(IndexPath ip);
    void hideSwipeActions();

    // How many cells the table has ever made (to check the reuse in tests).
    int createdCellCount() const { return createdCells_; }

signals:
    void willBeginDragging();
    void didEndDragging(bool willDecelerate);
    void didEndDecelerating();
    // Any end of a scroll: deceleration ended, or a drag ended without one.
    void didEndScrolling();
    void didScroll();
    void contentHeightChanged(int height);

protected:
    void resizeEvent(QResizeEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* e) override;
    bool event(QEvent* e) override;
    bool viewportEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    friend class UITableViewCell;
    friend class SectionIndexBar;
    struct SectionMetrics {
        int rows = 0;
        double top = 0;
        double headerHeight = 0;
        bool customHeader = false;
        std::vector<double> heights;   // per row
        std::vector<double> offsets;   // per row, relative to the section's first row; size rows+1
        std::vector<char> measured;    // automatic rows measured already
        std::vector<char> automatic;
    };
    void invalidateMetrics() { metricsDirty_ = true; }
    void computeMetrics();
    void recomputeOffsets();
    void layoutVisible();
    void updateScrollRange();
    double rowTop(IndexPath ip) const;
    double rowHeightAt(IndexPath ip) const;
    double topInset() const;
    void recycle(UITableViewCell* cell);
    void recycleAll();
    void dropHeaders();
    QWidget* makeHeader(int section);
    void cellPressed(UITableViewCell* cell);
    void cellReleased(UITableViewCell* cell, bool inside);
    void cellContextMenu(UITableViewCell* cell, QPoint globalPos);
    void cellSwiped(UITableViewCell* cell);
    void runAction(const UIContextualAction& action, IndexPath ip);
    // Keyboard (UITableViewKeyboard.cpp).
    std::optional<IndexPath> stepRows(IndexPath from, int rows);
    std::optional<IndexPath> firstRowOnScreen();
    double pinnedHeaderHeight(int section) const;
    void highlightRow(IndexPath ip);
    void updateHighlightedRow();  // its ring follows the focus
    bool showsHighlightedRowWhole(double viewportHeight) const;
    void keepHighlightedRowInView();  // scrolls up just enough for its bottom
    void beginScrollPhase();
    void endDrag(bool willDecelerate);
    void endDeceleration();
    void pullAtTop(double amount);

    Style style_;
    UITableViewDataSource* dataSource_ = nullptr;
    UITableViewDelegate* delegate_ = nullptr;
    std::map<QString, std::function<UITableViewCell*()>> factories_;
    std::map<QString, std::vector<UITableViewCell*>> pool_;
    std::map<IndexPath, UITableViewCell*> visible_;
    std::map<int, QWidget*> headers_;
    std::vector<QWidget*> headerPool_;
    std::vector<SectionMetrics> sections_;
    double contentHeight_ = 0;
    bool metricsDirty_ = true;
    bool layingOut_ = false;
    double rowHeight_ = 44;
    double estimatedRowHeight_ = 60;
    SeparatorStyle separatorStyle_ = SeparatorStyle::SingleLine;
    QColor separatorColor_;
    QColor background_;
    QPointer<QWidget> headerView_;
    bool sizesToContent_ = false;
    std::optional<IndexPath> selected_;
    std::optional<IndexPath> keyboardRow_;
    int shownHeight_ = 0;  // the viewport's height at the last resize
    bool swallowRelease_ = false;
    QPointer<UIRefreshControl> refresh_;
    QWidget* indexBar_ = nullptr;
    QPointer<QMenu> swipeMenu_;
    QPointer<QWidget> swipePanel_;
    std::optional<IndexPath> swipeRow_;
    int createdCells_ = 0;
    bool dragging_ = false;
    bool decelerating_ = false;
    bool wheelPhase_ = false;
    QTimer wheelIdle_;
    double pullAccumulated_ = 0;
    QTimer pullReset_;
};
