// The payment API client against a fake store on loopback: what each request
// sends, what it refuses to send, how it reads hostile replies, endpoint
// discovery, and the sign-in and purchase callbacks.
#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#include "Miscellaneous/ZMPlatform.h"
#include "Online/Services/RepoStoreFixture.h"
#include "Services/ZMMakerAPI.h"

using nlohmann::json;
using testing::HasSubstr;

namespace {

using Change = ZMRepoStoreAPI::EndpointChange;

class RepoStoreClient : public RepoStoreFixture {
protected:
    // The last request under the endpoint, by path.
    FlatRepository::Request last(const std::string& path) {
        for (auto& r : server->requests())
            if (r.path == path) return r;
        ADD_FAILURE() << "no request for " << path;
        return {};
    }
    void setEndpoint(const std::string& endpoint) { addSource(location, endpoint); }
    std::string errorText(const std::optional<RepoStoreError>& e) { return e ? e->localizedDescription : "<none>"; }
};

TEST_F(RepoStoreClient, RequestsCarryTheirMethodAddressBodyAndHeaders) {
    signIn(location);
    const json device = {{"udid", ZMPlatform::deviceUDID()}, {"device", ZMPlatform::deviceModelID()}};
    api->update([](auto& s) { s.purchaseStatus = 0; });
    // The same addresses whether or not the stored endpoint ends with "/".
    for (std::string endpoint : {api->endpoint(), api->endpoint().substr(0, api->endpoint().size() - 1)}) {
        setEndpoint(endpoint);
        server->clearRequests();
        auto vendor = await<RepoStoreVendorInfoResponse>([&](auto c) { client.vendorInfoForSourceLocation(location, c); });
        ASSERT_FALSE(vendor.first) << errorText(vendor.second.error);
        EXPECT_EQ(vendor.second.name, "Paid Test Store");
        EXPECT_EQ(vendor.second.authenticationInfo->buttonTitle, "Sign in");
        auto info = last("pay/info");
        EXPECT_EQ(info.method, "GET");
        EXPECT_EQ(info.headers.find("Accept")->second, "application/json");

        EXPECT_FALSE(await<RepoStoreUserInfoResponse>([&](auto c) { client.userInfoForSourceLocation(location, c); }).first);
        EXPECT_FALSE(await<RepoStorePackageInfoResponse>([&](auto c) { client.purchaseInfoForPackageWithIdentifier("com.example.paid", c); }).first);
        auto bought = await<RepoStorePackagePurchaseResponse>([&](auto c) { client.purchasePackageWithIdentifier("com.example.paid", c); });
        EXPECT_EQ(bought.second.status, 0);
        const json token = {{"token", api->state().token}};
        auto merged = [](json a, const json& b) {
            a.update(b);
            return a;
        };
        struct Expected {
            std::string path;
            json body;
        };
        for (const auto& [path, body] : std::vector<Expected>{
                 {"pay/user_info", merged(device, token)},
                 {"pay/package/com.example.paid/info", merged(device, token)},
                 {"pay/package/com.example.paid/purchase",
                  merged(merged(device, token), {{"payment_secret", api->state().secret}})}}) {
            auto r = last(path);
            EXPECT_EQ(r.method, "POST") << path;
            EXPECT_EQ(json::parse(r.body), body) << path;
            EXPECT_EQ(r.headers.find("Content-Type")->second, "application/json") << path;
            EXPECT_EQ(r.headers.find("Content-Length")->second, std::to_string(r.body.size())) << path;
            EXPECT_EQ(r.headers.count("X-Unique-ID"), 0u) << "no device headers beyond the body";
        }
        auto out = await<RepoStoreSignoutResponse>([&](auto c) { client.userSignoutForSourceLocation(location, c); });
        EXPECT_TRUE(out.second.success);
        EXPECT_EQ(json::parse(last("pay/sign_out").body), token);
        EXPECT_FALSE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
        signIn(location);
    }
}

TEST_F(RepoStoreClient, FailuresFoundBeforeSendingSendNothingAndCarryCodeZero) {
    addSource("https://no-store.example/", "");
    struct Case {
        std::string name, endpoint, identifier;  // identifier: a purchase info request, else user info
        bool token = true, secret = true;
        std::string text;
    };
    const std::string ep = api->endpoint();
    for (const auto& c : std::vector<Case>{
             {"plain http to another host", "http://store.example/pay/", "", true, true, "endpoint can't be found"},
             {"ftp", "ftp://127.0.0.1/pay/", "", true, true, "endpoint can't be found"},
             {"10 KB", "https://store.example/" + std::string(10 * 1024, 'a') + "/", "", true, true, "endpoint can't be found"},
             {"empty", "", "", true, true, "endpoint can't be found"},
             {"not signed in", ep, "", false, true, "user not signed in"},
             {"slash in the identifier", ep, "com.example/../x", true, true, "invalid identifier"},
             {"dots", ep, "..", true, true, "invalid identifier"},
             {"query", ep, "a?b=1", true, true, "invalid identifier"},
             {"unknown package", ep, "com.example.unknown", true, true, "can't be found"},
         }) {
        setEndpoint(c.endpoint);
        PDKeychainBindings::sharedKeychainBindings().setString(c.token ? "t" : "", location + "_token");
        server->clearRequests();
        auto [failed, error] = c.identifier.empty()
            ? [&] { auto r = await<RepoStoreUserInfoResponse>([&](auto k) { client.userInfoForSourceLocation(location, k); }); return std::pair{r.first, r.second.error}; }()
            : [&] { auto r = await<RepoStorePackageInfoResponse>([&](auto k) { client.purchaseInfoForPackageWithIdentifier(c.identifier, k); }); return std::pair{r.first, r.second.error}; }();
        EXPECT_TRUE(failed) << c.name;
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(error->code, 0) << c.name;
        EXPECT_THAT(error->localizedDescription, HasSubstr(c.text)) << c.name;
        EXPECT_TRUE(server->requests().empty()) << c.name;
    }
    // A token without a payment secret is not signed in: no purchase is attempted.
    setEndpoint(ep);
    PDKeychainBindings::sharedKeychainBindings().setString("t", location + "_token");
    PDKeychainBindings::sharedKeychainBindings().setString("", location + "_payment");
    EXPECT_FALSE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
    auto purchase = await<RepoStorePackagePurchaseResponse>([&](auto k) { client.purchasePackageWithIdentifier("com.example.paid", k); });
    EXPECT_EQ(purchase.second.status, -1);
    EXPECT_THAT(errorText(purchase.second.error), HasSubstr("user not signed in"));
    // Signing out without a token: success, the not-signed-in error, no request.
    PDKeychainBindings::sharedKeychainBindings().removeObjectForKey(location + "_token");
    auto out = await<RepoStoreSignoutResponse>([&](auto k) { client.userSignoutForSourceLocation(location, k); });
    EXPECT_FALSE(out.first);
    EXPECT_TRUE(out.second.success);
    EXPECT_TRUE(server->requests().empty());
}

TEST_F(RepoStoreClient, OnlyADefinitiveDiscoveryAnswerChangesTheStoredEndpoint) {
    struct Case {
        int status;
        std::string body;
        Change change;
        std::string error;
    };
    const std::string ep = api->endpoint();
    for (const auto& c : std::vector<Case>{
             {200, " \t" + ep + " \n", Change::Set, ""},
             {200, "", Change::Clear, "no endpoint data found"},
             {200, "ftp://127.0.0.1/pay/", Change::Clear, "malformed endpoint"},
             {200, "http://store.example/pay/", Change::Clear, "malformed endpoint"},
             {200, "https://store.example/" + std::string(10 * 1024, 'p'), Change::Clear, "malformed endpoint"},
             {404, "", Change::Clear, "communication with the server failed (404)"},
             {410, "", Change::Clear, "(410)"},
             {500, ep, Change::Keep, "(500)"},
             {503, ep, Change::Keep, "(503)"},
         }) {
        api->update([&](auto& s) { s.endpointStatus = c.status, s.endpointBody = c.body; });
        for (const std::string& at : {location, location.substr(0, location.size() - 1)}) {
            auto [failed, r] = await<RepoStoreEndpointResponse>([&](auto k) { client.endpointForSourceLocation(at, k); });
            EXPECT_EQ(ZMRepoStoreAPI::endpointChangeFor(failed, r), c.change) << c.status << " " << c.body.substr(0, 40);
            if (c.change == Change::Set) { EXPECT_EQ(r.endpoint, ep); }
            EXPECT_THAT(errorText(r.error), HasSubstr(c.error.empty() ? "<none>" : c.error));
        }
        if (c.status == 404) { EXPECT_EQ(server->count("payment_endpoint"), 2u) << "one / before payment_endpoint"; }
        server->clearRequests();
    }
    // A source that cannot be reached says nothing about its endpoint.
    auto gone = await<RepoStoreEndpointResponse>([&](auto k) { client.endpointForSourceLocation("http://127.0.0.1:1/", k); });
    EXPECT_EQ(ZMRepoStoreAPI::endpointChangeFor(gone.first, gone.second), Change::Keep);
    // A stored endpoint survives a server error, and goes on a 404.
    ZMRepoStoreAPI::storeEndpointChange(location, Change::Set, ep);
    auto stored = [&] { return ZMRSource::objectForPrimaryKey(location)->endpoint; };
    api->update([](auto& s) { s.endpointStatus = 500; });
    EXPECT_TRUE(awaitBool([&](auto k) { ZMRepoStoreAPI::updateEndpointForSourceLocation(location, k); }) == false);
    EXPECT_EQ(stored(), ep);
    api->update([](auto& s) { s.endpointStatus = 404; });
    awaitBool([&](auto k) { ZMRepoStoreAPI::updateEndpointForSourceLocation(location, k); });
    EXPECT_EQ(stored(), "");
    EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->hasEndpoint, false);
    // The blocked source is refused without traffic (and only as exact text).
    server->clearRequests();
    const std::string blocked = ZMRepoStoreAPI::blockedSourceLocation();
    auto refused = await<RepoStoreEndpointResponse>([&](auto k) { client.endpointForSourceLocation(blocked, k); });
    EXPECT_EQ(ZMRepoStoreAPI::endpointChangeFor(refused.first, refused.second), Change::Clear);
    EXPECT_THAT(errorText(refused.second.error), HasSubstr("source is blacklisted"));
    EXPECT_FALSE(client.sourceWithLoacationIsBlacklisted(blocked.substr(0, blocked.size() - 1)));
}

