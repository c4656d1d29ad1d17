#pragma once
// How the package details page draws texts and images: descriptions and
// changelogs from Markdown, rounded images, an image's dominant colour and
// a text colour that reads on a background.
#include <QColor>
#include <QImage>
#include <string>

class QTextDocument;

namespace DetailsRendering {

// A description (forChangelog false) or a changelog as a document
// (DetailsTextDocument::fromMarkdown), built on the calling thread. Never null.
QTextDocument* attributedTextFromMarkdown(const std::string& text, bool forChangelog, bool darkMode);
// A copy clipped to corners of `radius`.
QImage makeRoundedImage(const QImage& image, double radius);
// The average of the premultiplied red, green and blue of every pixel, opaque:
// a transparent image (or none) gives black.
QColor dominantColor(const QImage& image);
// Black on a colour whose brightness (299, 587, 114 per mille of red, green
// and blue, out of 255) is 200 or more, white below.
QColor readableForegroundColor(const QColor& color);

}  // namespace DetailsRendering
