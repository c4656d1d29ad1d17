// Memory of a depiction's screenshots: four 5700x5700 PNGs, small on the
// wire and 130 MB each once decoded. The process's peak resident memory is
// reset before the page opens and read once the strip, the cache files and
// the gallery (paged through) have shown them all.
#include <QBuffer>
#include <QPainter>
#include <cstdio>
#include <fstream>

#include "Details/DetailsFixture.h"
#include "Details/PackageScreenshotsViewController.h"
#include "Details/ScreenshotsCell.h"

namespace {

long statusKilobytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
    return -1;
}

// Linux starts the peak (VmHWM) anew from the current size.
bool resetPeak() {
    std::ofstream refs("/proc/self/clear_refs");
    refs << "5";
    refs.flush();
    return static_cast<bool>(refs);
}

class ScreenshotMemory : public DetailsFixture::Host {};

TEST_F(ScreenshotMemory, FourHugeScreenshotsPeakUnder300MB) {
    std::string huge;
    {
        // Drawn before the measure: it costs what the page must not.
        QImage image(5700, 5700, QImage::Format_RGB32);
        image.fill(QColor("#34c759"));
        QPainter painter(&image);
        QFont font;
        font.setPixelSize(900);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(image.rect(), Qt::AlignCenter, "5700");
        painter.end();
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(image.save(&buffer, "PNG"));
        huge = bytes.toStdString();
    }
    nlohmann::json shots = nlohmann::json::array();
    for (int i = 1; i <= 4; ++i) {
        serve("huge/" + std::to_string(i) + ".png", huge);
        shots.push_back({{"url", url("huge/" + std::to_string(i) + ".png")}});
    }
    serve("huge/depiction.json",
          nlohmann::json{{"tabs", {{{"tabname", "Details"}, {"views", {{{"markdown", "Huge shots"}}, {{"screenshots", shots}}}}}}}}
              .dump());
    storeSource(url(""));
    ZMRPackage p;
    p.identifier = "com.loop.huge", p.name = "Huge Shots", p.version = "1.0", p.sourceLocation = url("");
    p.sileoDepiction = url("huge/depiction.json");
    storePackage(p);

    ASSERT_TRUE(resetPeak());
    const long before = statusKilobytes("VmRSS:");
    auto* page = openDetails("com.loop.huge");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->screenshotsDictionary().size() == 4; }, std::chrono::seconds(120)));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ZMRPackage::objectForPrimaryKey("com.loop.huge")->screenshotsLocalPaths.size() == 4; },
                                   std::chrono::seconds(60)));
    // The strip shows them at its own height.
    for (const auto& [position, image] : page->screenshotsDictionary()) EXPECT_LE(image.height(), 2 * 300) << position;

    page->didSelectItem(page->screenshotsCollectionView(), 0);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return window->topPresentedViewController() != nav; }));
    auto* galleryNav = dynamic_cast<UINavigationController*>(window->topPresentedViewController());
    ASSERT_NE(galleryNav, nullptr);
    auto* gallery = dynamic_cast<PackageScreenshotsViewController*>(galleryNav->topViewController());
    ASSERT_NE(gallery, nullptr);
    ASSERT_EQ(gallery->screenshotsCollectionView()->numberOfItems(), 4);
    for (int i = 0; i < 4; ++i) {
        gallery->screenshotsCollectionView()->scrollToItem(i, false);
        // The page shows its file decoded at the page's own size.
        auto* cell = qobject_cast<ScreenshotsCell*>(gallery->screenshotsCollectionView()->cellForItem(i));
        ASSERT_NE(cell, nullptr);
        EXPECT_TRUE(GuiTest::waitUntil([&] { return !cell->decodedSize().isEmpty(); }, std::chrono::seconds(30))) << i;
        EXPECT_LE(cell->decodedSize().width(), cell->width() * cell->devicePixelRatioF()) << i;
        EXPECT_LE(cell->decodedSize().height(), cell->height() * cell->devicePixelRatioF()) << i;
    }
    GuiTest::pump(std::chrono::milliseconds(500));
    DetailsFixture::saveScreenshot(window.get(), "details-huge-gallery.png");

    const long peak = statusKilobytes("VmHWM:");
    std::printf("screenshot memory: resident before %ld MB, peak %ld MB, growth %ld MB\n", before / 1024, peak / 1024,
                (peak - before) / 1024);
    RecordProperty("peak_mb", std::to_string(peak / 1024));
    RecordProperty("growth_mb", std::to_string((peak - before) / 1024));
    EXPECT_LT(peak / 1024, 300) << "peak resident memory in MB";
    gallery->dismissVC();
}

}  // namespace
