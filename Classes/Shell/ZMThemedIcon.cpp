#include "ZMThemedIcon.h"

#include "Miscellaneous/ZMLog.h"

// The bundled pictures live in a static library: registered at first use.
static void initIconResources() { Q_INIT_RESOURCE(Icons); }

namespace ZMThemedIcon {

QIcon named(const char* name) {
    const QString theme = QString::fromLatin1(name);
    if (QIcon::hasThemeIcon(theme)) return QIcon::fromTheme(theme);
    if (QIcon::hasThemeIcon(theme + "-symbolic")) return QIcon::fromTheme(theme + "-symbolic");
    static const bool registered = (initIconResources(), true);
    (void)registered;
    QIcon bundled(":/Images/Icons/" + theme + ".svg");
    if (bundled.isNull()) ZMLOG("no picture for the icon {}", name);
    return bundled;
}

}  // namespace ZMThemedIcon
