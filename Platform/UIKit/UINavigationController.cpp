#include "UIKit/UINavigationController.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <tuple>
#include <utility>

#include "Miscellaneous/ZMLocalization.h"
#include "UIKit/UISwipeGesture.h"
#include "UIKit/UILabelElision.h"

namespace {
std::function<bool()> gLargeTitles;
bool gLargeTitlesFixed = true;
std::function<bool()> gTranslucent;
std::vector<QPointer<UINavigationController>>& allControllers() {
    static std::vector<QPointer<UINavigationController>> list;
    return list;
}
}  // namespace

namespace {
// Screens on their way out of a navigation stack (covered by a push, or
// popped): no press, double click, touch, context menu or key reaches them
// or their children until they are back in front. Releases pass, so that a
// press made before the screen started leaving ends normally. The back keys
// pass too: they are meant for the stack, not for the screen.
class LeavingScreens : public QObject {
public:
    static LeavingScreens& shared() {
        static auto* screens = [] {
            auto* s = new LeavingScreens;
            qApp->installEventFilter(s);
            return s;
        }();
        return *screens;
    }
    void add(QWidget* screen) {
        if (screen) screens_.emplace_back(screen);
    }
    void remove(QWidget* screen) {
        screens_.erase(std::remove_if(screens_.begin(), screens_.end(), [screen](const QPointer<QWidget>& s) { return !s || s == screen; }),
                       screens_.end());
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (screens_.empty() || !o->isWidgetType()) return false;
        switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::TouchBegin:
        case QEvent::ContextMenu:
            break;
        case QEvent::KeyPress: {
            if (UINavigationController::isBackKey(*static_cast<QKeyEvent*>(e))) return false;
            break;
        }
        default:
            return false;
        }
        auto* widget = static_cast<QWidget*>(o);
        for (const auto& screen : screens_)
            if (screen && (screen == widget || screen->isAncestorOf(widget))) return true;
        return false;
    }

private:
    std::vector<QPointer<QWidget>> screens_;
};

// Bar icons are drawn as templates in the bar's tint, like the platform's.
QIcon tinted(const QIcon& icon, const QColor& tint) {
    if (icon.isNull() || !tint.isValid()) return icon;
    QPixmap pm = icon.pixmap(QSize(44, 44));
    QPainter p(&pm);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(pm.rect(), tint);
    p.end();
    return QIcon(pm);
}
}  // namespace

// ---- the bar --------------------------------------------------------------------

UINavigationBar::UINavigationBar(QWidget* parent) : QWidget(parent) {
    setObjectName("UINavigationBar");
    setAttribute(Qt::WA_StyledBackground, false);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 0, 8, 0);
    outer->setSpacing(0);
    auto* rowWidget = new QWidget(this);
    rowWidget->setFixedHeight(44);
    auto* grid = new QGridLayout(rowWidget);
    grid->setContentsMargins(0, 0, 0, 0);
    auto* left = new QWidget(rowWidget);
    leftBox_ = new QHBoxLayout(left);
    leftBox_->setContentsMargins(0, 0, 0, 0);
    leftBox_->setSpacing(4);
    auto* right = new QWidget(rowWidget);
    rightBox_ = new QHBoxLayout(right);
    rightBox_->setContentsMargins(0, 0, 0, 0);
    rightBox_->setSpacing(4);
    titleBox_ = new QWidget(rowWidget);
    auto* tb = new QHBoxLayout(titleBox_);
    tb->setContentsMargins(0, 0, 0, 0);
    back_ = new QToolButton(left);
    back_->setObjectName("backButton");
    back_->setAutoRaise(true);
    back_->setCursor(Qt::PointingHandCursor);
    leftBox_->addWidget(back_);
    leftBox_->addStretch();
    rightBox_->addStretch();
    title_ = new QLabel(titleBox_);
    title_->setObjectName("navigationTitle");
    title_->setTextFormat(Qt::PlainText);  // titles may be names from servers
    QFont f = title_->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.1);
    title_->setFont(f);
    tb->addWidget(title_);
    grid->addWidget(left, 0, 0);
    grid->addWidget(titleBox_, 0, 1, Qt::AlignCenter);
    grid->addWidget(right, 0, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    outer->addWidget(rowWidget);
    largeTitle_ = new QLabel(this);
    largeTitle_->setObjectName("largeTitle");
    largeTitle_->setTextFormat(Qt::PlainText);
    QFont lf = largeTitle_->font();
    lf.setBold(true);
    lf.setPointSizeF(lf.pointSizeF() * 2.1);
    largeTitle_->setFont(lf);
    largeTitle_->setContentsMargins(8, 0, 0, 8);
    largeTitle_->hide();
    outer->addWidget(largeTitle_);
    // Long titles end with an ellipsis and show whole on hover.
    title_->setAlignment(Qt::AlignCenter);
    for (QLabel* l : {static_cast<QLabel*>(title_), largeTitle_}) UILabelElision::install(l);
    connect(back_, &QToolButton::clicked, this, &UINavigationBar::backRequested);
}

