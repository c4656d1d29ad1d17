#pragma once
// Carries out what arrives from outside: our scheme's links and opened .deb
// files (from the command line or the hand-over of a second start). The
// parsing is ZMURLSchemeHandler's; this decides what to show. The screens
// that live elsewhere (package details, the search tab, the .deb installer)
// plug in through the hooks. What cannot be acted on (a link that does not
// read, a file that is no .deb) is logged and named to the user in one alert.
// The stores' "sileo://" callbacks are never taken from outside: they count
// only from the store pages the program opened itself (ZMStorePages), so one
// arriving here is logged (without its query) and dropped.
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "Miscellaneous/ZMURLSchemeHandler.h"

class UIViewController;

class ZMURLRouter {
public:
    struct Hooks {
        // Opens the package's details (identifier, name from the link).
        std::function<void(const std::string& identifier)> showPackage;
        // Selects the search tab after the name was stored under "SearchDeveloper".
        std::function<void()> showSearchTab;
        // Shows a developer's page for a "developer" link; without it the
        // link goes to the search tab (showSearchTabForDeveloper).
        std::function<void(const std::string& name)> showDeveloper;
        // Installs a local .deb file.
        std::function<void(const std::string& path)> installDebFile;
        // Where popups and screens go; by default the main window's top screen.
        std::function<UIViewController*()> presenter;
    };
    static void setHooks(Hooks hooks);
    static Hooks hooks();

    // Handles each argument: a URL of our schemes, else a path to a .deb file.
    // Returns how many were taken; those refused are named in one alert.
    static int open(const QStringList& arguments);
    // One URL; false when refused (and told).
    static bool openURL(const std::string& text);
    // One .deb file; false when it is not a readable regular .deb file.
    static bool openFile(const std::string& path);

    // Stores the name under "SearchDeveloper" and selects the search tab,
    // which looks it up; false when nothing selects the tab.
    static bool showSearchTabForDeveloper(const std::string& name);

    // Carries out a parsed action (public for tests).
    static bool perform(const ZMURLAction& action);
    // Where popups and screens go: the hook's choice, else the top screen of
    // the visible main window.
    static UIViewController* presenter();

private:
    // Done; told already by an alert of its own (an unknown package, a
    // database failure); or refused, which the caller tells.
    enum class Outcome { Done, Told, Refused };
    // A link or path as an alert names it: a store callback without its
    // query, control characters blanked, cut after kShownLinkLength characters.
    static std::string shownLink(std::string_view text);
    static constexpr int kShownLinkLength = 300;
    // An alert names this many; a longer list ends in "…".
    static constexpr size_t kShownItems = 10;
    static Outcome carryOut(const ZMURLAction& action, std::string_view link);
    static void tellNotOpened(const std::vector<std::string>& links, const std::vector<std::string>& files);
};
