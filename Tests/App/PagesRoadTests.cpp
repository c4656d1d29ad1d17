// A package's page and the lists around it as a new user meets them: the
// repository (real .deb files on loopback) added through the Add Source
// sheet and refreshed over HTTP, packages installed and removed through the
// queue into the sandbox root, the window driven by clicks and keys:
//   - the page shows the whole description of the index, opened from
//     Search, Installed and Changes, after waiting, after installing and
//     after a restart;
//   - a page left open while its package installs, and the installed list
//     left open while a package is removed, follow the run;
//   - what is drawn is whole and in view, measured on the drawn pixels: the
//     A–Z index's letters and where a click on each lands, the page's
//     buttons beside the queue's bar, a finished task's bar, the bar's Get
//     button, the installed files' tree.
#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QGuiApplication>
#include <QProgressBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include "App/LaunchFixture.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/ChangesViewController.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SearchViewController.h"
#include "Browsing/SourceViewController.h"
#include "Details/InstalledFilesViewController.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/PackageInformationSection.h"
#include "Details/PackageReviewsSection.h"
#include "PackagesConfirmationViewController.h"
#include "Support/FlatRepository.h"
#include "UIKit/UIScrollView.h"
#include "UIKit/UITextView.h"
#include "ZMPaletteManager.h"
#include "ZMTabBarStatusView.h"
#include "ZMTasksViewController.h"

namespace {

using namespace UserGesture;

// A Debian description: the synopsis, then four paragraphs, one with a list.
const char* const kLensDescription =
    "Magnifies the dock\n"
    " Dock Lens magnifies the icons of the dock as the pointer passes over\n"
    " them, and lets them go when it leaves.\n"
    " .\n"
    " It keeps the icons sharp at every size of the dock.\n"
    " .\n"
    " What it brings:\n"
    "  * smooth magnification\n"
    "  * light on memory\n"
    " .\n"
    " Written for the desktop by Jane.";
// Words of the first, the list and the last paragraph.
const QString kFirstParagraph = "as the pointer passes over them, and lets them go";
const QString kListItem = "* light on memory";
const QString kLastParagraph = "Written for the desktop by Jane.";

class PagesRoad : public Launch::Fixture {
protected:
    TestSupport::TempDir repoRoot, work;
    std::unique_ptr<FlatRepository::FileServer> server;

    void SetUp() override {
        Fixture::SetUp();
        const std::string dir = repoRoot.path() + "/repo";
        FlatRepository::Deb lens{"org.jane.lens", "1.0", "Name: Dock Lens\nSection: Tweaks\n"};
        lens.maintainer = "Jane Doe";
        lens.description = kLensDescription;
        FlatRepository::buildDeb(work.path(), dir, lens);
        FlatRepository::Deb dots{"org.jane.dots", "1.0", "Name: Dock Dots\nSection: Tweaks\n"};
        dots.maintainer = "Jane Doe";
        FlatRepository::buildDeb(work.path(), dir, dots);
        FlatRepository::writeIndexes(dir, "Jane's Repo");
        server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
    }
    std::string repository() const { return server->url("repo/"); }

    bool installedInSandbox(const std::string& identifier) const {
        const std::string text = TestSupport::readFile(targetRoot() + "/var/lib/dpkg/status");
        const auto at = text.find("Package: " + identifier + "\n");
        if (at == std::string::npos) return false;
        return text.substr(at, text.find("\n\n", at) - at).find("Status: install ok installed") != std::string::npos;
    }
    static bool quiet() {
        return GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, std::chrono::seconds(60));
    }

