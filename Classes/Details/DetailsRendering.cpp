#include "Details/DetailsRendering.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "Categories/String+URLsFromString.h"
#include "Depictions/ZMMarkdownHTML.h"

namespace DetailsRendering {

QTextDocument* attributedTextFromMarkdown(const std::string& text, bool forChangelog, bool darkMode) {
    auto* doc = new QTextDocument;
    QFont font = doc->defaultFont();
    font.setPixelSize(15);
    doc->setDefaultFont(font);
    // The breaks written after paragraphs and headings are the spacing.
    doc->setDefaultStyleSheet("p, h1, h2, h3, h4, h5, h6 { margin-top: 0; margin-bottom: 0; }");
    const std::string html = ZMMarkdownHTML::htmlForText(text, forChangelog, darkMode);
    if (html.empty()) return doc;
    doc->setHtml(QString::fromStdString(html));
    const QString plain = doc->toPlainText();
    // A link written as its own address shows without underline.
    for (const URL& url : StringURLsFromString::URLs(plain.toStdString())) {
        const int at = plain.indexOf(QString::fromStdString(url.string()));
        if (at < 0) continue;
        QTextCursor c(doc);
        c.setPosition(at);
        c.setPosition(at + static_cast<int>(QString::fromStdString(url.string()).size()), QTextCursor::KeepAnchor);
        QTextCharFormat f;
        f.setFontUnderline(false);
        f.setUnderlineStyle(QTextCharFormat::NoUnderline);
        c.mergeCharFormat(f);
    }
    QTextCursor all(doc);
    all.select(QTextCursor::Document);
    QTextBlockFormat left;
    left.setAlignment(Qt::AlignLeft);
    all.mergeBlockFormat(left);
    // No trailing line breaks (the break after the last paragraph).
    for (;;) {
        const int count = doc->characterCount();
        if (count <= 1) break;
        const QChar last = doc->characterAt(count - 2);
        if (last != QChar::LineSeparator && last != QChar::ParagraphSeparator && last != '\n') break;
        QTextCursor c(doc);
        c.movePosition(QTextCursor::End);
        c.deletePreviousChar();
        if (doc->characterCount() == count) break;
    }
    return doc;
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
