// Web pages and their sheets on the desktop, from the launch:
//   - on every dark palette, chosen in Settings by the mouse, a page that sets
//     no colours of its own reads (its text stands out from what it stands
//     on, judged on the pixels shown), in a package's web depiction and in the
//     in-app browser of a "vostrelle://url" link; Settings' check boxes show,
//     checked or not; on every palette, light too, the row the keys
//     highlight in a list that has the focus stands out from the row it was,
//     and a Get button's title reads on its pill (4.5:1: the web depiction's,
//     and the one a package's page hands over to the bar when scrolled);
//   - the web depiction's GET button shows the whole title the queue gives it;
//   - on Pure Black, the store's sign-in page reads too; Esc closes the sheet
//     in front after a click inside it put the focus in its web page (the
//     store's sign-in and checkout sheets, the in-app browser) or on a screen
//     pushed inside it (a "vostrelle://show" sheet's developer card); a page
//     that uses Esc itself has it first.
#include <QCheckBox>
#include <QScrollBar>
#include <QTest>
#include <QWebEngineView>
#include <cmath>
#include <thread>

#include "App/LaunchFixture.h"
#include "App/PaidRepositoryRoad.h"
#include "Database/ZMRSource.h"
#include "Details/ContactDeveloperViewController.h"
#include "Details/DeveloperCell.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/DetailsFixture.h"
#include "Details/PackageDeveloperCard.h"
#include "Details/RemoteWebView.h"
#include "Details/WebDepictionViewController.h"
#include "Online/Screens/WebPageDriver.h"
#include "SettingsPlistViewController.h"
#include "Support/FakeStores.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UIScrollView.h"
#include "UIKit/UIViewAlpha.h"
#include "WebViewViewController.h"
#include "ZMPaletteManager.h"
#include "ZMSingleInstance.h"
#include "ZMTabBarStatusView.h"

namespace {

using namespace UserGesture;

// ---- what the eye needs ------------------------------------------------------------------

double luminance(const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
// As the web's accessibility rules count it: 1 (the same) to 21 (black on white).
double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
QColor commonest(const QImage& image) {
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y) | 0xff000000u];
    return QColor::fromRgb(std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })->first);
}
// What stands on the commonest colour with at least `ratio` (4.5: text; 3: a control's edge).
int pixelsStandingOut(const QImage& image, double ratio) {
    const QColor ground = commonest(image);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) count += contrast(QColor(image.pixel(x, y)), ground) >= ratio;
    return count;
}
std::string describe(const QImage& image) {
    const QColor ground = commonest(image);
    double most = 1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) most = std::max(most, contrast(QColor(image.pixel(x, y)), ground));
    return "on " + ground.name().toStdString() + " the most contrast is " + std::to_string(most) + ":1";
}
// The page's text reads: a line of large type is hundreds of pixels.
bool reads(const QImage& shown) { return !shown.isNull() && pixelsStandingOut(shown, 4.5) > 200; }

// How many pixels of `after` differ by at least `ratio` from the same place
// in `before`: what the eye sees change (a row highlighted, say).
int pixelsChangedBy(const QImage& before, const QImage& after, double ratio) {
    int count = 0;
    for (int y = 0; y < std::min(before.height(), after.height()); ++y)
        for (int x = 0; x < std::min(before.width(), after.width()); ++x)
            count += contrast(QColor(before.pixel(x, y)), QColor(after.pixel(x, y))) >= ratio;
    return count;
}

// The button's title shows whole: the ink drawn on it is as wide as the
// title's own ink in the button's font, not cut by the button's edges.
::testing::AssertionResult titleShownWhole(QAbstractButton* button) {
    const QImage drawn = button->grab().toImage();
    const qreal ratio = drawn.devicePixelRatio();
    const QColor fill(drawn.pixel(drawn.width() / 2, drawn.height() / 10));  // above the title, inside the pill
    int left = drawn.width(), right = -1;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            if (contrast(QColor(drawn.pixel(x, y)), fill) >= 2) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    const int inked = right < left ? 0 : static_cast<int>((right - left + 1) / ratio);
    const int whole = QFontMetrics(button->font()).tightBoundingRect(button->text()).width();
    if (inked + 3 < whole)
        return ::testing::AssertionFailure() << "\"" << button->text().toStdString() << "\" is drawn " << inked
                                             << " px wide of its " << whole << " px, on a button " << button->width()
                                             << " px wide";
    return ::testing::AssertionSuccess();
}

