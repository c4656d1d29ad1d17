// One maintainer's packages: the exact match, the order, the compatibility
// preference, a package removed while listed, and what a tap opens.
#include "Browsing/AllDevPackagesViewController.h"
#include "Details/PackageDetailsViewController.h"
#include "GetPackageCell.h"
#include "Shell/ShellTestSupport.h"
#include "UIKit/UINavigationController.h"

namespace {

class AllDevPackages : public ShellTest::Fixture {
protected:
    std::unique_ptr<UIWindow> window;
    AllDevPackagesViewController* screen = nullptr;

    void SetUp() override {
        Fixture::SetUp();
        auto make = [](const char* id, const char* name, const char* maintainer, int64_t compatibility) {
            auto p = ShellTest::makePackage(id, name);
            p.maintainer = maintainer;
            p.tweakCompatibleStatus = compatibility;
            return p;
        };
        auto paid = make("com.z", "Zed", "Jane Doe", 0);
        paid.price = "$1.99";
        store({paid, make("com.a", "Alpha", "Jane Doe", 2), make("com.b", "Beta", "Jane Doe", 1),
               make("com.c", "Gamma", "jane doe", 0), make("com.d", "Delta", "Jane Doe <jane@example.com>", 0),
               make("com.e", "Echo", "Jane Does <does@example.com>", 0), make("com.f", "Foxtrot", "Jane Doe<x@y.z>", 0),
               make("com.g", "Golf", "Mary Jane Doe <m@example.com>", 0)});
        screen = new AllDevPackagesViewController;
        screen->setTitleString("Jane Doe's Packages");
        screen->setMaintainer("Jane Doe");
        auto* nav = new UINavigationController(new UIViewController);
        window = std::make_unique<UIWindow>();
        window->resize(420, 700);
        window->setRootViewController(nav);
        window->show();
        nav->pushViewController(screen, false);
        GuiTest::pump();
    }
    GetPackageCell* row(int r) { return qobject_cast<GetPackageCell*>(screen->devPackagesTableView()->cellForRow({0, r})); }
};

// The whole maintainer text, case included: no prefix, not even the name
// before a mail address.
TEST_F(AllDevPackages, MaintainerMatchesTheWholeTextExactly) {
    using Ids = std::vector<std::string>;
    const std::pair<const char*, Ids> cases[] = {
        {"Jane Doe", {"com.a", "com.z"}},  // by package name; the incompatible Beta left out
        {"Jane Doe <jane@example.com>", {"com.d"}},
        {"jane doe", {"com.c"}},
        {"Jane", {}},
        {"Jane Does", {}},
        {"Jane Does <does@example.com>", {"com.e"}},
    };
    for (const auto& [maintainer, expected] : cases)
        EXPECT_EQ(AllDevPackagesViewController::identifiersOfMaintainer(maintainer), expected) << maintainer;
}

TEST_F(AllDevPackages, ExactMaintainerByNameAndGonePackagesOpenNothing) {
    EXPECT_EQ(screen->title(), "Jane Doe's Packages");
    EXPECT_EQ(screen->packages(), (std::vector<std::string>{"com.a", "com.z"})) << "by name, compatible";
    auto* zed = row(1);
    ASSERT_NE(zed, nullptr);
    EXPECT_EQ(zed->nameLbl()->palette().color(QPalette::WindowText), ZMPaletteManager::sharedManager().palette().paidTextColor()) << "a paid package";
    EXPECT_EQ(row(0)->nameLbl()->palette().color(QPalette::WindowText), ZMPaletteManager::sharedManager().palette().primaryTextColor());
    prefs().setValue(VostrellePreferenceKey::ShowIncompatiblePackages, true);
    screen->reloadPackages();
    EXPECT_EQ(screen->packages(), (std::vector<std::string>{"com.a", "com.b", "com.z"}));

    // A refresh removes a listed package: its row goes empty and opens nothing.
    auto realm = Realm::defaultRealm();
    auto gone = realm->objectForPrimaryKey<ZMRPackage>("com.b");
    realm->transactionWithBlock([&] { realm->deleteObject(*gone); });
    screen->devPackagesTableView()->reloadData();
    GuiTest::pump();
    ASSERT_NE(row(1), nullptr);
    EXPECT_TRUE(row(1)->nameLbl()->text().isEmpty());
    EXPECT_FALSE(row(1)->getBtn()->isVisible());
    screen->didSelectRow(screen->devPackagesTableView(), {0, 1});
    EXPECT_EQ(screen->lastPushedViewController(), nullptr);

    screen->didSelectRow(screen->devPackagesTableView(), {0, 2});
    auto* details = dynamic_cast<PackageDetailsViewController*>(screen->lastPushedViewController());
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(details->packageIdentifier(), "com.z");
}

}  // namespace
