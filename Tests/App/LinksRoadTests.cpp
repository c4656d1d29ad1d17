// Links that the desktop hands to the running program, as a second start does
// with its command line (ZMSingleInstance::openRequests, then the hand-over):
//   - a "vostrelle://show" link with a blank in the package's name, as a user
//     types it, opens the package's page as its percent-encoded form does;
//   - a link the program cannot act on is named in one alert, and opens nothing.
#include <thread>

#include "App/LaunchFixture.h"
#include "Details/PackageDetailsViewController.h"
#include "ZMSingleInstance.h"

namespace {

using namespace UserGesture;

class LinksRoad : public Launch::RepositoryFixture {
protected:
    void SetUp() override {
        RepositoryFixture::SetUp();
        serveRepository(Launch::stanza("org.links.nightowl", "Night Owl", "Kay") + Launch::stanza("org.links.lark", "Lark", "Kay"),
                        "Links Repo");
    }
    // A second start with this command line: it hands its requests to the
    // running program and waits for the answer, which comes from the event loop.
    static bool secondStart(const QStringList& commandLine, const std::function<bool()>& until) {
        bool handed = false;
        std::thread desktop([&] { handed = ZMSingleInstance().handOver(ZMSingleInstance::openRequests(commandLine)); });
        const bool reached = GuiTest::waitUntil(until);
        desktop.join();
        return handed && reached;
    }
    static void press(Qt::Key key) { UserGesture::press(app().window(), key); }
    // The package sheet on top, once it is on screen.
    static PackageDetailsViewController* packageSheet() {
        auto* sheet = qobject_cast<UINavigationController*>(top());
        auto* page = sheet ? qobject_cast<PackageDetailsViewController*>(sheet->topViewController()) : nullptr;
        return page && !sheet->isBeingPresented() && page->isOnScreen() ? page : nullptr;
    }
};

TEST_F(LinksRoad, AShowLinkWithABlankInTheNameOpensThePageAndAnUnreadableLinkIsNamedInOneAlert) {
    start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.links.nightowl"));

    // The same link written two ways: each opens the package's page; Esc closes it.
    const std::string show = "vostrelle://show/bundleid=org.links.nightowl&repo=" + repository() + "&name=";
    for (const std::string& link : {show + "Night%20Owl", show + "Night Owl"}) {
        SCOPED_TRACE(link);
        ASSERT_TRUE(secondStart({QString::fromStdString(link)}, [] { return packageSheet() != nullptr; }))
            << "the link opens no page";
        EXPECT_EQ(packageSheet()->packageIdentifier(), "org.links.nightowl");
        EXPECT_TRUE(popupsShown().empty());
        if (link.find(' ') != std::string::npos) screenshot("link-with-a-blank.png");
        press(Qt::Key_Escape);
        ASSERT_TRUE(backAtTheWindow());
    }

    // Links it cannot act on: one alert names each, nothing else opens.
    const QString unreadable[] = {
        "vostrelle://show/bundleid=org.links.night owl&name=Night Owl",  // no identifier has a blank
        "vostrelle://shwo/bundleid=org.links.lark",                      // no such action
        "vostrelle:show/bundleid=org.links.lark",                        // no "//"
    };
    for (const QString& link : unreadable) {
        SCOPED_TRACE(link.toStdString());
        ASSERT_TRUE(secondStart({link}, [] { return !popupsShown().empty(); })) << "nothing tells the link was not opened";
        GuiTest::pump(std::chrono::milliseconds(200));  // a second alert or a sheet would be up by now
        const auto shown = popupsShown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_TRUE(shown.front()->messageLbl()->text().contains(link))
            << "the alert does not name the link: " << shown.front()->messageLbl()->text().toStdString();
        EXPECT_EQ(top(), shown.front()) << "something else opened";
        if (link == unreadable[0]) screenshot("link-not-opened.png");
        press(Qt::Key_Return);
        ASSERT_TRUE(backAtTheWindow());
    }
}

}  // namespace