TEST_F(RepoStoreClient, HostileRepliesAreTypeCheckedAndCapped) {
    signIn(location);
    const std::string big(50 << 20, ' ');
    struct Case {
        std::string route, body;
        std::function<void()> check;
    };
    auto info = [&] { return await<RepoStorePackageInfoResponse>([&](auto k) { client.purchaseInfoForPackageWithIdentifier("com.example.paid", k); }); };
    auto purchase = [&] { return await<RepoStorePackagePurchaseResponse>([&](auto k) { client.purchasePackageWithIdentifier("com.example.paid", k); }); };
    auto vendor = [&] { return await<RepoStoreVendorInfoResponse>([&](auto k) { client.vendorInfoForSourceLocation(location, k); }); };
    auto user = [&] { return await<RepoStoreUserInfoResponse>([&](auto k) { client.userInfoForSourceLocation(location, k); }); };
    const std::string pkg = "pay/package/com.example.paid/";
    for (const auto& c : std::vector<Case>{
             {pkg + "info", "{\"available\": \"true\", \"purchased\": 1}", [&] {
                  auto [failed, r] = info();
                  EXPECT_TRUE(failed);
                  EXPECT_FALSE(r.available);
                  EXPECT_EQ(errorText(r.error), "Package is unavailable for an unknown reason");
              }},
             {pkg + "info", "{\"available\": 2, \"purchased\": null, \"price\": 3, \"error\": null}", [&] {
                  auto [failed, r] = info();
                  EXPECT_FALSE(failed);
                  EXPECT_TRUE(r.available && !r.purchased && r.price.empty() && !r.error);
              }},
             {pkg + "info", "{\"available\": false, \"recovery_url\": \"javascript:alert(1)\", \"error\": {\"x\": 1}}", [&] {
                  auto [failed, r] = info();
                  EXPECT_TRUE(failed);
                  EXPECT_EQ(r.recovery_url, "");
                  EXPECT_EQ(r.error->code, 0);
              }},
             {pkg + "info", "[1, 2", [&] { EXPECT_EQ(errorText(info().second.error), "Failed to parse response"); }},
             {pkg + "info", big, [&] { EXPECT_EQ(info().second.error->domain, "URLErrorDomain"); }},
             {"pay/info", "{\"name\": [\"x\"], \"icon\": \"file:///etc/passwd\", \"authentication_banner\": 7}", [&] {
                  auto [failed, r] = vendor();
                  EXPECT_FALSE(failed);
                  EXPECT_EQ(r.name + r.icon, "");
                  EXPECT_EQ(r.authenticationInfo->message, "");
              }},
             {"pay/user_info", "{\"user\": null, \"items\": [\"a.b\", 5, null, {\"c\": 1}, \"d.e\"]}", [&] {
                  auto r = user().second;
                  EXPECT_EQ(r.purchases, (std::vector<std::string>{"a.b", "d.e"}));
              }},
             {"pay/user_info", "{\"items\": 42}", [&] { EXPECT_TRUE(user().second.purchases.empty()); }},
             {pkg + "purchase", "{\"error\": null}", [&] {
                  auto [failed, r] = purchase();
                  EXPECT_FALSE(failed);
                  EXPECT_EQ(r.status, -1) << "no status reads as failed";
              }},
             {pkg + "purchase", "{\"status\": 1, \"url\": \"javascript:pay()\"}", [&] {
                  auto [failed, r] = purchase();
                  EXPECT_TRUE(failed);
                  EXPECT_EQ(r.status, -1);
                  EXPECT_FALSE(client.hasPendingPurchase());
              }},
         }) {
        server->route(c.route, [body = c.body](const httplib::Request&, httplib::Response& res) {
            res.set_content(body, "application/json");
        });
        c.check();
    }
    // Tokens follow no redirect.
    server->route("pay/user_info", [this](const httplib::Request&, httplib::Response& res) {
        res.status = 307;
        res.set_header("Location", server->url("elsewhere"));
    });
    EXPECT_EQ(user().second.error->domain, "URLErrorDomain");
    EXPECT_EQ(server->count("elsewhere"), 0u);
    // A server that never answers is given up on.
    client.setRequestTimeout(0.5);
    server->route("pay/info", [](const httplib::Request&, httplib::Response&) { std::this_thread::sleep_for(std::chrono::seconds(2)); });
    EXPECT_EQ(vendor().second.error->domain, "URLErrorDomain");
}

