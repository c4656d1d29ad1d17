#include "UIKit/UIViewController.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QResizeEvent>
#include <QShowEvent>
#include <algorithm>
#include <cxxabi.h>
#include <cstdlib>
#include <typeinfo>

#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"

// ---- animations ----------------------------------------------------------------

namespace UIView {
namespace {
bool gAnimations = true;
}
void setAnimationsEnabled(bool enabled) { gAnimations = enabled; }
bool areAnimationsEnabled() { return gAnimations; }
int durationMs(double seconds) { return gAnimations ? static_cast<int>(seconds * 1000) : 0; }
}  // namespace UIView

// ---- items ---------------------------------------------------------------------

void UINavigationItem::setTitle(const QString& t) {
    if (t == title_) return;
    title_ = t;
    emit changed();
}
void UINavigationItem::setTitleView(QWidget* v) {
    titleView_ = v;
    emit changed();
}
void UINavigationItem::setLeftBarButtonItem(UIBarButtonItem* item) {
    setLeftBarButtonItems(item ? std::vector<UIBarButtonItem*>{item} : std::vector<UIBarButtonItem*>{});
}
void UINavigationItem::setRightBarButtonItem(UIBarButtonItem* item) {
    setRightBarButtonItems(item ? std::vector<UIBarButtonItem*>{item} : std::vector<UIBarButtonItem*>{});
}
void UINavigationItem::setLeftBarButtonItems(std::vector<UIBarButtonItem*> items) {
    for (auto* i : items) {
        if (!i->parent()) i->setParent(this);
        connect(i, &UIBarButtonItem::changed, this, &UINavigationItem::changed, Qt::UniqueConnection);
    }
    left_ = std::move(items);
    emit changed();
}
std::vector<UIBarButtonItem*> UINavigationItem::barButtonItems() const {
    std::vector<UIBarButtonItem*> all = left_;
    all.insert(all.end(), right_.begin(), right_.end());
    return all;
}

UIBarButtonItem* UINavigationItem::barButtonItemWithTitle(const QString& title) const {
    for (UIBarButtonItem* item : barButtonItems())
        if (item && item->title() == title) return item;
    return nullptr;
}

void UINavigationItem::setRightBarButtonItems(std::vector<UIBarButtonItem*> items) {
    for (auto* i : items) {
        if (!i->parent()) i->setParent(this);
        connect(i, &UIBarButtonItem::changed, this, &UINavigationItem::changed, Qt::UniqueConnection);
    }
    right_ = std::move(items);
    emit changed();
}
void UINavigationItem::setHidesBackButton(bool h) {
    hidesBackButton_ = h;
    emit changed();
}
void UINavigationItem::setLargeTitleDisplayMode(LargeTitleDisplayMode m) {
    largeTitleMode_ = m;
    emit changed();
}
void UINavigationItem::setBarBackgroundColor(const QColor& c) {
    if (c == barBackground_) return;
    barBackground_ = c;
    emit colorsChanged();
}
void UINavigationItem::setBarTintColor(const QColor& c) {
    if (c == barTint_) return;
    barTint_ = c;
    emit colorsChanged();
}
void UINavigationItem::setBarTitleColor(const QColor& c) {
    if (c == barTitle_) return;
    barTitle_ = c;
    emit colorsChanged();
}
void UINavigationItem::setForcesOpaqueBar(std::optional<bool> o) {
    opaque_ = o;
    emit changed();
}
void UINavigationItem::setLegacyAppearance(bool l) {
    legacy_ = l;
    emit changed();
}
void UINavigationItem::setNavigationBarHidden(bool h) {
    barHidden_ = h;
    emit changed();
}

void UITabBarItem::setTitle(const QString& t) {
    title_ = t;
    emit changed();
}
void UITabBarItem::setIcon(const QIcon& i) {
    icon_ = i;
    emit changed();
}
void UITabBarItem::setBadgeValue(std::optional<std::string> b) {
    badge_ = std::move(b);
    emit changed();
}

