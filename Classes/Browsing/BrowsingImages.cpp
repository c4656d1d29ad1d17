#include "Browsing/BrowsingImages.h"
#include "ZMSvgPixmap.h"

#include <QFile>
#include <QIcon>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <map>

static void initBrowsingResources() { Q_INIT_RESOURCE(Browsing); }

namespace BrowsingImages {

QPixmap named(const std::string& name, int size) {
    static const bool ready = (initBrowsingResources(), true);
    (void)ready;
    static const std::map<std::string, QString> files = {
        {"ZMCydiaSource.png", "ZMCydiaSource"}, {"Verified Icon", "VerifiedIcon"}, {"AppIcon", "AppIcon"},
        {"Installed", "Installed"},             {"Packages", "Packages"},          {"Regenerated", "Regenerated"},
    };
    auto it = files.find(name);
    if (it == files.end()) return {};
    return ZMSvgPixmap::pixmap(QStringLiteral(":/Images/Browsing/%1.svg").arg(it->second), size);
}

std::optional<QPixmap> fromFile(const std::string& path, int size) {
    if (path.empty() || !QFile::exists(QString::fromStdString(path))) return std::nullopt;
    QImageReader reader(QString::fromStdString(path));
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    return QPixmap::fromImage(image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

QPixmap rounded(const QPixmap& picture, int size, double radiusFraction) {
    const qreal ratio = 2.0;  // drawn at twice the size for sharp edges on high-density screens
    QPixmap out(QSize(size, size) * ratio);
    out.setDevicePixelRatio(ratio);
    out.fill(Qt::transparent);
    if (picture.isNull()) return out;
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, size, size), size * radiusFraction, size * radiusFraction);
    p.setClipPath(clip);
    p.drawPixmap(QRect(0, 0, size, size), picture);
    return out;
}

}  // namespace BrowsingImages
