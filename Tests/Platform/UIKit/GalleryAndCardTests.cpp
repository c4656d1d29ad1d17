#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include "Dispatch/Dispatch.h"
#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/CardView.h"
#include "UIKit/UICollectionView.h"
#include "UIKit/UIViewController.h"

namespace {

class Shots : public UICollectionViewDataSource {
public:
    int count = 6;
    std::vector<int> tapped;
    int numberOfItems(UICollectionView*) override { return count; }
    QWidget* cellForItem(UICollectionView*, int i) override { return new QLabel(QString::number(i)); }
    QSize sizeForItem(UICollectionView*, int) override { return {200, 150}; }
    void didSelectItem(UICollectionView*, int i) override { tapped.push_back(i); }
};

TEST(CollectionViewTest, ItemsLineUpAndPagingSettlesOnAnItem) {
    UIView::setAnimationsEnabled(false);
    Shots shots;
    UICollectionView gallery;
    gallery.setDataSource(&shots);
    gallery.setSpacing(10);
    gallery.setContentInsets(16, 16);
    gallery.setPagingEnabled(true);
    gallery.resize(300, 150);
    gallery.show();
    gallery.reloadData();
    ASSERT_EQ(gallery.numberOfItems(), 6);
    EXPECT_EQ(gallery.cellForItem(1)->x(), 16 + 200 + 10);
    EXPECT_EQ(gallery.height(), 150);
    EXPECT_EQ(gallery.currentIndex(), 0);

    QSignalSpy changed(&gallery, &UICollectionView::currentIndexChanged);
    gallery.scrollToItem(3, false);
    EXPECT_EQ(gallery.currentIndex(), 3);
    EXPECT_EQ(gallery.horizontalScrollBar()->value(), gallery.cellForItem(3)->x() - 16);
    EXPECT_EQ(changed.count(), 1);

    // A horizontal touch-pad scroll that stops between items settles on the nearer one.
    gallery.scrollToItem(0, false);
    QWheelEvent wheel(QPointF(50, 50), gallery.mapToGlobal(QPointF(50, 50)), QPoint(-130, 0), QPoint(-130, 0), Qt::NoButton,
                      Qt::NoModifier, Qt::ScrollUpdate, false);
    QCoreApplication::sendEvent(gallery.viewport(), &wheel);
    EXPECT_EQ(gallery.horizontalScrollBar()->value(), 130);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return gallery.horizontalScrollBar()->value() == gallery.cellForItem(1)->x() - 16; }));

    QTest::mouseClick(gallery.cellForItem(1), Qt::LeftButton);
    EXPECT_EQ(shots.tapped, std::vector<int>{1});
    UIView::setAnimationsEnabled(true);
}

TEST(CardViewTest, RoundedCardWithAQuarterOpacityShadow) {
    CardView card;
    EXPECT_EQ(CardView::kCornerRadius, 20);
    EXPECT_EQ(card.shadow()->offset(), QPointF(0, 0));
    EXPECT_DOUBLE_EQ(card.shadow()->blurRadius(), 24);
    card.setShadowColor(QColor(10, 20, 30));
    EXPECT_EQ(card.shadow()->color().rgb(), QColor(10, 20, 30).rgb());
    EXPECT_NEAR(card.shadow()->color().alphaF(), 0.25, 0.01);
    // The corners stay clear: the card is rounded.
    card.setCardColor(Qt::white);
    card.setGraphicsEffect(nullptr);
    card.resize(200, 100);
    QImage img(card.size(), QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    card.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(img.pixelColor(1, 1).alpha(), 0);
    EXPECT_EQ(img.pixelColor(100, 50), QColor(Qt::white));
}

TEST(CardViewTest, ShadowSurroundsTheCardItsContentIsDrawnOverIt) {
    struct Case {
        QSize card;
        const char* name;
    };
    // A card taller than its two corners (drawn from slices) and one lower than them (blurred whole).
    for (const Case& c : {Case{{220, 120}, "sliced"}, Case{{220, 60}, "whole"}}) {
        QWidget page;
        page.resize(c.card.width() + 80, c.card.height() + 80);
        page.setAutoFillBackground(true);
        QPalette white = page.palette();
        white.setColor(QPalette::Window, Qt::white);
        page.setPalette(white);
        auto* card = new CardView(&page);
        card->setCardColor(Qt::white);
        card->setShadowColor(Qt::black);
        card->setGeometry(40, 40, c.card.width(), c.card.height());
        auto* mark = new QWidget(card);
        mark->setAutoFillBackground(true);
        QPalette red = mark->palette();
        red.setColor(QPalette::Window, Qt::red);
        mark->setPalette(red);
        mark->setGeometry(c.card.width() / 2 - 5, c.card.height() / 2 - 3, 10, 6);
        page.show();
        const QImage shot = page.grab().toImage();
        EXPECT_EQ(shot.pixelColor(40 + c.card.width() / 2, 40 + c.card.height() / 2), QColor(Qt::red)) << c.name;

        // Around the card, the page darkens as the blurred card would; far from it, nothing.
        const QImage shadow = card->shadow()->shadowImage(c.card);
        const int pad = static_cast<int>(card->shadow()->blurRadius());
        ASSERT_EQ(shadow.size(), c.card + QSize(2 * pad, 2 * pad)) << c.name;
        int darkened = 0, worst = 0;
        for (int y = 0; y < shadow.height(); ++y)
            for (int x = 0; x < shadow.width(); ++x) {
                const QPoint onPage(40 - pad + x, 40 - pad + y);
                if (card->geometry().adjusted(-1, -1, 1, 1).contains(onPage)) continue;
                const int expected = 255 - qAlpha(shadow.pixel(x, y));  // black over white
                const int got = shot.pixelColor(onPage).red();
                worst = std::max(worst, std::abs(got - expected));
                if (got < 250) ++darkened;
            }
        EXPECT_LE(worst, 3) << c.name << ": the slices meet without seams";
        EXPECT_GT(darkened, 2 * (c.card.width() + c.card.height())) << c.name;
        EXPECT_EQ(shot.pixelColor(2, 2), QColor(Qt::white)) << c.name;
    }
}

TEST(QtMainExecutorTest, DispatchRunsOnTheQtEventLoopInOrderAndAfterDelays) {
    EXPECT_TRUE(Dispatch::isMainThread());
    std::vector<int> order;
    std::atomic<bool> fromWorker{false};
    Dispatch::mainAfter(0.05, [&] { order.push_back(3); });
    Dispatch::main([&] { order.push_back(1); });
    Dispatch::main([&] { order.push_back(2); });
    Dispatch::backgroundQueue([&] {
        Dispatch::main([&] { fromWorker = Dispatch::isMainThread(); });
    });
    EXPECT_TRUE(order.empty());  // asynchronous even on the main thread
    ASSERT_TRUE(GuiTest::waitUntil([&] { return order.size() == 3 && fromWorker; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    int synced = 0;
    Dispatch::mainSync([&] { synced = 1; });
    EXPECT_EQ(synced, 1);
}

}  // namespace
