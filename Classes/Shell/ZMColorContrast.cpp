#include "ZMColorContrast.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace ZMColorContrast {
namespace {

using Triple = std::array<double, 3>;

double toLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double toGamma(double v) { return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055; }

double luminance(const QColor& c) {
    const QColor rgb = c.toRgb();
    return 0.2126 * toLinear(rgb.redF()) + 0.7152 * toLinear(rgb.greenF()) + 0.0722 * toLinear(rgb.blueF());
}

// OKLab (Björn Ottosson's): lightness as the eye sees it, hue and chroma apart from it.
Triple toOklab(const QColor& c) {
    const QColor rgb = c.toRgb();
    const double r = toLinear(rgb.redF()), g = toLinear(rgb.greenF()), b = toLinear(rgb.blueF());
    const double l = std::cbrt(0.4122214708 * r + 0.5363325363 * g + 0.0514459929 * b);
    const double m = std::cbrt(0.2119034982 * r + 0.6806995451 * g + 0.1073969566 * b);
    const double s = std::cbrt(0.0883024619 * r + 0.2817188376 * g + 0.6299787005 * b);
    return {0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s, 1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
            0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s};
}

// Linear sRGB, possibly outside [0, 1].
Triple fromOklab(double L, double a, double b) {
    const double l = std::pow(L + 0.3963377774 * a + 0.2158037573 * b, 3);
    const double m = std::pow(L - 0.1055613458 * a - 0.0638541728 * b, 3);
    const double s = std::pow(L - 0.0894841775 * a - 1.2914855480 * b, 3);
    return {4.0767416621 * l - 3.3077115913 * m + 0.2309699292 * s, -1.2684380046 * l + 2.6097574011 * m - 0.3413193965 * s,
            -0.0041960863 * l - 0.7034186147 * m + 1.7076147010 * s};
}

bool inGamut(const Triple& linear) {
    return std::all_of(linear.begin(), linear.end(), [](double v) { return v >= -1e-9 && v <= 1 + 1e-9; });
}

// The colour of lightness `L` with the hue of (a, b) and as much of its
// chroma as sRGB holds, in 8-bit channels.
QColor atLightness(double L, double a, double b, int alpha) {
    double keep = 1;
    if (!inGamut(fromOklab(L, a, b))) {
        double lo = 0, hi = 1;
        for (int i = 0; i < 24; ++i) {
            const double mid = (lo + hi) / 2;
            (inGamut(fromOklab(L, a * mid, b * mid)) ? lo : hi) = mid;
        }
        keep = lo;
    }
    const Triple linear = fromOklab(L, a * keep, b * keep);
    auto channel = [](double v) { return static_cast<int>(std::lround(std::clamp(toGamma(std::clamp(v, 0.0, 1.0)), 0.0, 1.0) * 255)); };
    return QColor(channel(linear[0]), channel(linear[1]), channel(linear[2]), alpha);
}

}  // namespace

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableShade(const QColor& color, const QColor& against, double ratio) {
    if (contrast(color, against) >= ratio) return color;
    const bool darker = luminance(color) <= luminance(against);
    const int alpha = color.alpha();
    const auto [L0, a, b] = toOklab(color);
    // The lightness between the colour's and the far end (black or white)
    // nearest to the colour's that reads; luminance follows lightness.
    double near = L0, far = darker ? 0.0 : 1.0;
    QColor found = darker ? QColor(0, 0, 0, alpha) : QColor(255, 255, 255, alpha);
    for (int i = 0; i < 30; ++i) {
        const double mid = (near + far) / 2;
        const QColor shade = atLightness(mid, a, b, alpha);
        if (contrast(shade, against) >= ratio) {
            found = shade;
            far = mid;
        } else {
            near = mid;
        }
    }
    return found;
}

}  // namespace ZMColorContrast
