#pragma once
// Screenshots decoded and encoded with QImage (safe off the main thread).
// A screenshot is decoded straight at the size it is shown at (the reader
// scales while it decodes, where the format allows) and kept once, with its
// rounded corners, for the strip; the gallery decodes the cache file again at
// its own size when it shows it. Images above 40 megapixels are refused from
// their header, before any pixel is decoded.
#include <QImage>

#include "Depictions/ZMScreenshotPass.h"

class ZMScreenshotQtImage : public ZMScreenshotImage {
public:
    QImage rounded;
    uint64_t byteCount() const override { return static_cast<uint64_t>(rounded.sizeInBytes()); }
};

class ZMScreenshotQtCodec : public ZMScreenshotCodec {
public:
    static constexpr double kCornerRadius = 15;
    // The strip's screenshots: 300 points high, at twice the pixels.
    static QSize stripBox() { return {2400, 600}; }
    // What a cache file holds of a screenshot that came in another format than PNG.
    static QSize cacheBox() { return {2560, 2560}; }
    // Pictures smaller than this (in bytes) are not worth showing.
    static constexpr uint64_t kMinimumBytes = 64 * 64 * 4;

    explicit ZMScreenshotQtCodec(QSize box = stripBox()) : box_(box) {}
    std::shared_ptr<const ZMScreenshotImage> decode(const std::string& data, uint64_t maximumBytes) const override;
    bool writePNG(const ZMScreenshotImage& image, const std::string& data, const std::string& path) const override;

    // A decoded image, or a null one (also above the pixel limit). With a
    // box, decoded straight at the largest size that fits it (never larger
    // than the picture).
    static QImage decodeImage(const std::string& data, QSize box = {});
    // The same from a file (the gallery's cache files).
    static QImage decodeFile(const QString& path, QSize box);

private:
    QSize box_;
};
