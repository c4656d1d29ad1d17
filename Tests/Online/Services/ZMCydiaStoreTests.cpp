// The Cydia store's address tests and the purchase import against a fake
// store on loopback.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Database/ZMRPackage.h"
#include "Notifications/NotificationCenter.h"
#include "Services/ZMCydiaStore.h"
#include "Support/FakeStores.h"
#include "Support/TestSupport.h"
#include "VostrellePersistentPreferences.h"

namespace {

class CydiaStoreImport : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    FakeStores::CydiaStore store{{"com.cydia.bought", "com.cydia.missing"}};
    std::vector<bool> announced;
    ObserverToken token;

    void SetUp() override {
        TestSupport::resetSharedServices();
        setenv("VOSTRELLE_CYDIA_STORE_URL", store.base().c_str(), 1);
        token = NotificationCenter::defaultCenter().addObserver(
            CydiaStoreSigninStatusDidChange, NotificationCenter::Queue::Posting,
            [this](const Notification& n) { announced.push_back(std::any_cast<bool>(n.object)); });
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            for (const char* id : {"com.cydia.bought", "com.cydia.earlier"}) {
                ZMRPackage p;
                p.identifier = id, p.name = id, p.isPaidThroughCydia = std::string(id) == "com.cydia.earlier";
                realm->addOrUpdate(p);
            }
        });
    }
    void TearDown() override { unsetenv("VOSTRELLE_CYDIA_STORE_URL"); }
    static bool marked(const char* id) { return ZMRPackage::objectForPrimaryKey(id)->isPaidThroughCydia.value_or(false); }
    std::vector<std::string> import(const std::string& cookie) {
        // The completion comes on the session's thread.
        auto found = std::make_shared<std::pair<std::mutex, std::optional<std::vector<std::string>>>>();
        ZMCydiaStore::importPurchases(cookie, [found](std::vector<std::string> ids) {
            std::lock_guard lock(found->first);
            found->second = std::move(ids);
        });
        EXPECT_TRUE(TestSupport::waitUntil([&] {
            std::lock_guard lock(found->first);
            return found->second.has_value();
        }));
        TestSupport::pumpMainLoop(std::chrono::milliseconds(100));
        std::lock_guard lock(found->first);
        return found->second.value_or(std::vector<std::string>{});
    }
};

TEST_F(CydiaStoreImport, AddressesAreComparedParsed) {
    unsetenv("VOSTRELLE_CYDIA_STORE_URL");
    EXPECT_EQ(ZMCydiaStore::storeLocation(), "https://cydia.saurik.com/");
    struct Case {
        const char* address;
        bool account, signOut;
        const char* package;  // identifier of a package link, or ""
    };
    for (const auto& c : std::vector<Case>{
             {"https://cydia.saurik.com/account", true, false, ""},
             {"http://CYDIA.saurik.com/account/purchases?x=1", true, false, ""},
             {"https://cydia.saurik.com/accounts", false, false, ""},
             {"https://cydia.saurik.com.evil.example/account", false, false, ""},
             {"https://evil.example/?next=https://cydia.saurik.com/account", false, false, ""},
             {"https://cydia.saurik.com:8443/account", false, false, ""},
             {"https://cydia.saurik.com/api/invalidate?r=1", false, true, ""},
             {"http://cydia.saurik.com/api/invalidate", false, false, ""},
             {"https://evil.example/api/invalidate?u=https://cydia.saurik.com/api/invalidate", false, false, ""},
             {"http://cydia.saurik.com/package/com.example.tweak", false, false, "com.example.tweak"},
             {"https://cydia.saurik.com/package/com.example.tweak", false, false, ""},
             {"http://cydia.saurik.com.evil.example/package/com.example.tweak", false, false, ""},
             {"http://user@cydia.saurik.com/package/com.example.tweak", false, false, ""},
             {"http://cydia.saurik.com/package/com.example/../x", false, false, ""},
             {"http://cydia.saurik.com/package/Bad;Name", false, false, ""},
         }) {
        EXPECT_EQ(ZMCydiaStore::isAccountPage(c.address), c.account) << c.address;
        EXPECT_EQ(ZMCydiaStore::isSignOutAddress(c.address), c.signOut) << c.address;
        EXPECT_EQ(ZMCydiaStore::packageIdentifierFromLink(c.address).value_or(""), c.package) << c.address;
    }
    EXPECT_EQ(ZMCydiaStore::purchasedIdentifiers("<a href=\"http://cydia.saurik.com/package/a.b\">a</a> "
                                                 "http://cydia.saurik.com/package/c+d, https://cydia.saurik.com/package/e.f "
                                                 "<a href='http://cydia.saurik.com/package/a.b'>again</a>"),
              (std::vector<std::string>{"a.b", "c+d", "a.b"}));
}