// ---- presentation host ------------------------------------------------------------

// Covers the whole window above everything else and holds one presented
// screen: filling it (full screen, over full screen) or centred over a dimmed
// backdrop (form sheet). It follows the window's size.
class PresentationHost : public QWidget {
public:
    PresentationHost(QWidget* window, UIViewController* vc) : QWidget(window), vc_(vc) {
        setAttribute(Qt::WA_NoSystemBackground, vc->modalPresentationStyle() != UIViewController::ModalPresentationStyle::FullScreen);
        vc->setParent(this);
        window->installEventFilter(this);
        setGeometry(window->rect());
        layoutContent();
    }
    QRect contentRect() const {
        if (vc_ && vc_->modalPresentationStyle() == UIViewController::ModalPresentationStyle::FormSheet) {
            const int w = std::min(560, width() - 40), h = std::min(640, height() - 40);
            return QRect((width() - w) / 2, (height() - h) / 2, std::max(w, 0), std::max(h, 0));
        }
        return rect();
    }
    void layoutContent() {
        if (vc_) vc_->setGeometry(contentRect());
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == parent() && e->type() == QEvent::Resize) {
            setGeometry(static_cast<QWidget*>(o)->rect());
            layoutContent();
        }
        return false;
    }
    void resizeEvent(QResizeEvent*) override { layoutContent(); }
    // A form sheet can always be left: Escape, or a click beside it.
    void mousePressEvent(QMouseEvent* e) override {
        if (isFormSheet() && !contentRect().contains(e->position().toPoint())) dismissContent();
        else QWidget::mousePressEvent(e);
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (isFormSheet() && e->key() == Qt::Key_Escape) dismissContent();
        else QWidget::keyPressEvent(e);
    }
    // Tab and Shift+Tab go round the presented screen, as in a dialog, never
    // to the screens it covers.
    bool focusNextPrevChild(bool next) override {
        std::vector<QWidget*> chain;
        for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain())
            if (isAncestorOf(w) && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) &&
                !qobject_cast<UIViewController*>(w))  // a whole screen is no stop
                chain.push_back(w);
        if (chain.empty()) return true;
        const auto at = std::find(chain.begin(), chain.end(), QApplication::focusWidget());
        const long here = at == chain.end() ? (next ? -1 : 0) : at - chain.begin();
        const long count = static_cast<long>(chain.size());
        chain[((here + (next ? 1 : -1)) % count + count) % count]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    void paintEvent(QPaintEvent*) override {
        if (!vc_) return;
        QPainter p(this);
        switch (vc_->modalPresentationStyle()) {
        case UIViewController::ModalPresentationStyle::FormSheet:
            p.fillRect(rect(), QColor(0, 0, 0, 100));
            // The sheet itself is opaque: nothing of the presenter (a title
            // under its translucent bar) shows through.
            p.fillRect(contentRect(), palette().color(QPalette::Window));
            break;
        case UIViewController::ModalPresentationStyle::FullScreen:
            // Nothing of the covered screens shows through, whatever the screen paints.
            p.fillRect(rect(), palette().color(QPalette::Window));
            break;
        case UIViewController::ModalPresentationStyle::OverFullScreen:
            break;
        }
    }

private:
    bool isFormSheet() const {
        return vc_ && vc_->modalPresentationStyle() == UIViewController::ModalPresentationStyle::FormSheet;
    }
    void dismissContent() {
        if (vc_ && !vc_->isBeingDismissed())
            if (auto* presenter = vc_->presentingViewController()) presenter->dismissViewController(true);
    }
    QPointer<UIViewController> vc_;
};

// ---- the controller -------------------------------------------------------------

UIViewController::UIViewController(QWidget* parent)
    : QWidget(parent), navigationItem_(new UINavigationItem(this)), tabBarItem_(new UITabBarItem(this)) {}

