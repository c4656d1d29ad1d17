#pragma once
// How well a title reads on what it is drawn on, as the web's accessibility
// rules count it (WCAG 2 relative luminance), and the nearest shade of a
// colour that reads.
//
// A shade keeps the colour's hue and chroma and moves only its perceived
// lightness (OKLab), so a button that must change to read still looks like
// the same colour; chroma is given up only where the lighter or darker colour
// would fall outside sRGB. The shade is exact in 8-bit channels: what a style
// sheet writes (#rrggbb) is what was measured.
#include <QColor>

namespace ZMColorContrast {

// Titles under 18 points (every button's) need this much.
inline constexpr double kReadableText = 4.5;

// 1 (the same luminance) to 21 (black on white); alpha is ignored.
double contrast(const QColor& a, const QColor& b);

// `color` itself when it reads on `against` at `ratio`; else the shade of it,
// darker when it is the darker of the two (lighter otherwise), nearest to it
// that does. Black or white when no shade of it reads (a ratio no colour
// reaches on `against`).
QColor readableShade(const QColor& color, const QColor& against, double ratio = kReadableText);

}  // namespace ZMColorContrast