TEST_F(RepoStoreClient, ACallbackFinishesOnlyTheSigninThisProgramStartedOnce) {
    auto signin = [&] {
        auto result = std::make_shared<std::optional<std::pair<bool, RepoStoreSigninResponse>>>();
        client.userSigninForSourceLocation(location, [result](bool failed, const RepoStoreSigninResponse& r) { *result = {failed, r}; });
        return result;
    };
    auto& keychain = PDKeychainBindings::sharedKeychainBindings();
    // Nothing pending: dropped.
    client.storeCallbackReceived(lastPage(), "sileo://authentication_success?token=x&payment_secret=y");
    EXPECT_FALSE(keychain.stringForKey(location + "_token"));

    auto first = signin();
    ASSERT_EQ(shownPages().size(), 1u);
    EXPECT_EQ(shownPages()[0].second, api->endpoint() + "authenticate?udid=" + ZMPlatform::deviceUDID() +
                                   "&model=" + URLEncoding::encodeQueryValue(ZMPlatform::deviceModelID()));
    // A second sign-in ends the first, which fails and loses its page.
    auto second = signin();
    ASSERT_TRUE(*first);
    EXPECT_TRUE((*first)->first);
    EXPECT_EQ(dismissedPages(), std::vector<uint64_t>{shownPages()[0].first});
    // An empty payment secret fails and ends the sign-in: a replay finds nothing.
    client.storeCallbackReceived(lastPage(), "sileo://authentication_success?token=abc&payment_secret=");
    ASSERT_TRUE(*second);
    EXPECT_THAT(errorText((*second)->second.error), HasSubstr("unable to parse credentials"));
    client.storeCallbackReceived(lastPage(), "sileo://authentication_success?token=abc&payment_secret=s");
    EXPECT_FALSE(keychain.stringForKey(location + "_token"));

    // A closed page fails its sign-in.
    auto closed = signin();
    client.storePageClosed(shownPages().back().first);
    ASSERT_TRUE(*closed);
    EXPECT_TRUE((*closed)->first);

    auto good = signin();
    client.storeCallbackReceived(lastPage(), "sileo://authentication_success/?token=tk%3D&payment_secret=ps");
    ASSERT_TRUE(*good);
    EXPECT_FALSE((*good)->first);
    EXPECT_TRUE((*good)->second.success);
    EXPECT_EQ(keychain.stringForKey(location + "_token"), "tk=");
    EXPECT_EQ(keychain.stringForKey(location + "_payment"), "ps");
    EXPECT_TRUE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
    EXPECT_FALSE(client.hasPendingSignin());
}