    // Manage → Add: the address typed into the sheet, the plain-http warning
    // accepted, the refresh waited for, the sheet closed.
    void addTheRepositoryThroughTheSheet() {
        auto* nav = selectTab(ZMVostrelle::ManageTab);
        nav->popToRootViewController(false);
        auto* manage = qobject_cast<ManageViewController*>(nav->topViewController());
        ASSERT_NE(manage, nullptr);
        QGuiApplication::clipboard()->clear();  // nothing to offer: the sheet itself
        tapBarButton(manage, "Add");
        auto* sheet = qobject_cast<UINavigationController*>(top());
        ASSERT_NE(sheet, nullptr);
        auto* form = qobject_cast<SourceViewController*>(sheet->topViewController());
        ASSERT_NE(form, nullptr);
        type(form->sourceUrlTextField, QString::fromStdString(repository()));
        auto* warning = waitForPopup();
        ASSERT_NE(warning, nullptr);
        EXPECT_EQ(warning->titleLbl()->text(), "Warning");
        click(warning->otherBtn());
        ASSERT_TRUE(GuiTest::waitUntil([&] { return package("org.jane.dots").has_value() && package("org.jane.lens").has_value(); },
                                       std::chrono::seconds(60)));
        ASSERT_TRUE(quiet());
        ASSERT_TRUE(GuiTest::waitUntil([&] { return dynamic_cast<ErrorViewController*>(top()) == nullptr; }));
        tapBarButton(form, "Close");
        ASSERT_TRUE(backAtTheWindow());
    }

    // Search: the name typed, the result clicked.
    static PackageDetailsViewController* openFromSearch(const QString& name, const std::string& identifier) {
        auto* nav = selectTab(ZMVostrelle::SearchTab);
        nav->popToRootViewController(false);
        auto* search = qobject_cast<SearchViewController*>(nav->topViewController());
        if (!search) return nullptr;
        click(search->searchBar());
        search->searchBar()->selectAll();
        QTest::keyClicks(search->searchBar(), name);
        if (!GuiTest::waitUntil([&] {
                return search->packages() && search->packages()->identifiers == std::vector<std::string>{identifier} &&
                       search->packagesTableView()->isVisible() && search->packagesTableView()->numberOfRows(0) > 0;
            }))
            return nullptr;
        tapRow(search->packagesTableView(), {0, 0});
        return qobject_cast<PackageDetailsViewController*>(nav->topViewController());
    }
    // The row of a package in a generic list, clicked.
    static PackageDetailsViewController* openFromList(PackagesTableViewController* list, const std::string& identifier) {
        for (int s = 0; s < list->model().numberOfSections(); ++s)
            for (int r = 0; r < list->model().numberOfRows(s); ++r)
                if (list->model().identifierAt(s, r) == identifier) {
                    tapRow(list->packagesTableView(), {s, r});
                    return qobject_cast<PackageDetailsViewController*>(list->navigationController()->topViewController());
                }
        return nullptr;
    }
    // Manage → "See All" of the recently installed packages.
    static PackagesTableViewController* installedList() {
        auto* nav = selectTab(ZMVostrelle::ManageTab);
        nav->popToRootViewController(false);
        auto* manage = qobject_cast<ManageViewController*>(nav->topViewController());
        if (!manage || !GuiTest::waitUntil([&] { return manage->seeAllInstalledPackagesBtn()->isVisible(); })) return nullptr;
        click(manage->seeAllInstalledPackagesBtn());
        auto* list = qobject_cast<PackagesTableViewController*>(nav->topViewController());
        if (list) GuiTest::waitUntil([&] { return list->isOnScreen() && !list->isRebuilding(); });
        return list;
    }
    // Changes: the package's row among the new packages.
    static PackageDetailsViewController* openFromChanges(const std::string& identifier) {
        auto* nav = selectTab(ZMVostrelle::ChangesTab);
        nav->popToRootViewController(false);
        auto* changes = qobject_cast<ChangesViewController*>(nav->topViewController());
        if (!changes) return nullptr;
        UITableView* table = changes->newPackagesTableView();
        std::optional<IndexPath> row;
        GuiTest::waitUntil([&] {
            for (int s = 0; s < table->numberOfSections() && !row; ++s)
                for (int r = 0; r < table->numberOfRows(s) && !row; ++r)
                    if (changes->model().identifierAt(s, r) == identifier) row = IndexPath{s, r};
            return row.has_value();
        }, std::chrono::seconds(10));
        if (!row) return nullptr;
        tapRow(table, *row);
        return qobject_cast<PackageDetailsViewController*>(nav->topViewController());
    }