// What of `widget` is on screen, as the window shows it.
QImage shownPart(QWidget* widget) {
    QWidget* window = widget->window();
    QRect shown(widget->mapTo(window, QPoint(0, 0)), widget->size());
    for (QWidget* w = widget->parentWidget(); w && w != window; w = w->parentWidget())
        shown &= QRect(w->mapTo(window, QPoint(0, 0)), w->size());
    return shown.isEmpty() ? QImage() : window->grab(shown).toImage();
}

// How a button's title stands out from its pill, as the window shows it: the
// commonest colour inside the pill (away from its rounded ends) is the fill,
// the title's strokes what differs from it most.
double titleContrast(QWidget* button) {
    const QImage shown = shownPart(button);
    const int w = shown.width(), h = shown.height();
    if (shown.isNull() || w <= h) return 0;
    const QImage inside = shown.copy(QRect(h / 2, h / 4, w - h, std::max(1, h / 2)));
    const QColor fill = commonest(inside);
    double most = 1;
    for (int y = 0; y < inside.height(); ++y)
        for (int x = 0; x < inside.width(); ++x) most = std::max(most, contrast(QColor(inside.pixel(x, y)), fill));
    return most;
}

// A link clicked in a browser: a second start hands it to the running program.
bool handOver(const std::string& link) {
    bool handed = false;
    std::thread desktop([&] { handed = ZMSingleInstance().handOver({QString::fromStdString(link)}); });
    GuiTest::waitUntil([&] { return handed; }, std::chrono::seconds(10));
    desktop.join();
    return handed;
}

// The page of a text that sets no colours (the engine's own).
constexpr const char* kPlainPage =
    "<html><head><title>Plain</title></head><body><h1 style='font-size:40px'>Plain words</h1>"
    "<p style='font-size:28px'>A page that sets no colours of its own.</p></body></html>";

// ---- a dark palette ----------------------------------------------------------------------

// The walk on the palettes a user chooses; back to the light one after it.
template <class Launched>
class OnPalettes : public Launched {
protected:
    void TearDown() override {
        ZMPaletteManager::sharedManager().setStyle(ZMPalette::Light);
        Launched::TearDown();
    }
    // Featured → the account → Settings → Theme → the style, by the mouse.
    static SettingsPlistViewController* chooseTheme(int style) {
        auto* account = Launched::accountPage();
        if (!account) return nullptr;
        Launched::tapAccountRow(account, "openSettings");
        auto* settings = qobject_cast<SettingsPlistViewController*>(account->navigationController()->topViewController());
        if (!settings) return nullptr;
        tapRow(settings->tableView(), *settings->indexPathForKey("Theme"));
        auto* sheet = dynamic_cast<UIAlertController*>(settings->presentedViewController());
        if (!sheet) return nullptr;
        click(sheet->buttonForAction(style));
        GuiTest::waitUntil([&] { return ZMPaletteManager::sharedManager().activeStyle() == style && !settings->presentedViewController(); });
        GuiTest::pump(std::chrono::milliseconds(100));
        return settings;
    }
};

class DarkPagesRoad : public OnPalettes<Launch::RepositoryFixture> {};

