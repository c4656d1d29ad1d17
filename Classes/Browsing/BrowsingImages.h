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

// The file of a cached icon, from what the collections answer (a path when
// one exists, or an icon record whose path is empty without a file).
inline std::optional<std::string> iconFilePath(const std::optional<std::string>& path) { return path; }
template <class Icon>
std::optional<std::string> iconFilePath(const Icon& icon) {
    if (icon.path.empty()) return std::nullopt;
    return icon.path;
}

}  // namespace BrowsingImages
