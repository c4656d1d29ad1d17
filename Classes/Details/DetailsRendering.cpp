#include "Details/DetailsRendering.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextDocument>

#include "Details/DetailsTextDocument.h"

namespace DetailsRendering {

QTextDocument* attributedTextFromMarkdown(const std::string& text, bool forChangelog, bool darkMode) {
    return DetailsTextDocument::fromMarkdown(text, forChangelog, darkMode).document.release();
}

QImage makeRoundedImage(const QImage& image, double radius) {
    if (image.isNull()) return {};
    QImage out(image.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(out.rect()), radius, radius);
    p.setClipPath(clip);
    p.drawImage(0, 0, image);
    return out;
}

QColor dominantColor(const QImage& image) {
    // The average of the premultiplied red, green and blue of every pixel:
    // a transparent image (or none) gives black.
    if (image.isNull()) return QColor(Qt::black);
    const QImage pixels = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    uint64_t r = 0, g = 0, b = 0;
    for (int y = 0; y < pixels.height(); ++y) {
        const uchar* line = pixels.constScanLine(y);
        for (int x = 0; x < pixels.width(); ++x) {
            r += line[4 * x];
            g += line[4 * x + 1];
            b += line[4 * x + 2];
        }
    }
    const uint64_t count = static_cast<uint64_t>(pixels.width()) * static_cast<uint64_t>(pixels.height());
    if (count == 0) return QColor(Qt::black);
    return QColor::fromRgbF(static_cast<float>(r / count) / 255.0f, static_cast<float>(g / count) / 255.0f,
                            static_cast<float>(b / count) / 255.0f, 1.0f);
}

QColor readableForegroundColor(const QColor& color) {
    const double brightness = (color.redF() * 255 * 299 + color.greenF() * 255 * 587 + color.blueF() * 255 * 114) / 1000;
    return brightness >= 200 ? QColor(Qt::black) : QColor(Qt::white);
}

}  // namespace DetailsRendering
