#include "Online/Screens/OnlineImages.h"
#include "ZMSvgPixmap.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>

static void initFeaturedResources() { Q_INIT_RESOURCE(Featured); }

namespace OnlineImages {

QImage named(const std::string& name, int side) {
    static const bool ready = (initFeaturedResources(), true);
    (void)ready;
    if (name == "Info") return ZMSvgPixmap::pixmap(QStringLiteral(":/Images/Featured/Info.svg"), side).toImage();
    if (name == "News") return ZMSvgPixmap::pixmap(QStringLiteral(":/Images/Featured/News.svg"), side).toImage();
    if (name == "default-banner.jpeg") {
        static const QImage banner(QStringLiteral(":/Images/Featured/default-banner.jpeg"));
        return banner;
    }
    if (name == "iTunesArtwork.png") {
        static const QImage artwork(QStringLiteral(":/Images/Developers/iTunesArtwork.png"));
        return artwork;
    }
    return {};
}

QPixmap rounded(const QImage& picture, QSize size, double radius) {
    const qreal ratio = 2.0;  // drawn at twice the size for sharp edges on dense screens
    QPixmap out(size * ratio);
    out.setDevicePixelRatio(ratio);
    out.fill(Qt::transparent);
    if (picture.isNull()) return out;
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), radius, radius);
    p.setClipPath(clip);
    const QImage scaled = picture.scaled(size * ratio, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    const QRectF source((scaled.width() - size.width() * ratio) / 2, (scaled.height() - size.height() * ratio) / 2,
                        size.width() * ratio, size.height() * ratio);
    p.drawImage(QRectF(QPointF(0, 0), QSizeF(size)), scaled, source);
    return out;
}

}  // namespace OnlineImages
