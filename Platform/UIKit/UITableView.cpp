#include "UIKit/UITableView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollBar>
#include <QScrollEvent>
#include <QScroller>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "UIKit/UIViewController.h"

double UITableViewDelegate::heightForRow(UITableView*, IndexPath) { return UITableView::kUseRowHeight; }
double UITableViewDelegate::heightForHeader(UITableView*, int) { return UITableView::kUseRowHeight; }

// ---- the index strip --------------------------------------------------------------

class SectionIndexBar : public QWidget {
public:
    // Letters as large as a list's secondary text, each on a line tall enough
    // to aim at; a short table packs the lines closer and the letters smaller.
    static constexpr int kWidth = 22;
    static constexpr double kMaxStep = 22;
    static constexpr int kLetterPixels = 15;

    explicit SectionIndexBar(UITableView* table) : QWidget(table), table_(table) {
        setObjectName("sectionIndex");
        setFixedWidth(kWidth);
        setCursor(Qt::PointingHandCursor);
    }
    QStringList titles;
    QColor color;

protected:
    void paintEvent(QPaintEvent*) override {
        if (titles.isEmpty()) return;
        QPainter p(this);
        QFont f = font();
        f.setBold(true);
        f.setPixelSize(std::clamp(static_cast<int>(step() * 0.7), 8, kLetterPixels));
        p.setFont(f);
        p.setPen(color.isValid() ? color : palette().color(QPalette::Link));
        for (int i = 0; i < titles.size(); ++i) p.drawText(titleRect(i), Qt::AlignCenter, titles[i]);
    }
    void mousePressEvent(QMouseEvent* e) override { pick(e->position().y()); }
    void mouseMoveEvent(QMouseEvent* e) override { pick(e->position().y()); }

private:
    double step() const { return titles.isEmpty() ? 0 : std::min(kMaxStep, height() / static_cast<double>(titles.size())); }
    double top() const { return (height() - step() * titles.size()) / 2; }
    // Where a title is drawn is where a click picks it.
    QRectF titleRect(int i) const { return QRectF(0, top() + i * step(), width(), step()); }
    void pick(double y) {
        if (titles.isEmpty() || !table_->dataSource_) return;
        const int i = std::clamp(static_cast<int>(std::floor((y - top()) / step())), 0, static_cast<int>(titles.size()) - 1);
        const int section = table_->dataSource_->sectionForSectionIndexTitle(table_, titles[i], i);
        if (section < 0 || section >= table_->numberOfSections()) return;
        table_->setContentOffset(table_->sections_[section].top, false);
    }
    UITableView* table_;
};

// ---- construction -------------------------------------------------------------------

UITableView::UITableView(Style style, QWidget* parent) : QAbstractScrollArea(parent), style_(style) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScrollBar()->setSingleStep(24);
    viewport()->setAutoFillBackground(false);
    indexBar_ = new SectionIndexBar(this);
    indexBar_->hide();

    QScroller::grabGesture(viewport(), QScroller::TouchGesture);
    connect(QScroller::scroller(viewport()), &QScroller::stateChanged, this, [this](QScroller::State state) {
        switch (state) {
        case QScroller::Dragging:
            beginScrollPhase();
            break;
        case QScroller::Scrolling:
            if (dragging_) endDrag(true);
            decelerating_ = true;
            break;
        case QScroller::Inactive:
            if (decelerating_) {
                endDeceleration();
            } else if (dragging_) {
                endDrag(false);
            }
            break;
        default:
            break;
        }
    });
    connect(verticalScrollBar(), &QScrollBar::sliderPressed, this, [this] { beginScrollPhase(); });
    connect(verticalScrollBar(), &QScrollBar::sliderReleased, this, [this] {
        if (dragging_) endDrag(false);
    });
    wheelIdle_.setSingleShot(true);
    wheelIdle_.setInterval(160);
    connect(&wheelIdle_, &QTimer::timeout, this, [this] {
        wheelPhase_ = false;
        if (dragging_) endDrag(true);
        decelerating_ = true;
        endDeceleration();
    });
    pullReset_.setSingleShot(true);
    pullReset_.setInterval(600);
    connect(&pullReset_, &QTimer::timeout, this, [this] { pullAccumulated_ = 0; });
}

