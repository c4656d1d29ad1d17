// The developer page: which information rows a profile gets and where they
// lead, the layout's heights, the package rows, following and "See all".
#include <QUrlQuery>
#include <filesystem>

#include "Database/ZMRSources.h"
#include "Details/DeveloperDetailsViewController.h"
#include "Details/ReviewsFixture.h"
#include "App/ZMReviewsAndDevelopersSetup.h"
#include "GetPackageCell.h"
#include "Support/FlatRepository.h"
#include "UIKit/UIApplication.h"
#include "WebViewViewController.h"
#include "ZMURLRouter.h"

namespace {

using Page = DeveloperDetailsViewController;

class DeveloperPage : public ReviewsFixture::Screens {
protected:
    std::vector<QUrl> opened;
    void SetUp() override {
        Screens::SetUp();
        UIApplication::setURLOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    }
    void TearDown() override {
        UIApplication::setURLOpener(nullptr);
        Screens::TearDown();
    }
    Page* open(const ZMDeveloperProfile& profile) {
        auto* page = new Page;
        page->setDeveloperProfile(profile);
        show(page);
        GuiTest::pump();
        return page;
    }
    static std::vector<std::string> keys(const Page* page) {
        std::vector<std::string> out;
        for (const auto& row : page->informations()) out.push_back(row.key);
        return out;
    }
    static ZMRPackage package(const std::string& id, const std::string& maintainer, int64_t compatibility = 0) {
        auto p = ShellTest::makePackage(id, "Pkg " + id);
        p.maintainer = maintainer;
        p.tweakCompatibleStatus = compatibility;
        return p;
    }
    void tap(Page* page, UITableView* table, int row) { page->didSelectRow(table, {0, row}); }
};

TEST_F(DeveloperPage, RowsHeightsAndPackagesFollowTheProfile) {
    struct Case {
        const char* name;
        ZMDeveloperProfile profile;
        std::vector<std::string> keys;
        int tableHeight;
        size_t packages;
    };
    ZMDeveloperProfile nameOnly{.fullName = "Nobody"};
    ZMDeveloperProfile located{.fullName = "Solo Dev", .biography = "Writes one tweak.", .location = "Oslo"};
    ZMDeveloperProfile hostile{.fullName = "Jane Doe",
                               .email = "a@b.c?cc=x@y",
                               .location = "<b>Lyon</b>",
                               .github = "ftp://gh.example/jane",
                               .repository = "http://127.0.0.1:1/",
                               .twitter = "javascript:alert(1)",
                               .homepage = "file:///etc/passwd"};
    store({package("com.solo.one", "Solo Dev")});
    for (int i = 0; i < 5; ++i) store({package("com.jane." + std::to_string(i), "Jane Doe", i == 0 ? 1 : 0)});
    store({package("com.jane.other", "jane doe")});
    for (const Case& c : {Case{"name only", nameOnly, {}, 0, 0},
                          Case{"one row", located, {"location"}, 43, 1},
                          Case{"hostile links", hostile, {"location", "repository", "email"}, 131, 4}}) {
        auto* page = open(c.profile);
        EXPECT_EQ(keys(page), c.keys) << c.name;
        EXPECT_EQ(page->informationsTableView()->height(), c.tableHeight) << c.name;
        EXPECT_EQ(page->informationsTitle()->isVisible(), c.tableHeight > 0) << c.name;
        EXPECT_EQ(page->bioLbl()->isVisible(), !c.profile.biography.empty()) << c.name;
        if (c.tableHeight > 0 && c.profile.biography.empty()) {
            EXPECT_EQ(page->informationsTitle()->y() - page->nameLbl()->geometry().bottom() - 1, Page::kTitleGapWithoutBiography);
        }
        EXPECT_EQ(page->devPackages().size(), c.packages) << c.name << ": exact, compatible only";
        EXPECT_EQ(page->noPackagesLbl()->isVisible(), c.packages == 0) << c.name;
        EXPECT_EQ(page->seeAllPkgByThisDevBtn()->isVisible(), c.packages > 0) << c.name;
        if (c.packages) { EXPECT_EQ(page->pkgByThisDevTableView()->height(), c.packages == 1 ? 70 : 140) << c.name; }
        EXPECT_EQ(page->pkgByThisDevTableView()->numberOfRows(0), static_cast<int>(std::min<size_t>(c.packages, 2)));
    }
    prefs().setValue(VostrellePreferenceKey::ShowIncompatiblePackages, true);
    EXPECT_EQ(open(hostile)->devPackages().size(), 5u);
    auto* page = open(hostile);
    auto* row = qobject_cast<UITableViewCell*>(page->informationsTableView()->cellForRow({0, 0}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->textLabel()->text(), "Location: <b>Lyon</b>");
    EXPECT_EQ(row->textLabel()->textFormat(), Qt::PlainText);

    // A package removed since the page was laid out: an empty row that opens nothing.
    const std::string first = page->devPackages().front();
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] { realm->deleteObjects(ZMRPackage::objectsWhere("identifier = %@", first)); });
    page->pkgByThisDevTableView()->reloadData();
    GuiTest::pump();
    auto* gone = qobject_cast<GetPackageCell*>(page->pkgByThisDevTableView()->cellForRow({0, 0}));
    ASSERT_NE(gone, nullptr);
    EXPECT_TRUE(gone->nameLbl()->text().isEmpty());
    tap(page, page->pkgByThisDevTableView(), 0);
    EXPECT_EQ(page->lastPushedViewController(), nullptr);
    tap(page, page->pkgByThisDevTableView(), 1);
    EXPECT_NE(page->lastPushedViewController(), nullptr);
}

