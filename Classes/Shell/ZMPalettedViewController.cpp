#include "ZMPalettedViewController.h"

#include <QGuiApplication>

#include "ZMPaletteManager.h"

ZMPalettedViewController::ZMPalettedViewController(QWidget* parent) : UIViewController(parent) {
    auto& manager = ZMPaletteManager::sharedManager();
    connect(&manager, &ZMPaletteManager::paletteWillChange, this, [this](int style) {
        // Overrides set here take effect with the change itself, not before it.
        inWillChange_ = true;
        paletteWillChangeToStyle(style);
        inWillChange_ = false;
    });
    connect(&manager, &ZMPaletteManager::paletteDidChange, this, [this] {
        if (isViewLoaded()) applyPalette();
    });
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive && isViewLoaded()) applyPalette();
    });
}

ZMPalette ZMPalettedViewController::buildPalette() const {
    ZMPalette p = ZMPaletteManager::sharedManager().palette();
    for (const auto& [key, color] : overrides_) p.setOverrideColor(color, key);
    return p;
}

ZMPalette ZMPalettedViewController::palette() const { return applied_ ? palette_ : buildPalette(); }

bool ZMPalettedViewController::isDarkMode() const { return ZMPaletteManager::sharedManager().isDarkMode(); }

void ZMPalettedViewController::afterViewDidLoad() { applyPalette(); }

void ZMPalettedViewController::beforeViewWillAppear(bool) { applyPalette(); }

void ZMPalettedViewController::applyPalette() {
    if (!isViewLoaded()) return;
    if (applying_) {
        // A hook asked again (say, it changed an override): run once more after it.
        reapply_ = true;
        return;
    }
    std::lock_guard lock(paletteLock_);
    applying_ = true;
    do {
        reapply_ = false;
        const ZMPalette p = buildPalette();
        lastChangeSwitchedDark_ = applied_ && lastAppliedDark_ != p.isDark();
        lastAppliedDark_ = p.isDark();
        palette_ = p;
        applied_ = true;
        ++applyCount_;
        QWidget::setPalette(p.qPalette());
        setAutoFillBackground(true);
        auto* item = navigationItem();
        item->setBarBackgroundColor(navigationBarColor_.isValid() ? navigationBarColor_ : p.navigationBarColor());
        item->setBarTintColor(p.tintColor());
        item->setBarTitleColor(p.primaryTextColor());
        paletteDidChange(p);
    } while (reapply_);
    applying_ = false;
}

void ZMPalettedViewController::setOverrideLargeTitles(bool override) {
    navigationItem()->setLargeTitleDisplayMode(override ? UINavigationItem::LargeTitleDisplayMode::Never
                                                        : UINavigationItem::LargeTitleDisplayMode::Automatic);
}

void ZMPalettedViewController::setOverrideTranslucentNavBar(bool override) {
    navigationItem()->setForcesOpaqueBar(override ? std::optional<bool>(true) : std::nullopt);
}

void ZMPalettedViewController::setUseLegacyNavbarAppearance(bool legacy) { navigationItem()->setLegacyAppearance(legacy); }

void ZMPalettedViewController::setNavigationBarColor(const QColor& color) {
    navigationBarColor_ = color;
    navigationItem()->setBarBackgroundColor(color.isValid() ? color : palette().navigationBarColor());
}

void ZMPalettedViewController::setOverrideColor(const QColor& color, const std::string& keyPath) {
    if (!ZMPalette().setOverrideColor(color, keyPath)) return;
    overrides_[keyPath] = color;
    if (applied_ && !inWillChange_) applyPalette();
}

void ZMPalettedViewController::resetOverridesColors() {
    if (overrides_.empty()) return;
    overrides_.clear();
    if (applied_ && !inWillChange_) applyPalette();
}
