// Bundled pictures are drawn once for each size: a cell or page that asks
// again gets the same drawing instead of a new one left in the pixmap cache.
#include <gtest/gtest.h>

#include <QPixmapCache>
#include <functional>

#include "Browsing/BrowsingImages.h"
#include "Details/DetailsImages.h"
#include "PackageCell.h"
#include "ZMSvgPixmap.h"

namespace {

struct Picture {
    const char* what;
    std::function<QPixmap()> draw;
    QSize size;  // an empty size: the picture does not exist
};

TEST(ZMSvgPixmapTest, APictureAskedForAgainIsTheSameDrawingAndIsDrawnAgainAfterTheCacheIsCleared) {
    const std::vector<Picture> pictures = {
        {"a category icon", [] { return PackageRow::bundledImage("Categories/Tweaks", 88); }, {88, 88}},
        {"a browsing image", [] { return BrowsingImages::named("ZMCydiaSource.png", 60); }, {60, 60}},
        {"a details icon", [] { return DetailsImages::named("Share").pixmap(44, 44); }, {44, 44}},
        {"the same file at another size", [] { return PackageRow::bundledImage("Categories/Tweaks", 40); }, {40, 40}},
        {"a missing file", [] { return ZMSvgPixmap::pixmap(QStringLiteral(":/Images/none.svg"), 40); }, {}},
    };
    for (const auto& picture : pictures) {
        SCOPED_TRACE(picture.what);
        const QPixmap first = picture.draw(), second = picture.draw();
        if (picture.size.isEmpty()) {
            EXPECT_TRUE(first.isNull());
            EXPECT_TRUE(ZMSvgPixmap::icon(QStringLiteral(":/Images/none.svg")).isNull());
            continue;
        }
        ASSERT_FALSE(first.isNull());
        EXPECT_EQ(first.size(), picture.size);
        EXPECT_EQ(first.cacheKey(), second.cacheKey()) << "drawn a second time";
        QPixmapCache::clear();  // as when a screen closes
        const QPixmap redrawn = picture.draw();
        ASSERT_FALSE(redrawn.isNull());
        EXPECT_EQ(redrawn.size(), picture.size);
        EXPECT_EQ(redrawn.toImage(), first.toImage());
    }
}

}  // namespace
