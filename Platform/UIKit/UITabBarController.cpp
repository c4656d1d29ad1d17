#include "UIKit/UITabBarController.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "UIKit/UINavigationController.h"

// ---- one tab button -----------------------------------------------------------------

UITabBarButton::UITabBarButton(UITabBarItem* item, QWidget* parent) : QAbstractButton(parent), item_(item) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(50);
    connect(item, &UITabBarItem::changed, this, [this] {
        setAccessibleName(item_ ? item_->title() : QString());
        update();
    });
    setAccessibleName(item->title());
}

void UITabBarButton::setColors(const QColor& normal, const QColor& selected) {
    normal_ = normal;
    selected_ = selected;
    update();
}

QString UITabBarButton::badgeText() const {
    return item_ && item_->badgeValue() ? QString::fromStdString(*item_->badgeValue()) : QString();
}

void UITabBarButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor c = isChecked() ? selected_ : normal_;
    const QRect iconRect(width() / 2 - 12, 5, 24, 24);
    if (item_ && !item_->icon().isNull()) {
        const QPixmap pm = item_->icon().pixmap(iconRect.size(), devicePixelRatioF());
        // Tint the template icon with the state colour.
        QPixmap tinted(pm.size());
        tinted.setDevicePixelRatio(pm.devicePixelRatio());
        tinted.fill(Qt::transparent);
        QPainter tp(&tinted);
        tp.drawPixmap(0, 0, pm);
        tp.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tp.fillRect(tinted.rect(), c);
        tp.end();
        p.drawPixmap(iconRect, tinted);
    }
    QFont f = font();
    f.setPointSizeF(f.pointSizeF() * 0.8);
    p.setFont(f);
    p.setPen(c);
    p.drawText(QRect(0, 31, width(), 16), Qt::AlignHCenter | Qt::AlignTop, item_ ? item_->title() : QString());
    const QString badge = badgeText();
    if (!badge.isEmpty()) {
        QFont bf = font();
        bf.setPointSizeF(bf.pointSizeF() * 0.75);
        bf.setBold(true);
        const int tw = QFontMetrics(bf).horizontalAdvance(badge);
        const int bw = std::max(18, tw + 10);
        const QRect br(iconRect.right() - 6, 2, bw, 18);
        QPainterPath path;
        path.addRoundedRect(br, 9, 9);
        p.fillPath(path, QColor(255, 59, 48));
        p.setFont(bf);
        p.setPen(Qt::white);
        p.drawText(br, Qt::AlignCenter, badge);
    }
}

// ---- the controller -----------------------------------------------------------------

UITabBarController::UITabBarController(QWidget* parent) : UIViewController(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    content_ = new QWidget(this);
    content_->setObjectName("tabContent");
    bar_ = new QWidget(this);
    bar_->setObjectName("UITabBar");
    bar_->setAutoFillBackground(true);
    barLayout_ = new QHBoxLayout(bar_);
    barLayout_->setContentsMargins(0, 0, 0, 0);
    barLayout_->setSpacing(0);
    layout->addWidget(content_, 1);
    layout->addWidget(bar_);
    content_->installEventFilter(this);
}

std::vector<UIViewController*> UITabBarController::appearanceChildren() const {
    if (auto* vc = selectedViewController()) return {vc};
    return {};
}

void UITabBarController::setViewControllers(std::vector<UIViewController*> vcs) {
    for (auto* b : buttons_) b->deleteLater();
    buttons_.clear();
    const bool live = isOnScreen();
    if (live && selectedViewController()) {
        selectedViewController()->beginAppearanceTransition(false, false);
        selectedViewController()->endAppearanceTransition();
    }
    tabs_ = std::move(vcs);
    for (size_t i = 0; i < tabs_.size(); ++i) {
        auto* vc = tabs_[i];
        addChildViewController(vc);
        vc->setParent(content_);
        vc->hide();
        auto* b = new UITabBarButton(itemFor(vc), bar_);
        barLayout_->addWidget(b);
        buttons_.push_back(b);
        connect(b, &QAbstractButton::clicked, this, [this, i] {
            if (static_cast<int>(i) == selected_) {
                // Tapping the current tab goes back to its first screen.
                if (auto* nav = qobject_cast<UINavigationController*>(tabs_[i])) nav->popToRootViewController(true);
                buttons_[i]->setChecked(true);
            } else {
                setSelectedIndex(static_cast<int>(i));
            }
            emit didSelectViewController(tabs_[i]);
        });
    }
    selected_ = -1;
    setSelectedIndex(tabs_.empty() ? -1 : 0);
    if (!barBackground_.isValid()) return;
    setBarColors(barBackground_, QColor(), QColor());
}