TEST_F(RepoStoreClient, NoTokenSecretOrCallbackQueryReachesTheLog) {
    const std::string token = "tok-LOGCHECK-41", secret = "sec-LOGCHECK-42", forged = "forged-LOGCHECK-43";
    api->update([&](auto& s) { s.token = token, s.secret = secret, s.purchaseStatus = 1; });
    std::string log;
    {
        TestSupport::StderrCapture capture;
        // Callbacks of every kind: nothing pending, an empty secret, a good one, a replay.
        client.storeCallbackReceived(lastPage(), "sileo://authentication_success?token=" + forged + "&payment_secret=" + forged);
        client.userSigninForSourceLocation(location, [](bool, const RepoStoreSigninResponse&) {});
        client.storeCallbackReceived(lastPage(), "sileo://authentication_success?token=" + forged + "&payment_secret=");
        client.userSigninForSourceLocation(location, [](bool, const RepoStoreSigninResponse&) {});
        client.storeCallbackReceived(lastPage(), "sileo://authentication_success?token=" + token + "&payment_secret=" + secret);
        client.storeCallbackReceived(lastPage(), "sileo://authentication_success?token=" + forged + "&payment_secret=" + forged);
        ASSERT_TRUE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
        // Requests that carry them, answered well and badly.
        await<RepoStoreUserInfoResponse>([&](auto k) { client.userInfoForSourceLocation(location, k); });
        await<RepoStorePackageInfoResponse>([&](auto k) { client.purchaseInfoForPackageWithIdentifier("com.example.paid", k); });
        auto started = std::make_shared<std::atomic<bool>>(false);
        client.purchasePackageWithIdentifier("com.example.paid", [started](bool, const auto&) { *started = true; });
        EXPECT_TRUE(TestSupport::waitUntil([&] { return client.hasPendingPurchase(); }));
        client.storeCallbackReceived(lastPage(), "sileo://payment_completed?token=" + forged);
        EXPECT_TRUE(TestSupport::waitUntil([&] { return started->load(); }));
        server->route("pay/user_info", [](const httplib::Request& req, httplib::Response& res) {
            res.status = 500;
            res.set_content(req.body, "text/plain");  // a store that echoes what it got
        });
        await<RepoStoreUserInfoResponse>([&](auto k) { client.userInfoForSourceLocation(location, k); });
        await<RepoStoreSignoutResponse>([&](auto k) { client.userSignoutForSourceLocation(location, k); });
        TestSupport::pumpMainLoop(std::chrono::milliseconds(50));
        log = capture.text();
    }
    EXPECT_FALSE(log.empty()) << "the client logs what it does";
    for (const std::string& kept : {token, secret, forged}) EXPECT_EQ(log.find(kept), std::string::npos) << kept << " in:\n" << log;
}

