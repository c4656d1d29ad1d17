// The featured package page: the button's title by the package's state, the
// popups for a package the database lacks, sharing (encoded link,
// screenshots fetched in the background behind a busy button), Markdown with
// raw HTML omitted and read within a depiction's budget, and links that open
// only when they are web pages.
#include <QBuffer>
#include <QRegularExpression>

#include "App/ZMApplication.h"
#include "Browsing/FeaturedPackageViewController.h"
#include "UIKit/UITextView.h"
#include "Online/Screens/OnlineScreensFixture.h"
#include "UIKit/UIActivityViewController.h"
#include "UIKit/UIApplication.h"

namespace {

class FeaturedPackageTest : public OnlineScreensTest::Fixture {
protected:
    FeaturedPackageViewController* page = nullptr;

    FeaturedPackageViewController* open(const std::string& id, const std::string& description = "") {
        ZMFeaturedPackagesTop entry;
        entry.bundle_id = id;
        entry.title = "Featured " + id;
        entry.developer = "Dev";
        entry.desc = description;
        page = new FeaturedPackageViewController;
        page->setPackage(entry);
        show(new UIViewController)->presentViewController(page, false);
        EXPECT_TRUE(GuiTest::waitUntil([&] { return page->isOnScreen(); }));
        return page;
    }
};

TEST_F(FeaturedPackageTest, TheButtonFollowsThePackagesStateAndAMissingPackageSaysSo) {
    struct Case {
        std::optional<bool> installed, updated, held;
        const char* title;
    };
    const std::vector<Case> cases = {{false, false, false, "GET"},         {true, false, false, "UNINSTALL"},
                                     {true, true, false, "UPDATE"},        {true, true, true, "UNINSTALL"},
                                     {std::nullopt, std::nullopt, std::nullopt, "GET"}};
    for (const auto& c : cases) {
        auto p = ShellTest::makePackage("com.state", "State");
        p.isInstalled = c.installed;
        p.isUpdated = c.updated;
        p.isHeld = c.held;
        store({p});
        open("com.state");
        EXPECT_EQ(page->getBtn()->text(), c.title);
        window.reset();
    }
    open("com.absent");
    EXPECT_EQ(page->getBtn()->text(), "GET");
    page->getPackage();
    auto* popup = presented<ErrorViewController>();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->titleLbl()->text(), "Package not Found");
    dismissTop();
    page->share();
    popup = presented<ErrorViewController>();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->titleLbl()->text(), "Incompatible Package");
}

TEST_F(FeaturedPackageTest, GetClosesThePageAndQueuesThePackage) {
    store({ShellTest::makePackage("com.get", "Get Me")});
    ZMApplication::applicationDidFinishLaunching();
    open("com.get");
    page->getPackage();
    EXPECT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectForPrimaryKey("com.get")->isInTheQueue.value_or(false); }));
    EXPECT_EQ(top(), window->rootViewController());
}

TEST_F(FeaturedPackageTest, SharingFetchesScreenshotsInTheBackgroundAndEncodesTheLink) {
    TestSupport::TempDir files;
    QImage shot(20, 20, QImage::Format_RGB32);
    shot.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    shot.save(&buffer, "PNG");
    TestSupport::writeFile(files.file("one.png"), png.toStdString());
    FlatRepository::FileServer server(files.path());
    server.route("slow.png", [png](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        res.set_content(png.toStdString(), "image/png");
    });
    auto p = ShellTest::makePackage("com.share", "My Tweak & Co");
    p.screenshots = {server.url("slow.png"), server.url("missing.png"), "file:///etc/passwd", server.url("one.png")};
    store({p});
    storeSource("https://repo.example/", "Example");
    open("com.share");
    page->share();
    EXPECT_TRUE(page->isSharing());
    EXPECT_FALSE(page->shareBtn()->isEnabled());
    auto* sheet = presented<UIActivityViewController>(std::chrono::seconds(10));
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(page->shareBtn()->isEnabled());
    const auto& items = page->sharedItems();
    ASSERT_EQ(items.size(), 4u);  // text, icon, the two screenshots that came
    const QString text = std::get<QString>(items[0]);
    EXPECT_TRUE(text.startsWith("Check out the featured package \"My Tweak & Co\" by Jane Doe <jane@example.com> from the source Example"));
    EXPECT_TRUE(text.contains("name=My+Tweak+%26+Co&bundleid=com.share&repo=https%3A%2F%2Frepo.example%2F"));
    EXPECT_EQ(server.count("passwd"), 0u);
}

// The description is read like a repository's text, within one depiction's
// budget: rich while it fits, past it plain text with every word.
TEST_F(FeaturedPackageTest, TheDescriptionShowsRichOrPastItsBudgetPlainWithEveryWord) {
    std::string hostile;
    int words = 0;
    while (hostile.size() < 1'000'000) hostile += "w" + std::to_string(words++) + "<<<<<<<< ";
    struct Case {
        const char* name;
        std::string markdown;
        bool rich;
    };
    const Case cases[] = {{"a short text", "Visit https://example.com/x *now*", true}, {"past the budget", hostile, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open("com.text", c.markdown);
        UITextView* text = page->featuredDescriptionLbl();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return !text->isBuildingText() && !text->document()->isEmpty(); }, std::chrono::seconds(30)));
        const QString shown = text->document()->toPlainText();
        EXPECT_EQ(text->document()->toHtml().contains("href=\"https://example.com/x\""), c.rich);
        if (c.rich) {
            EXPECT_EQ(shown, "Visit https://example.com/x now");
        } else {
            const QStringList shownWords = shown.split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
            ASSERT_EQ(shownWords.size(), words);
            for (int i : {0, words / 2, words - 1}) EXPECT_EQ(shownWords[i], QString("w%1<<<<<<<<").arg(i));
        }
        window.reset();
    }
}

TEST_F(FeaturedPackageTest, MarkdownLeavesOutRawHTMLAndOnlyWebLinksOpen) {
    const QString html = FeaturedPackageViewController::htmlFromMarkdown(
        "Visit https://example.com/x now\nsecond line ~~old~~\n\n| a | b |\n|---|---|\n| 1 | 2 |\n\n"
        "<script>alert(1)</script> [js](javascript:alert(1)) ![i](file:///etc/passwd)");
    EXPECT_TRUE(html.contains("<a href=\"https://example.com/x\">"));
    EXPECT_TRUE(html.contains("<br />"));
    EXPECT_TRUE(html.contains("<del>old</del>"));
    EXPECT_TRUE(html.contains("<table>"));
    EXPECT_FALSE(html.contains("<script>"));
    EXPECT_FALSE(html.contains("javascript:"));
    EXPECT_FALSE(html.contains("file:"));

    std::vector<QUrl> opened;
    UIApplication::setURLOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    store({ShellTest::makePackage("com.md", "Md")});
    open("com.md", "See https://example.com/page");
    for (const char* link : {"javascript:alert(1)", "file:///etc/passwd", "mailto:a@b.c", "https://example.com/page"})
        emit page->featuredDescriptionLbl()->anchorClicked(QUrl(link));
    UIApplication::setURLOpener(nullptr);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(), "https://example.com/page");
}

}  // namespace
