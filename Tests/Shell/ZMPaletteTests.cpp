#include <gtest/gtest.h>

#include <QApplication>

#include "Notifications/NotificationCenter.h"
#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"
#include "ZMColorContrast.h"
#include "ZMPaletteManager.h"
#include "ZMPalettedViewController.h"

namespace {

TEST(ZMPaletteTest, EveryStyleHasEveryKeyAndOverridesReplaceSingleColours) {
    for (int style = 0; style < ZMPalette::kStyleCount; ++style) {
        ZMPalette p(style);
        EXPECT_EQ(p.isDark(), style != 0);
        for (const auto& key : ZMPalette::colorKeys()) EXPECT_TRUE(p.colorForKey(key).isValid()) << style << " " << key;
        // Text stays readable against the background.
        EXPECT_GT(std::abs(p.primaryTextColor().lightness() - p.backgroundColor().lightness()), 150) << style;
    }
    EXPECT_NE(ZMPalette(0).backgroundColor(), ZMPalette(3).backgroundColor());
    EXPECT_EQ(ZMPalette(3).backgroundColor(), QColor(Qt::black));
    EXPECT_EQ(ZMPalette(0).keyboardAppearance(), ZMPalette::KeyboardAppearance::Light);
    EXPECT_EQ(ZMPalette(2).keyboardAppearance(), ZMPalette::KeyboardAppearance::Dark);
    EXPECT_FALSE(ZMPalette(0).colorForKey("noSuchColor").isValid());
    // Unknown styles are the light one.
    EXPECT_EQ(ZMPalette(17).style(), 0);
    EXPECT_EQ(ZMPalette(-1).style(), 0);

    ZMPalette p(1);
    EXPECT_TRUE(p.setOverrideColor(Qt::red, "cellBackgroundColor"));
    EXPECT_FALSE(p.setOverrideColor(Qt::red, "cellBackground"));
    EXPECT_EQ(p.cellBackgroundColor(), QColor(Qt::red));
    EXPECT_EQ(p.qPalette().color(QPalette::Base), QColor(Qt::red));
    EXPECT_EQ(p.backgroundColor(), ZMPalette(1).backgroundColor());
    p.resetOverrides();
    EXPECT_EQ(p.cellBackgroundColor(), ZMPalette(1).cellBackgroundColor());
}

TEST(ZMPaletteTest, TheStyleSheetTemplateIsFilledCompletely) {
    const QString templ = ZMPaletteManager::styleSheetTemplate();
    ASSERT_FALSE(templ.isEmpty());
    ASSERT_TRUE(templ.contains("@tintColor"));
    const QString filled = ZMPalette(2).fillStyleSheet(templ);
    EXPECT_FALSE(filled.contains('@'));
    EXPECT_TRUE(filled.contains(ZMPalette(2).tintColor().name(QColor::HexArgb)));
    // "@getButtonBackgoundColor" is not taken for "@getButtonTextColor" or a prefix key.
    EXPECT_TRUE(filled.contains(ZMPalette(2).getButtonBackgoundColor().name(QColor::HexArgb)));
}

// A Get button's title reads on its pill on every palette, whatever the
// palette's tint: a title that small needs 4.5:1.
TEST(ZMPaletteTest, TheGetButtonsTitlesReadOnTheirPillsOnEveryPalette) {
    struct Pill {
        const char* name;
        QColor (*title)(const ZMPalette&);
        QColor (*fill)(const ZMPalette&);
    };
    const Pill pills[] = {
        {"a list's and a page's Get button", [](const ZMPalette& p) { return p.getButtonTextColor(); },
         [](const ZMPalette& p) { return p.getButtonBackgoundColor(); }},
        {"the bar's Get button, white on the tint", [](const ZMPalette&) { return QColor(Qt::white); },
         [](const ZMPalette& p) { return p.tintPillColor(); }},
    };
    for (int style = 0; style < ZMPalette::kStyleCount; ++style)
        for (const Pill& pill : pills) {
            const ZMPalette p(style);
            EXPECT_GE(ZMColorContrast::contrast(pill.title(p), pill.fill(p)), ZMColorContrast::kReadableText)
                << "style " << style << ", " << pill.name << ": " << pill.title(p).name().toStdString() << " on "
                << pill.fill(p).name().toStdString();
        }
    // A tint that white already reads on is the pill as it is.
    ZMPalette dark(ZMPalette::PureBlack);
    dark.setOverrideColor(QColor("#1d4ed8"), "tintColor");
    EXPECT_EQ(dark.tintPillColor(), QColor("#1d4ed8"));
}

// The shade that reads is the nearest one: the same hue, just past the
// contrast asked for, moved away from what it stands on.
TEST(ZMColorContrastTest, AShadeThatReadsIsTheNearestOfTheSameHue) {
    struct Case {
        const char* name;
        QColor color, against;
        int direction;  // -1 darker, 0 unchanged, +1 lighter
    };
    const Case cases[] = {
        {"white on a light blue: the blue darkens", QColor("#4da3ff"), Qt::white, -1},
        {"a blue title on a pale pill: the title darkens", QColor("#2f7cf6"), QColor("#eef1f6"), -1},
        {"a grey title on a dark pill: the title lightens", QColor("#5a6070"), QColor("#1c1c1e"), +1},
        {"dark text on white reads already", QColor("#111114"), Qt::white, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QColor shade = ZMColorContrast::readableShade(c.color, c.against);
        const double ratio = ZMColorContrast::contrast(shade, c.against);
        EXPECT_GE(ratio, ZMColorContrast::kReadableText) << shade.name().toStdString();
        if (c.direction == 0) {
            EXPECT_EQ(shade, c.color);
            continue;
        }
        EXPECT_LT(ratio, ZMColorContrast::kReadableText + 0.2) << "further than it needs: " << shade.name().toStdString();
        EXPECT_EQ(shade.lightness() < c.color.lightness(), c.direction < 0) << shade.name().toStdString();
        const int hueShift = std::abs(shade.hslHue() - c.color.hslHue());
        EXPECT_LE(std::min(hueShift, 360 - hueShift), 8) << shade.name().toStdString();
    }
    // No shade of grey reads at 30:1 on grey: the far end, black or white, is the best there is.
    EXPECT_EQ(ZMColorContrast::readableShade(QColor("#707070"), QColor("#777777"), 30), QColor(Qt::black));
    EXPECT_EQ(ZMColorContrast::readableShade(QColor("#808080"), QColor("#777777"), 30), QColor(Qt::white));
}

// Records the hooks in order.
class ThemedScreen : public ZMPalettedViewController {
public:
    std::vector<std::string> calls;
    std::vector<int> styles;
    std::vector<bool> darkSwitches;
    void paletteWillChangeToStyle(int style) override {
        calls.push_back("will:" + std::to_string(style));
        // The light style gets its own grouped-table colours, the others drop them.
        if (style == 0) {
            setOverrideColor(QColor::fromRgbF(0.94f, 0.94f, 0.96f), "backgroundColor");
            setOverrideColor(Qt::white, "cellBackgroundColor");
        } else {
            resetOverridesColors();
        }
    }
    void paletteDidChange(const ZMPalette& p) override {
        calls.push_back("did:" + std::to_string(p.style()));
        styles.push_back(p.style());
        darkSwitches.push_back(didLastPaletteChangeUpdateDarkmode());
    }
};

class PaletteSwitchTest : public ::testing::Test {
protected:
    void SetUp() override { ZMPaletteManager::sharedManager().setStyle(0); }
    void TearDown() override { ZMPaletteManager::sharedManager().setStyle(0); }
};

TEST_F(PaletteSwitchTest, AChangeCallsWillThenDidWithTheNewPalette) {
    auto& manager = ZMPaletteManager::sharedManager();
    std::vector<int> announced;
    auto token = NotificationCenter::defaultCenter().addObserver(
        kZMPaletteDidChangeNotification, NotificationCenter::Queue::Posting,
        [&](const Notification& n) { announced.push_back(std::any_cast<int>(n.object)); });

    UIWindow window;
    auto* screen = new ThemedScreen;
    window.setRootViewController(screen);
    window.show();
    // Loading and appearing each apply the palette.
    EXPECT_EQ(screen->calls, (std::vector<std::string>{"did:0", "did:0"}));
    EXPECT_FALSE(screen->isDarkMode());
    screen->calls.clear();

    manager.setStyle(2);
    EXPECT_EQ(screen->calls, (std::vector<std::string>{"will:2", "did:2"}));
    EXPECT_EQ(screen->palette().style(), 2);
    EXPECT_TRUE(screen->isDarkMode());
    EXPECT_TRUE(screen->didLastPaletteChangeUpdateDarkmode());
    EXPECT_EQ(screen->QWidget::palette().color(QPalette::Window), ZMPalette(2).backgroundColor());
    EXPECT_EQ(qApp->palette().color(QPalette::Window), ZMPalette(2).backgroundColor());

    manager.setStyle(3);
    EXPECT_FALSE(screen->didLastPaletteChangeUpdateDarkmode());
    EXPECT_TRUE(screen->isDarkMode());

    screen->calls.clear();
    manager.setStyle(0);
    // The overrides made in the will-hook arrive with the change, in one call.
    EXPECT_EQ(screen->calls, (std::vector<std::string>{"will:0", "did:0"}));
    EXPECT_TRUE(screen->didLastPaletteChangeUpdateDarkmode());
    EXPECT_EQ(screen->palette().cellBackgroundColor(), QColor(Qt::white));
    EXPECT_EQ(screen->palette().backgroundColor(), QColor::fromRgbF(0.94f, 0.94f, 0.96f));
    EXPECT_FALSE(screen->isDarkMode());

    manager.setStyle(0);  // no change, no announcement
    EXPECT_EQ(announced, (std::vector<int>{2, 3, 0}));
}

TEST_F(PaletteSwitchTest, AScreenNotYetLoadedGetsThePaletteWhenItLoads) {
    auto* screen = new ThemedScreen;
    ZMPaletteManager::sharedManager().setStyle(1);
    EXPECT_EQ(screen->calls, (std::vector<std::string>{"will:1"}));
    EXPECT_EQ(screen->palette().style(), 1);
    UIWindow window;
    window.setRootViewController(screen);
    window.show();
    ASSERT_FALSE(screen->styles.empty());
    EXPECT_EQ(screen->styles.front(), 1);
    // Its first palette is no switch.
    EXPECT_FALSE(screen->darkSwitches.front());
}

TEST_F(PaletteSwitchTest, ProviderAndPerScreenBarSwitches) {
    int stored = 3;
    auto& manager = ZMPaletteManager::sharedManager();
    manager.setStyleProvider([&] { return stored; });
    EXPECT_EQ(manager.activeStyle(), 3);
    stored = 1;
    manager.reloadStyle();
    EXPECT_EQ(manager.activeStyle(), 1);
    manager.setStyleProvider(nullptr);

    UIView::setAnimationsEnabled(false);
    UINavigationController::setPrefersLargeTitles(true);
    UIWindow window;
    auto* root = new ThemedScreen;
    auto* nav = new UINavigationController(root);
    window.setRootViewController(nav);
    window.show();
    EXPECT_TRUE(nav->navigationBar()->showsLargeTitle());
    root->setOverrideLargeTitles(true);
    EXPECT_FALSE(nav->navigationBar()->showsLargeTitle());
    root->setOverrideLargeTitles(false);
    EXPECT_TRUE(nav->navigationBar()->showsLargeTitle());

    EXPECT_EQ(root->navigationItem()->barBackgroundColor(), ZMPalette(1).navigationBarColor());
    root->setNavigationBarColor(Qt::darkGreen);
    EXPECT_EQ(root->navigationItem()->barBackgroundColor(), QColor(Qt::darkGreen));
    manager.setStyle(2);
    EXPECT_EQ(root->navigationItem()->barBackgroundColor(), QColor(Qt::darkGreen));
    root->setNavigationBarColor(QColor());
    EXPECT_EQ(root->navigationItem()->barBackgroundColor(), ZMPalette(2).navigationBarColor());
    EXPECT_EQ(root->navigationItem()->barTintColor(), ZMPalette(2).tintColor());

    root->setOverrideTranslucentNavBar(true);
    EXPECT_EQ(root->navigationItem()->forcesOpaqueBar(), std::optional<bool>(true));
    root->setUseLegacyNavbarAppearance(true);
    EXPECT_TRUE(root->navigationItem()->legacyAppearance());

    // A per-screen colour reaches the hook at once and goes with resetOverridesColors.
    root->calls.clear();
    root->setOverrideColor(Qt::magenta, "highlightColor");
    EXPECT_EQ(root->calls, std::vector<std::string>{"did:2"});
    EXPECT_EQ(root->palette().highlightColor(), QColor(Qt::magenta));
    root->resetOverridesColors();
    EXPECT_EQ(root->palette().highlightColor(), ZMPalette(2).highlightColor());
    UIView::setAnimationsEnabled(true);
}

}  // namespace
