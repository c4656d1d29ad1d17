// Screenshot passes against a loopback server that sets the order in which
// downloads complete: positions, cache files and the package record after
// each pass, reopening from the cache, a lost cache file, overlapping passes
// and hostile identifiers.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "Database/ZMRPackage.h"
#include "Depictions/ZMDepictionRequests.h"
#include "Depictions/ZMScreenshotCache.h"
#include "Depictions/ZMScreenshotPass.h"
#include "Foundation/AtomicFile.h"
#include "Platform/Foundation/TestHTTPServer.h"
#include "Realm/Realm.h"
#include "Support/TestSupport.h"

namespace {

const std::string kPNG = "\x89PNG\r\n\x1a\n";

// Takes any body with the PNG signature for an image and keeps its bytes.
struct BytesImage : ZMScreenshotImage {
    std::string bytes;
    uint64_t size = 0;
    uint64_t byteCount() const override { return size; }
};
class SignatureCodec : public ZMScreenshotCodec {
public:
    std::shared_ptr<const ZMScreenshotImage> decode(const std::string& data, uint64_t) const override {
        if (data.compare(0, kPNG.size(), kPNG) != 0) return nullptr;
        auto image = std::make_shared<BytesImage>();
        image->bytes = data;
        return image;
    }
    bool writePNG(const ZMScreenshotImage&, const std::string& data, const std::string& path) const override {
        return AtomicFile::write(path, data, 0644);
    }
};

std::string bytesOf(const ZMScreenshotPass::Images& images, int position) {
    auto it = images.find(position);
    return it == images.end() ? "" : static_cast<const BytesImage&>(*it->second).bytes;
}

class ScreenshotPassTest : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    TestHTTPServer server;
    std::atomic<int> requests{0};
    const std::string id = "com.example.shots";

    // Routes /<name> answer `body` with `status` after `delayMs`.
    struct Route {
        int delayMs = 0;
        int status = 200;
        std::string body;
    };
    std::map<std::string, Route> routes;

    void SetUp() override {
        TestSupport::resetSharedServices();
        server.server.Get(R"(/(.*))", [this](const httplib::Request& r, httplib::Response& res) {
            ++requests;
            const Route route = routes.at(r.matches[1]);
            std::this_thread::sleep_for(std::chrono::milliseconds(route.delayMs));
            res.status = route.status;
            res.set_content(route.body, "image/png");
        });
        server.start();
        store({});
    }
    void TearDown() override { TestSupport::resetSharedServices(); }

    std::string url(const std::string& name) const { return server.base() + "/" + name; }
    void store(const std::vector<std::string>& screenshots) {
        ZMRPackage p;
        p.identifier = id;
        p.name = "Shots";
        p.screenshots = screenshots;
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] { realm->addOrUpdate(p); });
    }
    ZMRPackage record() const { return *ZMRPackage::objectForPrimaryKey(id); }

    // Runs a pass to its end: the images, then the record written.
    ZMScreenshotPass::Outcome run(ZMScreenshotPass::Request request) {
        std::optional<ZMScreenshotPass::Outcome> outcome;
        bool recorded = false;
        auto pass = ZMScreenshotPass::start(std::move(request), std::make_shared<SignatureCodec>(),
                                            [&](ZMScreenshotPass::Outcome o) { outcome = std::move(o); },
                                            [&] { recorded = true; });
        EXPECT_TRUE(TestSupport::waitUntil([&] { return outcome && (recorded || outcome->fromCache); }));
        return outcome.value_or(ZMScreenshotPass::Outcome{});
    }
    ZMScreenshotPass::Request request(std::vector<std::string> urls, bool readCache = false, bool recordsURLs = true) {
        ZMScreenshotPass::Request r;
        r.identifier = id;
        r.urls = std::move(urls);
        r.cachedPaths = record().screenshotsLocalPaths;
        r.readCache = readCache;
        r.recordsURLs = recordsURLs;
        return r;
    }
    std::string cached(int position) const { return *ZMScreenshotCache::pathForPosition(id, position); }
};

