#pragma once
// The images of the browsing screens (Resources/Images/Browsing) and the
// rounded icons their rows show.
#include <QPixmap>
#include <QString>
#include <optional>
#include <string>

namespace BrowsingImages {

// "ZMCydiaSource.png", "Verified Icon", "AppIcon", "Installed", "Packages",
// "Regenerated": the bundled image of that name, drawn at `size` points.
QPixmap named(const std::string& name, int size);
// A picture file from disk (a cached icon); nullopt when it cannot be read.
std::optional<QPixmap> fromFile(const std::string& path, int size);
// The picture scaled to `size` with corners of radius `radiusFraction` × size,
// clipped (the continuous corners of the platform approximated by a rounded rect).
QPixmap rounded(const QPixmap& picture, int size, double radiusFraction);

}  // namespace BrowsingImages
