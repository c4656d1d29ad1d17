#pragma once
// What a user does with the mouse and keyboard, for the tests that walk the
// application from its window: each gesture goes to the widget a user would
// reach (the tab's button, the bar's button, the row's cell) as real input
// events, so a screen that is not reachable that way fails the walk.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QToolButton>

#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UIBarButtonItem.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UITableView.h"
#include "UIKit/UITableViewCell.h"
#include "UIKit/UIViewController.h"

namespace UserGesture {

// Brings the window to the front and makes it the active one, as a click
// on it does on a desktop. Offscreen, a top-level that went away (a sheet, a
// hidden window of the web engine) can take the activation with it, and the
// platform then ignores a request for the window it still counts as focused.
inline bool bringToFront(QWidget* window) {
    if (window->isActiveWindow()) return true;
    window->activateWindow();
    if (!GuiTest::waitUntil([&] { return window->isActiveWindow(); }, std::chrono::milliseconds(300)))
        QApplication::setActiveWindow(window);
    return GuiTest::waitUntil([&] { return window->isActiveWindow(); }, std::chrono::seconds(2));
}

inline void click(QWidget* widget) {
    ASSERT_NE(widget, nullptr);
    ASSERT_TRUE(widget->isVisible()) << widget->objectName().toStdString() << " is not on screen";
    ASSERT_TRUE(widget->isEnabled()) << widget->objectName().toStdString() << " is disabled";
    if (!QApplication::activePopupWidget()) bringToFront(widget->window());
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
    GuiTest::pump();
}

inline void tapTab(UITabBarController* tabs, int index) {
    ASSERT_NE(tabs, nullptr);
    click(tabs->tabButton(index));
}

// The button of the screen's bar item with this title (left items first).
inline QWidget* barButton(UIViewController* screen, const QString& title) {
    UIBarButtonItem* item = screen ? screen->navigationItem()->barButtonItemWithTitle(title) : nullptr;
    return item ? item->buttonWidget() : nullptr;
}

inline void tapBarButton(UIViewController* screen, const QString& title) {
    QWidget* button = barButton(screen, title);
    ASSERT_NE(button, nullptr) << "no bar button " << title.toStdString();
    click(button);
}

// Scrolls the row into view, then clicks its cell.
inline void tapRow(UITableView* table, IndexPath ip) {
    ASSERT_NE(table, nullptr);
    ASSERT_LT(ip.row, table->numberOfRows(ip.section)) << "no row " << ip.row << " in section " << ip.section;
    table->scrollToRow(ip, UITableView::ScrollPosition::Middle, false);
    GuiTest::pump();
    click(table->cellForRow(ip));
}

// A right click: the context menu the widget opens, once it shows.
inline QMenu* rightClick(QWidget* widget, QPoint at) {
    if (!widget || !widget->isVisible()) return nullptr;
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &event);
    QMenu* menu = nullptr;
    GuiTest::waitUntil([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) != nullptr; });
    return menu;
}

// Picks the visible entry of a shown menu by its text.
inline void chooseMenuEntry(QMenu* menu, const QString& text) {
    ASSERT_NE(menu, nullptr);
    for (QAction* action : menu->actions())
        if (action->text() == text && action->isEnabled()) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
            GuiTest::pump();
            return;
        }
    ADD_FAILURE() << "no menu entry " << text.toStdString();
}

// A key as the user presses it: to the window, which hands it to its
// shortcuts and then to whatever has the keyboard focus. The test names no
// widget: a key that reaches nothing because nothing has the focus fails.
inline void press(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    ASSERT_NE(window, nullptr);
    bringToFront(window);
    QTest::keyClick(window->windowHandle(), key, modifiers);
    GuiTest::pump();
}

// Types into a field as a user would, ending with Return when asked.
inline void type(QLineEdit* field, const QString& text, bool pressReturn = true) {
    ASSERT_NE(field, nullptr);
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
    if (pressReturn) QTest::keyClick(field, Qt::Key_Return);
    GuiTest::pump();
}

}  // namespace UserGesture
