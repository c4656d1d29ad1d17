#pragma once
// The base of every themed screen. It builds the active palette (with this
// screen's overrides), keeps it in palette(), colours the widget and its
// navigation bar item, and calls paletteDidChange(palette) — when the screen
// has loaded, before it appears, when the application becomes active and
// when the theme changes — holding the screen's palette lock meanwhile.
// Before a theme change it calls paletteWillChangeToStyle(newStyle).
#include <QColor>
#include <map>
#include <mutex>
#include <string>

#include "UIKit/UIViewController.h"
#include "ZMPalette.h"

class ZMPalettedViewController : public UIViewController {
    Q_OBJECT
public:
    explicit ZMPalettedViewController(QWidget* parent = nullptr);

    ZMPalette palette() const;
    // Hooks; the base versions do nothing.
    virtual void paletteDidChange(const ZMPalette& palette) {}
    virtual void paletteWillChangeToStyle(int style) {}

    bool isDarkMode() const;
    bool didLastPaletteChangeUpdateDarkmode() const { return lastChangeSwitchedDark_; }

    // Per-screen switches.
    void setOverrideLargeTitles(bool override);
    void setOverrideTranslucentNavBar(bool override);
    void setUseLegacyNavbarAppearance(bool legacy);
    void setNavigationBarColor(const QColor& color);  // invalid: the palette's
    void setOverrideColor(const QColor& color, const std::string& keyPath);
    void resetOverridesColors();

    // Builds and applies the palette now (also called by the triggers above).
    void applyPalette();
    int paletteApplyCount() const { return applyCount_; }

protected:
    void afterViewDidLoad() override;
    void beforeViewWillAppear(bool animated) override;

private:
    ZMPalette buildPalette() const;
    ZMPalette palette_;
    bool applied_ = false;
    bool lastAppliedDark_ = false;
    bool lastChangeSwitchedDark_ = false;
    bool applying_ = false;
    bool reapply_ = false;
    bool inWillChange_ = false;
    int applyCount_ = 0;
    std::mutex paletteLock_;
    std::map<std::string, QColor> overrides_;
    QColor navigationBarColor_;
};
