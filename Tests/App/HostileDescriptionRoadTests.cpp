// A package whose description is hostile, met the way a user meets it: its
// repository on loopback added by a "vostrelle://add" link and refreshed
// over HTTP, its native depiction (a Markdown view of nearly the 4 MiB a
// depiction may weigh: one paragraph of short lines) on the same server, its
// page opened by a click on its row. The window answers while the text is
// read, and the page then shows every word of it. Texts whose layout alone
// would freeze the window or hold it for seconds show plain, or cut with a
// link to the whole text, which opens over the page and closes with Esc.
#include <QBuffer>
#include <QImage>
#include <QPlainTextEdit>
#include <QTest>
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
#include "Details/WholeTextViewController.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIScrollView.h"
#include "UIKit/UITextView.h"

namespace {

using namespace UserGesture;

constexpr const char* kIdentifier = "org.mallory.hostile";

class HostileDescriptionRoad : public Launch::RepositoryFixture {
protected:
    int words = 0;

    // The depiction with its banner, under /depictions/ of the repository's
    // server: `markdown`, else one paragraph of short lines.
    std::string serveDepiction(std::string markdown = {}) {
        const std::string dir = repoRoot.path() + "/depictions";
        std::filesystem::create_directories(dir);
        QImage banner(640, 200, QImage::Format_RGB32);
        banner.fill(QColor("#5856d6"));
        banner.save(QString::fromStdString(dir + "/banner.png"));
        const bool shortLines = markdown.empty();
        while (shortLines && markdown.size() < 3'800'000) {
            for (int i = 0; i < 6; ++i) markdown += wordAt(words++) + " ";
            markdown += "\n";
        }
        const nlohmann::json depiction = {{"headerImage", server->url("depictions/banner.png")},
                                          {"tabs", {{{"tabname", "Details"}, {"views", {{{"markdown", markdown}}}}}}}};
        std::ofstream(dir + "/hostile.json") << depiction.dump();
        EXPECT_LT(std::filesystem::file_size(dir + "/hostile.json"), 4u << 20) << "past the depiction limit";
        return server->url("depictions/hostile.json");
    }
    // The words wordAt(0), wordAt(1)... that `text` lacks.
    int missingWords(const QString& text) const {
        const QStringList list = text.split(QRegularExpression("[^A-Za-z0-9]+"), Qt::SkipEmptyParts);
        const std::set<QString> seen(list.begin(), list.end());
        int missing = 0;
        for (int i = 0; i < words; ++i) missing += seen.count(QString::fromStdString(wordAt(i))) ? 0 : 1;
        return missing;
    }
    static std::string wordAt(int i) { return "w" + std::to_string(i); }
    // The program starts with a link that adds the source of one package whose page is `depiction`.
    void addTheSourceOf(const std::string& depiction) {
        serveRepository(Launch::stanza(kIdentifier, "Hostile Text", "Mallory <mallory@example.com>", "SileoDepiction: " + depiction + "\n"),
                        "Mallory's Repo");
        start(addLink());
        ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource(kIdentifier));
    }
    static QString shown(PackageDetailsViewController* page) { return page->descriptionLbl()->document()->toPlainText(); }
    // What shows, or, when it shows cut (where a step of its layout passes the
    // limit on a slow machine), the whole text its link opens.
    static QString reachable(PackageDetailsViewController* page) {
        const QString whole = page->descriptionLbl()->wholeText();
        return whole.isEmpty() ? shown(page) : whole;
    }
    // Its last paragraph is laid out (the layout reaches it last).
    static bool laidOut(PackageDetailsViewController* page) {
        const QTextBlock block = page->descriptionLbl()->document()->lastBlock();
        return block.layout() && block.layout()->lineCount() > 0;
    }
};

TEST_F(HostileDescriptionRoad, TheWindowAnswersWhileTheTextIsReadAndThePageShowsEveryWord) {
    server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
    const std::string depiction = serveDepiction();
    ASSERT_NO_FATAL_FAILURE(addTheSourceOf(depiction));
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

    ASSERT_TRUE(GuiTest::waitUntil([&] { return reachable(page).contains(last); }, std::chrono::seconds(120)));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return laidOut(page); }, std::chrono::seconds(60)));
    EXPECT_EQ(missingWords(reachable(page)), 0) << "of " << words << " words";
    EXPECT_GT(page->descriptionLbl()->height(), 10'000);

    auto* column = page->scrollView()->widget();
    page->scrollView()->verticalScrollBar()->setValue(page->descriptionLbl()->mapTo(column, QPoint(0, 0)).y() - 120);
    screenshot("hostile-description.png");
}

