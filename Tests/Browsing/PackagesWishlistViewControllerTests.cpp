// The wishlist: database order, the row rules, marks cleared while shown, and
// the empty wishlist's alert.
#include <gtest/gtest.h>

#include <thread>

#include "Browsing/BrowsingFixture.h"
#include "Browsing/PackagesWishlistViewController.h"
#include "Details/PackageDetailsViewController.h"
#include "PackageCell.h"
#include "UIKit/UIAlertController.h"
#include "ZMPaletteManager.h"
#include "ZMVostrelle.h"

namespace {

class WishlistTest : public BrowsingFixture::Screens {
protected:

    static ZMRPackage wished(const std::string& id, const std::string& name) {
        ZMRPackage p;
        p.identifier = id;
        p.name = name;
        p.isInWishlist = true;
        return p;
    }
};

TEST_F(WishlistTest, ListsTheMarkedPackagesInDatabaseOrder) {
    auto paid = wished("w.zulu", "Zulu");
    paid.price = "$1.99";
    auto elsewhere = wished("w.alpha", "Alpha");
    elsewhere.sourceLocation = "https://alpha.example/";
    auto other = wished("w.none", "Not wished");
    other.isInWishlist = false;
    store({paid, wished("w.mike", "Mike"), elsewhere, other});
    preferences().setValue(VostrellePreferenceKey::ReplacePackageMaintainerWithSourceName, true);
    auto* root = new UIViewController;
    auto* nav = BrowsingFixture::showInWindow(root, window);
    auto* wishlist = new PackagesWishlistViewController;
    nav->pushViewController(wishlist, false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return wishlist->isOnScreen(); }));
    EXPECT_EQ(wishlist->packages(), (std::vector<std::string>{"w.zulu", "w.mike", "w.alpha"}));
    auto* first = qobject_cast<PackageCell*>(wishlist->wishlistTableView()->cellForRow({0, 0}));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->nameLbl()->palette().color(QPalette::WindowText), ZMPaletteManager::sharedManager().palette().paidTextColor());
    EXPECT_EQ(first->subinfoLbl()->text(), "Unknown");

    // Marks cleared in the background while shown: the rows stay until the next appearance.
    std::thread([] {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] { ZMRPackage::objectsWhere("isInWishlist = 1").setValueForKey("isInWishlist", false); });
    }).join();
    wishlist->wishlistTableView()->reloadData();
    EXPECT_EQ(wishlist->wishlistTableView()->numberOfRows(0), 3);
    wishlist->didSelectRow(wishlist->wishlistTableView(), {0, 1});
    ASSERT_NE(nav->topViewController(), wishlist);
    auto* opened = dynamic_cast<PackageDetailsViewController*>(nav->topViewController());
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->nameLbl()->text(), "Mike");

    // Back on the empty wishlist: the alert, whose button returns to the root.
    nav->popViewController(false);
    auto* alert = dynamic_cast<UIAlertController*>(window->topPresentedViewController());
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->alertTitle(), "Packages Wishlist");
    EXPECT_EQ(alert->message(), "There are no packages in your wishlist.");
    alert->performAction(0);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return nav->topViewController() == root; }));
}

}  // namespace
