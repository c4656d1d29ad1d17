#pragma once
// A stand-in for the maker's web API on 127.0.0.1 (cpp-httplib), serving the
// paths, fields and reply shapes the clients of Classes/Online/Services use,
// with contents each test sets, a log of every request, and faults on demand.
//
//   FakeMakerAPI maker;                  // listening; the clients point at it
//   maker.addAccount({"ada", "secret", 12});
//   maker.setWishlist(12, "com.a;com.b");
//   maker.signIn("ada", "secret");       // a real sign-in through ZMAccount
//   ...
//   auto sent = maker.requests("wishlist/wishlist.php");
//   EXPECT_EQ(sent.at(0).field("wishlist"), "com.a;com.b");
//   maker.setBehaviour("featured/featured.php", {.status = 500, .body = "<html>"});
//
// Endpoints are named by their path under "/vostrelleapi/" ("login/login.php");
// the two web pages by their own path ("/register/", "/index.php").
//
// Served (replies in the shapes the clients read; requests that carry the
// client key are refused with 403 "Invalid key" without the right one):
//   login/login.php               the account's JSON, "Incorrect password. Please try again."
//                                 or "The requested user '<name>' could not be found."
//   setup/savesetup.php           stores {"sources", "packages"} for userID; "Setup saved" or "Error"
//   setup/retrievesetup.php       that document, or "Error"
//   featured/featured.php         setFeatured() (default: five empty lists)
//   wishlist/wishlist.php, retrievewishlist.php        {"wishlist": "a;b"} per user
//   followeddevs/developers.php, retrievedevelopers.php {"developers": "a;b"} per user
//   reposearch/reposearch.php     directory entries whose name or url contains searchParam
//   reposearch/repolist.php       the whole directory; addrepo.php appends to it
//   news/retrievenews.php, credits/credits.php          setNews(), setCredits() (default [])
//   developers/devs.php           profiles whose "developer" contains searchParam (any case)
//   ratings/rate.php              records the rating; "Success", or "Successfully updated" the second time
//   ratings/rating.php            {"rating": setAverageRating(), else the mean of recorded rates, else 0}
//   ratings/reviews.php           ?packageID: setReviews() (default []); ?review_id: that review or 404
//   ratings/reply.php             sets "reply" or counts the vote; "Reply sent" / "Vote counted"
//   stats/stats.php               "Success"; stats/trending.php: setTrending() (default [])
//   /register/, /index.php?lost-password/               small HTML pages
//
// Threads: contents and behaviours may be set and the log read from any
// thread, also while requests run.
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

class FakeMakerAPI {
public:
    struct Account {
        std::string username{};
        std::string password{};
        int userID = 0;
        std::string email{};
        std::string avatarURL{};
        std::string groupID = "2";
        std::string secGroupIDs{};
        // The whole sign-in reply instead of the one made from the fields.
        std::optional<nlohmann::json> reply{};
    };

    // What an endpoint does instead of its normal answer. Unset members keep
    // the normal behaviour.
    struct Behaviour {
        int status = 0;                      // answer this status (0: the normal one)
        std::optional<std::string> body{};   // answer this body
        std::chrono::milliseconds delay{0};  // answer this much later
        size_t oversizedBytes = 0;           // answer this many filler bytes
        bool hold = false;                   // wait until releaseHeld() (or the server stops)
        int times = -1;                      // requests it applies to (-1: all)
        std::string location{};              // a Location header (with a 3xx status)
    };

    struct Request {
        std::string method;
        std::string endpoint;  // path under /vostrelleapi/, or the whole path of a page
        std::string rawQuery;  // as sent, without "?"
        std::string body;      // as sent
        httplib::Headers headers;
        std::multimap<std::string, std::string> fields;  // query and form fields, decoded

        std::string field(const std::string& name) const;  // "" when absent
        std::vector<std::string> fieldValues(const std::string& name) const;
        bool hasField(const std::string& name) const { return fields.count(name) > 0; }
        std::string header(const std::string& name) const;
    };

