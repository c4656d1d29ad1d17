#include "Details/ZMScreenshotQtCodec.h"

#include <QBuffer>
#include <QImageReader>
#include <cmath>

#include "Depictions/ZMDepictionRequests.h"
#include "Details/PackageDetailsViewController.h"
#include "Foundation/AtomicFile.h"

namespace {

// Reads the picture at the largest size within `box` (an empty box: as it is).
QImage readWithin(QImageReader& reader, QSize box) {
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!size.isValid() ||
        static_cast<uint64_t>(size.width()) * static_cast<uint64_t>(size.height()) > ZMDepictionRequests::kMaximumImagePixels)
        return {};
    if (box.isValid() && (size.width() > box.width() || size.height() > box.height()))
        reader.setScaledSize(size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    image.detach();  // the bytes belong to the caller
    return image;
}

}  // namespace

QImage ZMScreenshotQtCodec::decodeImage(const std::string& data, QSize box) {
    QByteArray bytes = QByteArray::fromRawData(data.data(), static_cast<qsizetype>(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return readWithin(reader, box);
}

QImage ZMScreenshotQtCodec::decodeFile(const QString& path, QSize box) {
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return readWithin(reader, box);
}

std::shared_ptr<const ZMScreenshotImage> ZMScreenshotQtCodec::decode(const std::string& data, uint64_t maximumBytes) const {
    if (maximumBytes < kMinimumBytes) return nullptr;
    QSize box = box_;
    // Within the budget left: a smaller box of the same shape (4 bytes a pixel).
    const double boxBytes = 4.0 * box.width() * box.height();
    if (boxBytes > static_cast<double>(maximumBytes)) {
        const double scale = std::sqrt(static_cast<double>(maximumBytes) / boxBytes);
        box = QSize(std::max(1, static_cast<int>(box.width() * scale)), std::max(1, static_cast<int>(box.height() * scale)));
    }
    QImage image = decodeImage(data, box);
    if (image.isNull() || static_cast<uint64_t>(image.sizeInBytes()) > maximumBytes) return nullptr;
    auto out = std::make_shared<ZMScreenshotQtImage>();
    out->rounded = PackageDetailsViewController::makeRoundedImage(image, kCornerRadius);
    return out;
}

bool ZMScreenshotQtCodec::writePNG(const ZMScreenshotImage&, const std::string& data, const std::string& path) const {
    // Downloaded PNG bytes already are the image's PNG form.
    if (data.size() > 8 && data.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) return AtomicFile::write(path, data, 0644);
    // Another format: its picture, within the cache's box, as PNG.
    const QImage image = decodeImage(data, cacheBox());
    if (image.isNull()) return false;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return false;
    return AtomicFile::write(path, std::string_view(png.constData(), static_cast<size_t>(png.size())), 0644);
}
