// A picture of the main window with packages in the database: a list of
// package rows in the Changes tab and the status display with the queue.
#include <QPainter>
#include "App/ZMApplication.h"
#include "VostrelleBuildPaths.h"
#include <QVBoxLayout>
#include <filesystem>

#include "GetPackageCell.h"
#include "Miscellaneous/ZMPaths.h"
#include "PackageCell.h"
#include "ShellTestSupport.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"
#include "ZMTabBarStatusView.h"

namespace {

using ShellTest::makePackage;

// A list as the browsing screens build them: identifiers per section, the
// record looked up for every row drawn.
class RowsScreen : public ZMPalettedViewController, public UITableViewDataSource, public UITableViewDelegate {
public:
    std::vector<std::pair<QString, std::vector<std::string>>> sections;
    UITableView* table = nullptr;
    void viewDidLoad() override {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        table = new UITableView(UITableView::Style::Plain, this);
        table->registerCell(PackageCell::kReuseIdentifier, [] { return new PackageCell; });
        table->registerCell(GetPackageCell::kReuseIdentifier, [] { return new GetPackageCell; });
        table->setRowHeight(PackageRow::kRowHeight);
        table->setDataSource(this);
        table->setDelegate(this);
        layout->addWidget(table);
    }
    void paletteDidChange(const ZMPalette& p) override {
        if (!table) return;
        table->setBackgroundColor(p.backgroundColor());
        table->reloadData();
    }
    int numberOfSections(UITableView*) override { return static_cast<int>(sections.size()); }
    int numberOfRows(UITableView*, int s) override { return static_cast<int>(sections[s].second.size()); }
    std::optional<QString> titleForHeader(UITableView*, int s) override { return sections[s].first; }
    UITableViewCell* cellForRow(UITableView* t, IndexPath ip) override {
        const std::string& id = sections[ip.section].second[ip.row];
        auto package = ZMRPackage::objectForPrimaryKey(id);
        UITableViewCell* cell;
        if (ip.section == 0) {
            auto* c = t->dequeueReusableCell<GetPackageCell>(GetPackageCell::kReuseIdentifier);
            if (package) c->updateWithPackage(*package);
            cell = c;
        } else {
            auto* c = t->dequeueReusableCell<PackageCell>(PackageCell::kReuseIdentifier);
            if (package) c->updateWithPackage(*package);
            cell = c;
        }
        PackageRow::hideSeparatorIfLast(cell, t, ip);
        return cell;
    }
};

class ShellScreenshot : public ShellTest::Fixture {};

void writeIcon(const ZMRPackage& p, const QColor& top, const QColor& bottom, const QString& letter) {
    std::filesystem::create_directories(std::filesystem::path(p.iconPath()).parent_path());
    QImage icon(120, 120, QImage::Format_ARGB32);
    QPainter painter(&icon);
    QLinearGradient g(0, 0, 0, 120);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    painter.fillRect(icon.rect(), g);
    painter.setPen(Qt::white);
    QFont f = painter.font();
    f.setBold(true);
    f.setPixelSize(64);
    painter.setFont(f);
    painter.drawText(icon.rect(), Qt::AlignCenter, letter);
    painter.end();
    icon.save(QString::fromStdString(p.iconPath()));
}

TEST_F(ShellScreenshot, MainWindowWithPackageRowsAndTheQueue) {
    auto& d = ZMVostrelle::sharedVostrelle();
    ZMApplication::applicationDidFinishLaunching();
    storeSource("https://repo.example/", "Example Repo");

    auto nightfall = makePackage("com.example.nightfall", "Nightfall");
    nightfall.Description = "A dark theme for every window, with accent colours you pick.";
    nightfall.category = "Themes";
    nightfall.tweakCompatibleStatus = 0;
    auto quickdial = makePackage("com.example.quickdial", "Quickdial");
    quickdial.maintainer = "Lin Hale <lin@example.com>";
    quickdial.Description = "Call your favourites from anywhere.";
    quickdial.isInstalled = true;
    quickdial.installedVersion = "1.0";
    quickdial.isUpdated = true;
    quickdial.isHeld = false;
    auto barometer = makePackage("com.example.barometer", "Barometer Pro");
    barometer.maintainer = "Marta Ruiz <marta@example.com>";
    barometer.price = "$1.99";
    barometer.Description = "Air pressure and altitude in the status bar.";
    barometer.category = "Applications";
    auto tidy = makePackage("com.example.tidy", "Tidy Folders");
    tidy.maintainer = "Oskar Berg";
    tidy.Description = "Sorts folders by colour, name or the date you last opened them.";
    tidy.isInstalled = true;
    tidy.installedVersion = "1.2";
    tidy.tweakCompatibleStatus = 0;
    auto sonar = makePackage("com.example.sonar", "Sonar");
    sonar.Description = "Finds the loudest app and turns it down. Not working on this version yet.";
    sonar.tweakCompatibleStatus = 1;
    sonar.category = "Widgets";
    auto lumen = makePackage("com.example.lumen", "Lumen Keys");
    lumen.maintainer = "Ada Okafor <ada@example.com>";
    lumen.Description = "Backlit keyboard colours that follow the time of day.";
    lumen.isInTheQueue = true;
    lumen.queueOperation = ZMRQueueOperationInstall;
    store({nightfall, quickdial, barometer, tidy, sonar, lumen});
    writeIcon(quickdial, QColor("#ffa35b"), QColor("#f0605b"), "Q");
    writeIcon(tidy, QColor("#5bd0f0"), QColor("#3a7fd8"), "T");
    writeIcon(lumen, QColor("#b58cff"), QColor("#6b4de0"), "L");

    auto* screen = new RowsScreen;
    screen->setTitle("Recent Changes");
    screen->sections = {{"Updates", {"com.example.quickdial"}},
                        {"Sunday, 6 December",
                         {"com.example.nightfall", "com.example.lumen", "com.example.barometer", "com.example.tidy",
                          "com.example.sonar"}}};
    auto* tabs = d.tabBarController();
    auto* nav = dynamic_cast<UINavigationController*>(tabs->viewControllers()[ZMVostrelle::ChangesTab]);
    ASSERT_NE(nav, nullptr);
    nav->pushViewController(screen, false);
    tabs->setSelectedIndex(ZMVostrelle::ChangesTab);
    d.window()->resize(420, 780);
    GuiTest::pump(std::chrono::milliseconds(150));

    // The status display counts the queued package.
    auto* status = d.statusView();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return status->isVisible() && status->queuedCount() == 1; }));
    ASSERT_EQ(screen->table->visibleCells().size(), 6u);
    // Fixed-height rows; the last row of each section has no separator.
    for (auto* c : screen->table->visibleCells()) {
        auto ip = screen->table->indexPathForCell(c);
        ASSERT_TRUE(ip.has_value());
        EXPECT_EQ(c->height(), PackageRow::kRowHeight);
        EXPECT_EQ(c->isSeparatorHidden(), ip->row == static_cast<int>(screen->sections[ip->section].second.size()) - 1)
            << ip->section << "/" << ip->row;
    }
    auto* update = dynamic_cast<GetPackageCell*>(screen->table->cellForRow({0, 0}));
    ASSERT_NE(update, nullptr);
    EXPECT_EQ(update->getBtn()->text(), "UPDATE");

    const QImage image = d.window()->grab().toImage();
    QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
    ASSERT_TRUE(image.save(VOSTRELLE_SCREENSHOT_DIR "/shell-main.png"));
    // The status pill is painted in the tint colour above the tab bar.
    const QPoint inWindow = status->mapTo(d.window(), status->rect().topLeft()) + QPoint(12, status->height() / 2);
    EXPECT_EQ(image.pixelColor(inWindow), ZMPaletteManager::sharedManager().palette().tintColor());

    // The same window after switching to the pure black style in the settings.
    prefs().setValue(VostrellePreferenceKey::Theme, ZMPalette::PureBlack);
    NotificationCenter::defaultCenter().post(kZMAppearanceSettingsChangedNotification);
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMPaletteManager::sharedManager().activeStyle() == ZMPalette::PureBlack; }));
    GuiTest::pump(std::chrono::milliseconds(100));
    const ZMPalette dark(ZMPalette::PureBlack);
    auto* row = dynamic_cast<PackageCell*>(screen->table->cellForRow({1, 0}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->nameLbl()->palette().color(QPalette::WindowText), dark.primaryTextColor());
    const QImage darkImage = d.window()->grab().toImage();
    ASSERT_TRUE(darkImage.save(VOSTRELLE_SCREENSHOT_DIR "/shell-main-dark.png"));
}

}  // namespace
