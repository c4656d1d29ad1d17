// The keyboard of UITableView: a highlighted row that the arrows, the page
// keys, Home and End move and Return and Delete act on. A list of tens of
// thousands of rows is read from where the user looks: the first key picks
// the row clicked last, else the first row whole on screen, never the first
// row of the list; the row moved to is scrolled whole into view below the
// header a plain table pins over the rows. A row shown whole stays in view
// when the list gets shorter (the queue bar came).
#include <QApplication>
#include <QKeyEvent>
#include <algorithm>
#include <cstdlib>

#include "UIKit/UITableView.h"

double UITableView::pinnedHeaderHeight(int section) const {
    if (style_ != Style::Plain || sizesToContent_ || section < 0 || section >= static_cast<int>(sections_.size())) return 0;
    return sections_[section].headerHeight;
}

std::optional<IndexPath> UITableView::stepRows(IndexPath from, int rows) {
    // One row at a time across sections (empty ones skipped), stopping at either end.
    const int count = static_cast<int>(sections_.size());
    const int delta = rows > 0 ? 1 : -1;
    std::optional<IndexPath> at;
    IndexPath here = from;
    for (int n = std::abs(rows); n > 0; --n) {
        int s = here.section, r = here.row + delta;
        while (s >= 0 && s < count && (r < 0 || r >= sections_[s].rows)) {
            s += delta;
            if (s >= 0 && s < count) r = delta > 0 ? 0 : sections_[s].rows - 1;
        }
        if (s < 0 || s >= count) break;
        here = {s, r};
        at = here;
    }
    return at;
}

std::optional<IndexPath> UITableView::firstRowOnScreen() {
    layoutVisible();
    const double y = contentOffset();
    for (const auto& [ip, cell] : visible_)
        if (rowTop(ip) + 0.5 >= y + pinnedHeaderHeight(ip.section)) return ip;
    if (!visible_.empty()) return visible_.begin()->first;
    return stepRows({0, -1}, 1);
}

void UITableView::highlightRow(IndexPath ip) {
    if (keyboardRow_)
        if (auto* c = cellForRow(*keyboardRow_)) c->setHighlighted(false);
    keyboardRow_ = ip;
    const double top = rowTop(ip), h = rowHeightAt(ip), vh = viewport()->height();
    const double pinned = pinnedHeaderHeight(ip.section);
    double y = contentOffset();
    if (top - pinned < y) y = top - pinned;
    else if (top + h > y + vh) y = top + h - vh;
    setContentOffset(y, false);
    if (auto* c = cellForRow(ip)) c->setHighlighted(true);
}

void UITableView::setHighlightedRow(IndexPath ip) {
    computeMetrics();
    if (ip.section < 0 || ip.section >= static_cast<int>(sections_.size()) || ip.row < 0 || ip.row >= sections_[ip.section].rows)
        return;
    if (keyboardRow_)
        if (auto* c = cellForRow(*keyboardRow_)) c->setHighlighted(false);
    keyboardRow_ = ip;
    if (auto* c = cellForRow(ip)) c->setHighlighted(true);
}

void UITableView::updateHighlightedRow() {
    if (keyboardRow_)
        if (auto* c = cellForRow(*keyboardRow_)) c->update();
}

void UITableView::focusInEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusInEvent(e);
    updateHighlightedRow();
}

void UITableView::focusOutEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusOutEvent(e);
    updateHighlightedRow();
}

bool UITableView::showsHighlightedRowWhole(double viewportHeight) const {
    if (!keyboardRow_ || keyboardRow_->section >= static_cast<int>(sections_.size()) ||
        keyboardRow_->row >= sections_[keyboardRow_->section].rows)
        return false;
    const double top = rowTop(*keyboardRow_), y = contentOffset();
    return top - pinnedHeaderHeight(keyboardRow_->section) >= y - 0.5 && top + rowHeightAt(*keyboardRow_) <= y + viewportHeight + 0.5;
}

void UITableView::keepHighlightedRowInView() {
    const double top = rowTop(*keyboardRow_), h = rowHeightAt(*keyboardRow_), vh = viewport()->height();
    if (top + h > contentOffset() + vh) setContentOffset(std::max(0.0, top + h - vh), false);
}

void UITableView::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape && swipePanel_) {
        hideSwipeActions();
        return;
    }
    // Alt+Left is back, Ctrl+F search...: the screens around the table answer them.
    if (e->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier)) {
        e->ignore();
        return;
    }
    computeMetrics();
    const bool valid = keyboardRow_ && keyboardRow_->section < static_cast<int>(sections_.size()) &&
                       keyboardRow_->row < sections_[keyboardRow_->section].rows;
    if (!valid) keyboardRow_.reset();
    std::optional<IndexPath> next;
    const QWidget* focus = QApplication::focusWidget();
    const bool fromWidgetInARow = focus && focus != this && isAncestorOf(focus);
    switch (e->key()) {
    case Qt::Key_Down:
    case Qt::Key_Up:
        next = keyboardRow_ ? stepRows(*keyboardRow_, e->key() == Qt::Key_Down ? 1 : -1).value_or(*keyboardRow_)
                            : firstRowOnScreen();
        break;
    case Qt::Key_PageDown:
    case Qt::Key_PageUp: {
        const auto from = keyboardRow_ ? keyboardRow_ : firstRowOnScreen();
        if (!from) break;
        // A page: the rows that fit below the pinned header.
        const double page = viewport()->height() - pinnedHeaderHeight(from->section);
        const int rows = std::max(1, static_cast<int>(page / std::max(1.0, rowHeightAt(*from))));
        next = stepRows(*from, e->key() == Qt::Key_PageDown ? rows : -rows).value_or(*from);
        break;
    }
    case Qt::Key_Home:
        next = stepRows({0, -1}, 1);
        break;
    case Qt::Key_End:
        for (int s = static_cast<int>(sections_.size()) - 1; s >= 0 && !next; --s)
            if (sections_[s].rows > 0) next = IndexPath{s, sections_[s].rows - 1};
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // From a button in a row, the key is that button's (the screen presses it).
        if (!keyboardRow_ || !delegate_ || fromWidgetInARow) break;
        delegate_->didSelectRow(this, *keyboardRow_);
        return;
    case Qt::Key_Delete:
        // The highlighted row's destructive swipe action (Remove), when it has one.
        if (!keyboardRow_ || !delegate_ || fromWidgetInARow) break;
        for (const auto& a : delegate_->trailingSwipeActions(this, *keyboardRow_))
            if (a.style == UIContextualAction::Style::Destructive) {
                runAction(a, *keyboardRow_);
                return;
            }
        break;
    default:
        break;
    }
    if (!next) {
        QAbstractScrollArea::keyPressEvent(e);
        return;
    }
    highlightRow(*next);
    if (e->key() == Qt::Key_Home) setContentOffset(0, false);  // the table's own header too
    e->accept();
}
