#include "UIKit/UILabelElision.h"

#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace {

constexpr const char* kInstalled = "uiLabelElides";

class Elider : public QObject {
public:
    explicit Elider(QLabel* label) : QObject(label) {}

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        auto* label = static_cast<QLabel*>(watched);
        if (e->type() == QEvent::Paint && !label->wordWrap() && label->textFormat() != Qt::RichText) {
            QPainter p(label);
            const QRect r = label->contentsRect();
            label->style()->drawItemText(&p, r, QStyle::visualAlignment(label->layoutDirection(), label->alignment()),
                                         label->palette(), label->isEnabled(), UILabelElision::shownText(label),
                                         label->foregroundRole());
            return true;
        }
        if (e->type() == QEvent::ToolTip) {
            // A tooltip of the label's own wins; else the whole text, only when cut.
            if (!label->toolTip().isEmpty()) return false;
            auto* help = static_cast<QHelpEvent*>(e);
            if (UILabelElision::isElided(label)) QToolTip::showText(help->globalPos(), label->text(), label);
            else QToolTip::hideText();
            return true;
        }
        return false;
    }
};

}  // namespace

namespace UILabelElision {

void install(QLabel* label) {
    if (!label || label->property(kInstalled).toBool()) return;
    label->setProperty(kInstalled, true);
    label->setMinimumWidth(1);
    label->installEventFilter(new Elider(label));
}

QString shownText(const QLabel* label) {
    if (!label) return {};
    if (!label->property(kInstalled).toBool() || label->wordWrap()) return label->text();
    return label->fontMetrics().elidedText(label->text(), Qt::ElideRight, label->contentsRect().width());
}

bool isElided(const QLabel* label) { return label && shownText(label) != label->text(); }

}  // namespace UILabelElision
