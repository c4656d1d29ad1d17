#pragma once
// The colour set of one appearance style: 0 light, 1 blue, 2 grey, 3 pure
// black. Colours are read by key name ("backgroundColor", ...) or through the
// typed accessors; per-key overrides replace single colours.
#include <QColor>
#include <QPalette>
#include <map>
#include <string>
#include <vector>

class ZMPalette {
public:
    enum Style { Light = 0, Blue = 1, Grey = 2, PureBlack = 3 };
    enum class KeyboardAppearance { Light, Dark };
    enum class BlurStyle { Light, Dark, ExtraDark };
    static constexpr int kStyleCount = 4;

    ZMPalette() : ZMPalette(Light) {}
    explicit ZMPalette(int style);

    int style() const { return style_; }
    bool isDark() const { return style_ != Light; }

    // The colour under `key`; an invalid QColor for an unknown key.
    QColor colorForKey(const std::string& key) const;
    static const std::vector<std::string>& colorKeys();
    // Replaces one colour (an unknown key is ignored and answers false).
    bool setOverrideColor(const QColor& color, const std::string& key);
    void resetOverrides();
    const std::map<std::string, QColor>& overrides() const { return overrides_; }

    QColor backgroundColor() const { return colorForKey("backgroundColor"); }
    QColor foregroundColor() const { return colorForKey("foregroundColor"); }
    QColor cellBackgroundColor() const { return colorForKey("cellBackgroundColor"); }
    QColor highlightColor() const { return colorForKey("highlightColor"); }
    QColor tintColor() const { return colorForKey("tintColor"); }
    QColor primaryTextColor() const { return colorForKey("primaryTextColor"); }
    QColor secondaryTextColor() const { return colorForKey("secondaryTextColor"); }
    QColor paidTextColor() const { return colorForKey("paidTextColor"); }
    QColor shadowColor() const { return colorForKey("shadowColor"); }
    QColor getButtonBackgoundColor() const { return colorForKey("getButtonBackgoundColor"); }
    QColor getButtonTextColor() const { return colorForKey("getButtonTextColor"); }
    QColor separatorColor() const { return colorForKey("separatorColor"); }
    QColor navigationBarColor() const { return colorForKey("navigationBarColor"); }
    // The fill of a pill titled in white on the tint (the bar's Get button):
    // the tint, or the shade of it nearest to it on which white reads. The
    // tint itself stays as it is for links, bars and outlines.
    QColor tintPillColor() const;
    KeyboardAppearance keyboardAppearance() const { return isDark() ? KeyboardAppearance::Dark : KeyboardAppearance::Light; }
    BlurStyle blurStyle() const;

    // The same colours as a QPalette (Window = background, Base = cell
    // background, Text = primary text, PlaceholderText = secondary text,
    // Highlight = highlight, Link = tint, Mid = separator...).
    QPalette qPalette() const;
    // Fills "@key" placeholders of a style sheet with this palette's colours.
    QString fillStyleSheet(const QString& templ) const;

    bool operator==(const ZMPalette& o) const { return style_ == o.style_ && overrides_ == o.overrides_; }

private:
    int style_;
    std::map<std::string, QColor> overrides_;
};