void UINavigationBar::setDefaultColors(const QColor& background, const QColor& tint, const QColor& title) {
    background_ = background;
    tint_ = tint;
    titleColor_ = title;
    if (item_) showItem(item_, owner_, !back_->isHidden(), back_->text().mid(2));
}

void UINavigationBar::clearItems() {
    for (auto* w : ownButtons_) w->deleteLater();
    ownButtons_.clear();
    ownButtonItems_.clear();
    // Custom views go back to their screen, hidden, so that they live and die with it.
    for (auto& w : customViews_) {
        if (!w) continue;
        w->hide();
        w->setParent(owner_ ? static_cast<QWidget*>(owner_) : nullptr);
    }
    customViews_.clear();
    if (titleView_) {
        titleView_->hide();
        titleView_->setParent(owner_ ? static_cast<QWidget*>(owner_) : nullptr);
        titleView_ = nullptr;
    }
}

void UINavigationBar::showItem(UINavigationItem* item, UIViewController* owner, bool canGoBack, const QString& backTitle) {
    clearItems();
    item_ = item;
    owner_ = owner;
    if (!item) return;
    const QColor tint = item->barTintColor().isValid() ? item->barTintColor() : tint_;
    const QColor titleColor = item->barTitleColor().isValid() ? item->barTitleColor() : titleColor_;
    const QString tintCss = tint.isValid() ? QStringLiteral("color: %1;").arg(tint.name(QColor::HexArgb)) : QString();
    const QString titleCss = titleColor.isValid() ? QStringLiteral("color: %1;").arg(titleColor.name(QColor::HexArgb)) : QString();

    back_->setText(QStringLiteral("\u2039 ") + backTitle);
    back_->setStyleSheet(tintCss);
    back_->setVisible(canGoBack && !item->hidesBackButton() && item->leftBarButtonItems().empty());

    auto addItems = [&](const std::vector<UIBarButtonItem*>& items, QHBoxLayout* box, bool left) {
        int pos = left ? box->count() - 1 : 1;
        for (auto* bi : items) {
            QWidget* w = bi->customView();
            if (w) {
                customViews_.emplace_back(w);
            } else {
                auto* b = new QToolButton(box->parentWidget());
                b->setAutoRaise(true);
                b->setCursor(Qt::PointingHandCursor);
                b->setText(bi->title());
                b->setIcon(tinted(bi->icon(), tint));
                b->setProperty("tint", tint);
                b->setIconSize(QSize(22, 22));
                b->setToolButtonStyle(bi->icon().isNull() ? Qt::ToolButtonTextOnly : Qt::ToolButtonIconOnly);
                b->setToolTip(bi->title());
                b->setEnabled(bi->isEnabled());
                QFont f = b->font();
                f.setBold(bi->style() == UIBarButtonItem::Style::Done);
                b->setFont(f);
                b->setStyleSheet(tintCss);
                QPointer<UIBarButtonItem> guard(bi);
                QObject::connect(b, &QToolButton::clicked, b, [guard] {
                    if (guard) guard->trigger();
                });
                ownButtons_.push_back(b);
                ownButtonItems_.emplace_back(bi);
                w = b;
            }
            bi->setButtonWidget(w);
            box->insertWidget(pos++, w);
            w->show();
        }
    };
    addItems(item->leftBarButtonItems(), leftBox_, true);
    addItems(item->rightBarButtonItems(), rightBox_, false);

    title_->setText(item->title());
    title_->setStyleSheet(titleCss);
    largeTitle_->setText(item->title());
    largeTitle_->setStyleSheet(titleCss);
    if (item->titleView()) {
        titleView_ = item->titleView();
        titleBox_->layout()->addWidget(titleView_);
        titleView_->show();
        title_->hide();
    } else {
        title_->setVisible(largeTitle_->isHidden());
    }
    update();
}