    // The queue opened from the status display and confirmed; true once the run has ended.
    bool runTheQueue() {
        auto* status = app().statusView();
        if (!GuiTest::waitUntil([&] { return status && status->isVisible() && status->queuedCount() > 0; })) return false;
        click(status);
        auto* sheet = qobject_cast<UINavigationController*>(top());
        QPointer<PackagesConfirmationViewController> queue =
            sheet ? qobject_cast<PackagesConfirmationViewController*>(sheet->topViewController()) : nullptr;
        if (!queue || !GuiTest::waitUntil([&] { return !queue || (!queue->isResolving() && queue->confirmButton()->isEnabled()); },
                                          std::chrono::seconds(60)))
            return false;
        click(queue->confirmButton());
        return quiet();
    }
    // The task screens a confirmed run opens, closed by their Close.
    static void closeTheTaskScreens() {
        auto* sheet = qobject_cast<UINavigationController*>(top());
        ASSERT_NE(sheet, nullptr);
        tapBarButton(sheet->topViewController(), "Close");
        ASSERT_TRUE(backAtTheWindow());
    }
    // The description as the page shows it: the paragraphs that lie within
    // the view's height (the page scrolls; the view itself does not).
    static QString shownDescription(PackageDetailsViewController* page) {
        UITextView* view = page->descriptionLbl();
        if (!view->isVisible()) return {};
        QTextDocument* document = view->document();
        QStringList shown;
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
            if (document->documentLayout()->blockBoundingRect(block).bottom() <= view->viewport()->height() + 1)
                shown << block.text();
        return shown.join('\n');
    }
    // Once the page shows the index's whole text (or a while has passed).
    static QString wholeDescription(PackageDetailsViewController* page) {
        GuiTest::waitUntil([&] { return shownDescription(page).contains(kLastParagraph); });
        return shownDescription(page);
    }
    // The process ended and started again on the same data directory.
    void restart() {
        ASSERT_TRUE(quiet());
        ZMVostrelle::resetForTesting();
        VostrellePersistentPreferences::resetForTesting();
        ZMRPackageManager::resetForTesting();
        start();
    }
};

TEST_F(PagesRoad, APageShowsTheWholeDescriptionOfTheIndexOnEveryRoad) {
    start();
    ASSERT_NO_FATAL_FAILURE(addTheRepositoryThroughTheSheet());
    auto expectWhole = [](PackageDetailsViewController* page, const char* road) {
        ASSERT_NE(page, nullptr) << road;
        const QString shown = wholeDescription(page);
        EXPECT_TRUE(shown.startsWith("Magnifies the dock")) << road << ": " << shown.toStdString();
        for (const QString& part : {kFirstParagraph, kListItem, kLastParagraph})
            EXPECT_TRUE(shown.contains(part)) << road << " lacks '" << part.toStdString() << "': " << shown.toStdString();
    };

    auto* page = openFromSearch("Dock Lens", "org.jane.lens");
    expectWhole(page, "from Search");
    ASSERT_NE(page, nullptr);
    // A while later (the depiction choice and the reviews have answered): still whole.
    GuiTest::pump(std::chrono::milliseconds(1500));
    expectWhole(page, "from Search, after waiting");
    page->scrollView()->ensureWidgetVisible(page->descriptionLbl());
    screenshot("pages-whole-description.png");

    // Installed from its page, through the queue.
    click(page->getBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->getBtn()->text() == "QUEUED"; }));
    ASSERT_TRUE(runTheQueue());
    ASSERT_TRUE(installedInSandbox("org.jane.lens"));
    ASSERT_NO_FATAL_FAILURE(closeTheTaskScreens());
    expectWhole(page, "the page left open while installing");

    auto* installed = installedList();
    ASSERT_NE(installed, nullptr);
    expectWhole(openFromList(installed, "org.jane.lens"), "from Installed, installed");
    expectWhole(openFromChanges("org.jane.lens"), "from Changes, installed");
    expectWhole(openFromSearch("Dock Lens", "org.jane.lens"), "from Search, installed");

    ASSERT_NO_FATAL_FAILURE(restart());
    installed = installedList();
    ASSERT_NE(installed, nullptr);
    expectWhole(openFromList(installed, "org.jane.lens"), "from Installed, after a restart");
    expectWhole(openFromChanges("org.jane.lens"), "from Changes, after a restart");
    expectWhole(openFromSearch("Dock Lens", "org.jane.lens"), "from Search, after a restart");
}

