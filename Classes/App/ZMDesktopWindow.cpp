#include "App/ZMDesktopWindow.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <algorithm>
#include <vector>

#include "Browsing/SearchViewController.h"
#include "Database/ZMRPackageManager.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "UIKit/UIBarButtonItem.h"
#include "UIKit/UIFocusRing.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UIWindow.h"
#include "VostrellePersistentPreferences.h"
#include "ZMVostrelle.h"

namespace {

namespace K = VostrellePreferenceKey;

// The window's filters below keep it as a QWidget: they still see its events
// while it is being destroyed (its hiding, from QWidget's destructor), when
// it is no UIWindow any more and a UIWindow pointer to it would be a lie.
// What needs a UIWindow asks for one with qobject_cast, which then says no.

// Writes the window's geometry to the preferences whenever it moves or is
// resized (the preferences write one file for a burst of changes).
class GeometryKeeper : public QObject {
public:
    explicit GeometryKeeper(UIWindow* window) : QObject(window), window_(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched == window_ && (e->type() == QEvent::Resize || e->type() == QEvent::Move) && window_->isVisible()) {
            const QRect g = window_->geometry();
            VostrellePersistentPreferences::sharedInstance().setValue(
                K::WindowGeometry, {{"x", g.x()}, {"y", g.y()}, {"width", g.width()}, {"height", g.height()}});
        }
        return false;
    }

private:
    QPointer<QWidget> window_;
};

// Alt+Left (and a keyboard's Back key) goes back in the navigation stack in
// front, whatever has the focus: buttons and scrolling areas take the arrows
// for themselves. The window's shortcuts come first (a web page's own Back).
class BackKey : public QObject {
public:
    explicit BackKey(UIWindow* window) : QObject(window), window_(window) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::KeyPress || !window_) return false;
        const auto* key = static_cast<QKeyEvent*>(e);
        const bool back = UINavigationController::isBackKey(*key);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!back || !widget || widget->window() != window_) return false;
        UINavigationController* nav = ZMDesktopWindow::frontNavigation(qobject_cast<UIWindow*>(window_));
        return nav && nav->viewControllers().size() > 1 && nav->popViewController(true);
    }

private:
    QPointer<QWidget> window_;
};

// Esc that nothing in front took (a full-screen sheet's list or page has no
// use for it) reaches the window: the sheet's own Close/Cancel/Done, as Ctrl+W.
// Popups, form sheets and alerts take their Esc before it gets here.
class EscapeKey : public QObject {
public:
    explicit EscapeKey(UIWindow* window) : QObject(window), window_(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched != window_ || e->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier) return false;
        return ZMDesktopWindow::pressCloseButton(qobject_cast<UIWindow*>(window_));
    }

private:
    QPointer<QWidget> window_;
};

std::optional<int> integer(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return std::nullopt;
    auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer()) return std::nullopt;
    const auto v = it->get<int64_t>();
    if (v < -100000 || v > 100000) return std::nullopt;
    return static_cast<int>(v);
}

bool isCloseTitle(const QString& title) {
    for (const char* text : {"Close", "Cancel", "Done"})
        if (title == QString::fromStdString(ZMLocalizedString(text))) return true;
    return false;
}

void addShortcut(UIWindow* window, const QKeySequence& keys, std::function<void()> action) {
    auto* shortcut = new QShortcut(keys, window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, window, std::move(action));
}

}  // namespace

QRect ZMDesktopWindow::initialGeometry(const nlohmann::json& saved, const QRect& available) {
    const auto x = integer(saved, "x"), y = integer(saved, "y");
    const auto w = integer(saved, "width"), h = integer(saved, "height");
    const bool sane = x && y && w && h && *w > 0 && *h > 0;
    QSize size = (sane ? QSize(*w, *h) : kDefaultSize).expandedTo(kMinimumSize);
    if (!available.isEmpty()) size = size.boundedTo(available.size()).expandedTo(kMinimumSize);
    QRect r(sane ? QPoint(*x, *y) : QPoint(0, 0), size);
    if (available.isEmpty()) return r;
    if (!sane) r.moveCenter(available.center());
    // Back onto the area: a screen that went away must not keep the window off it.
    r.moveLeft(std::clamp(r.left(), available.left(), std::max(available.left(), available.right() + 1 - r.width())));
    r.moveTop(std::clamp(r.top(), available.top(), std::max(available.top(), available.bottom() + 1 - r.height())));
    return r;
}