UIViewController::~UIViewController() {
    if (parent_) {
        auto& siblings = parent_->children_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    for (auto* c : children_) c->parent_ = nullptr;
}

QWidget* UIViewController::view() {
    loadViewIfNeeded();
    return this;
}

void UIViewController::loadViewIfNeeded() {
    if (loaded_ || loading_) return;
    loading_ = true;
    viewDidLoad();
    loading_ = false;
    loaded_ = true;
    afterViewDidLoad();
}

void UIViewController::showEvent(QShowEvent* e) {
    loadViewIfNeeded();
    QWidget::showEvent(e);
}

void UIViewController::setTitle(const QString& title) {
    navigationItem_->setTitle(title);
    if (tabBarItem_->title().isEmpty()) tabBarItem_->setTitle(title);
}

void UIViewController::addChildViewController(UIViewController* child) {
    if (!child || child->parent_ == this) return;
    child->removeFromParentViewController();
    child->parent_ = this;
    children_.push_back(child);
}

void UIViewController::removeFromParentViewController() {
    if (!parent_) return;
    auto& siblings = parent_->children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    parent_ = nullptr;
}

UINavigationController* UIViewController::navigationController() const {
    for (auto* p = parent_; p; p = p->parent_)
        if (auto* nav = qobject_cast<UINavigationController*>(p)) return nav;
    return nullptr;
}

UITabBarController* UIViewController::tabBarController() const {
    for (auto* p = parent_; p; p = p->parent_)
        if (auto* tab = qobject_cast<UITabBarController*>(p)) return tab;
    return nullptr;
}

std::vector<UIViewController*> UIViewController::appearanceChildren() const {
    std::vector<UIViewController*> out;
    for (auto* c : children_)
        if (!c->isHidden()) out.push_back(c);
    return out;
}

namespace {
bool gRecordsScreens = false;
std::set<std::string>& appearedScreens() {
    static std::set<std::string> names;
    return names;
}
}  // namespace

namespace {
std::function<void()>& screenClosedHandler() {
    static std::function<void()> handler;
    return handler;
}
}  // namespace

void UIViewController::setScreenClosedHandler(std::function<void()> handler) { screenClosedHandler() = std::move(handler); }

void UIViewController::screenClosed() {
    if (auto& handler = screenClosedHandler()) handler();
}

void UIViewController::setRecordsAppearingScreensForTesting(bool record) { gRecordsScreens = record; }

std::set<std::string> UIViewController::appearedScreenClassesForTesting() { return appearedScreens(); }

void UIViewController::beginAppearanceTransition(bool appearing, bool animated) {
    loadViewIfNeeded();
    if (appearing) {
        if (appearance_ == Appearance::Appearing || appearance_ == Appearance::Appeared) return;
        appearance_ = Appearance::Appearing;
        if (gRecordsScreens) {
            // The complete object's class, which the metaobject may not know (a class without Q_OBJECT).
            const char* mangled = typeid(*this).name();
            int status = 0;
            char* name = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
            appearedScreens().insert(status == 0 && name ? name : mangled);
            std::free(name);
        }
        beforeViewWillAppear(animated);
        viewWillAppear(animated);
    } else {
        if (appearance_ == Appearance::Disappearing || appearance_ == Appearance::Disappeared) return;
        appearance_ = Appearance::Disappearing;
        viewWillDisappear(animated);
    }
    pendingAnimated_ = animated;
    for (auto* c : appearanceChildren()) c->beginAppearanceTransition(appearing, animated);
}

void UIViewController::endAppearanceTransition() {
    const auto kids = appearanceChildren();
    if (appearance_ == Appearance::Appearing) {
        appearance_ = Appearance::Appeared;
        viewDidAppear(pendingAnimated_);
    } else if (appearance_ == Appearance::Disappearing) {
        appearance_ = Appearance::Disappeared;
        viewDidDisappear(pendingAnimated_);
    } else {
        return;
    }
    for (auto* c : kids) c->endAppearanceTransition();
}

namespace {
UIViewController* rootOf(UIViewController* vc) {
    while (vc->parentViewController()) vc = vc->parentViewController();
    return vc;
}
bool holdsFocus(const QWidget* widget) {
    const QWidget* focus = QApplication::focusWidget();
    return focus && (focus == widget || widget->isAncestorOf(focus));
}
}  // namespace

// ---- the keyboard ------------------------------------------------------------------------

QWidget* UIViewController::preferredFocusWidget() {
    QAbstractScrollArea* largest = nullptr;
    int largestArea = 0;
    for (auto* area : findChildren<QAbstractScrollArea*>()) {
        if (!area->isVisibleTo(this) || !area->isEnabled() || !(area->focusPolicy() & Qt::TabFocus)) continue;
        const int a = area->width() * area->height();
        if (a > largestArea) {
            largest = area;
            largestArea = a;
        }
    }
    return largest ? static_cast<QWidget*>(largest) : this;
}

void UIViewController::takeKeyboardFocus() {
    UIViewController* screen = shownScreen();
    if (!screen || holdsFocus(screen)) return;
    // Back where it was when the screen was left, if that is still there to take it.
    QWidget* target = screen->focusWhenLeft_;
    screen->focusWhenLeft_ = nullptr;
    if (!target || !screen->isAncestorOf(target) || !target->isVisible() || !target->isEnabled() ||
        target->focusPolicy() == Qt::NoFocus)
        target = screen->preferredFocusWidget();
    if (target) target->setFocus(Qt::OtherFocusReason);
}

void UIViewController::releaseKeyboardFocus() {
    if (!holdsFocus(this)) return;
    QWidget* focus = QApplication::focusWidget();
    if (UIViewController* screen = shownScreen(); screen && holdsFocus(screen)) screen->focusWhenLeft_ = focus;
    focus->clearFocus();
}

bool UIViewController::isCoveredByPresentation() const {
    for (const UIViewController* vc = this; vc; vc = vc->parent_)
        if (vc->presented_ && !vc->presented_->beingDismissed_) return true;
    return false;
}

void UIViewController::keyPressEvent(QKeyEvent* e) {
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (enter && !(e->modifiers() & ~Qt::KeypadModifier)) {
        auto* focused = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
        QAbstractButton* button = focused && isAncestorOf(focused) ? focused : defaultButton_.data();
        if (button && button->isVisible() && button->isEnabled()) {
            button->click();
            e->accept();
            return;
        }
    }
    QWidget::keyPressEvent(e);
}

void UIViewController::presentViewController(UIViewController* vc, bool animated, std::function<void()> completion) {
    if (!vc) return;
    if (presented_ && !presented_->beingDismissed_) {
        presented_->presentViewController(vc, animated, std::move(completion));
        return;
    }
    if (presented_) {
        // Shown once the screen going away is gone: presented now, it would
        // be lost with it, or outlive it with no presenter to close it.
        QPointer<UIViewController> guard(vc);
        pendingPresentations_.push_back([this, guard, animated, completion = std::move(completion)]() mutable {
            if (guard) presentViewController(guard, animated, std::move(completion));
        });
        return;
    }
    QWidget* window = this->window();
    vc->presenting_ = this;
    presented_ = vc;
    vc->beingPresented_ = true;
    auto* host = new PresentationHost(window, vc);
    vc->presentationHost_ = host;
    vc->loadViewIfNeeded();

    const bool coversPresenter = vc->modalStyle_ == ModalPresentationStyle::FullScreen;
    UIViewController* covered = coversPresenter ? rootOf(this) : nullptr;
    if (covered) covered->beginAppearanceTransition(false, animated);
    vc->beginAppearanceTransition(true, animated);
    host->show();
    host->raise();
    vc->show();
    vc->focusBeforePresentation_ = QApplication::focusWidget();
    vc->takeKeyboardFocus();

    QPointer<UIViewController> self(this), guard(vc);
    QPointer<UIViewController> coveredGuard(covered);
    auto finish = [self, guard, coveredGuard, completion = std::move(completion)] {
        if (guard) {
            guard->beingPresented_ = false;
            guard->endAppearanceTransition();
        }
        if (coveredGuard) {
            coveredGuard->endAppearanceTransition();
        }
        if (completion) completion();
    };
    const int ms = animated ? UIView::durationMs(0.25) : 0;
    if (ms > 0) {
        const QRect end = host->contentRect();
        auto* anim = new QPropertyAnimation(vc, "pos", vc);
        anim->setDuration(ms);
        anim->setEasingCurve(QEasingCurve::OutCubic);
        anim->setStartValue(QPoint(end.x(), host->height()));
        anim->setEndValue(end.topLeft());
        connect(anim, &QPropertyAnimation::finished, vc, finish);
        anim->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        finish();
    }
}

void UIViewController::dismissViewController(bool animated, std::function<void()> completion) {
    // Called on a presenter: dismiss what it presents. Called on a presented
    // screen that presents nothing: ask its presenter; on a screen inside a
    // presented container (a navigation controller's root): ask the container.
    UIViewController* target = presented_;
    if (!target) {
        if (presenting_) {
            presenting_->dismissViewController(animated, std::move(completion));
        } else if (parent_) {
            // A screen inside a presented container (a navigation controller):
            // the container is what was presented.
            parent_->dismissViewController(animated, std::move(completion));
        } else if (completion) {
            completion();
        }
        return;
    }
    if (target->beingDismissed_) {
        if (completion) completion();
        return;
    }
    // Anything on top of the target goes first, at once.
    if (target->presented_) target->dismissViewController(false);

    target->beingDismissed_ = true;
    const bool covered = target->modalStyle_ == ModalPresentationStyle::FullScreen;
    UIViewController* coveredRoot = covered ? rootOf(this) : nullptr;
    target->beginAppearanceTransition(false, animated);
    if (coveredRoot) coveredRoot->beginAppearanceTransition(true, animated);

    QPointer<UIViewController> self(this), guard(target), coveredGuard(coveredRoot);
    auto finish = [self, guard, coveredGuard, completion = std::move(completion)] {
        QPointer<QWidget> focusBack;
        if (guard) {
            guard->endAppearanceTransition();
            guard->beingDismissed_ = false;
            QWidget* host = guard->presentationHost_;
            guard->hide();
            guard->presenting_ = nullptr;
            focusBack = guard->focusBeforePresentation_;
            // A dismissed screen goes with its host unless its owner keeps it.
            if (guard->retainedAfterDismissal_) guard->setParent(nullptr);
            if (host) host->deleteLater();
            if (host && !guard->retainedAfterDismissal_) screenClosed();
        }
        if (self && self->presented_ == guard) self->presented_ = nullptr;
        if (coveredGuard) coveredGuard->endAppearanceTransition();
        // The keyboard goes back where it was, as a closed dialog gives it back
        // (the popup under this one, the list row): else to the screen uncovered.
        if (self && !self->isCoveredByPresentation()) {
            if (focusBack && focusBack->isVisible() && focusBack->isEnabled() && focusBack->window() == self->window())
                focusBack->setFocus(Qt::OtherFocusReason);
            else
                rootOf(self)->takeKeyboardFocus();
        }
        if (completion) completion();
        if (self) {
            auto pending = std::exchange(self->pendingPresentations_, {});
            for (auto& present : pending) present();
        }
    };
    const int ms = animated ? UIView::durationMs(0.2) : 0;
    if (ms > 0 && target->presentationHost_) {
        auto* anim = new QPropertyAnimation(target, "pos", target);
        anim->setDuration(ms);
        anim->setEasingCurve(QEasingCurve::InCubic);
        anim->setStartValue(target->pos());
        anim->setEndValue(QPoint(target->x(), target->presentationHost_->height()));
        connect(anim, &QPropertyAnimation::finished, this, finish);
        anim->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        finish();
    }
}
