#pragma once
// A paid repository's store on loopback (FakeStores::PaymentAPI) with its
// source and packages in an isolated database, and a way to wait for the
// payment client's completions, which arrive on the URL session's queue.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include "Database/ZMRPackage.h"
#include "Database/ZMRSource.h"
#include "Keychain/PDKeychainBindings.h"
#include "Services/ZMRepoStoreAPI.h"
#include "Support/FakeStores.h"
#include "Support/TestSupport.h"

class RepoStoreFixture : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    TestSupport::TempDir dir;
    std::unique_ptr<FlatRepository::FileServer> server;
    std::unique_ptr<FakeStores::PaymentAPI> api;
    std::string location;
    ZMRepoStoreAPI& client = ZMRepoStoreAPI::sharedRepoStore();
    // Pages the client asked to show and to close.
    std::mutex pagesMutex;
    std::vector<std::pair<uint64_t, std::string>> shown;
    std::vector<uint64_t> dismissed;
    // Copies, read under the lock: the client asks from its own threads.
    std::vector<std::pair<uint64_t, std::string>> shownPages() {
        std::lock_guard lock(pagesMutex);
        return shown;
    }
    // The page shown last (0 before any).
    uint64_t lastPage() {
        std::lock_guard lock(pagesMutex);
        return shown.empty() ? 0 : shown.back().first;
    }
    std::vector<uint64_t> dismissedPages() {
        std::lock_guard lock(pagesMutex);
        return dismissed;
    }

    void SetUp() override {
        TestSupport::resetSharedServices();
        PDKeychainBindings::resetForTesting();
        client.resetForTesting();
        client.setRequestTimeout(5);
        server = std::make_unique<FlatRepository::FileServer>(dir.path());
        api = std::make_unique<FakeStores::PaymentAPI>(*server, dir.path());
        location = server->url();
        addSource(location, api->endpoint());
        addPackage("com.example.paid", location, "$1.99");
        api->sell("com.example.paid", "paid.deb");
        client.setPageHooks({[this](uint64_t page, const std::string& url, const std::string&) {
                                 std::lock_guard lock(pagesMutex);
                                 shown.push_back({page, url});
                             },
                             [this](uint64_t page) {
                                 std::lock_guard lock(pagesMutex);
                                 dismissed.push_back(page);
                             }});
    }
    void TearDown() override {
        client.resetForTesting();
        TestSupport::pumpMainLoop(std::chrono::milliseconds(20));
    }

    static void addSource(const std::string& at, const std::string& endpoint) {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            auto source = ZMRSource::newSourceWithLocation(at);
            source.endpoint = endpoint;
            source.hasEndpoint = !endpoint.empty();
            realm->addOrUpdate(source);
        });
    }
    static void addPackage(const std::string& identifier, const std::string& at, const std::string& price,
                           bool owned = false) {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            ZMRPackage p;
            p.identifier = identifier, p.name = identifier, p.sourceLocation = at, p.price = price;
            p.version = "1.0";
            if (owned) p.isPaidThroughSileo = true;
            realm->addOrUpdate(p);
        });
    }
    void signIn(const std::string& at) {
        auto s = api->state();
        PDKeychainBindings::sharedKeychainBindings().setString(s.token, at + "_token");
        PDKeychainBindings::sharedKeychainBindings().setString(s.secret, at + "_payment");
    }
    static bool owned(const std::string& identifier) {
        return ZMRPackage::objectForPrimaryKey(identifier)->isPaidThroughSileo.value_or(false);
    }

    // Starts an operation and waits for its completion (failed, response).
    template <typename R, typename Start>
    std::pair<bool, R> await(Start start, std::chrono::seconds timeout = std::chrono::seconds(10)) {
        auto promise = std::make_shared<std::promise<std::pair<bool, R>>>();
        auto once = std::make_shared<std::once_flag>();
        auto future = promise->get_future();
        start([promise, once](bool failed, const R& r) {
            std::call_once(*once, [&] { promise->set_value({failed, r}); });
        });
        if (future.wait_for(timeout) != std::future_status::ready) {
            ADD_FAILURE() << "no completion";
            return {true, R{}};
        }
        return future.get();
    }
    // Waits for a success completion while the main loop runs.
    static bool awaitBool(const std::function<void(std::function<void(bool)>)>& start) {
        auto result = std::make_shared<std::atomic<int>>(-1);
        start([result](bool ok) { *result = ok ? 1 : 0; });
        EXPECT_TRUE(TestSupport::waitUntil([&] { return *result >= 0; })) << "no completion";
        return *result == 1;
    }
};
