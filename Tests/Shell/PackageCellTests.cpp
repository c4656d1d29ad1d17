// The package rows: what every list shows for a package, and how a row
// follows its package's queue state.
#include <QImage>
#include <QPainter>
#include <QTest>
#include <filesystem>

#include "GetPackageCell.h"
#include "Miscellaneous/ZMPaths.h"
#include "PackageCell.h"
#include "ShellTestSupport.h"

namespace {

using ShellTest::makePackage;

// Pixels of the rendered label close to `color` (anti-aliased text has few exact ones).
int pixelsNear(QWidget* w, const QColor& color) {
    const QImage image = w->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - color.red()) + std::abs(c.green() - color.green()) + std::abs(c.blue() - color.blue()) < 40) ++n;
        }
    return n;
}

class PackageCellTest : public ShellTest::Fixture {};

TEST_F(PackageCellTest, NameColourFollowsThePrice) {
    auto free = makePackage("com.test.free", "Free One");
    auto zero = makePackage("com.test.zero", "Zero Price");
    zero.price = " 0.00 ";
    auto paid = makePackage("com.test.paid", "Paid One");
    paid.price = "$1.99";
    store({free, zero, paid});
    const ZMPalette palette = ZMPaletteManager::sharedManager().palette();
    ASSERT_NE(palette.primaryTextColor(), palette.paidTextColor());

    // As in the application: its style sheet is on.
    ZMPaletteManager::sharedManager().applyToApplication();
    PackageCell cell;
    GetPackageCell getCell;
    cell.resize(390, 70);
    getCell.resize(390, 70);
    cell.show();
    getCell.show();
    for (const auto& [package, expected, other] : std::vector<std::tuple<ZMRPackage, QColor, QColor>>{
             {free, palette.primaryTextColor(), palette.paidTextColor()},
             {zero, palette.primaryTextColor(), palette.paidTextColor()},
             {paid, palette.paidTextColor(), palette.primaryTextColor()}}) {
        cell.updateWithPackage(package);
        getCell.updateWithPackage(package);
        GuiTest::pump(std::chrono::milliseconds(10));
        EXPECT_EQ(cell.nameLbl()->text().toStdString(), package.name);
        // What is painted, not only what was asked for.
        for (QLabel* label : {cell.nameLbl(), getCell.nameLbl()}) {
            EXPECT_GT(pixelsNear(label, expected), 10) << package.identifier;
            EXPECT_EQ(pixelsNear(label, other), 0) << package.identifier;
        }
    }
    // The paid label shows the price; without it the button reads GET.
    getCell.updateButtonTitleWithPackage(paid, true);
    EXPECT_EQ(getCell.getBtn()->text(), "$1.99");
    getCell.updateButtonTitleWithPackage(paid, false);
    EXPECT_EQ(getCell.getBtn()->text(), "GET");
}

TEST_F(PackageCellTest, PreferencesHideVersionDescriptionAndCompatibilityDot) {
    auto p = makePackage("com.test.prefs", "Prefs");
    p.tweakCompatibleStatus = 0;
    store({p});
    PackageCell cell;
    cell.resize(390, 70);
    namespace K = VostrellePreferenceKey;
    // Each on, then all off again: a reused row shows every part again.
    for (const char* hidden : {"", K::HidePackageVersion, K::HidePackageDescription, K::HidePackageTweakCompatibleIndicator, ""}) {
        for (const char* key : {K::HidePackageVersion, K::HidePackageDescription, K::HidePackageTweakCompatibleIndicator})
            prefs().setValue(key, std::string(key) == hidden);
        cell.updateWithPackage(p);
        EXPECT_EQ(cell.versionLbl()->isHidden(), std::string(hidden) == K::HidePackageVersion) << hidden;
        EXPECT_EQ(cell.descriptionLbl()->isHidden(), std::string(hidden) == K::HidePackageDescription) << hidden;
        EXPECT_EQ(cell.compatibilityView()->isHidden(), std::string(hidden) == K::HidePackageTweakCompatibleIndicator) << hidden;
    }
    EXPECT_EQ(cell.versionLbl()->text(), "1.2");
}

TEST_F(PackageCellTest, CompatibilityDotColours) {
    const QColor green(52, 199, 89), red(255, 59, 48), yellow(255, 204, 0);
    const std::pair<std::optional<int64_t>, QColor> verdicts[] = {{0, green}, {1, red}, {2, yellow}, {std::nullopt, yellow}};
    PackageCell cell;
    for (const auto& [status, colour] : verdicts) {
        auto p = makePackage("com.test.none", "No verdict");
        p.tweakCompatibleStatus = status;
        store({p});
        cell.updateWithPackage(p);
        EXPECT_EQ(cell.compatibilityView()->color(), colour) << status.value_or(-1);
    }
    // A compatibility service answers instead of the stored status.
    PackageRow::setCompatibilityProvider([](const std::string& id, const std::string& version) -> std::optional<int64_t> {
        return id == "com.test.none" && version == "1.2" ? 1 : 0;
    });
    cell.updateConpatibilityIndicatorWithPackageIdentifier("com.test.none", "1.2");
    EXPECT_EQ(cell.compatibilityView()->color(), red);
    cell.updateConpatibilityIndicatorWithPackageIdentifier("com.test.none", "9.9");
    EXPECT_EQ(cell.compatibilityView()->color(), green);
    PackageRow::setCompatibilityProvider(nullptr);
}

