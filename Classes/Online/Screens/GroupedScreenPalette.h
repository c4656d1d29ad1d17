#pragma once
// The settings-like screens of the account (the account page, the setup
// restoration) sit on iOS's grouped grey in the light style: a background of
// red 0.94, green 0.94, blue 0.96 under white cells. Other styles keep the
// palette's own colours.
#include "ZMPaletteManager.h"
#include "ZMPalettedViewController.h"

namespace GroupedScreenPalette {

inline void apply(ZMPalettedViewController* screen, int style) {
    if (style == ZMPalette::Light) {
        screen->setOverrideColor(QColor::fromRgbF(0.94f, 0.94f, 0.96f, 1.0f), "backgroundColor");
        screen->setOverrideColor(Qt::white, "cellBackgroundColor");
    } else {
        screen->resetOverridesColors();
    }
}

// For a new screen: the overrides of the style in use now.
inline void applyCurrent(ZMPalettedViewController* screen) { apply(screen, ZMPaletteManager::sharedManager().activeStyle()); }

}  // namespace GroupedScreenPalette