TEST_F(ScreenshotPassTest, PositionsFollowCompletionAndFailuresTakeNone) {
    struct Case {
        const char* name;
        std::vector<Route> routes;
        std::vector<int> expected;  // which route's body each position holds
    };
    const std::string big(50u << 20, 'x');
    const Case cases[] = {
        {"third, first, second", {{150, 200, kPNG + "1"}, {300, 200, kPNG + "2"}, {0, 200, kPNG + "3"}}, {3, 1, 2}},
        {"second fails", {{0, 200, kPNG + "1"}, {100, 404, "<html>missing</html>"}, {200, 200, kPNG + "3"}}, {1, 3}},
        {"all fail", {{0, 404, kPNG + "404"}, {0, 200, "not an image"}, {0, 200, kPNG + big}}, {}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> urls;
        ++n;
        for (size_t i = 0; i < c.routes.size(); ++i) {
            const std::string name = "case" + std::to_string(n) + "-" + std::to_string(i);
            routes[name] = c.routes[i];
            urls.push_back(url(name));
        }
        if (c.expected.empty()) urls.push_back("file:///etc/hostname");
        auto outcome = run(request(urls));
        ASSERT_EQ(outcome.images.size(), c.expected.size());
        std::vector<std::string> paths;
        for (size_t k = 0; k < c.expected.size(); ++k) {
            const int position = static_cast<int>(k) + 1;
            EXPECT_EQ(bytesOf(outcome.images, position), c.routes[c.expected[k] - 1].body);
            EXPECT_EQ(TestSupport::readFile(cached(position)), c.routes[c.expected[k] - 1].body);
            paths.push_back(cached(position));
        }
        EXPECT_EQ(record().screenshots, urls);
        EXPECT_EQ(record().screenshotsLocalPaths, paths);
    }
}

TEST_F(ScreenshotPassTest, CacheIsReadFirstAndALostFileDownloadsAgain) {
    routes["a"] = {0, 200, kPNG + "a"};
    routes["b"] = {0, 200, kPNG + "b"};
    const std::vector<std::string> urls = {url("a"), url("b")};
    store(urls);
    run(request(urls, false, false));
    const int downloads = requests;
    auto again = run(request(urls, true, false));
    EXPECT_TRUE(again.fromCache);
    EXPECT_EQ(again.images.size(), 2u);
    EXPECT_EQ(requests, downloads);

    std::filesystem::remove(cached(2));
    auto fresh = run(request(urls, true, false));
    EXPECT_FALSE(fresh.fromCache);
    EXPECT_EQ(fresh.images.size(), 2u);
    EXPECT_EQ(requests, downloads + 2);
    EXPECT_EQ(record().screenshotsLocalPaths, (std::vector<std::string>{cached(1), cached(2)}));

    // A recorded path outside the cache is never read.
    auto outside = request(urls, true, false);
    outside.cachedPaths = {cached(1), env.root() + "/elsewhere.png"};
    TestSupport::writeFile(env.root() + "/elsewhere.png", kPNG + "outside");
    EXPECT_FALSE(run(outside).fromCache);

    // A pass where every download fails keeps the record's URLs.
    routes["a"] = routes["b"] = {0, 500, ""};
    auto failed = run(request(urls, false, false));
    EXPECT_TRUE(failed.images.empty());
    EXPECT_EQ(record().screenshots, urls);
    EXPECT_TRUE(record().screenshotsLocalPaths.empty());
}

TEST_F(ScreenshotPassTest, ACancelledPassDeliversAndWritesNothing) {
    routes["slow"] = {400, 200, kPNG + "slow"};
    routes["fast"] = {0, 200, kPNG + "fast"};
    bool oldDelivered = false;
    auto old = ZMScreenshotPass::start(request({url("slow")}), std::make_shared<SignatureCodec>(),
                                       [&](ZMScreenshotPass::Outcome) { oldDelivered = true; }, [&] { oldDelivered = true; });
    old->cancel();
    auto outcome = run(request({url("fast")}));
    EXPECT_EQ(bytesOf(outcome.images, 1), kPNG + "fast");
    TestSupport::pumpMainLoop(std::chrono::milliseconds(700));
    EXPECT_FALSE(oldDelivered);
    EXPECT_EQ(record().screenshots, std::vector<std::string>{url("fast")});
    EXPECT_EQ(TestSupport::readFile(cached(1)), kPNG + "fast");
}

TEST_F(ScreenshotPassTest, IdentifiersThatAreNoPackageNamesNameNoFile) {
    routes["a"] = {0, 200, kPNG + "a"};
    for (const char* hostile : {"../../evil", "a/b", "Upper.Case"}) {
        auto r = request({url("a")});
        r.identifier = hostile;
        EXPECT_EQ(run(r).images.size(), 1u) << hostile;
    }
    EXPECT_FALSE(std::filesystem::exists(ZMScreenshotCache::directory()) &&
                 !std::filesystem::is_empty(ZMScreenshotCache::directory()));
    EXPECT_FALSE(std::filesystem::exists(env.support() + "/evil-1.png"));
}

// Every decoded image weighs 20 MB; the pass's budget (48 MB) holds two, and
// the decoder is told what is left each time, never two decodes at once.
class HeavyCodec : public SignatureCodec {
public:
    static constexpr uint64_t kImageBytes = 20ull << 20;
    mutable std::mutex mutex;
    mutable std::vector<uint64_t> allowances;
    mutable int running = 0, mostAtOnce = 0;
    std::shared_ptr<const ZMScreenshotImage> decode(const std::string& data, uint64_t maximumBytes) const override {
        {
            std::lock_guard lock(mutex);
            allowances.push_back(maximumBytes);
            mostAtOnce = std::max(mostAtOnce, ++running);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        auto image = SignatureCodec::decode(data, maximumBytes);
        std::lock_guard lock(mutex);
        --running;
        if (!image || maximumBytes < kImageBytes) return nullptr;
        auto heavy = std::make_shared<BytesImage>(static_cast<const BytesImage&>(*image));
        heavy->size = kImageBytes;
        return heavy;
    }
};

TEST_F(ScreenshotPassTest, DecodedImagesShareThePassBudget) {
    std::vector<std::string> urls;
    for (int i = 0; i < 6; ++i) {
        routes["heavy" + std::to_string(i)] = {i * 40, 200, kPNG + std::to_string(i)};
        urls.push_back(url("heavy" + std::to_string(i)));
    }
    auto codec = std::make_shared<HeavyCodec>();
    std::optional<ZMScreenshotPass::Outcome> outcome;
    bool recorded = false;
    auto pass = ZMScreenshotPass::start(request(urls), codec, [&](ZMScreenshotPass::Outcome o) { outcome = std::move(o); },
                                        [&] { recorded = true; });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return outcome && recorded; }));
    EXPECT_EQ(outcome->images.size(), 2u);
    std::lock_guard lock(codec->mutex);
    ASSERT_EQ(codec->allowances.size(), 6u);
    const uint64_t budget = ZMScreenshotPass::kMaximumPassBytes, image = HeavyCodec::kImageBytes;
    EXPECT_EQ(codec->allowances, (std::vector<uint64_t>{budget, budget - image, budget - 2 * image, budget - 2 * image,
                                                        budget - 2 * image, budget - 2 * image}));
    EXPECT_EQ(codec->mostAtOnce, 1);
    EXPECT_LE(requests.load(), 6);
}

}  // namespace