TEST_F(PagesRoad, AnOpenPageAndTheInstalledListFollowTheQueue) {
    start();
    ASSERT_NO_FATAL_FAILURE(addTheRepositoryThroughTheSheet());

    // The page stays open while its package installs: its installed parts come without reopening it.
    auto* page = openFromSearch("Dock Dots", "org.jane.dots");
    ASSERT_NE(page, nullptr);
    auto* information = page->informationSection();
    EXPECT_FALSE(information->installedFilesBtn()->isVisible());
    click(page->getBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->getBtn()->text() == "QUEUED"; }));
    ASSERT_TRUE(runTheQueue());
    ASSERT_TRUE(installedInSandbox("org.jane.dots"));
    ASSERT_NO_FATAL_FAILURE(closeTheTaskScreens());
    EXPECT_TRUE(GuiTest::waitUntil([&] { return information->installedFilesBtn()->isVisible(); }))
        << "the page left open shows the installed files' button";
    EXPECT_EQ(page->getBtn()->text(), "UNINSTALL");

    // The installed list stays open while the package is removed from its row's menu.
    auto* installed = installedList();
    ASSERT_NE(installed, nullptr);
    auto listed = [&] {
        std::vector<std::string> ids;
        for (int s = 0; s < installed->model().numberOfSections(); ++s)
            for (int r = 0; r < installed->model().numberOfRows(s); ++r) ids.push_back(installed->model().identifierAt(s, r).value_or(""));
        return ids;
    };
    ASSERT_EQ(listed(), std::vector<std::string>{"org.jane.dots"});
    installed->packagesTableView()->scrollToRow({0, 0}, UITableView::ScrollPosition::Middle, false);
    GuiTest::pump();
    auto* row = installed->packagesTableView()->cellForRow({0, 0});
    ASSERT_NE(row, nullptr);
    QMenu* menu = rightClick(row, row->rect().center());
    chooseMenuEntry(menu, "Queue");
    ASSERT_TRUE(GuiTest::waitUntil([] { return package("org.jane.dots")->isInTheQueue.value_or(false); }));
    ASSERT_TRUE(runTheQueue());
    ASSERT_FALSE(installedInSandbox("org.jane.dots"));
    EXPECT_TRUE(GuiTest::waitUntil([&] { return listed().empty(); })) << "the removed package leaves the open list";
    ASSERT_NO_FATAL_FAILURE(closeTheTaskScreens());
    EXPECT_TRUE(listed().empty());
    EXPECT_EQ(installed->packagesTableView()->numberOfRows(0), 0);
    // The page, still open in the Search tab, has followed the removal too.
    EXPECT_FALSE(information->installedFilesBtn()->isVisibleTo(page));
    EXPECT_EQ(page->getBtn()->text(), "GET");
}

// ---- layout ---------------------------------------------------------------------------------

