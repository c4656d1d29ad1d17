// The rows that insertRows and deleteRows bring and take fade in and out.
//
// An effect cannot be drawn inside another: a widget whose ancestor is drawn
// through a QGraphicsEffect (a card, whose shadow is one) is painted from
// inside that effect's paint, and its own effect's painter is refused (the
// row is drawn half, with a stream of QPainter warnings). A row going out is
// therefore a picture that paints itself fading, no effect needed; a row
// coming in fades through an opacity effect only where nothing around it is
// drawn through one, and elsewhere appears at once.
#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPointer>
#include <QPropertyAnimation>
#include <QVariantAnimation>

#include "UIKit/UITableView.h"
#include "UIKit/UIViewController.h"

namespace {

constexpr double kFadeSeconds = 0.25;

// Something around `widget` is drawn through an effect: its own would not paint.
bool insideAnEffect(const QWidget* widget) {
    for (const QWidget* w = widget->parentWidget(); w; w = w->parentWidget())
        if (w->graphicsEffect() && w->graphicsEffect()->isEnabled()) return true;
    return false;
}

// A row going out: its picture where it was, over the new layout.
class RowGhost : public QWidget {
public:
    RowGhost(const QPixmap& picture, QWidget* parent) : QWidget(parent), picture_(picture) {
        setObjectName("rowGhost");
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setOpacity(double opacity) {
        opacity_ = opacity;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setOpacity(opacity_);
        p.drawPixmap(rect(), picture_);
    }

private:
    QPixmap picture_;
    double opacity_ = 1;
};

}  // namespace

void UITableView::insertRows(const std::vector<IndexPath>& rows, RowAnimation animation) {
    const double offset = contentOffset();
    reloadData();
    setContentOffset(offset);
    if (animation == RowAnimation::None || UIView::durationMs(kFadeSeconds) == 0 || insideAnEffect(viewport())) return;
    for (const auto& ip : rows) {
        UITableViewCell* cell = cellForRow(ip);
        if (!cell) continue;
        auto* effect = new QGraphicsOpacityEffect(cell);
        cell->setGraphicsEffect(effect);
        auto* anim = new QPropertyAnimation(effect, "opacity", cell);
        anim->setDuration(UIView::durationMs(kFadeSeconds));
        anim->setStartValue(0.0);
        anim->setEndValue(1.0);
        QPointer<UITableViewCell> guard(cell);
        connect(anim, &QPropertyAnimation::finished, cell, [guard] {
            if (guard) guard->setGraphicsEffect(nullptr);
        });
        anim->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

void UITableView::deleteRows(const std::vector<IndexPath>& rows, RowAnimation animation) {
    std::vector<std::pair<QPixmap, QRect>> ghosts;
    if (animation != RowAnimation::None && UIView::durationMs(kFadeSeconds) > 0) {
        for (const auto& ip : rows) {
            auto it = visible_.find(ip);
            if (it != visible_.end()) ghosts.emplace_back(it->second->grab(), it->second->geometry());
        }
    }
    const double offset = contentOffset();
    reloadData();
    setContentOffset(offset);
    for (auto& [picture, rect] : ghosts) {
        auto* ghost = new RowGhost(picture, viewport());
        ghost->setGeometry(rect);
        ghost->show();
        ghost->raise();
        auto* anim = new QVariantAnimation(ghost);
        anim->setDuration(UIView::durationMs(kFadeSeconds));
        anim->setStartValue(1.0);
        anim->setEndValue(0.0);
        connect(anim, &QVariantAnimation::valueChanged, ghost, [ghost](const QVariant& v) { ghost->setOpacity(v.toDouble()); });
        connect(anim, &QAbstractAnimation::finished, ghost, &QObject::deleteLater);
        anim->start(QAbstractAnimation::DeleteWhenStopped);
    }
}
