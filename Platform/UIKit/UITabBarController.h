#pragma once
// Tabs along the bottom, one screen each (usually a navigation controller),
// with string badges, selection from code, and a slot just above the bar for
// a floating status view.
#include <QAbstractButton>
#include <QPointer>
#include <vector>

#include "UIKit/UIViewController.h"

class QHBoxLayout;

class UITabBarButton : public QAbstractButton {
    Q_OBJECT
public:
    UITabBarButton(UITabBarItem* item, QWidget* parent);
    QSize sizeHint() const override { return {64, 50}; }
    void setColors(const QColor& normal, const QColor& selected);
    QString badgeText() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QPointer<UITabBarItem> item_;
    QColor normal_{142, 142, 147}, selected_{47, 124, 246};
};

class UITabBarController : public UIViewController {
    Q_OBJECT
public:
    explicit UITabBarController(QWidget* parent = nullptr);

    void setViewControllers(std::vector<UIViewController*> vcs);
    const std::vector<UIViewController*>& viewControllers() const { return tabs_; }
    int selectedIndex() const { return selected_; }
    void setSelectedIndex(int index);
    UIViewController* selectedViewController() const;
    // The badge of a tab: a short text, or none.
    void setBadgeValue(int index, std::optional<std::string> badge);
    std::optional<std::string> badgeValue(int index) const;
    UITabBarButton* tabButton(int index) const;
    // The item a tab shows: the screen's own, or its root's for a navigation
    // controller that has none.
    UITabBarItem* itemFor(UIViewController* vc) const;
    QWidget* tabBar() const { return bar_; }

    // A view floating just above the tab bar (the status display); it keeps
    // its size hint and is centred horizontally. While it shows, the selected
    // screen ends above it. nullptr removes it.
    void setAccessoryView(QWidget* view);
    QWidget* accessoryView() const { return accessory_; }
    void setBarColors(const QColor& background, const QColor& normal, const QColor& selected);
    UIViewController* shownScreen() override;

signals:
    // Any change of the selected tab, from code or the user.
    void selectedIndexChanged(int index);
    // A tap on a tab by the user (also on the selected one).
    void didSelectViewController(UIViewController* vc);

protected:
    std::vector<UIViewController*> appearanceChildren() const override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    static constexpr int kAccessoryGap = 8;  // above and below the accessory
    QSize accessorySize() const;
    void layoutContent();
    void placeAccessory();
    QWidget* content_;
    QWidget* bar_;
    QHBoxLayout* barLayout_;
    std::vector<UIViewController*> tabs_;
    std::vector<UITabBarButton*> buttons_;
    QPointer<QWidget> accessory_;
    int selected_ = -1;
    QColor barBackground_;
};
