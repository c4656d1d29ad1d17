#include "Details/ZMScreenshotQtCodec.h"

#include <QBuffer>
#include <QImageReader>

#include "Depictions/ZMDepictionRequests.h"
#include "Details/PackageDetailsViewController.h"
#include "Foundation/AtomicFile.h"

QImage ZMScreenshotQtCodec::decodeImage(const std::string& data) {
    QByteArray bytes = QByteArray::fromRawData(data.data(), static_cast<qsizetype>(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!size.isValid() ||
        static_cast<uint64_t>(size.width()) * static_cast<uint64_t>(size.height()) > ZMDepictionRequests::kMaximumImagePixels)
        return {};
    QImage image = reader.read();
    image.detach();  // the bytes belong to the caller
    return image;
}

std::shared_ptr<const ZMScreenshotImage> ZMScreenshotQtCodec::decode(const std::string& data) const {
    QImage image = decodeImage(data);
    if (image.isNull()) return nullptr;
    auto out = std::make_shared<ZMScreenshotQtImage>();
    out->rounded = PackageDetailsViewController::makeRoundedImage(image, kCornerRadius);
    out->image = std::move(image);
    return out;
}

bool ZMScreenshotQtCodec::writePNG(const ZMScreenshotImage& image, const std::string& data, const std::string& path) const {
    // Downloaded PNG bytes already are the image's PNG form.
    if (data.size() > 8 && data.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) return AtomicFile::write(path, data, 0644);
    const auto* qt = dynamic_cast<const ZMScreenshotQtImage*>(&image);
    if (!qt) return false;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!qt->image.save(&buffer, "PNG")) return false;
    return AtomicFile::write(path, std::string_view(png.constData(), static_cast<size_t>(png.size())), 0644);
}
