#include "ZMSvgPixmap.h"

#include <QHash>

namespace ZMSvgPixmap {

QIcon icon(const QString& path) {
    // A few dozen bundled files at most: the icons live as long as the process.
    static QHash<QString, QIcon> icons;
    auto it = icons.find(path);
    if (it == icons.end()) it = icons.insert(path, QIcon(path));
    return *it;
}

QPixmap pixmap(const QString& path, const QSize& size) {
    const QIcon shared = icon(path);
    return shared.isNull() ? QPixmap() : shared.pixmap(size);
}

}  // namespace ZMSvgPixmap