void ZMDesktopWindow::install(UIWindow* window) {
    if (!window) return;
    window->setMinimumSize(kMinimumSize);
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    window->setGeometry(initialGeometry(
        VostrellePersistentPreferences::sharedInstance().objectForKey(K::WindowGeometry), available));
    new GeometryKeeper(window);
    new BackKey(window);
    new EscapeKey(window);
    UIFocusRing::install(window);

    QPointer<UIWindow> guard(window);
    // Closing the last window ends the program, through the same termination.
    addShortcut(window, QKeySequence(Qt::CTRL | Qt::Key_Q), [guard] {
        if (guard) guard->close();
    });
    addShortcut(window, QKeySequence(Qt::CTRL | Qt::Key_F), [] { openSearch(); });
    addShortcut(window, QKeySequence(Qt::Key_F5), [] { refreshSources(); });
    addShortcut(window, QKeySequence(Qt::CTRL | Qt::Key_R), [] { refreshSources(); });
    addShortcut(window, QKeySequence(Qt::CTRL | Qt::Key_W), [guard] {
        if (guard) closePresentedSheet(guard);
    });
}

bool ZMDesktopWindow::pressCloseButton(UIWindow* window) {
    UIViewController* top = window ? window->topPresentedViewController() : nullptr;
    if (!top || top == window->rootViewController()) return false;
    // The sheet's own Close/Cancel/Done, which may do more than go away: the
    // screen in front's, else that of the screen it was pushed from (a sheet
    // keeps its Close on its first screen), down to the sheet's first.
    std::vector<UIViewController*> stack{top};
    if (auto* nav = qobject_cast<UINavigationController*>(top)) {
        const auto& screens = nav->viewControllers();
        if (!screens.empty()) stack.assign(screens.rbegin(), screens.rend());
    }
    for (UIViewController* shown : stack)
        for (UIBarButtonItem* item : shown->navigationItem()->barButtonItems())
            if (item && item->isEnabled() && isCloseTitle(item->title())) {
                item->trigger();
                return true;
            }
    return false;
}

void ZMDesktopWindow::closePresentedSheet(UIWindow* window) {
    UIViewController* top = window ? window->topPresentedViewController() : nullptr;
    if (!top || top == window->rootViewController()) return;
    if (pressCloseButton(window)) return;
    // Popups and sheets without such a button: what Esc does to them.
    QPointer<UIViewController> guard(top);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(top, &escape);
    if (guard && !guard->isBeingDismissed() && window->topPresentedViewController() == guard)
        if (auto* presenter = guard->presentingViewController()) presenter->dismissViewController(true);
}

UINavigationController* ZMDesktopWindow::frontNavigation(UIWindow* window) {
    UIViewController* front = window ? window->topPresentedViewController() : nullptr;
    if (auto* tabs = qobject_cast<UITabBarController*>(front)) front = tabs->selectedViewController();
    auto* nav = qobject_cast<UINavigationController*>(front);
    // A popup presented from inside the stack is in front of it.
    return nav && !nav->isCoveredByPresentation() ? nav : nullptr;
}

void ZMDesktopWindow::openSearch() {
    auto& delegate = ZMVostrelle::sharedVostrelle();
    auto* tabs = delegate.tabBarController();
    if (!tabs || !delegate.window()) return;
    // Search sits below any presented sheet: only from the tabs themselves.
    if (delegate.window()->topPresentedViewController() != delegate.window()->rootViewController()) return;
    tabs->setSelectedIndex(ZMVostrelle::SearchTab);
    auto* nav = qobject_cast<UINavigationController*>(tabs->viewControllers()[ZMVostrelle::SearchTab]);
    if (!nav) return;
    nav->popToRootViewController(false);
    auto* search = qobject_cast<SearchViewController*>(nav->viewControllers().front());
    if (!search) return;
    search->loadViewIfNeeded();
    if (auto* field = search->searchBar()) {
        field->setFocus(Qt::ShortcutFocusReason);
        field->selectAll();
    }
}

void ZMDesktopWindow::refreshSources() {
    try {
        auto& sources = ZMRPackageManager::sharedPackageManager().sources();
        if (!sources.isRefreshInProgress()) sources.refreshAllSources();
    } catch (const std::exception& e) {
        ZMLOG("no refresh: {}", e.what());
    }
}