void UINavigationBar::applyColors() {
    if (!item_) return;
    const QColor tint = item_->barTintColor().isValid() ? item_->barTintColor() : tint_;
    const QColor titleColor = item_->barTitleColor().isValid() ? item_->barTitleColor() : titleColor_;
    const QString tintCss = tint.isValid() ? QStringLiteral("color: %1;").arg(tint.name(QColor::HexArgb)) : QString();
    const QString titleCss = titleColor.isValid() ? QStringLiteral("color: %1;").arg(titleColor.name(QColor::HexArgb)) : QString();
    auto restyle = [](QWidget* w, const QString& css) {
        if (w->styleSheet() != css) w->setStyleSheet(css);
    };
    restyle(back_, tintCss);
    for (size_t i = 0; i < ownButtons_.size(); ++i) {
        auto* b = qobject_cast<QToolButton*>(ownButtons_[i]);
        if (!b) continue;
        restyle(b, tintCss);
        if (i < ownButtonItems_.size() && ownButtonItems_[i] && b->property("tint").value<QColor>() != tint) {
            b->setIcon(tinted(ownButtonItems_[i]->icon(), tint));
            b->setProperty("tint", tint);
        }
    }
    restyle(title_, titleCss);
    restyle(largeTitle_, titleCss);
    update();
}

void UINavigationBar::setLargeTitleVisible(bool v) {
    largeTitle_->setVisible(v);
    if (!titleView_) title_->setVisible(!v);
}

void UINavigationBar::addFadeTransition(const QString& key, double seconds) {
    // The bar as it looks now, laid over it and faded out: what changes on
    // the bar meanwhile (a title, a button) cross-fades in.
    if (auto it = fades_.find(key); it != fades_.end() && it->second) delete it->second.data();
    const int ms = UIView::durationMs(seconds);
    if (ms <= 0 || !isVisible()) return;
    auto* picture = new QLabel(this);
    picture->setObjectName(key);
    picture->setAttribute(Qt::WA_TransparentForMouseEvents);
    picture->setPixmap(grab());
    picture->setGeometry(rect());
    auto* effect = new QGraphicsOpacityEffect(picture);
    picture->setGraphicsEffect(effect);
    picture->show();
    picture->raise();
    fades_[key] = picture;
    auto* fade = new QPropertyAnimation(effect, "opacity", picture);
    fade->setDuration(ms);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, picture, &QObject::deleteLater);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void UINavigationBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QColor bg = item_ && item_->barBackgroundColor().isValid() ? item_->barBackgroundColor() : background_;
    if (!bg.isValid()) bg = palette().color(QPalette::Window);
    const bool opaque = item_ && item_->forcesOpaqueBar().has_value() ? *item_->forcesOpaqueBar()
                                                                       : !UINavigationController::usesTranslucentBars();
    if (!opaque && bg.alpha() == 255) bg.setAlphaF(0.94f);
    p.fillRect(rect(), bg);
    if (item_ && item_->legacyAppearance()) {
        p.setPen(palette().color(QPalette::Mid));
        p.drawLine(0, height() - 1, width(), height() - 1);
    }
}

// ---- the controller ----------------------------------------------------------------

