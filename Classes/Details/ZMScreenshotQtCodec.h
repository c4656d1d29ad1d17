#pragma once
// Screenshots decoded and encoded with QImage (safe off the main thread):
// the image as downloaded, for the cache file, and a copy with rounded
// corners, for the strip and the gallery. Images above 40 megapixels are
// refused from their header, before any pixel is decoded.
#include <QImage>

#include "Depictions/ZMScreenshotPass.h"

class ZMScreenshotQtImage : public ZMScreenshotImage {
public:
    QImage image;
    QImage rounded;
};

class ZMScreenshotQtCodec : public ZMScreenshotCodec {
public:
    static constexpr double kCornerRadius = 15;
    std::shared_ptr<const ZMScreenshotImage> decode(const std::string& data) const override;
    bool writePNG(const ZMScreenshotImage& image, const std::string& data, const std::string& path) const override;

    // A decoded image, or a null one (also above the pixel limit).
    static QImage decodeImage(const std::string& data);
};
