#include "SettingsPlistViewController.h"

#include "Miscellaneous/ZMLocalization.h"
#include "UIKit/UINavigationController.h"
#include "VostrellePersistentPreferences.h"
#include "ZMPalette.h"
#include "ZMPaletteManager.h"

SettingsPlistViewController::SettingsPlistViewController(QWidget* parent) : RootViewController("Settings", parent) {
    registerAction("themeChanged", [] { ZMPaletteManager::sharedManager().setStyle(storedThemeStyle()); });
    registerAction("barsChanged", [] { UINavigationController::refreshAllBars(); });
    registerAction("openChangelog", [this] {
        if (auto* nav = navigationController()) nav->pushViewController(new ChangelogViewController, true);
    });
    registerAction("runSetupAgain", [] {
        VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::SetupDone, false);
    });
    registerTextOperation("versionText", [] { return std::string(VOSTRELLE_VERSION); });
}

int SettingsPlistViewController::storedThemeStyle() {
    auto& prefs = VostrellePersistentPreferences::sharedInstance();
    int64_t style = prefs.integerForKey(kZMThemeStylePreferenceKey);
    return style >= 0 && style < ZMPalette::kStyleCount ? static_cast<int>(style) : ZMPalette::Light;
}

ChangelogViewController::ChangelogViewController(QWidget* parent) : RootViewController("Changelog", parent) {
    if (title().isEmpty()) setTitle(QString::fromStdString(ZMLocalizedString("Changelog")));
}