TEST_F(RepoStoreClient, APaymentCallbackCountsOnlyOnceTheStoreConfirmsIt) {
    signIn(location);
    for (auto [status, failed] : {std::pair{0, false}, std::pair{-1, false}}) {
        api->update([&](auto& s) { s.purchaseStatus = status, s.purchased.clear(); });
        auto r = await<RepoStorePackagePurchaseResponse>([&](auto k) { client.purchasePackageWithIdentifier("com.example.paid", k); });
        EXPECT_EQ(r.first, failed);
        EXPECT_EQ(r.second.status, status);
    }
    api->update([](auto& s) { s.purchaseStatus = 1, s.purchased.clear(); });
    auto pending = std::make_shared<std::promise<std::pair<bool, RepoStorePackagePurchaseResponse>>>();
    auto start = [&] {
        pending = std::make_shared<std::promise<std::pair<bool, RepoStorePackagePurchaseResponse>>>();
        client.purchasePackageWithIdentifier("com.example.paid", [p = pending](bool f, const auto& r) { p->set_value({f, r}); });
        EXPECT_TRUE(TestSupport::waitUntil([&] { return client.hasPendingPurchase(); }));
    };
    auto outcome = [&] {
        auto f = pending->get_future();
        EXPECT_EQ(f.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        return f.get();
    };
    // The page says "completed" but nothing was paid.
    start();
    EXPECT_EQ(shownPages().back().second, server->url("pay/package/com.example.paid/checkout"));
    client.storeCallbackReceived(lastPage(), "sileo://payment_completed");
    auto unpaid = outcome();
    EXPECT_TRUE(unpaid.first);
    EXPECT_EQ(unpaid.second.status, -1);
    // Paid, then the callback (a second one finds nothing pending).
    start();
    api->update([](auto& s) { s.purchased.insert("com.example.paid"); });
    client.storeCallbackReceived(lastPage(), "sileo://payment_completed/x");
    auto paid = outcome();
    EXPECT_FALSE(paid.first);
    EXPECT_EQ(paid.second.status, 0);
    client.storeCallbackReceived(lastPage(), "sileo://payment_completed");
    // Closing the page before paying fails the purchase.
    api->update([](auto& s) { s.purchased.clear(); });
    start();
    client.storePageClosed(shownPages().back().first);
    EXPECT_TRUE(outcome().first);
}

TEST_F(RepoStoreClient, ThePaidDownloadAsksTheStoreForAOneTimeAddress) {
    TestSupport::writeFile(dir.file("paid.deb"), "archive");
    ZMPackageArchive archive;
    archive.identifier = "com.example.paid", archive.version = "1.0", archive.sourceLocation = location;
    archive.fileName = "./paid.deb";
    auto authorize = [&] {
        auto p = std::make_shared<std::promise<std::pair<std::optional<std::string>, std::optional<ZMError>>>>();
        client.authorizeDownload(archive, [p](auto url, auto error) { p->set_value({url, error}); });
        auto f = p->get_future();
        EXPECT_EQ(f.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        return f.get();
    };
    const auto signedOut = authorize().second;
    ASSERT_TRUE(signedOut);
    EXPECT_THAT(signedOut->localizedDescription(), HasSubstr("sign in again"));
    EXPECT_FALSE(signedOut->isStoreFailure()) << "the store's refusal is no failure of the package database";
    signIn(location);
    EXPECT_THAT(authorize().second->localizedDescription(), HasSubstr("You need to buy"));
    api->update([](auto& s) { s.purchased.insert("com.example.paid"); });
    auto [url, error] = authorize();
    ASSERT_TRUE(url) << error->debugDescription();
    EXPECT_THAT(*url, HasSubstr("/pay/download/"));
    EXPECT_EQ(json::parse(last("pay/package/com.example.paid/authorize_download").body)["repo"], location);
    // Without a store the archive comes from the repository.
    setEndpoint("");
    EXPECT_EQ(authorize().first, location + "paid.deb");
}


// ---- plain http only to this machine ------------------------------------------------------

// Payment endpoints and the maker service take plain http only to a loopback
// address (a test server); anything that merely looks like one is refused,
// while https is taken for any host.
TEST(RepoStoreEndpointHosts, PlainHTTPOnlyToLoopbackAddresses) {
    struct Case {
        const char* host;
        bool loopback;
    };
    const Case cases[] = {
        {"127.0.0.1", true},
        {"127.0.0.1:8080", true},
        {"127.1.2.3", true},
        {"127.255.255.254", true},
        {"localhost", true},
        {"localhost:1", true},
        {"[::1]", true},
        {"[::1]:9", true},
        {"10.0.0.1", false},
        {"192.168.1.20:8080", false},
        {"172.16.0.1", false},
        {"128.0.0.1", false},
        {"126.255.255.255", false},
        {"0.0.0.0", false},
        {"1.127.0.0", false},
        {"8.8.8.8", false},
        {"127.0.0", false},
        {"127.0.0.1.1", false},
        {"127.0.0.256", false},
        {"1270.0.0.1", false},
        {"0127.0.0.1", false},
        {"127.0.0.1.evil.example", false},
        {"127.evil.example", false},
        {"localhost.evil.example", false},
        {"evil-localhost", false},
        {"[::2]", false},
        {"[::ffff:10.0.0.1]", false},
        {"store.example", false},
    };
    for (const auto& c : cases) {
        const std::string host = c.host;
        EXPECT_EQ(ZMRepoStoreAPI::isAcceptableEndpoint("http://" + host + "/pay/"), c.loopback) << host;
        EXPECT_TRUE(ZMRepoStoreAPI::isAcceptableEndpoint("https://" + host + "/pay/")) << host;
        auto service = URL::parse("http://" + host);
        ASSERT_TRUE(service) << host;
        EXPECT_EQ(ZMMakerAPI::isAcceptableServiceURL(*service), c.loopback) << host;
        EXPECT_TRUE(ZMMakerAPI::isAcceptableServiceURL(*URL::parse("https://" + host))) << host;
    }
}


// ---- pages and replies that outlive what started them ------------------------------------

class RepoStoreLateEvents : public RepoStoreFixture {
protected:
    // -1 while pending, then 0 (succeeded) or 1 (failed).
    using Outcome = std::shared_ptr<std::atomic<int>>;
    size_t shownCount() {
        std::lock_guard lock(pagesMutex);
        return shown.size();
    }
    uint64_t lastShownPage() {
        std::lock_guard lock(pagesMutex);
        return shown.empty() ? 0 : shown.back().first;
    }
    bool wasDismissed(uint64_t page) {
        std::lock_guard lock(pagesMutex);
        return std::find(dismissed.begin(), dismissed.end(), page) != dismissed.end();
    }
    Outcome startSignin() {
        auto outcome = std::make_shared<std::atomic<int>>(-1);
        const size_t before = shownCount();
        client.userSigninForSourceLocation(location, [outcome](bool failed, const RepoStoreSigninResponse& r) {
            *outcome = failed || !r.success ? 1 : 0;
        });
        EXPECT_EQ(shownCount(), before + 1) << "the sign-in page";
        return outcome;
    }
    Outcome startPurchase() {
        auto outcome = std::make_shared<std::atomic<int>>(-1);
        const size_t before = shownCount();
        client.purchasePackageWithIdentifier("com.example.paid", [outcome](bool failed, const RepoStorePackagePurchaseResponse&) {
            *outcome = failed ? 1 : 0;
        });
        EXPECT_TRUE(TestSupport::waitUntil([&] { return shownCount() == before + 1; })) << "the purchase page";
        return outcome;
    }
    static bool settles(const Outcome& o, int value) {
        return TestSupport::waitUntil([&] { return o->load() != -1; }) && o->load() == value;
    }
};

// A page that was replaced by a newer one of its kind, a page of the other
// kind and a page never shown: closing any of them leaves the newer sign-in
// or purchase waiting, and its callback still finishes it.
TEST_F(RepoStoreLateEvents, ClosingAReplacedOrForeignPageEndsNothingElse) {
    signIn(location);
    api->update([](auto& s) { s.purchaseStatus = 1, s.purchased.clear(); });
    for (const bool signin : {true, false}) {
        SCOPED_TRACE(signin ? "sign-in" : "purchase");
        auto start = [&] { return signin ? startSignin() : startPurchase(); };
        auto pending = [&] { return signin ? client.hasPendingSignin() : client.hasPendingPurchase(); };
        Outcome older = start();
        const uint64_t olderPage = lastShownPage();
        Outcome newer = start();
        const uint64_t newerPage = lastShownPage();
        ASSERT_NE(olderPage, newerPage);
        EXPECT_TRUE(settles(older, 1)) << "the replaced one fails";
        EXPECT_TRUE(wasDismissed(olderPage));
        Outcome other = signin ? startPurchase() : startSignin();
        const uint64_t otherPage = lastShownPage();

        // The shell reports the replaced page closed once it is gone, maybe twice.
        for (uint64_t closed : {olderPage, olderPage, newerPage + 1000, uint64_t{0}}) {
            client.storePageClosed(closed);
            EXPECT_TRUE(pending()) << "page " << closed;
            EXPECT_EQ(newer->load(), -1) << "page " << closed;
        }
        client.storePageClosed(otherPage);
        EXPECT_TRUE(settles(other, 1)) << "the other kind's page ends its own";
        EXPECT_TRUE(pending());
        EXPECT_EQ(newer->load(), -1);

        // The newer one's callback still finishes it.
        const auto state = api->state();
        if (signin) {
            client.storeCallbackReceived(newerPage, "sileo://authentication_success?token=" + state.token +
                                                        "&payment_secret=" + state.secret);
        } else {
            api->update([](auto& s) { s.purchased.insert("com.example.paid"); });
            client.storeCallbackReceived(newerPage, "sileo://payment_completed");
        }
        EXPECT_TRUE(settles(newer, 0));
        EXPECT_TRUE(wasDismissed(newerPage));
        EXPECT_FALSE(pending());
        api->update([](auto& s) { s.purchased.clear(); });
    }
}

// A user-info reply speaks for the account that asked: when the user signed
// out, or another account signed in, while it travelled, it reports nothing,
// signs nobody out and marks nothing owned.
TEST_F(RepoStoreLateEvents, AUserInfoReplyForAnAccountNoLongerSignedInChangesNothing) {
    auto& keychain = PDKeychainBindings::sharedKeychainBindings();
    struct Case {
        const char* meanwhile;
        std::function<void()> change;
        bool invalidates;  // the late reply says "invalidate"
        bool reported;     // its purchases reach the caller
        bool signedInAfter;
    };
    const Case cases[] = {
        {"nothing", [] {}, false, true, true},
        {"signed out", [&] { client.invalidateCredentialsForSourceLocation(location); }, false, false, false},
        {"signed out, late invalidate", [&] { client.invalidateCredentialsForSourceLocation(location); }, true, false, false},
        {"another account", [&] { keychain.setObjects({{location + "_token", "other"}, {location + "_payment", "s2"}}); },
         false, false, true},
        {"another account, late invalidate",
         [&] { keychain.setObjects({{location + "_token", "other"}, {location + "_payment", "s2"}}); }, true, false, true},
    };
    for (const auto& c : cases) {
        signIn(location);
        const std::string askingToken = api->state().token;
        auto arrived = std::make_shared<std::promise<void>>();
        auto release = std::make_shared<std::promise<void>>();
        std::shared_future<void> released = release->get_future().share();
        server->route("pay/user_info", [arrived, released, invalidates = c.invalidates](const httplib::Request&,
                                                                                       httplib::Response& res) {
            arrived->set_value();
            released.wait();
            nlohmann::json reply = {{"user", {{"name", "Jane Buyer"}}}, {"items", {"com.example.paid"}}};
            if (invalidates) reply = {{"invalidate", true}, {"error", "Your session has ended."}};
            res.set_content(reply.dump(), "application/json");
        });
        auto answer = std::make_shared<std::promise<std::pair<bool, RepoStoreUserInfoResponse>>>();
        client.userInfoForSourceLocation(location, [answer](bool failed, const RepoStoreUserInfoResponse& r) {
            answer->set_value({failed, r});
        });
        ASSERT_EQ(arrived->get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready) << c.meanwhile;
        c.change();
        release->set_value();
        auto future = answer->get_future();
        ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready) << c.meanwhile;
        const auto [failed, info] = future.get();
        const bool reported = !failed && !info.error && !info.purchases.empty();
        EXPECT_EQ(reported, c.reported) << c.meanwhile;
        if (!c.reported) { EXPECT_TRUE(info.purchases.empty()) << c.meanwhile; }
        EXPECT_EQ(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location), c.signedInAfter) << c.meanwhile;
        if (c.signedInAfter && std::string(c.meanwhile) != "nothing") {
            EXPECT_EQ(keychain.stringForKey(location + "_token"), "other") << c.meanwhile << ": the new account stays";
        } else if (c.signedInAfter) {
            EXPECT_EQ(keychain.stringForKey(location + "_token"), askingToken);
        }
        server->route("pay/user_info", nullptr);
    }
}

