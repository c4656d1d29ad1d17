#pragma once
// The bundled pictures of the online screens and the featured page:
// "Info" (the account button without an avatar), "News", "default-banner.jpeg"
// (a banner not loaded yet or unavailable) and "iTunesArtwork.png" (any
// repository icon or avatar that cannot be had).
#include <QImage>
#include <QPixmap>
#include <string>

namespace OnlineImages {

// The picture of that name, or a null image for an unknown name. Vector
// pictures are drawn at `side` pixels.
QImage named(const std::string& name, int side = 120);
// A picture filling `size` (aspect fill, centred) with corners of `radius`
// (a circle when a square's radius is half its side), clipped.
QPixmap rounded(const QImage& picture, QSize size, double radius);
inline QPixmap rounded(const QImage& picture, int side, double radius) { return rounded(picture, QSize(side, side), radius); }

}  // namespace OnlineImages
