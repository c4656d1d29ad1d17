// A package whose description is hostile, met the way a user meets it: its
// repository on loopback added by a "vostrelle://add" link and refreshed
// over HTTP, its native depiction (a Markdown view of nearly the 4 MiB a
// depiction may weigh: one paragraph of short lines) on the same server, its
// page opened by a click on its row. The window answers while the text is
// read, and the page then shows every word of it.
#include <QBuffer>
#include <QImage>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <chrono>
#include <fstream>
#include <set>

#include <nlohmann/json.hpp>

#include "App/LaunchFixture.h"
#include "Details/PackageDetailsViewController.h"
#include "UIKit/UIScrollView.h"
#include "UIKit/UITextView.h"

namespace {

using namespace UserGesture;

constexpr const char* kIdentifier = "org.mallory.hostile";

class HostileDescriptionRoad : public Launch::RepositoryFixture {
protected:
    int words = 0;

    // The depiction with its banner, under /depictions/ of the repository's server.
    std::string serveDepiction() {
        const std::string dir = repoRoot.path() + "/depictions";
        std::filesystem::create_directories(dir);
        QImage banner(640, 200, QImage::Format_RGB32);
        banner.fill(QColor("#5856d6"));
        banner.save(QString::fromStdString(dir + "/banner.png"));
        std::string markdown;
        while (markdown.size() < 3'800'000) {
            for (int i = 0; i < 6; ++i) markdown += wordAt(words++) + " ";
            markdown += "\n";
        }
        const nlohmann::json depiction = {{"headerImage", server->url("depictions/banner.png")},
                                          {"tabs", {{{"tabname", "Details"}, {"views", {{{"markdown", markdown}}}}}}}};
        std::ofstream(dir + "/hostile.json") << depiction.dump();
        EXPECT_LT(std::filesystem::file_size(dir + "/hostile.json"), 4u << 20) << "past the depiction limit";
        return server->url("depictions/hostile.json");
    }
    static std::string wordAt(int i) { return "w" + std::to_string(i); }
    static QString shown(PackageDetailsViewController* page) { return page->descriptionLbl()->document()->toPlainText(); }
    // Its last paragraph is laid out (the layout reaches it last).
    static bool laidOut(PackageDetailsViewController* page) {
        const QTextBlock block = page->descriptionLbl()->document()->lastBlock();
        return block.layout() && block.layout()->lineCount() > 0;
    }
};

TEST_F(HostileDescriptionRoad, TheWindowAnswersWhileTheTextIsReadAndThePageShowsEveryWord) {
    server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
    const std::string depiction = serveDepiction();
    serveRepository(Launch::stanza(kIdentifier, "Hostile Text", "Mallory <mallory@example.com>", "SileoDepiction: " + depiction + "\n"),
                    "Mallory's Repo");
    start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource(kIdentifier));
    auto* packages = openTheSource();
    ASSERT_NE(packages, nullptr);
    auto* page = qobject_cast<PackageDetailsViewController*>(openPackage(packages, kIdentifier));
    ASSERT_NE(page, nullptr);

    // The page asks for the banner once it holds the depiction, whose text it reads then.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return server->count("depictions/banner.png") > 0; }, std::chrono::seconds(30)));
    const QString last = QString::fromStdString(wordAt(words - 1));
    click(page->getBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->getBtn()->text() == "QUEUED"; }));
    EXPECT_FALSE(shown(page).contains(last)) << "the click waited until the text was shown";
    EXPECT_EQ(page->nameLbl()->text(), "Hostile Text");

    ASSERT_TRUE(GuiTest::waitUntil([&] { return shown(page).contains(last); }, std::chrono::seconds(120)));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return laidOut(page); }, std::chrono::seconds(60)));
    const QStringList list = shown(page).split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
    const std::set<QString> seen(list.begin(), list.end());
    int missing = 0;
    for (int i = 0; i < words; ++i) missing += seen.count(QString::fromStdString(wordAt(i))) ? 0 : 1;
    EXPECT_EQ(missing, 0) << "of " << words << " words";
    EXPECT_GT(page->descriptionLbl()->height(), 10'000);

    auto* column = page->scrollView()->widget();
    page->scrollView()->verticalScrollBar()->setValue(page->descriptionLbl()->mapTo(column, QPoint(0, 0)).y() - 120);
    screenshot("hostile-description.png");
}

}  // namespace