TEST_F(CydiaStoreImport, AnImportAppliesOnlyTheLinksOfItsOwnPage) {
    // Without the store's session cookie the list is the login form: nothing changes.
    EXPECT_TRUE(import("").empty());
    EXPECT_TRUE(marked("com.cydia.earlier"));
    EXPECT_TRUE(announced.empty());

    // Signed in (the cookie the store set in the browser).
    httplib::Client http("127.0.0.1", std::stoi(store.base().substr(store.base().rfind(':') + 1)));
    auto signin = http.Post("/account", "email=a&password=b", "application/x-www-form-urlencoded");
    ASSERT_TRUE(signin);
    std::string cookie = signin->get_header_value("Set-Cookie");
    cookie = cookie.substr(0, cookie.find(';'));
    EXPECT_EQ(import(cookie), (std::vector<std::string>{"com.cydia.bought", "com.cydia.missing"}));
    EXPECT_TRUE(marked("com.cydia.bought"));
    EXPECT_FALSE(marked("com.cydia.earlier"));
    EXPECT_EQ(announced, std::vector<bool>{true});
    EXPECT_TRUE(VostrellePersistentPreferences::sharedInstance().boolForKey("cydiaStoreIsSignedIn"));
    EXPECT_EQ(store.store().requests().back().headers.count("X-Unique-ID"), 1u);

    // A later page without links changes nothing and announces nothing.
    store.setPurchases({});
    EXPECT_TRUE(import(cookie).empty());
    EXPECT_TRUE(marked("com.cydia.bought"));
    EXPECT_EQ(announced.size(), 1u);

    ZMCydiaStore::signOut();
    // The marks are cleared in the background, the announcement comes on the main thread: wait for both.
    EXPECT_TRUE(TestSupport::waitUntil([&] { return !marked("com.cydia.bought") && announced.size() == 2; }));
    EXPECT_EQ(announced, (std::vector<bool>{true, false}));
    EXPECT_FALSE(VostrellePersistentPreferences::sharedInstance().boolForKey("cydiaStoreIsSignedIn"));
}

TEST_F(CydiaStoreImport, AnErrorPageIsReadLikeAnyOtherAndAnOversizedOneNotAtAll) {
    // The store's pages link packages over http, whatever scheme they are served with.
    const URL base = ZMCydiaStore::baseURL();
    const std::string link = "<a href=\"http://" + base.host() + (base.port() ? ":" + std::to_string(*base.port()) : "") +
                             "/package/com.cydia.bought\">bought</a>";
    struct Case {
        const char* name;
        int status;
        std::string body;
        bool imported;
    };
    for (const auto& c : std::vector<Case>{
             {"over the cap", 200, link + std::string(ZMCydiaStore::kMaximumPageBytes, ' '), false},
             {"error page", 500, "<html>" + link + "</html>", true},
         }) {
        SCOPED_TRACE(c.name);
        store.store().route("account/purchases", [c](const httplib::Request&, httplib::Response& res) {
            res.status = c.status;
            res.set_content(c.body, "text/html");
        });
        EXPECT_EQ(import("").size(), c.imported ? 1u : 0u);
        EXPECT_EQ(marked("com.cydia.bought"), c.imported);
        EXPECT_EQ(marked("com.cydia.earlier"), !c.imported);
        EXPECT_EQ(announced.size(), c.imported ? 1u : 0u);
    }
}

}  // namespace