TEST_F(DarkPagesRoad, APageWithoutColoursTheSettingsCheckBoxesAndAHighlightedRowShowOnEveryPalette) {
    serveRepository("", "Dark Repo");  // the server, for the page's address
    server->route("repo/plain.html", [](const httplib::Request&, httplib::Response& res) { res.set_content(kPlainPage, "text/html"); });
    // Beside the page's package, rows for a highlighted one to stand among.
    std::string longer;  // the pen's page scrolls far enough to hand its header over to the bar
    for (int line = 0; line < 80; ++line) longer += " A line of the pen's long description.\n";
    serveRepository(Launch::stanza("org.dark.pen", "Plain Pen", "Kay", longer) +
                        Launch::stanza("org.dark.web", "Plain Page", "Kay <kay@example.com>",
                                       "Depiction: " + server->url("repo/plain.html") + "\n") +
                        Launch::stanza("org.dark.pin", "Plain Pin", "Kay"),
                    "Dark Repo");
    start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.dark.web"));
    auto* packages = openTheSourceShowingOriginalDepictions();
    ASSERT_NE(packages, nullptr);
    auto* depiction = qobject_cast<WebDepictionViewController*>(openPackage(packages, "org.dark.web"));
    ASSERT_NE(depiction, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return depiction->webView() && !depiction->webView()->frame().isNull(); },
                                   std::chrono::seconds(60)));
    RemoteWebView* view = depiction->webView();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return reads(shownPart(view)); }, std::chrono::seconds(20)))
        << "not even on the light palette: " << describe(shownPart(view));

    // GET: the queue entry point retitles the button, which shows the whole
    // title; Remove from its menu takes the package out again.
    click(depiction->getBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return depiction->getBtn()->text() == "QUEUED"; }));
    GuiTest::pump();
    EXPECT_TRUE(titleShownWhole(depiction->getBtn()));
    screenshot("web-sheets-depiction-queued.png");
    chooseMenuEntry(rightClick(depiction->getBtn(), depiction->getBtn()->rect().center()), "Remove");
    ASSERT_TRUE(GuiTest::waitUntil([] { return !package("org.dark.web")->isInTheQueue.value_or(false); }));
    ASSERT_TRUE(GuiTest::waitUntil([] { return !app().statusView()->isVisible(); }));

    const struct {
        const char* name;
        int style;
    } palettes[] = {{"pure-black", ZMPalette::PureBlack}, {"grey", ZMPalette::Grey}, {"blue", ZMPalette::Blue},
                    {"light", ZMPalette::Light}};
    for (const auto& palette : palettes) {
        SCOPED_TRACE(palette.name);
        const std::string name = palette.name;
        auto* settings = chooseTheme(palette.style);
        ASSERT_NE(settings, nullptr);
        ASSERT_EQ(ZMPaletteManager::sharedManager().activeStyle(), palette.style);

        // A check box shows on its row, checked or not.
        for (const auto& [key, checked] : {std::pair{"HidePackageVersion", false}, std::pair{"prefersLargeTitles", true}}) {
            SCOPED_TRACE(key);
            const auto row = settings->indexPathForKey(key);
            ASSERT_TRUE(row);
            settings->tableView()->scrollToRow(*row, UITableView::ScrollPosition::Middle, false);
            GuiTest::pump();
            UITableViewCell* cell = settings->tableView()->cellForRow(*row);
            ASSERT_NE(cell, nullptr);
            auto* toggle = cell->findChild<QCheckBox*>("toggle");
            ASSERT_TRUE(toggle && toggle->isVisible());
            EXPECT_EQ(toggle->isChecked(), checked);
            // The box and a little of the row around it.
            const QRect around(toggle->mapTo(app().window(), QPoint(-6, -6)), toggle->size() + QSize(12, 12));
            const QImage shown = app().window()->grab(around).toImage();
            EXPECT_GT(pixelsStandingOut(shown, 3.0), 20) << "the check box hardly shows: " << describe(shown);
        }
        screenshot(("web-sheets-" + name + "-settings.png").c_str());

        // A list that has the focus: the row the keys highlight changes from
        // how it was drawn by at least 3:1, over at least its outline's length.
        auto* list = openAllPackages();
        ASSERT_NE(list, nullptr);
        UITableView* table = list->packagesTableView();
        ASSERT_TRUE(hasFocusIn(table));
        QWidget* row = table->cellForRow({0, 1});
        ASSERT_NE(row, nullptr);
        const QRect place(row->mapTo(app().window(), QPoint(0, 0)), row->size());
        const QImage plain = app().window()->grab(place).toImage();
        press(app().window(), Qt::Key_Down);
        press(app().window(), Qt::Key_Down);
        ASSERT_EQ(table->indexPathForHighlightedRow(), (IndexPath{0, 1}));
        const QImage highlighted = app().window()->grab(place).toImage();
        const int changed = pixelsChangedBy(plain, highlighted, 3.0);
        EXPECT_GE(changed, 2 * (place.width() + place.height()))
            << "the highlighted row hardly stands out: " << changed << " px changed by 3:1 on a " << place.width()
            << "x" << place.height() << " row";
        screenshot(("web-sheets-" + name + "-highlighted-row.png").c_str());

        // That row's page (Return), scrolled down by the wheel: the bar's Get button reads.
        press(app().window(), Qt::Key_Return);
        auto* pen = qobject_cast<PackageDetailsViewController*>(list->navigationController()->topViewController());
        ASSERT_NE(pen, nullptr);
        ASSERT_EQ(pen->packageIdentifier(), "org.dark.pen");
        ASSERT_TRUE(GuiTest::waitUntil([&] { return pen->isOnScreen() && pen->scrollView()->verticalScrollBar()->maximum() > 600; }))
            << "the long description does not show";
        QWidget* area = pen->scrollView()->viewport();
        const QPointF middle(area->width() / 2.0, area->height() / 2.0);
        for (int notch = 0; notch < 8; ++notch) {
            QWheelEvent turn(middle, area->mapToGlobal(middle), {}, QPoint(0, -120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
            QApplication::sendEvent(area, &turn);
        }
        ASSERT_TRUE(GuiTest::waitUntil([&] { return UIView::alpha(pen->getBarBtn()) == 1; })) << "the header stays";
        EXPECT_GE(titleContrast(pen->getBarBtn()), 4.5) << "the bar's " << pen->getBarBtn()->text().toStdString();
        screenshot(("web-sheets-" + name + "-bar-get-button.png").c_str());
        press(app().window(), Qt::Key_Left, Qt::AltModifier);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return list->navigationController()->topViewController() == list; }));

        // The package's web page.
        selectTab(ZMVostrelle::ManageTab);
        ASSERT_EQ(packages->navigationController()->topViewController(), depiction);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return depiction->isOnScreen(); }));
        EXPECT_TRUE(GuiTest::waitUntil([&] { return reads(shownPart(view)); }, std::chrono::seconds(20)))
            << "the depiction's text does not read: " << describe(shownPart(view));
        EXPECT_GE(titleContrast(depiction->getBtn()), 4.5) << "the depiction's " << depiction->getBtn()->text().toStdString();
        screenshot(("web-sheets-" + name + "-depiction.png").c_str());

        // The in-app browser of a shared link.
        ASSERT_TRUE(handOver("vostrelle://url/" + server->url("repo/plain.html")));
        WebViewViewController* browser = nullptr;
        ASSERT_TRUE(GuiTest::waitUntil([&] {
            auto* sheet = qobject_cast<UINavigationController*>(top());
            browser = sheet ? qobject_cast<WebViewViewController*>(sheet->topViewController()) : nullptr;
            return browser && browser->isOnScreen() && browser->page()->title() == "Plain";
        }, std::chrono::seconds(60)));
        EXPECT_TRUE(GuiTest::waitUntil([&] { return reads(shownPart(browser->webView())); }, std::chrono::seconds(20)))
            << "the browser's text does not read: " << describe(shownPart(browser->webView()));
        screenshot(("web-sheets-" + name + "-browser.png").c_str());
        tapBarButton(browser, "Close");
        ASSERT_TRUE(backAtTheWindow());
    }
}