UITabBarItem* UITabBarController::itemFor(UIViewController* vc) const {
    // A navigation controller without an item of its own shows its root's.
    auto* own = vc->tabBarItem();
    auto* nav = qobject_cast<UINavigationController*>(vc);
    if (nav && own->title().isEmpty() && own->icon().isNull() && !nav->viewControllers().empty())
        return nav->viewControllers().front()->tabBarItem();
    return own;
}

UIViewController* UITabBarController::shownScreen() {
    UIViewController* vc = selectedViewController();
    return vc ? vc->shownScreen() : this;
}

UIViewController* UITabBarController::selectedViewController() const {
    return selected_ >= 0 && selected_ < static_cast<int>(tabs_.size()) ? tabs_[selected_] : nullptr;
}

void UITabBarController::setSelectedIndex(int index) {
    if (index < 0 || index >= static_cast<int>(tabs_.size()) || index == selected_) {
        if (index >= 0 && index < static_cast<int>(buttons_.size())) buttons_[index]->setChecked(true);
        return;
    }
    UIViewController* old = selectedViewController();
    UIViewController* vc = tabs_[index];
    const bool live = isOnScreen();
    if (old) old->releaseKeyboardFocus();
    if (live) {
        if (old) old->beginAppearanceTransition(false, false);
        vc->beginAppearanceTransition(true, false);
    }
    selected_ = index;
    for (size_t i = 0; i < buttons_.size(); ++i) buttons_[i]->setChecked(static_cast<int>(i) == index);
    layoutContent();
    vc->show();
    if (old) old->hide();
    if (live && !isCoveredByPresentation()) takeKeyboardFocus();
    if (live) {
        if (old) old->endAppearanceTransition();
        vc->endAppearanceTransition();
    }
    placeAccessory();
    emit selectedIndexChanged(index);
}

void UITabBarController::setBadgeValue(int index, std::optional<std::string> badge) {
    if (index < 0 || index >= static_cast<int>(tabs_.size())) return;
    itemFor(tabs_[index])->setBadgeValue(std::move(badge));
}

std::optional<std::string> UITabBarController::badgeValue(int index) const {
    if (index < 0 || index >= static_cast<int>(tabs_.size())) return std::nullopt;
    return itemFor(tabs_[index])->badgeValue();
}

UITabBarButton* UITabBarController::tabButton(int index) const {
    return index >= 0 && index < static_cast<int>(buttons_.size()) ? buttons_[index] : nullptr;
}

void UITabBarController::setAccessoryView(QWidget* view) {
    if (accessory_ && accessory_ != view) {
        accessory_->removeEventFilter(this);
        accessory_->hide();
    }
    accessory_ = view;
    if (!view) return;
    view->setParent(this);
    view->installEventFilter(this);
    view->show();
    placeAccessory();
}

void UITabBarController::setBarColors(const QColor& background, const QColor& normal, const QColor& selected) {
    barBackground_ = background;
    QPalette pal = bar_->palette();
    pal.setColor(QPalette::Window, background);
    bar_->setPalette(pal);
    if (normal.isValid())
        for (auto* b : buttons_) b->setColors(normal, selected);
}

QSize UITabBarController::accessorySize() const {
    return accessory_ ? accessory_->sizeHint().boundedTo(QSize(width() - 24, 200)) : QSize();
}

void UITabBarController::layoutContent() {
    // A shown accessory floats in a strip of its own: the screen ends above
    // it, so that nothing of the screen (a page's last buttons) lies under it.
    QRect area = content_->rect();
    if (accessory_ && accessory_->isVisibleTo(this))
        area.setBottom(area.bottom() - accessorySize().height() - 2 * kAccessoryGap);
    if (auto* vc = selectedViewController(); vc && vc->geometry() != area) vc->setGeometry(area);
    placeAccessory();
}

void UITabBarController::placeAccessory() {
    if (!accessory_) return;
    const QSize s = accessorySize();
    // Above the tab bar, which begins where the content ends. In a resize the
    // content is given its place before the bar is moved: its edge is the new one.
    const int barTop = content_->geometry().bottom() + 1;
    accessory_->setGeometry((width() - s.width()) / 2, barTop - s.height() - kAccessoryGap, s.width(), s.height());
    accessory_->raise();
}

bool UITabBarController::eventFilter(QObject* o, QEvent* e) {
    if (o == content_ && e->type() == QEvent::Resize) layoutContent();
    if (o == accessory_ &&
        (e->type() == QEvent::LayoutRequest || e->type() == QEvent::Show || e->type() == QEvent::Hide))
        layoutContent();
    return UIViewController::eventFilter(o, e);
}
