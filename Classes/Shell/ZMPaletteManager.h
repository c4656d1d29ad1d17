#pragma once
// The theme: which style is active, where it comes from (a provider the
// shell wires to the settings, or setStyle), and the announcement of a
// change: paletteWillChange(newStyle), then the application's palette and
// style sheet are replaced, then paletteDidChange(style) and the notification
// kZMPaletteDidChangeNotification (object: the style as int).
#include <QObject>
#include <QString>
#include <functional>

#include "ZMPalette.h"

inline constexpr const char* kZMPaletteDidChangeNotification = "ZMPaletteDidChangeNotification";

class ZMPaletteManager : public QObject {
    Q_OBJECT
public:
    static ZMPaletteManager& sharedManager();

    int activeStyle() const { return style_; }
    ZMPalette palette() const { return ZMPalette(style_); }
    bool isDarkMode() const { return style_ != ZMPalette::Light; }
    // Whether the last change went from light to dark or back.
    bool didLastChangeUpdateDarkmode() const { return lastChangeSwitchedDark_; }

    // Where the style comes from; reloadStyle() reads it again.
    void setStyleProvider(std::function<int()> provider);
    void reloadStyle();
    // Switches to `style` (out-of-range numbers mean light); nothing happens
    // when it is already active.
    void setStyle(int style);

    // The style sheet with placeholders (Resources/Styles/vostrelle.qss).
    static QString styleSheetTemplate();
    // Puts the active palette on the application (QPalette + style sheet).
    void applyToApplication();

signals:
    void paletteWillChange(int newStyle);
    void paletteDidChange(int style);

private:
    ZMPaletteManager() = default;
    int style_ = ZMPalette::Light;
    bool lastChangeSwitchedDark_ = false;
    std::function<int()> provider_;
};
