#include "ZMPaletteManager.h"

#include <QApplication>
#include <QFile>

#include "Notifications/NotificationCenter.h"

// The style sheet and images live in the GUI library, which is static: the
// resource must be registered by name before first use.
static void initResources() { Q_INIT_RESOURCE(Vostrelle); }

ZMPaletteManager& ZMPaletteManager::sharedManager() {
    static auto* manager = [] {
        initResources();
        return new ZMPaletteManager;
    }();
    return *manager;
}

void ZMPaletteManager::setStyleProvider(std::function<int()> provider) {
    provider_ = std::move(provider);
    reloadStyle();
}

void ZMPaletteManager::reloadStyle() {
    if (provider_) setStyle(provider_());
}

void ZMPaletteManager::setStyle(int style) {
    style = ZMPalette(style).style();
    if (style == style_) return;
    emit paletteWillChange(style);
    lastChangeSwitchedDark_ = (style_ != ZMPalette::Light) != (style != ZMPalette::Light);
    style_ = style;
    applyToApplication();
    emit paletteDidChange(style);
    NotificationCenter::defaultCenter().post(kZMPaletteDidChangeNotification, std::any(style));
}

QString ZMPaletteManager::styleSheetTemplate() {
    QFile f(QStringLiteral(":/Styles/vostrelle.qss"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

void ZMPaletteManager::applyToApplication() {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) return;
    const ZMPalette p = palette();
    app->setPalette(p.qPalette());
    app->setStyleSheet(p.fillStyleSheet(styleSheetTemplate()));
}
