#pragma once
// Bundled SVG pictures, one QIcon for each file, shared by every caller.
//
// QIcon keeps what it draws in QPixmapCache under a key of its own instance:
// a new QIcon for every cell or page draws the picture again and leaves one
// more copy in the cache each time, until the cache is full of duplicates.
// With one QIcon per file a picture is drawn once for each size (and again
// after QPixmapCache::clear()), and the cache holds it once.
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace ZMSvgPixmap {

// The icon of the picture at `path` (a resource or file path); a null icon
// when the file does not exist or is not a picture. GUI thread only.
QIcon icon(const QString& path);

// The picture drawn at `size`; a null pixmap where icon() is null.
QPixmap pixmap(const QString& path, const QSize& size);
inline QPixmap pixmap(const QString& path, int side) { return pixmap(path, QSize(side, side)); }

}  // namespace ZMSvgPixmap