// Texts whose layout would pass Qt's height limit (nesting that leaves no
// width: a word per line), or would take the window seconds (marks stacked on
// letters): the page opens and answers, and shows the text plain, or as much
// as lays out quickly followed by a mark whose link opens the whole text.
TEST_F(HostileDescriptionRoad, TextsThatWouldFreezeTheWindowShowPlainOrCutWithTheWholeTextAClickAway) {
    struct Case {
        const char* name;
        std::function<std::string(int&)> markdown;
        bool cut;  // whatever the machine's speed
    };
    auto quoted = [](int& next) {
        std::string text;
        for (int paragraph = 0; paragraph < 56; ++paragraph) {
            text += "> > > > > > > > > ";
            for (int i = 0; i < 4000; ++i) text += wordAt(next++) + " ";
            text += "\n\n";
        }
        return text;
    };
    auto marked = [](int& next) {
        std::string text;
        while (text.size() < 3'000'000) {
            text += wordAt(next++);
            for (int i = 0; i < 60; ++i) text += "\xCC\x81";
            text += " ";
        }
        return text;
    };
    const Case cases[] = {{"nine nested quotes", quoted, false}, {"marks stacked on letters", marked, true}};
    server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        words = 0;
        std::string markdown = c.markdown(words);
        const std::string depiction = serveDepiction(std::move(markdown));
        if (c.cut) {  // the second package, in a refresh of the source
            serveRepository(Launch::stanza(kIdentifier, "Hostile Text", "Mallory <mallory@example.com>", "SileoDepiction: " + depiction + "\n") +
                                "\n" + Launch::stanza("org.mallory.marks", "Stacked Marks", "Mallory <mallory@example.com>",
                                                      "SileoDepiction: " + depiction + "\n"),
                            "Mallory's Repo");
            press(window(), Qt::Key_F5);
            ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectForPrimaryKey("org.mallory.marks").has_value(); },
                                           std::chrono::seconds(60)));
        } else {
            ASSERT_NO_FATAL_FAILURE(addTheSourceOf(depiction));
        }
        auto* packages = openTheSource();
        ASSERT_NE(packages, nullptr);
        auto* page = qobject_cast<PackageDetailsViewController*>(openPackage(packages, c.cut ? "org.mallory.marks" : kIdentifier));
        ASSERT_NE(page, nullptr);
        // The window answers while the text is read and laid out: a click queues the package.
        ASSERT_TRUE(GuiTest::waitUntil([&] { return server->count("depictions/banner.png") > 0; }, std::chrono::seconds(30)));
        click(page->getBtn());
        ASSERT_TRUE(GuiTest::waitUntil([&] { return page->getBtn()->text() == "QUEUED"; }));
        ASSERT_TRUE(GuiTest::waitUntil([&] { return shown(page).contains(QString::fromStdString(wordAt(0))); }, std::chrono::seconds(60)));
        ASSERT_TRUE(GuiTest::waitUntil([&] { return laidOut(page); }, std::chrono::seconds(60)));
        UITextView* view = page->descriptionLbl();
        EXPECT_LT(view->height(), 4'000'000) << "within what Qt's layout reaches";
        auto* column = page->scrollView()->widget();
        page->scrollView()->verticalScrollBar()->setValue(view->mapTo(column, QPoint(0, 0)).y() - 120);
        if (!c.cut) {
            // Plain and whole; on a machine slow enough that a step of its
            // plain layout passes the limit, cut with the whole text a click away.
            EXPECT_EQ(missingWords(reachable(page)), 0) << "of " << words << " words";
            screenshot("hostile-description-nested.png");
            continue;
        }
        ASSERT_FALSE(view->wholeText().isEmpty()) << "shown cut";
        EXPECT_GT(missingWords(shown(page)), 0) << "shown cut";
        EXPECT_EQ(missingWords(view->wholeText()), 0) << "of " << words << " words, in the whole text";
        // The mark, at the end of what shows: its link opens the whole text.
        QTextCursor link = view->document()->find("Show the whole text");
        ASSERT_FALSE(link.isNull());
        link.setPosition(link.selectionStart() + 3);
        auto linkOnScreen = [&] {
            const QPoint at = view->viewport()->mapTo(page->scrollView()->viewport(), view->cursorRect(link).center());
            return page->scrollView()->viewport()->rect().adjusted(0, 0, 0, -200).contains(at);
        };
        ASSERT_TRUE(GuiTest::waitUntil([&] {
            page->scrollView()->setContentOffsetY(view->viewport()->mapTo(column, view->cursorRect(link).center()).y() - 400, false);
            return linkOnScreen();
        }));
        screenshot("hostile-description-cut.png");
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->cursorRect(link).center());
        auto wholeInFront = [] {
            auto* sheet = qobject_cast<UINavigationController*>(top());
            return sheet ? qobject_cast<WholeTextViewController*>(sheet->topViewController()) : nullptr;
        };
        ASSERT_TRUE(GuiTest::waitUntil([&] { return wholeInFront() != nullptr; }));
        WholeTextViewController* whole = wholeInFront();
        EXPECT_EQ(whole->title(), "Description");
        EXPECT_EQ(missingWords(whole->textView()->toPlainText()), 0);
        EXPECT_EQ(whole->textView()->toPlainText(), view->wholeText());
        whole->textView()->verticalScrollBar()->setValue(whole->textView()->verticalScrollBar()->maximum() / 2);
        screenshot("hostile-description-whole-text.png");
        press(window(), Qt::Key_Escape);
        EXPECT_TRUE(GuiTest::waitUntil([&] { return wholeInFront() == nullptr; })) << "Esc closes it";
        EXPECT_EQ(page->navigationController()->topViewController(), page);
    }
}

}  // namespace
