// The followed developers: rows in the order their lookups answer, name-only
// rows for names the directory cannot give, no duplicates from earlier
// fills, unfollowing (with the upload) and what a tap opens.
#include <QBuffer>

#include "Details/DeveloperDetailsViewController.h"
#include "Details/ReviewsFixture.h"
#include "Online/Screens/FollowedDevelopersViewController.h"
#include "Support/FlatRepository.h"

namespace {

using nlohmann::json;

class FollowedDevelopers : public ReviewsFixture::Screens {
protected:
    TestSupport::TempDir files;
    std::unique_ptr<FlatRepository::FileServer> avatars;
    FollowedDevelopersViewController* screen = nullptr;

    void SetUp() override {
        Screens::SetUp();
        QImage red(8, 8, QImage::Format_RGB32);
        red.fill(Qt::red);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        red.save(&buffer, "PNG");
        TestSupport::writeFile(files.file("jane.png"), png.toStdString());
        TestSupport::writeFile(files.file("huge.png"), std::string(3u << 20, 'x'));
        avatars = std::make_unique<FlatRepository::FileServer>(files.path());
        maker->setDevelopers(json::array({{{"developer", "Jane Doe"}, {"twitter", "@jane"}, {"avatar", avatars->url("jane.png")}},
                                          {{"developer", "Carl Stone"}, {"twitter", "https://x.example/carl"},
                                           {"avatar", avatars->url("huge.png")}}}));
        signIn("bob");
        show(new UIViewController);
    }
    void follow(const std::vector<std::string>& names) {
        for (const auto& name : names) {
            bool done = false;
            ZMRPackageManager::sharedPackageManager().developers().setDeveloper(name, true, [&](auto) { done = true; });
            ASSERT_TRUE(GuiTest::waitUntil([&] { return done; }));
        }
    }
    void open() {
        screen = new FollowedDevelopersViewController;
        nav->pushViewController(screen, false);
    }
    std::vector<std::string> rows() const {
        std::vector<std::string> out;
        for (const auto& p : screen->followedDevelopersArray()) out.push_back(p.fullName);
        return out;
    }
    SearchCell* cell(int row) { return qobject_cast<SearchCell*>(screen->followedDevelopersTableView()->cellForRow({0, row})); }
    void reappear() {
        nav->pushViewController(new UIViewController, false);
        nav->popViewController(false);
    }
};

TEST_F(FollowedDevelopers, RowsInReplyOrderEveryNameListedOnce) {
    follow({"jane doe", "carl stone", "ab", "ghost"});
    maker->setBehaviour("developers/devs.php", {.hold = true});
    open();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->heldRequests("developers/devs.php").size() == 3; }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return rows() == std::vector<std::string>{"ab"}; })) << "too short to look up";
    for (const char* query : {"carl+stone", "ghost", "jane+doe"}) {
        ASSERT_TRUE(maker->releaseHeld("developers/devs.php",
                                       [&](const auto& r) { return r.rawQuery == std::string("searchParam=") + query; }));
        const size_t before = rows().size();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return rows().size() == before + 1; })) << query;
    }
    EXPECT_EQ(rows(), (std::vector<std::string>{"ab", "Carl Stone", "ghost", "Jane Doe"}));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return screen->developersAvatarDictionary().size() == 4; }));
    EXPECT_EQ(screen->developersAvatarDictionary().at("Jane Doe").toImage().pixelColor(4, 4), QColor(Qt::red));
    EXPECT_NE(screen->developersAvatarDictionary().at("Carl Stone").toImage().pixelColor(4, 4), QColor(Qt::red))
        << "a 3 MB avatar gives the placeholder";
    GuiTest::pump();
    EXPECT_EQ(cell(3)->subinfoLbl()->text(), "@jane");
    EXPECT_EQ(cell(1)->subinfoLbl()->text(), "@carl");
    EXPECT_TRUE(cell(2)->subinfoLbl()->text().isEmpty());
    EXPECT_TRUE(cell(0)->followButtonShowsFollowed());

    // Two more fills while lookups are pending: only the last one's replies count.
    reappear();
    reappear();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->heldRequests("developers/devs.php").size() == 6; }));
    while (maker->releaseHeld("developers/devs.php")) {
    }
    GuiTest::waitUntil([&] { return rows().size() > 4; }, std::chrono::milliseconds(500));
    EXPECT_EQ(rows().size(), 4u);

    maker->setBehaviour("developers/devs.php", {.status = 500});
    reappear();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return rows().size() == 4; }));
    auto names = rows();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ab", "carl stone", "ghost", "jane doe"}))
        << "failed lookups still give rows to unfollow";
}

TEST_F(FollowedDevelopers, TapsOpenThePageOrSearchAndUnfollowingUploads) {
    follow({"jane doe", "ghost"});
    open();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return rows().size() == 2; }));
    const int jane = rows()[0] == "Jane Doe" ? 0 : 1;
    screen->didSelectRow(screen->followedDevelopersTableView(), {0, jane});
    ASSERT_TRUE(GuiTest::waitUntil([&] { return screen->lastPushedViewController() != nullptr; }));
    auto* page = dynamic_cast<DeveloperDetailsViewController*>(screen->lastPushedViewController());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->developerProfile().twitter, "@jane");
    nav->popViewController(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return rows().size() == 2; })) << "filled again on return";
    const int ghost = rows()[0] == "ghost" ? 0 : 1;
    screen->didSelectRow(screen->followedDevelopersTableView(), {0, ghost});
    ASSERT_TRUE(GuiTest::waitUntil([&] { return searchTabs == 1; }));
    EXPECT_EQ(prefs().stringForKey(VostrellePreferenceKey::SearchDeveloper), std::optional<std::string>("ghost"));

    GuiTest::pump();
    cell(ghost)->followBtn()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return rows() == std::vector<std::string>{"Jane Doe"}; }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->followed(13) == std::optional<std::string>("jane doe"); }));
}

}  // namespace