TEST_F(PackageCellTest, SubLineIsMaintainerOrSourceName) {
    auto withSource = makePackage("com.test.src", "Has Source");
    auto noSource = makePackage("com.test.nosrc", "No Source");
    noSource.sourceLocation.clear();
    auto goneSource = makePackage("com.test.gone", "Gone Source");
    goneSource.sourceLocation = "https://gone.example/";
    auto plain = makePackage("com.test.plain", "Plain maintainer");
    plain.maintainer = "Solo Dev";
    store({withSource, noSource, goneSource, plain});
    storeSource("https://repo.example/", "Example Repo");

    // The maintainer's name, or with the preference the source's name; a
    // location without a source record names none.
    const std::tuple<bool, ZMRPackage, const char*> cases[] = {
        {false, withSource, "Jane Doe"},    {false, plain, "Solo Dev"},       {false, noSource, "Jane Doe"},
        {true, withSource, "Example Repo"}, {true, noSource, "Unknown"}, {true, goneSource, ""}};
    PackageCell cell;
    GetPackageCell getCell;
    for (const auto& [sourceName, package, expected] : cases) {
        prefs().setValue(VostrellePreferenceKey::ReplacePackageMaintainerWithSourceName, sourceName);
        cell.updateWithPackage(package);
        getCell.updateWithPackage(package);
        EXPECT_EQ(cell.subinfoLbl()->text(), expected) << package.identifier;
        EXPECT_EQ(getCell.subinfoLbl()->text(), expected) << package.identifier;
    }
}

TEST_F(PackageCellTest, QueueImageFollowsInstalledAndQueuedStates) {
    auto installed = makePackage("com.test.inst", "Installed");
    installed.isInstalled = true;
    installed.installedVersion = "1.2";
    auto queuedRemoval = installed;
    queuedRemoval.identifier = "com.test.rm";
    queuedRemoval.isInTheQueue = true;
    queuedRemoval.queueOperation = ZMRQueueOperationRemove;
    auto available = makePackage("com.test.avail", "Available");
    store({installed, queuedRemoval, available});

    PackageCell cell;
    cell.updateWithPackage(installed);
    EXPECT_FALSE(cell.installOrQueueStatusImageView()->isHidden());
    EXPECT_EQ(cell.shownQueueOperation(), 0);
    EXPECT_EQ(cell.installOrQueueStatusImageView()->toolTip(), "Installed");
    // Installed and queued: the queued operation wins.
    cell.updateWithPackage(queuedRemoval);
    EXPECT_EQ(cell.shownQueueOperation(), ZMRQueueOperationRemove);
    EXPECT_EQ(cell.installOrQueueStatusImageView()->toolTip(), "Remove");
    cell.updateWithPackage(available);
    EXPECT_TRUE(cell.installOrQueueStatusImageView()->isHidden());
}

TEST_F(PackageCellTest, IconFromCacheFileElseCategoryImageWithRoundedCorners) {
    auto cached = makePackage("com.test.icon", "Cached icon");
    auto category = makePackage("com.test.cat", "Category icon");
    category.category = "Themes (SpringBoard)";
    store({cached, category});
    // A plain red icon in the cache.
    std::filesystem::create_directories(std::filesystem::path(cached.iconPath()).parent_path());
    QImage red(64, 64, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(QString::fromStdString(cached.iconPath())));

    PackageCell cell;
    cell.updateWithPackage(cached);
    QImage shown = cell.iconView()->pixmap().toImage();
    ASSERT_EQ(shown.height(), 52);
    EXPECT_EQ(shown.pixelColor(26, 26), QColor(Qt::red));
    // Radius 0.2237 x 52 ≈ 11.6: the corner pixel is outside the rounded rect.
    EXPECT_EQ(shown.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(shown.pixelColor(2, 26).alpha(), 255);

    // A new icon file (a download finished) replaces the cached picture.
    QImage blue(64, 64, QImage::Format_ARGB32);
    blue.fill(Qt::blue);
    ASSERT_TRUE(blue.save(QString::fromStdString(cached.iconPath())));
    std::filesystem::last_write_time(cached.iconPath(), std::filesystem::last_write_time(cached.iconPath()) + std::chrono::seconds(5));
    cell.updatePackageIcon();
    EXPECT_EQ(cell.iconView()->pixmap().toImage().pixelColor(26, 26), QColor(Qt::blue));

    cell.updateWithPackage(category);
    QImage themed = cell.iconView()->pixmap().toImage();
    const QImage expected = PackageRow::roundedIcon(PackageRow::bundledImage("Categories/Themes", 52), 52).toImage();
    ASSERT_FALSE(expected.isNull());
    EXPECT_EQ(themed.pixelColor(26, 10), expected.pixelColor(26, 10));
    EXPECT_NE(themed.pixelColor(26, 10), QColor(Qt::red));
    EXPECT_EQ(themed.pixelColor(0, 0).alpha(), 0);

    // Names from package data never reach outside the image directory.
    EXPECT_FALSE(PackageRow::hasBundledImage("Categories/../../../etc/passwd"));
    EXPECT_TRUE(PackageRow::bundledImage("../Tabs/Manage", 20).isNull());
}

TEST_F(PackageCellTest, QueueNotificationRedrawsOnlyTheRowsOfThatPackage) {
    auto a = makePackage("com.test.a", "Package A");
    auto b = makePackage("com.test.b", "Package B");
    store({a, b});
    GetPackageCell cellA;
    PackageCell rowA;
    GetPackageCell cellB;
    cellA.updateWithPackage(a);
    rowA.updateWithPackage(a);
    cellB.updateWithPackage(b);
    ASSERT_EQ(cellA.getBtn()->text(), "GET");

    ZMRPackageManager::sharedPackageManager().packages().setPackage("com.test.a", true, std::nullopt, 0);
    NotificationCenter::defaultCenter().post(PackageRow::queueStateNotificationName("com.test.a"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return cellA.getBtn()->text() == "QUEUED"; }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return rowA.shownQueueOperation() == ZMRQueueOperationInstall; }));
    EXPECT_EQ(cellB.getBtn()->text(), "GET");
    EXPECT_EQ(cellB.notificationRedrawCount(), 0);

    // A reused row follows its new package only.
    cellA.updateWithPackage(b);
    const int before = cellA.notificationRedrawCount();
    NotificationCenter::defaultCenter().post(PackageRow::queueStateNotificationName("com.test.a"));
    GuiTest::pump(std::chrono::milliseconds(50));
    EXPECT_EQ(cellA.notificationRedrawCount(), before);
    EXPECT_EQ(cellA.getBtn()->text(), "GET");
}