    // Starts listening and points ZMMakerAPI (API and web URLs) at the server.
    FakeMakerAPI();
    // Starts listening and names the server in VOSTRELLE_MAKER_API_URL and
    // VOSTRELLE_MAKER_WEB_URL (unset again when it stops), as a user
    // configures the application; the clients read it from there.
    struct ThroughEnvironment {};
    explicit FakeMakerAPI(ThroughEnvironment);
    // Stops (releasing held requests) and points ZMMakerAPI back at the environment.
    ~FakeMakerAPI();
    FakeMakerAPI(const FakeMakerAPI&) = delete;
    FakeMakerAPI& operator=(const FakeMakerAPI&) = delete;

    std::string url() const;  // "http://127.0.0.1:<port>"

    // ---- contents ----
    void addAccount(const Account& account);
    void setWishlist(int userID, const std::string& joined);
    std::optional<std::string> wishlist(int userID) const;
    void setFollowed(int userID, const std::string& joined);
    std::optional<std::string> followed(int userID) const;
    void setSetup(int userID, const nlohmann::json& document);
    std::optional<nlohmann::json> setup(int userID) const;
    void setFeatured(const nlohmann::json& feed);
    void setNews(const nlohmann::json& items);
    void setCredits(const nlohmann::json& entries);
    void setDevelopers(const nlohmann::json& profiles);
    void setDirectory(const nlohmann::json& entries);
    nlohmann::json directory() const;
    void setReviews(const std::string& packageID, const nlohmann::json& reviews);
    void setAverageRating(const std::string& packageID, const nlohmann::json& rating);
    void setTrending(const nlohmann::json& texts);

    // Signs in through ZMAccount and waits (pumping the main loop) for
    // "Success" and the merges; false otherwise.
    bool signIn(const std::string& username, const std::string& password);

    // ---- behaviours ----
    void setBehaviour(const std::string& endpoint, const Behaviour& behaviour);
    void clearBehaviour(const std::string& endpoint);
    // Held requests of an endpoint, oldest first.
    std::vector<Request> heldRequests(const std::string& endpoint) const;
    // Lets the oldest held request of the endpoint that matches (any when
    // `which` is empty) go on to its answer. False when none matched.
    bool releaseHeld(const std::string& endpoint, const std::function<bool(const Request&)>& which = {});

    // ---- the log ----
    std::vector<Request> requests() const;
    std::vector<Request> requests(const std::string& endpoint) const;
    size_t count(const std::string& endpoint) const;
    void clearRequests();
    // Pumps the main loop until the endpoint has seen `n` requests.
    bool waitForCount(const std::string& endpoint, size_t n,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // How signIn() and waitForCount() pump the main thread: TestSupport::
    // waitUntil (core tests); GUI tests install GuiTest::waitUntil.
    using WaitFunction = std::function<bool(const std::function<bool()>& pred, std::chrono::milliseconds timeout)>;
    static void setWaitFunction(WaitFunction wait);

private:
    struct Listening {};
    explicit FakeMakerAPI(Listening);
    struct Held;
    void handle(const httplib::Request& req, httplib::Response& res);
    void answer(const Request& request, httplib::Response& res);
    bool keyAccepted(const Request& request, const char* field, httplib::Response& res) const;
    template <typename Value>
    std::optional<Value> valueFor(const std::map<int, Value>& values, int userID) const;

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    bool throughEnvironment_ = false;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::vector<Request> log_;
    std::map<std::string, Behaviour> behaviours_;
    std::vector<std::shared_ptr<Held>> held_;

    std::map<std::string, Account> accounts_;  // by user name
    std::map<int, std::string> wishlists_, followed_;
    std::map<int, nlohmann::json> setups_;
    nlohmann::json featured_, news_, credits_, developers_, directory_, trending_;
    std::map<std::string, nlohmann::json> reviews_, averages_;
    std::map<std::string, std::map<std::string, int>> rates_;  // package -> user -> stars
};