// The owned marks are written only for a source the user is still signed in
// to when the write happens, whatever reply asked for them.
TEST_F(RepoStoreLateEvents, OwnedMarksAreWrittenOnlyWhileSignedIn) {
    auto& keychain = PDKeychainBindings::sharedKeychainBindings();
    addPackage("com.example.kept", location, "$1.00", true);  // owned before
    struct Case {
        const char* credentials;
        std::optional<std::string> token, secret;
        bool written;
    };
    const Case cases[] = {
        {"token and secret", "t", "s", true},
        {"none", std::nullopt, std::nullopt, false},
        {"token only", "t", std::nullopt, false},
        {"secret only", std::nullopt, "s", false},
        {"empty token", "", "s", false},
    };
    for (const auto& c : cases) {
        addPackage("com.example.paid", location, "$1.99", false);
        addPackage("com.example.kept", location, "$1.00", true);
        client.invalidateCredentialsForSourceLocation(location);
        if (c.token) keychain.setString(*c.token, location + "_token");
        if (c.secret) keychain.setString(*c.secret, location + "_payment");
        RepoStoreUserInfoResponse info;
        info.purchases = {"com.example.paid"};
        const bool result = awaitBool([&](auto k) { ZMRepoStoreAPI::updatePurchasesForSourceWithLocation(location, info, k); });
        EXPECT_EQ(result, c.written) << c.credentials;
        EXPECT_EQ(owned("com.example.paid"), c.written) << c.credentials;
        EXPECT_EQ(owned("com.example.kept"), !c.written) << c.credentials << ": the reply's list replaces the marks";
    }
}

}  // namespace
