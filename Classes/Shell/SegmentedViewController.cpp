#include "SegmentedViewController.h"

#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QPropertyAnimation>
#include <QToolButton>

SegmentedViewController::SegmentedViewController(std::vector<UIViewController*> controllers, const QStringList& titles,
                                                 int firstIndex, QWidget* parent)
    : ZMPalettedViewController(parent),
      controllers_(std::move(controllers)),
      control_(new UISegmentedControl(titles)),
      controlItem_(new UIBarButtonItem(control_, navigationItem())) {
    setOverrideLargeTitles(true);
    navigationItem()->setRightBarButtonItem(controlItem_);
    control_->setParent(this);
    control_->hide();
    for (auto* vc : controllers_) {
        addChildViewController(vc);
        vc->setParent(this);
        vc->hide();
        connect(vc->navigationItem(), &UINavigationItem::changed, this, [this] { showChildBarButtons(); });
    }
    connect(control_, &UISegmentedControl::valueChanged, this, [this](int i) { showController(i, true); });
    if (firstIndex < 0 || firstIndex >= static_cast<int>(controllers_.size())) firstIndex = 0;
    if (!controllers_.empty()) showController(firstIndex, false);
}

UIViewController* SegmentedViewController::currentViewController() const {
    return current_ >= 0 && current_ < static_cast<int>(controllers_.size()) ? controllers_[current_] : nullptr;
}

std::vector<UIViewController*> SegmentedViewController::appearanceChildren() const {
    if (auto* vc = currentViewController()) return {vc};
    return {};
}

void SegmentedViewController::resizeEvent(QResizeEvent* e) {
    ZMPalettedViewController::resizeEvent(e);
    for (auto* vc : controllers_) vc->setGeometry(rect());
}

void SegmentedViewController::showController(int index, bool animated) {
    if (index < 0 || index >= static_cast<int>(controllers_.size()) || index == current_) return;
    UIViewController* old = currentViewController();
    UIViewController* vc = controllers_[index];
    current_ = index;
    control_->setSelectedSegmentIndex(index);
    showChildBarButtons();
    const bool live = isOnScreen();
    if (live) {
        if (old) old->beginAppearanceTransition(false, animated);
        vc->beginAppearanceTransition(true, animated);
    }
    vc->setGeometry(rect());
    vc->show();
    vc->raise();
    QPointer<UIViewController> oldGuard(old), newGuard(vc);
    auto finish = [oldGuard, newGuard, live, this] {
        if (oldGuard && oldGuard != currentViewController()) oldGuard->hide();
        if (newGuard) newGuard->setGraphicsEffect(nullptr);
        if (live) {
            if (oldGuard) oldGuard->endAppearanceTransition();
            if (newGuard) newGuard->endAppearanceTransition();
        }
    };
    const int ms = animated && old && live ? UIView::durationMs(0.25) : 0;
    if (ms > 0) {
        auto* effect = new QGraphicsOpacityEffect(vc);
        vc->setGraphicsEffect(effect);
        auto* anim = new QPropertyAnimation(effect, "opacity", vc);
        anim->setDuration(ms);
        anim->setStartValue(0.0);
        anim->setEndValue(1.0);
        connect(anim, &QPropertyAnimation::finished, this, finish);
        anim->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        finish();
    }
}

void SegmentedViewController::showChildBarButtons() {
    std::vector<UIBarButtonItem*> items{controlItem_};
    // A button that names a segment leads where the segment does: the bar
    // shows that place once (a source screen's "Source Info" beside the
    // "Source Info" segment).
    auto namesASegment = [this](const UIBarButtonItem* item) {
        for (int i = 0; i < control_->numberOfSegments(); ++i)
            if (!item->title().isEmpty() && control_->segment(i)->text() == item->title()) return true;
        return false;
    };
    if (auto* vc = currentViewController())
        for (auto* item : vc->navigationItem()->rightBarButtonItems())
            if (!namesASegment(item)) items.push_back(item);
    if (items != navigationItem()->rightBarButtonItems()) navigationItem()->setRightBarButtonItems(std::move(items));
}

void SegmentedViewController::paletteDidChange(const ZMPalette& p) {
    control_->setTintColor(p.tintColor(), p.foregroundColor());
}