TEST_F(DeveloperPage, LinksOpenInTheBrowserOrTheMailProgram) {
    struct Case {
        const char* twitter;
        const char* url;
    };
    for (const Case& c : {Case{"https://x.example/jane", "https://x.example/jane"},
                          Case{"httpster", "https://twitter.com/httpster"}, Case{"@dev", "https://twitter.com/dev"}}) {
        auto* page = open({.fullName = "Jane Doe", .twitter = c.twitter, .homepage = "https://jane.example/"});
        ASSERT_EQ(keys(page), (std::vector<std::string>{"homepage", "twitter"}));
        tap(page, page->informationsTableView(), 1);
        auto* web = dynamic_cast<WebViewViewController*>(page->lastPushedViewController());
        ASSERT_NE(web, nullptr) << c.twitter;
        EXPECT_EQ(web->title(), "Twitter");
        EXPECT_EQ(web->websiteURL().toString().toStdString(), c.url);
    }
    auto* page = open({.fullName = "Jane Doe", .email = "a@b.c?cc=x@y"});
    tap(page, page->informationsTableView(), 0);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].scheme(), "mailto");
    const auto items = QUrlQuery(opened[0]).queryItems(QUrl::FullyDecoded);
    ASSERT_EQ(items.size(), 1) << opened[0].toString().toStdString() << ": the address adds no header";
    EXPECT_EQ(items[0], qMakePair(QString("subject"), QString("Question from Vostrelle 5")));
}

TEST_F(DeveloperPage, RepositoryIsAddedOnceUnderEitherScheme) {
    TestSupport::TempDir root;
    std::filesystem::create_directories(root.path() + "/repo");
    FlatRepository::writeIndexesForText(root.path() + "/repo",
                                        "Package: com.loop.tool\nName: Loop Tool\nVersion: 1.0\nMaintainer: Jane Doe\n"
                                        "Architecture: all\n");
    FlatRepository::FileServer server(root.path());
    const std::string location = server.url("repo/");
    prefs().setValue(VostrellePreferenceKey::SetupDone, true);
    ZMRSources::setReachabilityHook([] { return true; });
    auto* page = open({.fullName = "Jane Doe", .repository = location});
    tap(page, page->informationsTableView(), 0);
    auto* warning = waitForPopup();
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->titleLbl()->text(), "Warning") << "plain http asks first";
    warning->otherBtn()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ZMRSource::objectForPrimaryKey(location).has_value(); }));
    const size_t sources = ZMRSource::allObjects().count();

    std::string https = location;
    https.replace(0, 4, "https");
    for (const std::string& again : {location, https.substr(0, https.size() - 1)}) {
        page = open({.fullName = "Jane Doe", .repository = again});
        tap(page, page->informationsTableView(), 0);
        auto* popup = waitForPopup();
        ASSERT_NE(popup, nullptr) << again;
        EXPECT_EQ(popup->titleLbl()->text(), "Source Error");
        EXPECT_EQ(popup->messageLbl()->text().toStdString(),
                  "The source specified by " + again + " has already been configured on your device.");
    }
    EXPECT_EQ(ZMRSource::allObjects().count(), sources) << "nothing added twice";

    // An address that cannot be a source says why.
    page = open({.fullName = "Jane Doe", .repository = "ftp://repo.example/"});
    tap(page, page->informationsTableView(), 0);
    auto* refused = waitForPopup();
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->titleLbl()->text(), "Cannot Add Source");
    EXPECT_EQ(refused->messageLbl()->text(), "Only https:// and http:// sources can be added.");
    EXPECT_EQ(ZMRSource::allObjects().count(), sources);
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectForPrimaryKey("com.loop.tool").has_value(); },
                                   std::chrono::seconds(20)))
        << "the added repository was refreshed";
}

TEST_F(DeveloperPage, DeveloperLinkForAnUnknownOrShortNameGoesToSearch) {
    ZMReviewsAndDevelopersSetup::install();
    show(new UIViewController);
    for (const char* name : {"ab", "Nobody%20Here"}) {
        const int before = searchTabs;
        ASSERT_TRUE(ZMURLRouter::openURL(std::string("vostrelle://developer/") + name));
        ASSERT_TRUE(GuiTest::waitUntil([&] { return searchTabs == before + 1; })) << name;
        EXPECT_EQ(top(), nav) << name;
    }
    EXPECT_EQ(prefs().stringForKey(VostrellePreferenceKey::SearchDeveloper), std::optional<std::string>("Nobody Here"));
    EXPECT_EQ(maker->count("developers/devs.php"), 1u) << "\"ab\" is not looked up";
}

}  // namespace