UITableView::~UITableView() = default;

void UITableView::registerCell(const QString& reuseIdentifier, std::function<UITableViewCell*()> factory) {
    factories_[reuseIdentifier] = std::move(factory);
}

UITableViewCell* UITableView::dequeueReusableCell(const QString& reuseIdentifier) {
    auto& pool = pool_[reuseIdentifier];
    if (!pool.empty()) {
        UITableViewCell* cell = pool.back();
        pool.pop_back();
        cell->setSelected(false);
        cell->setHighlighted(false);
        cell->prepareForReuse();
        return cell;
    }
    auto it = factories_.find(reuseIdentifier);
    if (it == factories_.end()) return nullptr;
    UITableViewCell* cell = it->second();
    if (!cell) return nullptr;
    cell->reuseIdentifier_ = reuseIdentifier;
    ++createdCells_;
    return cell;
}

// ---- metrics -------------------------------------------------------------------------

int UITableView::numberOfSections() {
    computeMetrics();
    return static_cast<int>(sections_.size());
}

int UITableView::numberOfRows(int section) {
    computeMetrics();
    return section >= 0 && section < static_cast<int>(sections_.size()) ? sections_[section].rows : 0;
}

double UITableView::topInset() const {
    double inset = refresh_ && refresh_->isRefreshing() ? UIRefreshControl::kHeight : 0;
    if (headerView_) inset += headerView_->isHidden() ? 0 : headerView_->sizeHint().height();
    if (style_ == Style::Grouped) inset += 12;
    return inset;
}

void UITableView::computeMetrics() {
    if (!metricsDirty_) return;
    metricsDirty_ = false;
    sections_.clear();
    if (!dataSource_) {
        contentHeight_ = 0;
        return;
    }
    const int n = std::max(0, dataSource_->numberOfSections(this));
    sections_.resize(n);
    for (int s = 0; s < n; ++s) {
        auto& m = sections_[s];
        m.rows = std::max(0, dataSource_->numberOfRows(this, s));
        double hh = delegate_ ? delegate_->heightForHeader(this, s) : kUseRowHeight;
        if (hh < 0) {
            const bool titled = dataSource_->titleForHeader(this, s).has_value();
            hh = titled ? (style_ == Style::Grouped ? 38 : 28) : (style_ == Style::Grouped && s > 0 ? 20 : 0);
        }
        m.headerHeight = hh;
        m.heights.assign(m.rows, rowHeight_);
        m.automatic.assign(m.rows, 0);
        m.measured.assign(m.rows, 0);
        if (delegate_) {
            for (int r = 0; r < m.rows; ++r) {
                const double h = delegate_->heightForRow(this, {s, r});
                if (h == kAutomaticDimension || (h == kUseRowHeight && rowHeight_ == kAutomaticDimension)) {
                    m.automatic[r] = 1;
                    m.heights[r] = estimatedRowHeight_;
                } else if (h >= 0) {
                    m.heights[r] = h;
                }
            }
        } else if (rowHeight_ == kAutomaticDimension) {
            std::fill(m.automatic.begin(), m.automatic.end(), 1);
            std::fill(m.heights.begin(), m.heights.end(), estimatedRowHeight_);
        }
    }
    recomputeOffsets();
}

void UITableView::recomputeOffsets() {
    double y = topInset();
    for (auto& m : sections_) {
        m.top = y;
        m.offsets.resize(m.rows + 1);
        double acc = 0;
        for (int r = 0; r < m.rows; ++r) {
            m.offsets[r] = acc;
            acc += m.heights[r];
        }
        m.offsets[m.rows] = acc;
        y += m.headerHeight + acc;
    }
    if (style_ == Style::Grouped) y += 12;
    contentHeight_ = y;
    updateScrollRange();
}

