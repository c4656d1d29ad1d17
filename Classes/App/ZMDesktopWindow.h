#pragma once
// What makes the window a desktop window: the user sizes it (no smaller than
// a phone's screen), it opens where and as large as it was left (kept in the
// preferences under "WindowGeometry"), and the keyboard reaches what the
// screens offer by touch:
//   Ctrl+Q        quits, as closing the window does;
//   Ctrl+F        the Search tab with its field focused;
//   F5, Ctrl+R    refreshes the sources (unless a refresh runs);
//   Ctrl+W        closes the presented sheet, as its Close/Cancel does;
//   Esc           what the sheet or popup in front does with it (each popup,
//                 form sheet and alert has its own); one that none took does
//                 what Ctrl+W does, through the sheet's Close/Cancel/Done;
//   Alt+Left      back in the navigation stack in front, wherever the focus is
//                 (a web page's history first; the mouse's back button belongs
//                 to each stack);
//   Tab           moves the focus, drawn as a ring (UIFocusRing).
#include <QRect>
#include <QSize>
#include <nlohmann/json.hpp>

class UINavigationController;
class UIWindow;

class ZMDesktopWindow {
public:
    static constexpr QSize kMinimumSize{400, 600};
    static constexpr QSize kDefaultSize{980, 740};

    // Sets the window's minimum size and its first geometry, keeps its
    // geometry in the preferences from now on, and adds the shortcuts.
    static void install(UIWindow* window);

    // Where the window opens on a screen whose free area is `available`:
    // the saved geometry when it is a sane one, grown to the minimum, no larger
    // than the area and moved onto it; otherwise the default size, centred.
    static QRect initialGeometry(const nlohmann::json& saved, const QRect& available);

    // What the shortcuts do.
    static void closePresentedSheet(UIWindow* window);
    // The Close/Cancel/Done of the sheet in front pressed (the screen in front's,
    // else the nearest below it in the sheet's stack); false without one.
    static bool pressCloseButton(UIWindow* window);
    static void openSearch();
    static void refreshSources();
    // The navigation stack the user sees: the presented one in front, else the selected tab's.
    static UINavigationController* frontNavigation(UIWindow* window);
};