TEST_F(PackageCellTest, GetButtonQueuesAFreePackageAndRefusesAPaidOne) {
    auto free = makePackage("com.test.get", "Gettable");
    auto installedWithUpdate = makePackage("com.test.upd", "Updatable");
    installedWithUpdate.isInstalled = true;
    installedWithUpdate.isUpdated = true;
    installedWithUpdate.isHeld = false;
    installedWithUpdate.installedVersion = "1.0";
    auto paid = makePackage("com.test.buy", "Buyable");
    paid.price = "2.49";
    store({free, installedWithUpdate, paid});

    GetPackageCell cell;
    PackageCell other;  // another list showing the same package
    cell.resize(390, 70);
    cell.show();
    other.updateWithPackage(free);
    cell.updateWithPackage(free);
    QTest::mouseClick(cell.getBtn(), Qt::LeftButton);
    EXPECT_EQ(cell.getBtn()->text(), "QUEUED");  // the tapped button at once
    auto record = fetch("com.test.get");
    EXPECT_TRUE(record.isInTheQueue.value_or(false));
    EXPECT_EQ(record.queueOperation.value_or(-1), ZMRQueueOperationInstall);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return other.shownQueueOperation() == ZMRQueueOperationInstall; }));

    cell.updateWithPackage(installedWithUpdate);
    EXPECT_EQ(cell.getBtn()->text(), "UPDATE");
    QTest::mouseClick(cell.getBtn(), Qt::LeftButton);
    EXPECT_EQ(fetch("com.test.upd").queueOperation.value_or(-1), ZMRQueueOperationUpgrade);

    // A paid package is not queued: the store is not reachable from here.
    cell.updateWithPackage(paid);
    EXPECT_EQ(cell.getBtn()->text(), "$2.49");
    const int alerts = ZMVostrelle::sharedVostrelle().alertCount();
    QTest::mouseClick(cell.getBtn(), Qt::LeftButton);
    EXPECT_FALSE(fetch("com.test.buy").isInTheQueue.value_or(false));
    EXPECT_EQ(ZMVostrelle::sharedVostrelle().alertCount(), alerts + 1);
    EXPECT_EQ(ZMVostrelle::sharedVostrelle().lastAlertTitle(), "Can't get package");
    EXPECT_EQ(cell.getBtn()->text(), "$2.49");

    // Removing a paid package needs no store.
    paid.isInstalled = true;
    paid.installedVersion = "2.49";
    store({paid});
    ZMVostrelle::sharedVostrelle().queuePackageWithIdentifier("com.test.buy", std::nullopt);
    EXPECT_EQ(fetch("com.test.buy").queueOperation.value_or(-1), ZMRQueueOperationRemove);
}

TEST(LinesLabel, WrapsToThreeLinesAtMostAndElidesTheLast) {
    LinesLabel label;
    label.setText(QString("word ").repeated(200));
    const int line = QFontMetrics(label.font()).lineSpacing();
    label.resize(200, line * 10);
    auto lines = label.visibleLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines.back().endsWith(QChar(0x2026)));
    // Only what fits in the height is drawn.
    label.resize(200, line + 2);
    EXPECT_EQ(label.visibleLines().size(), 1);
    label.setText("short");
    label.resize(200, line * 10);
    EXPECT_EQ(label.visibleLines(), QStringList{"short"});
}

}  // namespace