int UITableView::contentHeight() {
    computeMetrics();
    return static_cast<int>(std::ceil(contentHeight_));
}

void UITableView::updateScrollRange() {
    const int h = static_cast<int>(std::ceil(contentHeight_));
    if (sizesToContent_) {
        verticalScrollBar()->setRange(0, 0);
        if (height() != h) {
            setFixedHeight(h);
            emit contentHeightChanged(h);
        }
        return;
    }
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, h - viewport()->height()));
}

double UITableView::rowTop(IndexPath ip) const {
    const auto& m = sections_[ip.section];
    return m.top + m.headerHeight + m.offsets[ip.row];
}

double UITableView::rowHeightAt(IndexPath ip) const { return sections_[ip.section].heights[ip.row]; }

QRect UITableView::rectForRow(IndexPath ip) {
    computeMetrics();
    if (ip.section < 0 || ip.section >= static_cast<int>(sections_.size()) || ip.row < 0 ||
        ip.row >= sections_[ip.section].rows)
        return {};
    return QRect(0, static_cast<int>(rowTop(ip)), viewport()->width(), static_cast<int>(rowHeightAt(ip)));
}

// ---- layout of the visible rows --------------------------------------------------------

void UITableView::recycle(UITableViewCell* cell) {
    cell->hide();
    if (cell->reuseIdentifier().isEmpty()) {
        cell->deleteLater();
        return;
    }
    pool_[cell->reuseIdentifier()].push_back(cell);
}

void UITableView::recycleAll() {
    for (auto& [ip, cell] : visible_) recycle(cell);
    visible_.clear();
    dropHeaders();
}

void UITableView::dropHeaders() {
    for (auto& [s, h] : headers_) {
        h->hide();
        if (h->property("vostrelleDefaultHeader").toBool()) {
            headerPool_.push_back(h);
        } else {
            h->deleteLater();
        }
    }
    headers_.clear();
}

QWidget* UITableView::makeHeader(int section) {
    if (delegate_) {
        if (QWidget* custom = delegate_->viewForHeader(this, section)) {
            custom->setParent(viewport());
            return custom;
        }
    }
    const auto title = dataSource_->titleForHeader(this, section);
    if (!title) return nullptr;
    QLabel* label = nullptr;
    if (!headerPool_.empty()) {
        label = static_cast<QLabel*>(headerPool_.back());
        headerPool_.pop_back();
    } else {
        label = new QLabel(viewport());
        label->setObjectName("sectionHeader");
        label->setProperty("vostrelleDefaultHeader", true);
        label->setContentsMargins(16, 0, 16, style_ == Style::Grouped ? 6 : 0);
        label->setAlignment(style_ == Style::Grouped ? (Qt::AlignLeft | Qt::AlignBottom) : (Qt::AlignLeft | Qt::AlignVCenter));
        label->setAutoFillBackground(style_ == Style::Plain);
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
    }
    label->setText(style_ == Style::Grouped ? title->toUpper() : *title);
    return label;
}

