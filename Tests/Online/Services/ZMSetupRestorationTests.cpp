// Restoring a setup without refreshes to wait for (before the first-run
// setup, or offline); the path through real refreshes is in the end-to-end test.
#include "Online/Services/OnlineServicesFixture.h"
#include "Services/ZMSetupRestoration.h"
#include "ZMAPTManager.h"

namespace {
ZMSetupRestoration::Summary restore(std::vector<std::string> sources, std::vector<std::string> packages,
                                    bool approved) {
    Answer<ZMSetupRestoration::Summary> summary;
    ZMSetupRestoration::launchSetupRestoration(std::move(sources), std::move(packages), approved, summary.callback());
    EXPECT_TRUE(summary.wait());
    return summary.value();
}
}  // namespace

TEST_F(OnlineServices, RestorationFollowsTheAddRulesAndQueuesAtOnceWithoutRefreshes) {
    addSources({"http://conf.example/"});
    addPackages({"com.here"});
    addPackages({"com.installed"}, true);
    // The configured source's files in the APT tree.
    const std::string list = ZMAPTManager::treePath() + "/var/lib/apt/lists/" +
                             ZMAPTManager::listFilePrefix("http://conf.example/") + "Packages";
    TestSupport::writeFile(list, "Package: com.here\n");
    const std::vector<std::string> sources = {"https://conf.example", "http://plain.example/", "https://new.example",
                                              "not a url"};
    EXPECT_EQ(ZMSetupRestoration::plainHTTPSources(sources), std::vector<std::string>{"http://plain.example/"});

    // Before the first-run setup nothing can be refreshed.
    auto summary = restore(sources, {"com.here", "com.gone"}, false);
    EXPECT_EQ(summary.sourcesRefreshed, std::vector<std::string>{"http://conf.example/"});
    EXPECT_EQ(summary.sourcesAdded, std::vector<std::string>{"https://new.example/"});
    EXPECT_EQ(summary.sourcesSkipped, (std::vector<std::string>{"http://plain.example/", "not a url"}));
    EXPECT_EQ(summary.packagesQueued, std::vector<std::string>{"com.here"});
    EXPECT_EQ(summary.packagesSkipped, std::vector<std::string>{"com.gone"});
    EXPECT_TRUE(TestSupport::readFile(list).size() > 0) << "a configured source is never purged";
    EXPECT_TRUE(ZMRSource::objectForPrimaryKey("https://new.example/"));
    EXPECT_FALSE(ZMRSource::objectForPrimaryKey("http://plain.example/"));
    auto queued = ZMRPackage::objectForPrimaryKey("com.here");
    EXPECT_EQ(queued->isInTheQueue, true);
    EXPECT_EQ(queued->queueOperation, 1) << "install, chosen by the collection";

    // Offline after setup: approved plain http is added, packages queued at once.
    VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::SetupDone, true);
    ZMRSources::setReachabilityHook([] { return false; });
    summary = restore({"http://plain.example/"}, {"com.installed"}, true);
    EXPECT_EQ(summary.sourcesAdded, std::vector<std::string>{"http://plain.example/"});
    EXPECT_EQ(summary.packagesSkipped, std::vector<std::string>{"com.installed"}) << "never queued for removal";
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("com.installed")->isInTheQueue, false);
    EXPECT_EQ(ZMPipelineManager::sharedManager().liveTaskCount(), 0u);
    EXPECT_TRUE(maker->requests().empty());
}
