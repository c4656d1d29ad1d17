#pragma once
// The settings screen (list "Settings"): every setting of the program — the
// package rows, compatibility filter, depictions, authentication, bars and
// titles, errors as notifications, the installed-packages order — and the
// theme choice. Changes apply at once.
#include "RootViewController.h"
#include "VostrellePersistentPreferences.h"

// The preference that holds the theme: 0 light, 1 blue, 2 grey, 3 pure black.
inline constexpr const char* kZMThemeStylePreferenceKey = VostrellePreferenceKey::Theme;

class SettingsPlistViewController : public RootViewController {
    Q_OBJECT
public:
    explicit SettingsPlistViewController(QWidget* parent = nullptr);
    // The theme stored in the settings (light when absent or out of range).
    static int storedThemeStyle();
};

// The change log (list "Changelog").
class ChangelogViewController : public RootViewController {
    Q_OBJECT
public:
    explicit ChangelogViewController(QWidget* parent = nullptr);
};
