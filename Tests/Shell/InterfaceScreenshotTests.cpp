#include <gtest/gtest.h>
#include "VostrelleBuildPaths.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UITableView.h"
#include "UIKit/UIWindow.h"
#include "ZMPaletteManager.h"
#include "ZMPalettedViewController.h"

namespace {

// A row shaped like a package row: icon, name, sub-line and a get button.
class SampleCell : public UITableViewCell {
public:
    SampleCell() {
        auto* row = new QHBoxLayout(contentView());
        row->setContentsMargins(16, 8, 12, 8);
        row->setSpacing(12);
        icon = new QLabel(contentView());
        icon->setFixedSize(48, 48);
        auto* text = new QVBoxLayout;
        text->setSpacing(2);
        name = new QLabel(contentView());
        QFont f = name->font();
        f.setBold(true);
        name->setFont(f);
        sub = new QLabel(contentView());
        sub->setForegroundRole(QPalette::PlaceholderText);
        text->addWidget(name);
        text->addWidget(sub);
        get = new QPushButton("GET", contentView());
        get->setObjectName("getButton");
        row->addWidget(icon);
        row->addLayout(text, 1);
        row->addWidget(get);
        setSeparatorInset(76);
    }
    void fill(const QString& n, const QString& s, const QColor& c, bool paid, const ZMPalette& p) {
        QPixmap pm(48, 48);
        pm.fill(Qt::transparent);
        QPainter painter(&pm);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(c);
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(0, 0, 48, 48), 48 * 0.2237, 48 * 0.2237);
        painter.setPen(Qt::white);
        QFont f = painter.font();
        f.setBold(true);
        f.setPixelSize(22);
        painter.setFont(f);
        painter.drawText(pm.rect(), Qt::AlignCenter, n.left(1));
        painter.end();
        icon->setPixmap(pm);
        name->setText(n);
        name->setStyleSheet(QStringLiteral("color: %1;").arg((paid ? p.paidTextColor() : p.primaryTextColor()).name()));
        sub->setText(s);
        get->setText(paid ? "$1.99" : "GET");
    }
    QLabel* icon;
    QLabel* name;
    QLabel* sub;
    QPushButton* get;
};

class SampleList : public ZMPalettedViewController, public UITableViewDataSource, public UITableViewDelegate {
public:
    SampleList() {
        setTitle("Changes");
        navigationItem()->setRightBarButtonItem(new UIBarButtonItem(QIcon(":/Images/Sort.svg"), [](UIBarButtonItem*) {}));
    }
    void viewDidLoad() override {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        table = new UITableView(UITableView::Style::Plain, this);
        table->registerCell("cell", [] { return new SampleCell; });
        table->setRowHeight(70);
        table->setDataSource(this);
        table->setDelegate(this);
        layout->addWidget(table);
    }
    void paletteDidChange(const ZMPalette& p) override {
        if (!table) return;
        table->setBackgroundColor(p.backgroundColor());
        table->reloadData();
    }
    int numberOfSections(UITableView*) override { return 2; }
    int numberOfRows(UITableView*, int s) override { return s == 0 ? 3 : 40; }
    std::optional<QString> titleForHeader(UITableView*, int s) override { return s == 0 ? "Updates" : "Sunday, 6 December"; }
    UITableViewCell* cellForRow(UITableView* t, IndexPath ip) override {
        static const char* names[] = {"Nightfall", "Quickdial", "Barometer", "Lumen Keys", "Tidy Folders", "Sonar"};
        static const char* subs[] = {"Ada Okafor", "Repo One", "Lin Hale", "Marta Ruiz", "Repo Two", "Oskar Berg"};
        static const QColor colors[] = {QColor("#5b6cf0"), QColor("#f0825b"), QColor("#2bb38a"), QColor("#d65bb5"),
                                        QColor("#e0b42f"), QColor("#3aa0d8")};
        const int i = (ip.row + ip.section * 3) % 6;
        auto* cell = static_cast<SampleCell*>(t->dequeueReusableCell("cell"));
        cell->fill(names[i], subs[i], colors[i], i == 3, palette());
        cell->setSeparatorHidden(ip.row == numberOfRows(t, ip.section) - 1);
        return cell;
    }
    UITableView* table = nullptr;
};

void snapshot(const std::string& name, int style) {
    UIView::setAnimationsEnabled(false);
    ZMPaletteManager::sharedManager().setStyle(style);
    ZMPaletteManager::sharedManager().applyToApplication();
    UINavigationController::setPrefersLargeTitles(true);
    UIWindow window;
    window.setWindowTitle("Vostrelle");
    auto* tabs = new UITabBarController;
    std::vector<UIViewController*> navs;
    const char* titles[] = {"Featured", "Sections", "Changes", "Manage", "Search"};
    for (int i = 0; i < 5; ++i) {
        UIViewController* root = i == 2 ? static_cast<UIViewController*>(new SampleList) : new ZMPalettedViewController;
        root->setTitle(titles[i]);
        root->tabBarItem()->setIcon(QIcon(QStringLiteral(":/Images/Tabs/%1.svg").arg(titles[i])));
        navs.push_back(new UINavigationController(root));
    }
    tabs->setViewControllers(navs);
    const ZMPalette p(style);
    tabs->setBarColors(p.foregroundColor(), p.secondaryTextColor(), p.tintColor());
    tabs->setSelectedIndex(2);
    tabs->setBadgeValue(2, "3");
    auto* status = new QLabel("2 packages queued");
    status->setAlignment(Qt::AlignCenter);
    status->setStyleSheet(QStringLiteral("background: %1; color: white; border-radius: 16px; padding: 8px 18px; font-weight: bold;")
                              .arg(p.tintColor().name()));
    tabs->setAccessoryView(status);
    window.setRootViewController(tabs);
    window.resize(400, 760);
    window.show();
    GuiTest::pump(std::chrono::milliseconds(100));

    auto* list = static_cast<SampleList*>(static_cast<UINavigationController*>(navs[2])->topViewController());
    ASSERT_NE(list->table, nullptr);
    EXPECT_GT(list->table->visibleCells().size(), 3u);
    const QImage image = window.grab().toImage();
    // The large title and the tab bar use the palette.
    EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() - 3), p.foregroundColor());
    QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
    const QString path = QStringLiteral(VOSTRELLE_SCREENSHOT_DIR "/%1.png").arg(QString::fromStdString(name));
    ASSERT_TRUE(image.save(path));
    ZMPaletteManager::sharedManager().setStyle(0);
    UIView::setAnimationsEnabled(true);
}

TEST(InterfaceScreenshot, LightAndGreyWindows) {
    snapshot("interface-light", 0);
    snapshot("interface-grey", 2);
}

}  // namespace