// ---- Esc in a sheet ----------------------------------------------------------------------

using Launch::kPaid;

// A page that uses Esc itself while its overlay is open (as a video leaves
// full screen): it takes that Esc, and only that one.
constexpr const char* kOverlayPage =
    "<html><head><title>Overlay</title></head><body style='margin:0'>"
    "<p style='font-size:28px;padding:20px'>A shared link</p>"
    "<div id='overlay' style='position:fixed;left:0;right:0;bottom:0;height:80px;background:#333'></div>"
    "<script>document.addEventListener('keydown', function (e) {"
    "  var o = document.getElementById('overlay');"
    "  if (e.key === 'Escape' && o) { o.remove(); e.preventDefault(); }"
    "});</script></body></html>";

class WebSheetsRoad : public Launch::PaidRepositoryRoad<OnPalettes<Launch::Fixture>> {
protected:
    void SetUp() override {
        PaidRepositoryRoad::SetUp();
        server->route("overlay.html", [](const httplib::Request&, httplib::Response& res) { res.set_content(kOverlayPage, "text/html"); });
    }
    static void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        UserGesture::press(window(), key, modifiers);
    }
    // The web page of the sheet in front, once it shows the element.
    static WebViewViewController* sheetPage(const QString& element) {
        WebViewViewController* web = nullptr;
        if (!GuiTest::waitUntil([&] {
                auto* sheet = qobject_cast<UINavigationController*>(top());
                web = sheet ? qobject_cast<WebViewViewController*>(sheet->topViewController()) : nullptr;
                return web && web->isOnScreen();
            }, std::chrono::seconds(30)) ||
            !WebPageDriver::waitForElement(web->page(), element))
            return nullptr;
        return web;
    }
    // A click on the page where it shows only text: the page has the keyboard.
    static void clickInside(WebViewViewController* web) {
        QWidget* page = web->webView()->focusProxy() ? web->webView()->focusProxy() : web->webView();
        GuiTest::pump(std::chrono::milliseconds(300));  // drawn, and taking input
        QTest::mouseClick(page, Qt::LeftButton, {}, QPoint(30, 30));
        ASSERT_TRUE(GuiTest::waitUntil([&] { return hasFocusIn(web->webView()); })) << "the click left the page without the focus";
    }
};

