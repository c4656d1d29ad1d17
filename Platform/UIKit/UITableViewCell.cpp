#include "UIKit/UITableViewCell.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

#include "UIKit/UITableView.h"
#include "UIKit/UILabelElision.h"

namespace {
constexpr int kAccessoryWidth = 24;
}

UITableViewCell::UITableViewCell(const QString& reuseIdentifier, QWidget* parent)
    : QWidget(parent), reuseIdentifier_(reuseIdentifier) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    contentView_ = new QWidget(this);
    contentView_->setObjectName("contentView");
    layout->addWidget(contentView_, 1);
    setAttribute(Qt::WA_Hover);
}

void UITableViewCell::ensureDefaultLabels() {
    if (textLabel_) return;
    auto* box = new QVBoxLayout(contentView_);
    box->setContentsMargins(16, 6, 8, 6);
    box->setSpacing(2);
    textLabel_ = new QLabel(contentView_);
    textLabel_->setObjectName("textLabel");
    detailLabel_ = new QLabel(contentView_);
    detailLabel_->setObjectName("detailTextLabel");
    detailLabel_->setForegroundRole(QPalette::PlaceholderText);
    detailLabel_->hide();
    box->addWidget(textLabel_);
    box->addWidget(detailLabel_);
    for (QLabel* l : {textLabel_, detailLabel_}) UILabelElision::install(l);
}

QLabel* UITableViewCell::textLabel() {
    ensureDefaultLabels();
    return textLabel_;
}

QLabel* UITableViewCell::detailTextLabel() {
    ensureDefaultLabels();
    detailLabel_->show();
    return detailLabel_;
}

void UITableViewCell::setAccessoryType(Accessory a) {
    accessory_ = a;
    layout()->setContentsMargins(0, 0, a == Accessory::None ? 0 : kAccessoryWidth, 0);
    update();
}

void UITableViewCell::setSeparatorHidden(bool hidden) {
    separatorHidden_ = hidden;
    update();
}

void UITableViewCell::setBackgroundColor(const QColor& c) {
    background_ = c;
    update();
}

void UITableViewCell::setSelected(bool s, bool) {
    selected_ = s;
    update();
}

void UITableViewCell::setHighlighted(bool h) {
    highlighted_ = h;
    update();
}

void UITableViewCell::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QColor bg = background_.isValid() ? background_ : palette().color(QPalette::Base);
    if (bg.alpha() > 0) p.fillRect(rect(), bg);
    if ((selected_ || highlighted_) && selectionStyle_ != SelectionStyle::None) {
        QColor sel = selectedBackground_.isValid() ? selectedBackground_ : palette().color(QPalette::Highlight);
        p.fillRect(rect(), sel);
    }
    if (isKeyboardRow()) {
        // The highlight colour is a shade of the row, hardly seen on a dark
        // palette: the row the keys move is ringed in the tint, as the focus
        // ring is, which stands out from every palette's rows.
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(palette().color(QPalette::Link), 2));
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 5, 5);
        p.restore();
    }
    const bool tableSeparators = !table_ || table_->separatorStyle() == UITableView::SeparatorStyle::SingleLine;
    if (!separatorHidden_ && tableSeparators) {
        QColor sc = table_ ? table_->separatorColor() : palette().color(QPalette::Mid);
        p.setPen(sc);
        p.drawLine(separatorInset_, height() - 1, width() - separatorTrailingInset_, height() - 1);
    }
    if (accessory_ != Accessory::None) {
        p.setRenderHint(QPainter::Antialiasing);
        QColor ac = accessoryColor_.isValid() ? accessoryColor_ : palette().color(QPalette::PlaceholderText);
        QPen pen(ac, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        const double cx = width() - kAccessoryWidth / 2.0 - 2, cy = height() / 2.0;
        if (accessory_ == Accessory::DisclosureIndicator) {
            p.drawPolyline(QPolygonF{{cx - 3, cy - 6}, {cx + 3, cy}, {cx - 3, cy + 6}});
        } else {
            p.drawPolyline(QPolygonF{{cx - 6, cy}, {cx - 2, cy + 4}, {cx + 6, cy - 5}});
        }
    }
}

bool UITableViewCell::isKeyboardRow() const {
    return highlighted_ && table_ && table_->hasFocus() && table_->indexPathForHighlightedRow() &&
           table_->indexPathForHighlightedRow() == table_->indexPathForCell(this);
}

void UITableViewCell::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(e);
        return;
    }
    pressed_ = true;
    swiping_ = false;
    pressPos_ = e->position().toPoint();
    if (table_) table_->cellPressed(this);
}

void UITableViewCell::mouseMoveEvent(QMouseEvent* e) {
    if (!pressed_) return;
    const QPoint d = e->position().toPoint() - pressPos_;
    // A leftward, mostly horizontal drag reveals the swipe actions.
    if (!swiping_ && d.x() < -30 && std::abs(d.y()) < std::abs(d.x()) / 2) {
        swiping_ = true;
        setHighlighted(false);
        if (table_) table_->cellSwiped(this);
    } else if (std::abs(d.y()) > 10 && !swiping_) {
        setHighlighted(false);
    }
}

void UITableViewCell::mouseReleaseEvent(QMouseEvent* e) {
    if (!pressed_ || e->button() != Qt::LeftButton) return;
    pressed_ = false;
    const bool inside = rect().contains(e->position().toPoint()) && !swiping_ &&
                        (e->position().toPoint() - pressPos_).manhattanLength() < 12;
    if (table_) table_->cellReleased(this, inside);
}

void UITableViewCell::contextMenuEvent(QContextMenuEvent* e) {
    if (table_) {
        table_->cellContextMenu(this, e->globalPos());
        e->accept();
    } else {
        e->ignore();
    }
}
