#include "UIKit/UIApplication.h"

#include <QDesktopServices>

#include "Miscellaneous/ZMLog.h"

namespace UIApplication {
namespace {
std::function<bool(const QUrl&)> gOpener;
}

bool canOpenURL(const QUrl& url) {
    if (!url.isValid()) return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == "http" || scheme == "https") return !url.host().isEmpty();
    return scheme == "mailto";
}

bool openURL(const QUrl& url) {
    if (!canOpenURL(url)) {
        ZMLOG("refusing to open {}", url.toString().toStdString());
        return false;
    }
    return gOpener ? gOpener(url) : QDesktopServices::openUrl(url);
}

void setURLOpener(std::function<bool(const QUrl&)> opener) { gOpener = std::move(opener); }

}  // namespace UIApplication
