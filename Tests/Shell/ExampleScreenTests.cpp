#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QTest>
#include <QVBoxLayout>

#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITableView.h"
#include "UIKit/UIWindow.h"
#include "ZMPaletteManager.h"
#include "ZMPalettedViewController.h"

namespace {

// The shape of a list screen on this layer (kept compiling here).
class FruitList : public ZMPalettedViewController, public UITableViewDataSource, public UITableViewDelegate {
public:
    std::vector<QString> fruit{"Apple", "Banana", "Cherry"};
    std::vector<QString> queued;
    int sorts = 0;
    UITableView* table = nullptr;

    void viewDidLoad() override {
        setTitle("Fruit");
        table = new UITableView(UITableView::Style::Plain, this);
        table->registerCell("cell", [] { return new UITableViewCell; });
        table->setDataSource(this);
        table->setDelegate(this);
        (new QVBoxLayout(this))->addWidget(table);
        navigationItem()->setRightBarButtonItem(new UIBarButtonItem("Sort", [this](UIBarButtonItem*) { ++sorts; }));
    }
    int numberOfRows(UITableView*, int) override { return static_cast<int>(fruit.size()); }
    UITableViewCell* cellForRow(UITableView* t, IndexPath ip) override {
        auto* cell = t->dequeueReusableCell("cell");
        cell->textLabel()->setText(fruit[ip.row]);
        cell->textLabel()->setStyleSheet("color: " + palette().primaryTextColor().name());
        return cell;
    }
    std::vector<UIContextualAction> trailingSwipeActions(UITableView*, IndexPath ip) override {
        UIContextualAction queue{UIContextualAction::Style::Normal, "Queue", QColor(0, 171, 224),
                                 [this, ip](const UIContextualAction&, QWidget*, std::function<void(bool)> done) {
                                     queued.push_back(fruit[ip.row]);
                                     done(true);
                                 }};
        return {queue};
    }
    void paletteDidChange(const ZMPalette& p) override {
        if (table) table->setBackgroundColor(p.backgroundColor());
        if (table) table->reloadData();
    }
};

TEST(ExampleScreen, TableBarButtonSwipeActionAndPaletteHookWorkTogether) {
    ZMPaletteManager::sharedManager().setStyle(0);
    UIWindow window;
    auto* screen = new FruitList;
    window.setRootViewController(new UINavigationController(screen));
    window.resize(400, 600);
    window.show();
    ASSERT_NE(screen->table->cellForRow({0, 1}), nullptr);
    EXPECT_EQ(screen->table->cellForRow({0, 1})->textLabel()->text(), "Banana");

    screen->navigationItem()->rightBarButtonItem()->trigger();
    EXPECT_EQ(screen->sorts, 1);

    auto* cell = screen->table->cellForRow({0, 2});
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(5, 5), cell->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(cell, &e);
    ASSERT_NE(screen->table->activeSwipeMenu(), nullptr);
    screen->table->activeSwipeMenu()->actions().front()->trigger();
    EXPECT_EQ(screen->queued, std::vector<QString>{"Cherry"});
    screen->table->activeSwipeMenu()->close();

    ZMPaletteManager::sharedManager().setStyle(3);
    EXPECT_EQ(screen->table->viewport()->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_TRUE(screen->table->cellForRow({0, 0})->textLabel()->styleSheet().contains(ZMPalette(3).primaryTextColor().name()));
    ZMPaletteManager::sharedManager().setStyle(0);
}

}  // namespace