void UITableView::layoutVisible() {
    if (layingOut_ || !dataSource_) return;
    layingOut_ = true;
    for (int pass = 0; pass < 4; ++pass) {
        computeMetrics();
        const double y0 = sizesToContent_ ? 0 : verticalScrollBar()->value();
        const double y1 = y0 + (sizesToContent_ ? contentHeight_ : viewport()->height());
        const int width = viewport()->width() - (indexBar_->isHidden() ? 0 : indexBar_->width());

        std::set<IndexPath> wanted;
        std::set<int> wantedHeaders;
        for (int s = 0; s < static_cast<int>(sections_.size()); ++s) {
            const auto& m = sections_[s];
            const double sTop = m.top, sBottom = m.top + m.headerHeight + m.offsets[m.rows];
            if (sBottom < y0 || sTop > y1) continue;
            // Plain tables keep the header of the section at the top pinned there.
            if (m.headerHeight > 0 && (style_ == Style::Plain || sTop + m.headerHeight >= y0)) wantedHeaders.insert(s);
            const double base = m.top + m.headerHeight;
            // First row whose bottom is below y0.
            auto it = std::upper_bound(m.offsets.begin(), m.offsets.end() - 1, y0 - base);
            int r = std::max(0, static_cast<int>(it - m.offsets.begin()) - 1);
            for (; r < m.rows && base + m.offsets[r] < y1; ++r) wanted.insert({s, r});
        }
        for (auto it = visible_.begin(); it != visible_.end();) {
            if (!wanted.count(it->first)) {
                recycle(it->second);
                it = visible_.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = headers_.begin(); it != headers_.end();) {
            if (!wantedHeaders.count(it->first)) {
                it->second->hide();
                if (it->second->property("vostrelleDefaultHeader").toBool())
                    headerPool_.push_back(it->second);
                else
                    it->second->deleteLater();
                it = headers_.erase(it);
            } else {
                ++it;
            }
        }
        bool heightsChanged = false;
        for (const auto& ip : wanted) {
            UITableViewCell* cell = nullptr;
            auto found = visible_.find(ip);
            const bool fresh = found == visible_.end();
            if (!fresh) {
                cell = found->second;
            } else {
                cell = dataSource_->cellForRow(this, ip);
                if (!cell) {
                    cell = new UITableViewCell();
                    ++createdCells_;
                }
                if (cell->parentWidget() != viewport()) cell->setParent(viewport());
                cell->table_ = this;
                cell->setSelected(selected_ && *selected_ == ip);
                cell->setHighlighted(keyboardRow_ && *keyboardRow_ == ip);
                visible_[ip] = cell;
            }
            auto& m = sections_[ip.section];
            if (m.automatic[ip.row] && !m.measured[ip.row]) {
                const int h = cell->hasHeightForWidth() ? cell->heightForWidth(width) : cell->sizeHint().height();
                m.measured[ip.row] = 1;
                if (h > 0 && std::abs(h - m.heights[ip.row]) > 0.5) {
                    m.heights[ip.row] = h;
                    heightsChanged = true;
                }
            }
            if (fresh && delegate_) delegate_->willDisplayCell(this, cell, ip);
        }
        if (heightsChanged) {
            recomputeOffsets();
            continue;  // positions moved: lay out again with the measured heights
        }
        for (auto& [ip, cell] : visible_) {
            cell->setGeometry(0, static_cast<int>(rowTop(ip) - y0), width, static_cast<int>(rowHeightAt(ip)));
            if (cell->isHidden()) cell->show();
        }
        for (int s : wantedHeaders) {
            QWidget* h = nullptr;
            auto found = headers_.find(s);
            if (found != headers_.end()) {
                h = found->second;
            } else {
                h = makeHeader(s);
                if (!h) continue;
                headers_[s] = h;
                if (delegate_) delegate_->willDisplayHeaderView(this, h, s);
            }
            const auto& m = sections_[s];
            double top = m.top - y0;
            if (style_ == Style::Plain && !sizesToContent_) {
                const double sectionBottom = m.top + m.headerHeight + m.offsets[m.rows] - y0;
                top = std::min(std::max(top, 0.0), sectionBottom - m.headerHeight);
            }
            h->setGeometry(0, static_cast<int>(top), width, static_cast<int>(m.headerHeight));
            h->show();
            h->raise();
        }
        if (headerView_) {
            const int top = refresh_ && refresh_->isRefreshing() ? UIRefreshControl::kHeight : 0;
            headerView_->setGeometry(0, static_cast<int>(top - y0), width, headerView_->sizeHint().height());
        }
        if (refresh_ && refresh_->isRefreshing()) refresh_->setGeometry(0, static_cast<int>(-y0), width, UIRefreshControl::kHeight);
        if (swipePanel_ && swipeRow_) {
            auto it = visible_.find(*swipeRow_);
            if (it == visible_.end()) {
                hideSwipeActions();
            } else {
                const QRect r = it->second->geometry();
                swipePanel_->setGeometry(r.right() - swipePanel_->width() + 1, r.y(), swipePanel_->width(), r.height());
            }
        }
        break;
    }
    layingOut_ = false;
}

// ---- reloads ----------------------------------------------------------------------------

void UITableView::reloadData() {
    hideSwipeActions();
    keyboardRow_.reset();
    recycleAll();
    selected_.reset();
    invalidateMetrics();
    computeMetrics();
    if (dataSource_) {
        const QStringList titles = sizesToContent_ ? QStringList{} : dataSource_->sectionIndexTitles(this);
        auto* bar = static_cast<SectionIndexBar*>(indexBar_);
        bar->titles = titles;
        bar->setVisible(!titles.isEmpty());
        bar->setGeometry(viewport()->geometry().right() - bar->width() + 1, viewport()->y(), bar->width(), viewport()->height());
        bar->raise();
    }
    layoutVisible();
}

void UITableView::reloadRows(const std::vector<IndexPath>& rows, RowAnimation) {
    bool heights = false;
    for (const auto& ip : rows) {
        auto it = visible_.find(ip);
        if (it != visible_.end()) {
            recycle(it->second);
            visible_.erase(it);
        }
        if (ip.section < static_cast<int>(sections_.size()) && ip.row < sections_[ip.section].rows &&
            sections_[ip.section].automatic[ip.row]) {
            sections_[ip.section].measured[ip.row] = 0;
            heights = true;
        }
    }
    if (heights) recomputeOffsets();
    layoutVisible();
}

void UITableView::reloadSections(const std::vector<int>&, RowAnimation) { reloadData(); }

// ---- appearance ----------------------------------------------------------------------------

void UITableView::setRowHeight(double h) {
    rowHeight_ = h;
    invalidateMetrics();
    layoutVisible();
}

void UITableView::setSeparatorStyle(SeparatorStyle s) {
    separatorStyle_ = s;
    for (auto& [ip, c] : visible_) c->update();
}

void UITableView::setSeparatorColor(const QColor& c) {
    separatorColor_ = c;
    for (auto& [ip, cell] : visible_) cell->update();
}

QColor UITableView::separatorColor() const {
    return separatorColor_.isValid() ? separatorColor_ : palette().color(QPalette::Mid);
}

void UITableView::setSectionIndexColor(const QColor& c) {
    static_cast<SectionIndexBar*>(indexBar_)->color = c;
    indexBar_->update();
}

void UITableView::setBackgroundColor(const QColor& c) {
    background_ = c;
    QPalette pal = viewport()->palette();
    pal.setColor(QPalette::Window, c);
    viewport()->setPalette(pal);
    // A scroll area's viewport fills with Base (the cells' colour) by default.
    viewport()->setBackgroundRole(QPalette::Window);
    viewport()->setAutoFillBackground(c.isValid() && c.alpha() > 0);
    setAutoFillBackground(false);
}

void UITableView::setTableHeaderView(QWidget* view) {
    // Setting the same header again (after resizing it) only lays it out anew.
    if (headerView_ && headerView_ != view) headerView_->deleteLater();
    headerView_ = view;
    if (view) {
        view->setParent(viewport());
        view->show();
    }
    invalidateMetrics();
    layoutVisible();
}

void UITableView::setSizesToContent(bool on) {
    sizesToContent_ = on;
    setVerticalScrollBarPolicy(on ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    if (on) {
        QScroller::ungrabGesture(viewport());
    } else {
        setMinimumHeight(0);
        setMaximumHeight(QWIDGETSIZE_MAX);
        QScroller::grabGesture(viewport(), QScroller::TouchGesture);
    }
    invalidateMetrics();
    reloadData();
}

// ---- selection and queries ---------------------------------------------------------------------

void UITableView::selectRow(IndexPath ip, bool animated, ScrollPosition position) {
    if (selected_) deselectRow(*selected_, false);
    selected_ = ip;
    if (auto* c = cellForRow(ip)) c->setSelected(true, animated);
    if (position != ScrollPosition::None) scrollToRow(ip, position, animated);
}

void UITableView::deselectRow(IndexPath ip, bool animated) {
    if (selected_ && *selected_ == ip) selected_.reset();
    if (auto* c = cellForRow(ip)) {
        // The row the keys highlighted stays drawn: a screen deselects the row
        // it opens, and the keys go on from it when the screen comes back.
        if (!keyboardRow_ || *keyboardRow_ != ip) c->setHighlighted(false);
        if (!animated || UIView::durationMs(0.3) == 0) {
            c->setSelected(false);
        } else {
            QPointer<UITableViewCell> guard(c);
            QTimer::singleShot(UIView::durationMs(0.3), c, [guard] {
                if (guard) guard->setSelected(false);
            });
        }
    }
}

std::vector<UITableViewCell*> UITableView::visibleCells() const {
    std::vector<UITableViewCell*> out;
    for (auto& [ip, c] : visible_) out.push_back(c);
    return out;
}

std::vector<IndexPath> UITableView::indexPathsForVisibleRows() const {
    std::vector<IndexPath> out;
    const int y0 = sizesToContent_ ? 0 : verticalScrollBar()->value();
    const int y1 = y0 + viewport()->height();
    for (auto& [ip, c] : visible_) {
        const double top = rowTop(ip);
        if (top + rowHeightAt(ip) > y0 && top < y1) out.push_back(ip);
    }
    return out;
}

UITableViewCell* UITableView::cellForRow(IndexPath ip) const {
    auto it = visible_.find(ip);
    return it == visible_.end() ? nullptr : it->second;
}

std::optional<IndexPath> UITableView::indexPathForCell(const UITableViewCell* cell) const {
    for (auto& [ip, c] : visible_)
        if (c == cell) return ip;
    return std::nullopt;
}

std::optional<IndexPath> UITableView::indexPathForRowAt(QPoint pos) {
    for (auto& [ip, c] : visible_)
        if (c->geometry().contains(pos)) return ip;
    return std::nullopt;
}

QWidget* UITableView::headerViewForSection(int section) const {
    auto it = headers_.find(section);
    return it == headers_.end() ? nullptr : it->second;
}

double UITableView::contentOffset() const { return verticalScrollBar()->value(); }

void UITableView::setContentOffset(double y, bool animated) {
    const int target = std::clamp(static_cast<int>(y), verticalScrollBar()->minimum(), verticalScrollBar()->maximum());
    const int ms = animated ? UIView::durationMs(0.3) : 0;
    if (ms > 0) {
        auto* anim = new QPropertyAnimation(verticalScrollBar(), "value", this);
        anim->setDuration(ms);
        anim->setEasingCurve(QEasingCurve::OutCubic);
        anim->setEndValue(target);
        anim->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        verticalScrollBar()->setValue(target);
        layoutVisible();
    }
}

void UITableView::scrollToRow(IndexPath ip, ScrollPosition position, bool animated) {
    computeMetrics();
    if (ip.section < 0 || ip.section >= static_cast<int>(sections_.size())) return;
    if (sections_[ip.section].rows == 0) {
        setContentOffset(sections_[ip.section].top, animated);
        return;
    }
    ip.row = std::clamp(ip.row, 0, sections_[ip.section].rows - 1);
    const double top = rowTop(ip), h = rowHeightAt(ip), vh = viewport()->height();
    double y = contentOffset();
    switch (position) {
    case ScrollPosition::Top:
        y = top;
        break;
    case ScrollPosition::Middle:
        y = top - (vh - h) / 2;
        break;
    case ScrollPosition::Bottom:
        y = top + h - vh;
        break;
    case ScrollPosition::None:
        if (top < y) y = top;
        else if (top + h > y + vh) y = top + h - vh;
        break;
    }
    setContentOffset(y, animated);
}

// ---- events ----------------------------------------------------------------------------------

void UITableView::resizeEvent(QResizeEvent* e) {
    // A highlighted row that showed whole stays in view when the list gets shorter.
    const bool keepHighlighted = shownHeight_ > 0 && !sizesToContent_ && showsHighlightedRowWhole(shownHeight_);
    QAbstractScrollArea::resizeEvent(e);
    shownHeight_ = viewport()->height();
    bool anyAutomatic = false;
    for (auto& m : sections_)
        for (int r = 0; r < m.rows; ++r)
            if (m.automatic[r]) {
                m.measured[r] = 0;
                anyAutomatic = true;
            }
    if (anyAutomatic) recomputeOffsets();
    updateScrollRange();
    indexBar_->setGeometry(viewport()->geometry().right() - indexBar_->width() + 1, viewport()->y(), indexBar_->width(),
                           viewport()->height());
    if (keepHighlighted) keepHighlightedRowInView();
    layoutVisible();
}

void UITableView::scrollContentsBy(int, int) {
    hideSwipeActions();
    layoutVisible();
    emit didScroll();
}

void UITableView::beginScrollPhase() {
    if (dragging_) return;
    dragging_ = true;
    decelerating_ = false;
    emit willBeginDragging();
}

void UITableView::endDrag(bool willDecelerate) {
    dragging_ = false;
    emit didEndDragging(willDecelerate);
    if (!willDecelerate) emit didEndScrolling();
}

void UITableView::endDeceleration() {
    decelerating_ = false;
    emit didEndDecelerating();
    emit didEndScrolling();
}

void UITableView::pullAtTop(double amount) {
    if (!refresh_ || refresh_->isRefreshing()) return;
    pullAccumulated_ += amount;
    pullReset_.start();
    if (pullAccumulated_ >= 360) {
        pullAccumulated_ = 0;
        refresh_->triggerByUser();
    }
}

void UITableView::wheelEvent(QWheelEvent* e) {
    if (sizesToContent_) {
        e->ignore();  // a card's table lets its page scroll
        return;
    }
    const int dy = e->angleDelta().y();
    if (dy > 0 && verticalScrollBar()->value() == verticalScrollBar()->minimum()) {
        pullAtTop(dy);
    } else if (dy < 0) {
        pullAccumulated_ = 0;
    }
    if (!wheelPhase_) {
        wheelPhase_ = true;
        beginScrollPhase();
    }
    wheelIdle_.start();
    QAbstractScrollArea::wheelEvent(e);
}

bool UITableView::event(QEvent* e) {
    if (e->type() == QEvent::Scroll) {
        auto* se = static_cast<QScrollEvent*>(e);
        if (se->overshootDistance().y() > 70 && verticalScrollBar()->value() == 0 && refresh_) {
            // Content pulled down past the top (QScroller overshoot).
            if (!refresh_->isRefreshing()) refresh_->triggerByUser();
        }
    }
    return QAbstractScrollArea::event(e);
}

bool UITableView::viewportEvent(QEvent* e) {
    if (e->type() == QEvent::MouseButtonPress) hideSwipeActions();
    return QAbstractScrollArea::viewportEvent(e);
}

void UITableView::setRefreshControl(UIRefreshControl* rc) {
    if (refresh_) refresh_->deleteLater();
    refresh_ = rc;
    if (!rc) return;
    rc->setParent(viewport());
    connect(rc, &UIRefreshControl::refreshingChanged, this, [this](bool on) {
        const double offset = contentOffset();
        invalidateMetrics();
        computeMetrics();
        if (on) {
            verticalScrollBar()->setValue(0);
        } else {
            verticalScrollBar()->setValue(static_cast<int>(offset));
        }
        layoutVisible();
    });
}

// ---- cells' input ------------------------------------------------------------------------------

void UITableView::cellPressed(UITableViewCell* cell) {
    swallowRelease_ = false;
    if (swipePanel_) {
        // The tap only closes the revealed actions.
        hideSwipeActions();
        swallowRelease_ = true;
        return;
    }
    if (cell->selectionStyle() != UITableViewCell::SelectionStyle::None) cell->setHighlighted(true);
}

void UITableView::cellReleased(UITableViewCell* cell, bool inside) {
    cell->setHighlighted(false);
    if (swallowRelease_) {
        swallowRelease_ = false;
        return;
    }
    if (!inside) return;
    auto ip = indexPathForCell(cell);
    if (!ip) return;
    if (selected_ && *selected_ != *ip) {
        if (auto* old = cellForRow(*selected_)) old->setSelected(false);
    }
    selected_ = *ip;
    // The keys go on from the row clicked.
    if (keyboardRow_ && *keyboardRow_ != *ip)
        if (auto* old = cellForRow(*keyboardRow_)) old->setHighlighted(false);
    keyboardRow_ = *ip;
    cell->setSelected(true);
    if (delegate_) delegate_->didSelectRow(this, *ip);
}

void UITableView::runAction(const UIContextualAction& action, IndexPath ip) {
    hideSwipeActions();
    if (!action.handler) return;
    QWidget* source = cellForRow(ip);
    action.handler(action, source ? source : viewport(), [](bool) {});
}

void UITableView::cellContextMenu(UITableViewCell* cell, QPoint globalPos) {
    if (auto ip = indexPathForCell(cell)) showSwipeMenu(*ip, globalPos);
}

QMenu* UITableView::showSwipeMenu(IndexPath ip, QPoint globalPos) {
    if (!delegate_) return nullptr;
    const auto actions = delegate_->trailingSwipeActions(this, ip);
    const auto editActions = delegate_->editMenuActions(this, ip);
    if (actions.empty() && editActions.empty()) return nullptr;
    if (swipeMenu_) swipeMenu_->deleteLater();
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const auto& a : actions) {
        QPixmap swatch(12, 12);
        swatch.fill(a.backgroundColor.isValid() ? a.backgroundColor
                                                : (a.style == UIContextualAction::Style::Destructive ? QColor(255, 59, 48)
                                                                                                     : QColor(142, 142, 147)));
        QAction* qa = menu->addAction(QIcon(swatch), a.title);
        connect(qa, &QAction::triggered, this, [this, a, ip] { runAction(a, ip); });
    }
    if (!actions.empty() && !editActions.empty()) menu->addSeparator();
    for (const auto& a : editActions) {
        QAction* qa = menu->addAction(a.title);
        connect(qa, &QAction::triggered, this, [this, a, ip] { runAction(a, ip); });
    }
    swipeMenu_ = menu;
    menu->popup(globalPos);
    return menu;
}

void UITableView::cellSwiped(UITableViewCell* cell) {
    if (auto ip = indexPathForCell(cell)) revealSwipeActions(*ip);
}

QWidget* UITableView::revealSwipeActions(IndexPath ip) {
    hideSwipeActions();
    if (!delegate_) return nullptr;
    UITableViewCell* cell = cellForRow(ip);
    if (!cell) return nullptr;
    const auto actions = delegate_->trailingSwipeActions(this, ip);
    if (actions.empty()) return nullptr;
    auto* panel = new QWidget(viewport());
    panel->setObjectName("swipeActions");
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    int w = 0;
    // The first action sits at the row's end, as on the platform.
    for (auto it = actions.rbegin(); it != actions.rend(); ++it) {
        const auto& a = *it;
        auto* b = new QPushButton(a.title, panel);
        const QColor bg = a.backgroundColor.isValid()
                              ? a.backgroundColor
                              : (a.style == UIContextualAction::Style::Destructive ? QColor(255, 59, 48) : QColor(142, 142, 147));
        b->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border: none; padding: 0 14px; font-weight: bold; }")
                             .arg(bg.name()));
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        b->setMinimumWidth(76);
        w += std::max(76, b->sizeHint().width());
        connect(b, &QPushButton::clicked, this, [this, a, ip] { runAction(a, ip); });
        row->addWidget(b);
    }
    const QRect r = cell->geometry();
    panel->setGeometry(r.right() - w + 1, r.y(), w, r.height());
    panel->show();
    panel->raise();
    swipePanel_ = panel;
    swipeRow_ = ip;
    return panel;
}

void UITableView::hideSwipeActions() {
    if (swipePanel_) swipePanel_->deleteLater();
    swipePanel_ = nullptr;
    swipeRow_.reset();
}
