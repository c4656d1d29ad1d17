#include "ZMPalette.h"

#include <QRegularExpression>
#include <array>

#include "ZMColorContrast.h"

namespace {

struct StyleColors {
    const char* background;
    const char* foreground;
    const char* cellBackground;
    const char* highlight;
    const char* tint;
    const char* primaryText;
    const char* secondaryText;
    const char* paidText;
    const char* shadow;
    const char* getButtonBackground;
    const char* getButtonText;
    const char* separator;
    const char* navigationBar;
};

// Light, blue, grey, pure black. A Get button's title reads on its pill at
// 4.5:1 (the light one's is the tint's nearest shade that does).
constexpr std::array<StyleColors, ZMPalette::kStyleCount> kStyles{{
    {"#f2f2f7", "#ffffff", "#ffffff", "#e3e6ee", "#2f7cf6", "#111114", "#6d6d75", "#d9822b", "#000000", "#eef1f6", "#1968e1",
     "#d6d6dc", "#f9f9fb"},
    {"#0f1b2d", "#16263d", "#1a2c46", "#24395a", "#4da3ff", "#f2f5fa", "#98a6bb", "#ffb454", "#000000", "#26406a", "#ffffff",
     "#2a3d5a", "#13223a"},
    {"#1c1c1e", "#2c2c2e", "#2c2c2e", "#3a3a3c", "#5aa9ff", "#f5f5f7", "#a1a1a8", "#ffb454", "#000000", "#3a3a3c", "#ffffff",
     "#3d3d41", "#232325"},
    {"#000000", "#0e0e0f", "#121213", "#1f1f21", "#4da3ff", "#ffffff", "#8e8e95", "#ffb454", "#000000", "#1f1f21", "#ffffff",
     "#242427", "#0a0a0a"},
}};

const std::vector<std::string> kKeys{"backgroundColor",   "foregroundColor",    "cellBackgroundColor", "highlightColor",
                                     "tintColor",         "primaryTextColor",   "secondaryTextColor",  "paidTextColor",
                                     "shadowColor",       "getButtonBackgoundColor", "getButtonTextColor", "separatorColor",
                                     "navigationBarColor"};

const char* baseColor(const StyleColors& c, const std::string& key) {
    if (key == "backgroundColor") return c.background;
    if (key == "foregroundColor") return c.foreground;
    if (key == "cellBackgroundColor") return c.cellBackground;
    if (key == "highlightColor") return c.highlight;
    if (key == "tintColor") return c.tint;
    if (key == "primaryTextColor") return c.primaryText;
    if (key == "secondaryTextColor") return c.secondaryText;
    if (key == "paidTextColor") return c.paidText;
    if (key == "shadowColor") return c.shadow;
    if (key == "getButtonBackgoundColor") return c.getButtonBackground;
    if (key == "getButtonTextColor") return c.getButtonText;
    if (key == "separatorColor") return c.separator;
    if (key == "navigationBarColor") return c.navigationBar;
    return nullptr;
}

}  // namespace

// An unknown style number falls back to the light style rather than reading
// past the table.
ZMPalette::ZMPalette(int style) : style_(style >= 0 && style < kStyleCount ? style : Light) {}

const std::vector<std::string>& ZMPalette::colorKeys() { return kKeys; }

QColor ZMPalette::colorForKey(const std::string& key) const {
    auto it = overrides_.find(key);
    if (it != overrides_.end()) return it->second;
    const char* hex = baseColor(kStyles[style_], key);
    return hex ? QColor(hex) : QColor();
}

bool ZMPalette::setOverrideColor(const QColor& color, const std::string& key) {
    if (!baseColor(kStyles[0], key)) return false;
    overrides_[key] = color;
    return true;
}

void ZMPalette::resetOverrides() { overrides_.clear(); }

QColor ZMPalette::tintPillColor() const { return ZMColorContrast::readableShade(tintColor(), Qt::white); }

ZMPalette::BlurStyle ZMPalette::blurStyle() const {
    switch (style_) {
    case Light:
        return BlurStyle::Light;
    case PureBlack:
        return BlurStyle::ExtraDark;
    default:
        return BlurStyle::Dark;
    }
}

QPalette ZMPalette::qPalette() const {
    QPalette p;
    const QColor text = primaryTextColor();
    p.setColor(QPalette::Window, backgroundColor());
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, cellBackgroundColor());
    p.setColor(QPalette::AlternateBase, foregroundColor());
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::BrightText, text);
    p.setColor(QPalette::PlaceholderText, secondaryTextColor());
    p.setColor(QPalette::Button, foregroundColor());
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, highlightColor());
    p.setColor(QPalette::HighlightedText, text);
    p.setColor(QPalette::Link, tintColor());
    p.setColor(QPalette::LinkVisited, tintColor());
    p.setColor(QPalette::Mid, separatorColor());
    p.setColor(QPalette::Shadow, shadowColor());
    p.setColor(QPalette::ToolTipBase, foregroundColor());
    p.setColor(QPalette::ToolTipText, text);
    QColor disabled = text;
    disabled.setAlphaF(0.4f);
    p.setColor(QPalette::Disabled, QPalette::Text, disabled);
    p.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
    return p;
}

QString ZMPalette::fillStyleSheet(const QString& templ) const {
    QString out = templ;
    // Longest keys first, so that no key replaces the start of a longer one.
    std::vector<std::string> keys = kKeys;
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const auto& key : keys)
        out.replace(QStringLiteral("@") + QString::fromStdString(key), colorForKey(key).name(QColor::HexArgb));
    return out;
}