TEST_F(WebSheetsRoad, EscClosesTheSheetInFrontWhereverTheClickPutTheFocus) {
    start({QString::fromStdString("vostrelle://add/" + location())});
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource(kPaid, location()));
    ASSERT_NE(chooseTheme(ZMPalette::PureBlack), nullptr);  // where the store's pages were met
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto source = ZMRSource::objectForPrimaryKey(location());
        return source && source->endpoint == store->endpoint();
    }, std::chrono::seconds(60)));
    auto* page = DetailsFixture::openFromAllPackages(app(), kPaid);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->isOnScreen() && page->getBtn()->text() == "$1.99"; }, std::chrono::seconds(20)));

    const struct Case {
        const char* what;
        std::function<void()> open;  // shows the sheet and puts the focus inside it
    } cases[] = {
        {"the store's sign-in sheet",
         [&] {
             click(page->getBtn());
             auto* web = sheetPage("password");
             ASSERT_NE(web, nullptr);
             // Its heading: the form's fields below it stand out whatever the text does.
             const auto heading = [&] { return shownPart(web->webView()).copy(0, 0, web->webView()->width(), 60); };
             EXPECT_TRUE(GuiTest::waitUntil([&] { return reads(heading()); }, std::chrono::seconds(20)))
                 << "the store's page does not read: " << describe(heading());
             ASSERT_NO_FATAL_FAILURE(clickInside(web));
             screenshot("web-sheets-pure-black-sign-in.png");
         }},
        {"the store's checkout sheet",
         [&] {
             // Signed in through the store's page first, as a buyer is.
             ASSERT_NO_FATAL_FAILURE(signInFromThePrice(page));
             click(page->getBtn());
             auto* web = sheetPage("pay");
             ASSERT_NE(web, nullptr);
             ASSERT_NO_FATAL_FAILURE(clickInside(web));
         }},
        {"the in-app browser of a shared link",
         [&] {
             ASSERT_TRUE(handOver("vostrelle://url/" + server->url("overlay.html")));
             auto* web = sheetPage("overlay");
             ASSERT_NE(web, nullptr);
             ASSERT_NO_FATAL_FAILURE(clickInside(web));
             // The page's own Esc first: its overlay goes, the sheet stays.
             press(Qt::Key_Escape);
             auto gone = std::make_shared<bool>(false);
             ASSERT_TRUE(GuiTest::waitUntil([&] {
                 web->page()->runJavaScript("!document.getElementById('overlay')", [gone](const QVariant& v) { *gone = *gone || v.toBool(); });
                 GuiTest::pump(std::chrono::milliseconds(100));
                 return *gone;
             }, std::chrono::seconds(10))) << "the page never had its Esc";
             GuiTest::pump(std::chrono::milliseconds(300));
             ASSERT_EQ(dynamic_cast<UINavigationController*>(top()), web->navigationController())
                 << "the Esc the page used closed the sheet too";
             screenshot("web-sheets-pure-black-esc-browser.png");
         }},
        {"a show sheet after its developer card",
         [&] {
             ASSERT_TRUE(handOver(std::string("vostrelle://show/bundleid=") + kPaid));
             PackageDetailsViewController* shown = nullptr;
             ASSERT_TRUE(GuiTest::waitUntil([&] {
                 auto* sheet = qobject_cast<UINavigationController*>(top());
                 shown = sheet ? qobject_cast<PackageDetailsViewController*>(sheet->topViewController()) : nullptr;
                 return shown && !sheet->isBeingPresented() && shown->isOnScreen();
             }));
             shown->scrollView()->ensureWidgetVisible(shown->developerCard());
             GuiTest::pump();
             click(shown->developerCard()->cell());
             auto* sheet = shown->navigationController();
             ASSERT_TRUE(GuiTest::waitUntil([&] { return qobject_cast<ContactDeveloperViewController*>(sheet->topViewController()); }))
                 << "the developer card did not open";
             ASSERT_TRUE(hasFocusIn(sheet)) << "the keyboard is not in the sheet";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(c.open());
        ASSERT_NE(top(), window()->rootViewController());
        press(Qt::Key_Escape);
        EXPECT_TRUE(backAtTheWindow()) << "Esc does not close " << c.what;
        if (top() != window()->rootViewController()) {
            // Out of the way for the next case, as Ctrl+W does.
            press(Qt::Key_W, Qt::ControlModifier);
            ASSERT_TRUE(backAtTheWindow());
        }
        EXPECT_TRUE(GuiTest::waitUntil([] {
            auto& store = ZMRepoStoreAPI::sharedRepoStore();
            return !store.hasPendingSignin() && !store.hasPendingPurchase();
        })) << "the store still waits for the closed page";
    }
}

}  // namespace