void UINavigationController::setPrefersLargeTitlesProvider(std::function<bool()> provider) { gLargeTitles = std::move(provider); }
void UINavigationController::setPrefersLargeTitles(bool prefers) {
    gLargeTitles = nullptr;
    gLargeTitlesFixed = prefers;
}
bool UINavigationController::prefersLargeTitles() { return gLargeTitles ? gLargeTitles() : gLargeTitlesFixed; }
void UINavigationController::setTranslucentBarsProvider(std::function<bool()> provider) { gTranslucent = std::move(provider); }
bool UINavigationController::usesTranslucentBars() { return gTranslucent ? gTranslucent() : false; }
void UINavigationController::refreshAllBars() {
    for (auto& nav : allControllers())
        if (nav) nav->updateBar();
}

UINavigationController::UINavigationController(UIViewController* root, QWidget* parent) : UIViewController(parent) {
    auto& all = allControllers();
    all.erase(std::remove_if(all.begin(), all.end(), [](const auto& p) { return p.isNull(); }), all.end());
    all.emplace_back(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    bar_ = new UINavigationBar(this);
    content_ = new QWidget(this);
    content_->setObjectName("navigationContent");
    layout->addWidget(bar_);
    layout->addWidget(content_, 1);
    content_->installEventFilter(this);
    connect(bar_, &UINavigationBar::backRequested, this, [this] { popViewController(true); });
    // Not by a click: a click on the bar (a heart, a title) leaves the focus
    // where it was, so the screen's list or page keeps its keys.
    setFocusPolicy(Qt::TabFocus);
    if (root) setViewControllers({root});
}

UIViewController* UINavigationController::shownScreen() {
    UIViewController* top = topViewController();
    return top ? top->shownScreen() : this;
}

std::vector<UIViewController*> UINavigationController::appearanceChildren() const {
    if (auto* top = topViewController()) return {top};
    return {};
}

void UINavigationController::attach(UIViewController* vc) {
    addChildViewController(vc);
    vc->setParent(content_);
    vc->setGeometry(content_->rect());
    vc->loadViewIfNeeded();
    if (!vc->property("vostrelleBackSwipe").toBool()) {
        vc->setProperty("vostrelleBackSwipe", true);
        QPointer<UIViewController> guard(vc);
        UISwipeGesture::addRightSwipe(vc, [this, guard] {
            if (guard && guard == topViewController() && stack_.size() > 1 && guard->navigationItem()->backSwipeEnabled())
                popViewController(true);
        });
    }
}

void UINavigationController::retire(UIViewController* vc) {
    vc->hide();
    vc->removeFromParentViewController();
    vc->setParent(nullptr);
    vc->deleteLater();
    screenClosed();
}

void UINavigationController::resizeEvent(QResizeEvent* e) {
    UIViewController::resizeEvent(e);
    layoutStack();
}

bool UINavigationController::eventFilter(QObject* o, QEvent* e) {
    if (o == content_ && e->type() == QEvent::Resize) layoutStack();
    return UIViewController::eventFilter(o, e);
}

void UINavigationController::layoutStack() {
    if (isTransitioning()) return;
    for (auto* vc : stack_) vc->setGeometry(content_->rect());
}

void UINavigationController::updateBar() {
    QObject::disconnect(itemConnection_);
    QObject::disconnect(colorsConnection_);
    auto* top = topViewController();
    if (!top) {
        bar_->showItem(nullptr, nullptr, false, {});
        return;
    }
    QString backTitle = ZMLocalizedString("Back").c_str();
    if (stack_.size() > 1) {
        const QString prev = stack_[stack_.size() - 2]->title();
        if (!prev.isEmpty() && prev.size() <= 14) backTitle = prev;
    }
    auto* item = top->navigationItem();
    const auto mode = item->largeTitleDisplayMode();
    const bool large = mode == UINavigationItem::LargeTitleDisplayMode::Always ||
                       (mode == UINavigationItem::LargeTitleDisplayMode::Automatic && prefersLargeTitles());
    bar_->setLargeTitleVisible(large);
    bar_->showItem(item, top, stack_.size() > 1, backTitle);
    bar_->setVisible(!item->navigationBarHidden());
    itemConnection_ = connect(item, &UINavigationItem::changed, this, [this] { updateBar(); });
    colorsConnection_ = connect(item, &UINavigationItem::colorsChanged, bar_, &UINavigationBar::applyColors);
}

namespace {
// Where a slide starts a screen: where the completed one left it, if it was moving.
QPoint startOf(const std::map<QWidget*, QPoint>& was, QWidget* screen, QPoint otherwise) {
    const auto it = was.find(screen);
    return it == was.end() ? otherwise : it->second;
}
}  // namespace

std::map<QWidget*, QPoint> UINavigationController::completeTransition() {
    std::map<QWidget*, QPoint> where;
    if (!isTransitioning()) return where;
    for (const auto& w : moving_)
        if (w) where[w] = w->pos();
    if (animation_) {
        // Its end is ours to run now, and only once (stopped, it deletes itself).
        animation_->disconnect(this);
        animation_->stop();
    }
    if (auto finish = std::exchange(finishTransition_, {})) finish();
    return where;
}

void UINavigationController::setViewControllers(std::vector<UIViewController*> vcs, bool animated) {
    completeTransition();
    const bool live = isOnScreen();
    UIViewController* oldTop = topViewController();
    UIViewController* newTop = vcs.empty() ? nullptr : vcs.back();
    if (oldTop && oldTop != newTop) oldTop->releaseKeyboardFocus();
    for (auto* vc : stack_)
        if (std::find(vcs.begin(), vcs.end(), vc) == vcs.end() && vc != oldTop) retire(vc);
    stack_ = vcs;
    for (auto* vc : stack_) {
        attach(vc);
        vc->setVisible(vc == newTop);
    }
    if (live && oldTop != newTop) {
        if (oldTop) oldTop->beginAppearanceTransition(false, false);
        if (newTop) newTop->beginAppearanceTransition(true, false);
        if (!isCoveredByPresentation()) takeKeyboardFocus();
        if (oldTop) oldTop->endAppearanceTransition();
        if (newTop) newTop->endAppearanceTransition();
    }
    if (oldTop && oldTop != newTop && std::find(vcs.begin(), vcs.end(), oldTop) == vcs.end()) retire(oldTop);
    updateBar();
}

void UINavigationController::pushViewController(UIViewController* vc, bool animated) {
    if (!vc || std::find(stack_.begin(), stack_.end(), vc) != stack_.end()) return;
    const auto was = completeTransition();
    UIViewController* old = topViewController();
    if (old) old->releaseKeyboardFocus();
    stack_.push_back(vc);
    attach(vc);
    const bool live = isOnScreen();
    if (live) {
        if (old) old->beginAppearanceTransition(false, animated);
        vc->beginAppearanceTransition(true, animated);
    }
    vc->show();
    vc->raise();
    updateBar();
    QPointer<UIViewController> oldGuard(old), newGuard(vc);
    auto finish = [this, oldGuard, newGuard, live] {
        if (oldGuard && oldGuard != topViewController()) oldGuard->hide();
        if (live && newGuard == topViewController() && !isCoveredByPresentation()) takeKeyboardFocus();
        if (live) {
            if (oldGuard) oldGuard->endAppearanceTransition();
            if (newGuard) newGuard->endAppearanceTransition();
        }
        layoutStack();
        if (newGuard) emit didShowViewController(newGuard);
    };
    const int ms = animated && old && live ? UIView::durationMs(0.3) : 0;
    if (ms > 0) {
        const int w = content_->width();
        slide(vc, QPoint(w, 0), QPoint(0, 0), old, startOf(was, old, QPoint(0, 0)), QPoint(-w / 3, 0), ms, old, finish);
    } else {
        finish();
    }
}

void UINavigationController::slide(QWidget* in, QPoint inFrom, QPoint inTo, QWidget* out, QPoint outFrom,
                                   QPoint outTo, int ms, UIViewController* leaving, std::function<void()> finished) {
    completeTransition();  // one at a time, even when the end of the last one asked for this
    auto* group = new QParallelAnimationGroup(this);
    for (auto [widget, from, to] : {std::tuple{in, inFrom, inTo}, std::tuple{out, outFrom, outTo}}) {
        auto* a = new QPropertyAnimation(widget, "pos");
        a->setStartValue(from);
        a->setEndValue(to);
        a->setDuration(ms);
        a->setEasingCurve(QEasingCurve::OutCubic);
        group->addAnimation(a);
    }
    animation_ = group;
    moving_ = {in, out};
    LeavingScreens::shared().add(leaving);
    // Whether it ends by itself or is completed early, the leaving screen takes input again after it.
    finishTransition_ = [this, leaving = QPointer<UIViewController>(leaving), finished = std::move(finished)] {
        LeavingScreens::shared().remove(leaving);
        moving_.clear();
        animation_ = nullptr;
        finished();
    };
    connect(group, &QAbstractAnimation::finished, this, [this] {
        if (auto finish = std::exchange(finishTransition_, {})) finish();
    });
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

UIViewController* UINavigationController::popViewController(bool animated) {
    if (stack_.size() < 2) return nullptr;
    return pop(completeTransition(), animated);
}

UIViewController* UINavigationController::pop(const std::map<QWidget*, QPoint>& was, bool animated) {
    if (stack_.size() < 2) return nullptr;  // the completed transition may have changed the stack
    UIViewController* popped = stack_.back();
    stack_.pop_back();
    UIViewController* revealed = stack_.back();
    const bool live = isOnScreen();
    popped->releaseKeyboardFocus();
    if (live) {
        popped->beginAppearanceTransition(false, animated);
        revealed->beginAppearanceTransition(true, animated);
    }
    revealed->show();
    popped->raise();
    updateBar();
    QPointer<UIViewController> poppedGuard(popped), revealedGuard(revealed);
    auto finish = [this, poppedGuard, revealedGuard, live] {
        if (live && revealedGuard == topViewController() && !isCoveredByPresentation()) takeKeyboardFocus();
        if (live) {
            if (poppedGuard) poppedGuard->endAppearanceTransition();
            if (revealedGuard) revealedGuard->endAppearanceTransition();
        }
        if (poppedGuard) retire(poppedGuard);
        layoutStack();
        if (revealedGuard) emit didShowViewController(revealedGuard);
    };
    const int ms = animated && live ? UIView::durationMs(0.3) : 0;
    if (ms > 0) {
        const int w = content_->width();
        // A Back during a push takes the page back from where it got to.
        slide(revealed, startOf(was, revealed, QPoint(-w / 3, 0)), QPoint(0, 0), popped, startOf(was, popped, QPoint(0, 0)),
              QPoint(w, 0), ms, popped, finish);
    } else {
        finish();
    }
    return popped;
}

void UINavigationController::popToRootViewController(bool animated) {
    const auto was = completeTransition();
    if (stack_.size() < 2) return;
    // The screens between root and top go at once; the top one slides away.
    while (stack_.size() > 2) {
        UIViewController* middle = stack_[stack_.size() - 2];
        stack_.erase(stack_.end() - 2);
        retire(middle);
    }
    pop(was, animated);
}

bool UINavigationController::isBackKey(const QKeyEvent& key) {
    // Alt+Left on the keypad's arrow too; not with other modifiers (a selection).
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
    return key.key() == Qt::Key_Back || (key.key() == Qt::Key_Left && modifiers == Qt::AltModifier);
}

void UINavigationController::keyPressEvent(QKeyEvent* e) {
    if (isBackKey(*e)) {
        if (stack_.size() > 1) {
            popViewController(true);
            e->accept();
            return;
        }
    }
    UIViewController::keyPressEvent(e);
}

void UINavigationController::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::BackButton && stack_.size() > 1) {
        popViewController(true);
        e->accept();
        return;
    }
    UIViewController::mousePressEvent(e);
}
