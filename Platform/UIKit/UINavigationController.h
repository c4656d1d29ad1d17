#pragma once
// A stack of screens under a navigation bar: push/pop (a short slide when
// animated), pop to root, back by the bar's back button, the mouse's back
// button, Alt+Left and a rightward swipe; large titles by a global switch
// with the per-screen override of UINavigationItem.
//
// One transition at a time, and none is refused: a push, pop or new stack
// asked for while one slides first completes the running one (its screens
// go where it was taking them, a popped screen is deleted later), then
// slides on from where the screens are. So a Back pressed during a push
// takes the page back out, and the stack is always the one asked for. A
// screen that is leaving (covered by a push, or popped) takes no clicks,
// touches or keys until it is back in front: it cannot push anything once
// it started going.
#include <QAbstractAnimation>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QToolButton>
#include <functional>
#include <map>
#include <vector>

#include "UIKit/UIViewController.h"

class QHBoxLayout;

// The bar at the top of a navigation controller.
class UINavigationBar : public QWidget {
    Q_OBJECT
public:
    explicit UINavigationBar(QWidget* parent = nullptr);
    void showItem(UINavigationItem* item, UIViewController* owner, bool canGoBack, const QString& backTitle);
    QToolButton* backButton() const { return back_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* largeTitleLabel() const { return largeTitle_; }
    bool showsLargeTitle() const { return !largeTitle_->isHidden(); }
    void setLargeTitleVisible(bool v);
    // The bar's fallback colours when the screen sets none.
    void setDefaultColors(const QColor& background, const QColor& tint, const QColor& title);
    // Applies the shown item's colours to the bar as it is (scrolling screens change them often).
    void applyColors();
    // Over `seconds`, the bar's look fades from how it is now into how it
    // will be (a layer's fade transition); one under the same key replaces
    // a running one. The fading picture is the child named `key`.
    void addFadeTransition(const QString& key, double seconds);

signals:
    void backRequested();

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void clearItems();
    QHBoxLayout* row_;
    QHBoxLayout* leftBox_;
    QHBoxLayout* rightBox_;
    QWidget* titleBox_;
    QToolButton* back_;
    QLabel* title_;
    QLabel* largeTitle_;
    QPointer<UINavigationItem> item_;
    QPointer<UIViewController> owner_;
    QPointer<QWidget> titleView_;
    std::vector<QPointer<QWidget>> customViews_;
    std::vector<QWidget*> ownButtons_;
    std::vector<QPointer<UIBarButtonItem>> ownButtonItems_;  // the item of each of ownButtons_
    QColor background_, tint_, titleColor_;
    std::map<QString, QPointer<QLabel>> fades_;
};

class UINavigationController : public UIViewController {
    Q_OBJECT
public:
    explicit UINavigationController(UIViewController* root = nullptr, QWidget* parent = nullptr);

    void pushViewController(UIViewController* vc, bool animated);
    // Returns the popped screen (deleted later unless it is retained after
    // dismissal) or nullptr at the root.
    UIViewController* popViewController(bool animated);
    void popToRootViewController(bool animated);
    void setViewControllers(std::vector<UIViewController*> vcs, bool animated = false);
    const std::vector<UIViewController*>& viewControllers() const { return stack_; }
    UIViewController* topViewController() const { return stack_.empty() ? nullptr : stack_.back(); }
    UINavigationBar* navigationBar() const { return bar_; }
    bool isTransitioning() const { return static_cast<bool>(finishTransition_); }
    // Alt+Left or the Back key: what takes a stack back a screen.
    static bool isBackKey(const QKeyEvent& key);

    // Large titles for every navigation controller: a provider (wired to the
    // preference "prefersLargeTitles") or a fixed value; refreshAllBars()
    // re-reads it live.
    static void setPrefersLargeTitlesProvider(std::function<bool()> provider);
    static void setPrefersLargeTitles(bool prefers);
    static bool prefersLargeTitles();
    // Translucent bars ("UseTranslucentBars"), same scheme.
    static void setTranslucentBarsProvider(std::function<bool()> provider);
    static bool usesTranslucentBars();
    static void refreshAllBars();

    void updateBar();
    UIViewController* shownScreen() override;

signals:
    void didShowViewController(UIViewController* vc);

protected:
    std::vector<UIViewController*> appearanceChildren() const override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    // Moves `in` and `out` together over `ms` milliseconds, then calls
    // `finished`; `leaving` takes no input meanwhile.
    void slide(QWidget* in, QPoint inFrom, QPoint inTo, QWidget* out, QPoint outFrom, QPoint outTo, int ms,
               UIViewController* leaving, std::function<void()> finished);
    // Ends the running transition at once, as its end would; answers where
    // its screens were, for the next one to start from.
    std::map<QWidget*, QPoint> completeTransition();
    // Pops the top screen, its slide starting where the completed transition left the screens (`was`).
    UIViewController* pop(const std::map<QWidget*, QPoint>& was, bool animated);
    void attach(UIViewController* vc);
    void layoutStack();
    void retire(UIViewController* vc);
    QWidget* content_;
    UINavigationBar* bar_;
    std::vector<UIViewController*> stack_;
    QMetaObject::Connection itemConnection_;
    QMetaObject::Connection colorsConnection_;
    QPointer<QAbstractAnimation> animation_;
    std::function<void()> finishTransition_;  // set while a transition runs
    std::vector<QPointer<QWidget>> moving_;
};