// Rows of an image holding something drawn (its colour far from the corner's).
bool isInk(const QColor& c, const QColor& background) {
    return std::abs(c.red() - background.red()) + std::abs(c.green() - background.green()) +
               std::abs(c.blue() - background.blue()) > 90;
}
// The runs of rows with ink, top to bottom: one per line of a column of letters.
std::vector<std::pair<int, int>> inkLines(const QImage& image) {
    std::vector<std::pair<int, int>> lines;
    const QColor background = image.pixelColor(0, 0);
    int start = -1;
    for (int y = 0; y <= image.height(); ++y) {
        bool ink = false;
        for (int x = 0; y < image.height() && x < image.width() && !ink; ++x) ink = isInk(image.pixelColor(x, y), background);
        if (ink && start < 0) start = y;
        if (!ink && start >= 0) {
            lines.emplace_back(start, y);
            start = -1;
        }
    }
    return lines;
}
// The first column with ink: where a row's text starts.
int inkLeft(const QImage& image) {
    const QColor background = image.pixelColor(0, 0);
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (isInk(image.pixelColor(x, y), background)) return x;
    return -1;
}

TEST_F(PagesRoad, TextsAndButtonsShowWholeAndNothingCoversThem) {
    // Beside the two: a package for every letter, and enough under Z for it to reach the top.
    const std::string dir = repoRoot.path() + "/repo";
    for (char c = 'a'; c <= 'y'; ++c)
        FlatRepository::buildDeb(work.path(), dir, {std::string("org.abc.") + c, "1.0", std::string("Name: ") + char(c - 32) + " Tool\n"});
    for (int i = 1; i <= 12; ++i)
        FlatRepository::buildDeb(work.path(), dir, {"org.abc.z" + std::to_string(i), "1.0", "Name: Z Tool " + std::to_string(i) + "\n"});
    FlatRepository::writeIndexes(dir, "Jane's Repo");
    start();
    ASSERT_NO_FATAL_FAILURE(addTheRepositoryThroughTheSheet());

    // ---- the A–Z index: letters of a readable size; a click on each lands on its section.
    auto* nav = selectTab(ZMVostrelle::SectionsTab);
    auto* sections = qobject_cast<CategoriesTableViewController*>(nav->topViewController());
    ASSERT_NE(sections, nullptr);
    tapRow(sections->defaultCategoriesTableView(), {0, 0});
    auto* list = qobject_cast<PackagesTableViewController*>(nav->topViewController());
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->model().numberOfSections() == 26; }));
    UITableView* table = list->packagesTableView();
    auto* index = table->findChild<QWidget*>("sectionIndex");
    ASSERT_NE(index, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return index->isVisible(); }));
    const QStringList titles = list->sectionIndexTitles(table);
    const auto letters = inkLines(index->grab().toImage());
    ASSERT_EQ(letters.size(), static_cast<size_t>(titles.size())) << "one drawn line per letter";
    for (int i = 0; i < titles.size(); ++i) {
        const auto [top, bottom] = letters[i];
        EXPECT_GE(bottom - top, 10) << titles[i].toStdString() << " is " << bottom - top << " px tall";
        QTest::mouseClick(index, Qt::LeftButton, {}, QPoint(index->width() / 2, (top + bottom) / 2));
        GuiTest::pump();
        const auto shown = table->indexPathsForVisibleRows();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(list->model().headerTitle(shown.front().section), titles[i].toStdString()) << "a click on " << titles[i].toStdString();
    }
    screenshot("pages-index.png");

    // ---- the queue's bar covers none of the page's buttons.
    auto* page = openFromSearch("Dock Lens", "org.jane.lens");
    ASSERT_NE(page, nullptr);
    click(page->getBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->getBtn()->text() == "QUEUED"; }));
    auto* status = app().statusView();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return status->isVisible(); }));
    GuiTest::pump(std::chrono::milliseconds(100));
    auto inWindow = [&](QWidget* w) { return QRect(w->mapTo(app().window(), QPoint(0, 0)), w->size()); };
    for (QPushButton* button : {page->reviewsSection()->contactDeveloperBtn(), page->reviewsSection()->leaveReviewBtn()}) {
        page->scrollView()->ensureWidgetVisible(button, 0, 0);
        GuiTest::pump();
        EXPECT_FALSE(inWindow(status).intersects(inWindow(button))) << button->text().toStdString() << " lies under the queue's bar";
    }
    EXPECT_FALSE(inWindow(status).intersects(inWindow(page->scrollView()->viewport()))) << "the page scrolls above the bar";
    screenshot("pages-queue-bar.png");

    // ---- installed: a finished task's bar is full.
    ASSERT_TRUE(runTheQueue());
    ASSERT_TRUE(installedInSandbox("org.jane.lens"));
    auto* taskScreens = qobject_cast<UINavigationController*>(top());
    ASSERT_NE(taskScreens, nullptr);
    auto* tasks = taskScreens->findChild<ZMTasksViewController*>();
    ASSERT_NE(tasks, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !tasks->rows().empty() && tasks->rows().back().state == ZMTasksViewController::TaskRow::State::Done; }));
    GuiTest::pump(std::chrono::milliseconds(100));
    const QColor fill = ZMPaletteManager::sharedManager().palette().tintColor();
    for (auto* cell : tasks->tableView()->visibleCells()) {
        auto* bar = cell->findChild<QProgressBar*>();
        ASSERT_NE(bar, nullptr);
        const QImage drawn = bar->grab().toImage();
        int filled = 0;
        for (int x = 0; x < drawn.width(); ++x) filled += !isInk(drawn.pixelColor(x, drawn.height() / 2), fill);
        EXPECT_GE(filled, drawn.width() * 9 / 10) << "a done task's bar is " << filled << " of " << drawn.width() << " px full";
    }
    screenshot("pages-finished-task.png");
    ASSERT_NO_FATAL_FAILURE(closeTheTaskScreens());

    // ---- the bar's Get button (a banner's page shows it once scrolled) has room for its whole title.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->getBtn()->text() == "UNINSTALL"; }));
    QPushButton* barButton = page->getBarBtn();
    EXPECT_EQ(barButton->text(), "UNINSTALL");
    EXPECT_GE(barButton->width(), barButton->sizeHint().width()) << "the title is cut";
    EXPECT_EQ(barButton->height(), 25);
    QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
    barButton->grab().save(VOSTRELLE_SCREENSHOT_DIR "/pages-bar-button.png");

    // ---- the installed files: a tree from /usr, a level a small step in.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->informationSection()->installedFilesBtn()->isVisible(); }));
    page->scrollView()->ensureWidgetVisible(page->informationSection()->installedFilesBtn());
    click(page->informationSection()->installedFilesBtn());
    auto* files = qobject_cast<InstalledFilesViewController*>(page->navigationController()->topViewController());
    ASSERT_NE(files, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return files->isOnScreen(); }));
    UITableView* rows = files->installedFilesTableView();
    ASSERT_GT(rows->numberOfRows(0), 0);
    EXPECT_EQ(rows->cellForRow({0, 0})->textLabel()->text(), "/.") << "dpkg's list as it is";
    std::map<int, int> leftByDepth;
    for (auto* cell : rows->visibleCells()) {
        const auto ip = rows->indexPathForCell(cell);
        ASSERT_TRUE(ip);
        const std::string path = files->installedFiles().at(ip->row);
        QLabel* text = cell->textLabel();
        leftByDepth[static_cast<int>(std::count(path.begin(), path.end(), '/')) - 1] =
            text->mapTo(cell, QPoint(0, 0)).x() + inkLeft(text->grab().toImage());
    }
    ASSERT_GE(leftByDepth.size(), 4u) << "/usr/share/vostrelle-test/org.jane.lens and its directories";
    for (int depth = 1; depth < 4; ++depth)
        EXPECT_NEAR(leftByDepth[depth] - leftByDepth[depth - 1], 18, 8) << "level " << depth << " starts at " << leftByDepth[depth];
    screenshot("pages-installed-files.png");
}

}  // namespace
