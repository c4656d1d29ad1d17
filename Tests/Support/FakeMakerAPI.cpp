#include "FakeMakerAPI.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>

#include "Services/ZMAccount.h"
#include "Services/ZMMakerAPI.h"
#include "TestSupport.h"

using nlohmann::json;

namespace {

constexpr const char* kHead = "/vostrelleapi/";

std::mutex waitMutex;
FakeMakerAPI::WaitFunction waitFunction;

bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    FakeMakerAPI::WaitFunction wait;
    {
        std::lock_guard lock(waitMutex);
        wait = waitFunction;
    }
    return wait ? wait(pred, timeout) : TestSupport::waitUntil(pred, timeout);
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool containsIgnoringCase(const std::string& text, const std::string& part) {
    return lower(text).find(lower(part)) != std::string::npos;
}

int intField(const FakeMakerAPI::Request& request, const char* name) {
    const std::string value = request.field(name);
    if (value.empty() || value.size() > 9 || !std::all_of(value.begin(), value.end(), ::isdigit)) return 0;
    return std::stoi(value);
}

void reply(httplib::Response& res, int status, const std::string& body, const char* type = "text/plain") {
    res.status = status;
    res.set_content(body, type);
}

void replyJSON(httplib::Response& res, const json& body) { reply(res, 200, body.dump(), "application/json"); }

}  // namespace

struct FakeMakerAPI::Held {
    Request request;
    bool released = false;
};

std::string FakeMakerAPI::Request::field(const std::string& name) const {
    auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
}

std::vector<std::string> FakeMakerAPI::Request::fieldValues(const std::string& name) const {
    std::vector<std::string> values;
    auto [first, last] = fields.equal_range(name);
    for (auto it = first; it != last; ++it) values.push_back(it->second);
    return values;
}

std::string FakeMakerAPI::Request::header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

void FakeMakerAPI::setWaitFunction(WaitFunction wait) {
    std::lock_guard lock(waitMutex);
    waitFunction = std::move(wait);
}

FakeMakerAPI::FakeMakerAPI() : FakeMakerAPI(Listening{}) {
    ZMMakerAPI::setBaseURL(url());
    ZMMakerAPI::setWebURL(url());
}

FakeMakerAPI::FakeMakerAPI(ThroughEnvironment) : FakeMakerAPI(Listening{}) {
    throughEnvironment_ = true;
    setenv("VOSTRELLE_MAKER_API_URL", url().c_str(), 1);
    setenv("VOSTRELLE_MAKER_WEB_URL", url().c_str(), 1);
}

FakeMakerAPI::FakeMakerAPI(Listening)
    : featured_(json{{"featuredTop", json::array()},
                     {"featuredMiddle", json::array()},
                     {"mustHaveTweaks", json::array()},
                     {"mustHaveThemes", json::array()},
                     {"extendApps", json::array()}}),
      news_(json::array()),
      credits_(json::array()),
      developers_(json::array()),
      directory_(json::array()),
      trending_(json::array()) {
    // Held and late answers occupy a thread each.
    server_.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server_.set_payload_max_length(64u << 20);
    // One request per connection: stopping never waits for idle keep-alive connections.
    server_.set_keep_alive_max_count(1);
    server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); });
    // Read through a content reader: httplib refuses form bodies over 8 kB
    // when it reads them itself, and the clients send more.
    server_.Post(".*", [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& read) {
        httplib::Request copy = req;
        read([&](const char* data, size_t length) {
            copy.body.append(data, length);
            return true;
        });
        handle(copy, res);
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeMakerAPI::~FakeMakerAPI() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    server_.stop();
    if (thread_.joinable()) thread_.join();
    if (throughEnvironment_) {
        unsetenv("VOSTRELLE_MAKER_API_URL");
        unsetenv("VOSTRELLE_MAKER_WEB_URL");
    }
    ZMMakerAPI::setBaseURL(std::nullopt);
    ZMMakerAPI::setWebURL(std::nullopt);
}

std::string FakeMakerAPI::url() const { return "http://127.0.0.1:" + std::to_string(port_); }

// ---- contents ---------------------------------------------------------------------------

void FakeMakerAPI::addAccount(const Account& account) {
    std::lock_guard lock(mutex_);
    accounts_[account.username] = account;
}

#define FAKE_SETTER(method, member, type)          \
    void FakeMakerAPI::method(const type& value) { \
        std::lock_guard lock(mutex_);              \
        member = value;                            \
    }
FAKE_SETTER(setFeatured, featured_, json)
FAKE_SETTER(setNews, news_, json)
FAKE_SETTER(setCredits, credits_, json)
FAKE_SETTER(setDevelopers, developers_, json)
FAKE_SETTER(setDirectory, directory_, json)
FAKE_SETTER(setTrending, trending_, json)
#undef FAKE_SETTER

template <typename Value>
std::optional<Value> FakeMakerAPI::valueFor(const std::map<int, Value>& values, int userID) const {
    std::lock_guard lock(mutex_);
    auto it = values.find(userID);
    return it == values.end() ? std::nullopt : std::optional<Value>(it->second);
}

void FakeMakerAPI::setWishlist(int userID, const std::string& joined) {
    std::lock_guard lock(mutex_);
    wishlists_[userID] = joined;
}

std::optional<std::string> FakeMakerAPI::wishlist(int userID) const { return valueFor(wishlists_, userID); }

void FakeMakerAPI::setFollowed(int userID, const std::string& joined) {
    std::lock_guard lock(mutex_);
    followed_[userID] = joined;
}

std::optional<std::string> FakeMakerAPI::followed(int userID) const { return valueFor(followed_, userID); }

void FakeMakerAPI::setSetup(int userID, const json& document) {
    std::lock_guard lock(mutex_);
    setups_[userID] = document;
}

std::optional<json> FakeMakerAPI::setup(int userID) const { return valueFor(setups_, userID); }

json FakeMakerAPI::directory() const {
    std::lock_guard lock(mutex_);
    return directory_;
}

void FakeMakerAPI::setReviews(const std::string& packageID, const json& reviews) {
    std::lock_guard lock(mutex_);
    reviews_[packageID] = reviews;
}

void FakeMakerAPI::setAverageRating(const std::string& packageID, const json& rating) {
    std::lock_guard lock(mutex_);
    averages_[packageID] = rating;
}

bool FakeMakerAPI::signIn(const std::string& username, const std::string& password) {
    auto message = std::make_shared<std::optional<std::string>>();
    auto synchronized = std::make_shared<std::atomic<bool>>(false);
    auto guard = std::make_shared<std::mutex>();
    ZMAccount::instance().performLogin(
        username, password,
        [message, guard](std::string text) {
            std::lock_guard lock(*guard);
            *message = std::move(text);
        },
        [synchronized] { *synchronized = true; });
    bool answered = waitFor(
        [&] {
            std::lock_guard lock(*guard);
            return message->has_value();
        },
        std::chrono::seconds(10));
    std::lock_guard lock(*guard);
    if (!answered || **message != kZMStatusSuccess) return false;
    return waitFor([&] { return synchronized->load(); }, std::chrono::seconds(10));
}

// ---- behaviours -------------------------------------------------------------------------

void FakeMakerAPI::setBehaviour(const std::string& endpoint, const Behaviour& behaviour) {
    std::lock_guard lock(mutex_);
    behaviours_[endpoint] = behaviour;
}

void FakeMakerAPI::clearBehaviour(const std::string& endpoint) {
    std::lock_guard lock(mutex_);
    behaviours_.erase(endpoint);
}

std::vector<FakeMakerAPI::Request> FakeMakerAPI::heldRequests(const std::string& endpoint) const {
    std::lock_guard lock(mutex_);
    std::vector<Request> out;
    for (const auto& held : held_)
        if (!held->released && held->request.endpoint == endpoint) out.push_back(held->request);
    return out;
}

bool FakeMakerAPI::releaseHeld(const std::string& endpoint, const std::function<bool(const Request&)>& which) {
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(held_.begin(), held_.end(), [&](const std::shared_ptr<Held>& held) {
            return !held->released && held->request.endpoint == endpoint && (!which || which(held->request));
        });
        if (it == held_.end()) return false;
        (*it)->released = true;
    }
    changed_.notify_all();
    return true;
}

// ---- the log ----------------------------------------------------------------------------

std::vector<FakeMakerAPI::Request> FakeMakerAPI::requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<FakeMakerAPI::Request> FakeMakerAPI::requests(const std::string& endpoint) const {
    std::lock_guard lock(mutex_);
    std::vector<Request> out;
    for (const auto& request : log_)
        if (request.endpoint == endpoint) out.push_back(request);
    return out;
}

size_t FakeMakerAPI::count(const std::string& endpoint) const { return requests(endpoint).size(); }

void FakeMakerAPI::clearRequests() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

bool FakeMakerAPI::waitForCount(const std::string& endpoint, size_t n, std::chrono::milliseconds timeout) const {
    return waitFor([&] { return count(endpoint) >= n; }, timeout);
}

// ---- serving ----------------------------------------------------------------------------

void FakeMakerAPI::handle(const httplib::Request& req, httplib::Response& res) {
    Request request;
    request.method = req.method;
    request.endpoint = req.path.rfind(kHead, 0) == 0 ? req.path.substr(std::string(kHead).size()) : req.path;
    size_t question = req.target.find('?');
    if (question != std::string::npos) request.rawQuery = req.target.substr(question + 1);
    request.body = req.body;
    request.headers = req.headers;
    httplib::Params fields;
    httplib::detail::parse_query_text(request.rawQuery, fields);
    if (req.get_header_value("Content-Type") == "application/x-www-form-urlencoded")
        httplib::detail::parse_query_text(req.body, fields);
    request.fields.insert(fields.begin(), fields.end());

    std::optional<Behaviour> behaviour;
    std::shared_ptr<Held> held;
    {
        std::lock_guard lock(mutex_);
        log_.push_back(request);
        auto it = behaviours_.find(request.endpoint);
        if (it != behaviours_.end() && it->second.times != 0) {
            behaviour = it->second;
            if (it->second.times > 0 && --it->second.times == 0) behaviours_.erase(it);
        }
        if (behaviour && behaviour->hold) {
            held = std::make_shared<Held>();
            held->request = request;
            held_.push_back(held);
        }
    }
    if (behaviour) {
        std::unique_lock lock(mutex_);
        if (held) changed_.wait(lock, [&] { return held->released || stopping_; });
        if (behaviour->delay.count() > 0) changed_.wait_for(lock, behaviour->delay, [&] { return stopping_; });
        if (stopping_) {
            reply(res, 503, "stopping");
            return;
        }
    }
    if (behaviour && behaviour->oversizedBytes > 0) {
        reply(res, behaviour->status ? behaviour->status : 200, std::string(behaviour->oversizedBytes, 'x'));
        return;
    }
    if (behaviour && (behaviour->status || behaviour->body)) {
        if (!behaviour->location.empty()) res.set_header("Location", behaviour->location);
        reply(res, behaviour->status ? behaviour->status : 200, behaviour->body.value_or(""));
        return;
    }
    answer(request, res);
}

bool FakeMakerAPI::keyAccepted(const Request& request, const char* field, httplib::Response& res) const {
    if (request.field(field) == ZMMakerAPI::kClientKey) return true;
    reply(res, 403, "Invalid key");
    return false;
}

void FakeMakerAPI::answer(const Request& request, httplib::Response& res) {
    const std::string& e = request.endpoint;
    std::lock_guard lock(mutex_);
    if (e == "login/login.php") {
        if (!keyAccepted(request, "login", res)) return;
        auto it = accounts_.find(request.field("username"));
        if (it == accounts_.end())
            return reply(res, 200, "The requested user '" + request.field("username") + "' could not be found.");
        const Account& account = it->second;
        if (account.password != request.field("password"))
            return reply(res, 200, "Incorrect password. Please try again.");
        if (account.reply) return replyJSON(res, *account.reply);
        return replyJSON(res, {{"username", account.username},
                               {"user_id", account.userID},
                               {"email", account.email},
                               {"avatar_url", account.avatarURL},
                               {"group_id", account.groupID},
                               {"sec_group_ids", account.secGroupIDs}});
    }
    if (e == "setup/savesetup.php" || e == "setup/retrievesetup.php") {
        if (!keyAccepted(request, "key", res)) return;
        int user = intField(request, "userID");
        if (user <= 0) return reply(res, 200, "Error");
        if (e == "setup/savesetup.php") {
            setups_[user] = {{"sources", request.fieldValues("sources[]")},
                             {"packages", request.fieldValues("packages[]")}};
            return reply(res, 200, "Setup saved");
        }
        auto it = setups_.find(user);
        return it == setups_.end() ? reply(res, 200, "Error") : replyJSON(res, it->second);
    }
    if (e == "featured/featured.php") {
        if (!keyAccepted(request, "key", res)) return;
        return replyJSON(res, featured_);
    }
    if (e == "wishlist/wishlist.php" || e == "followeddevs/developers.php") {
        auto& lists = e == "wishlist/wishlist.php" ? wishlists_ : followed_;
        int user = intField(request, "userID");
        if (user <= 0) return reply(res, 200, "Error");
        lists[user] = request.field(e == "wishlist/wishlist.php" ? "wishlist" : "developers");
        return reply(res, 200, "Success");
    }
    if (e == "wishlist/retrievewishlist.php" || e == "followeddevs/retrievedevelopers.php") {
        const bool wish = e == "wishlist/retrievewishlist.php";
        auto& lists = wish ? wishlists_ : followed_;
        auto it = lists.find(intField(request, "userID"));
        return replyJSON(res, {{wish ? "wishlist" : "developers", it == lists.end() ? "" : it->second}});
    }
    if (e == "reposearch/reposearch.php") {
        json found = json::array();
        for (const auto& entry : directory_)
            if (entry.is_object() && (containsIgnoringCase(entry.value("name", ""), request.field("searchParam")) ||
                                      containsIgnoringCase(entry.value("url", ""), request.field("searchParam"))))
                found.push_back(entry);
        return replyJSON(res, found);
    }
    if (e == "reposearch/repolist.php") {
        if (!keyAccepted(request, "key", res)) return;
        return replyJSON(res, directory_);
    }
    if (e == "reposearch/addrepo.php") {
        if (!keyAccepted(request, "key", res)) return;
        for (const auto& entry : directory_)
            if (entry.is_object() && entry.value("url", "") == request.field("url"))
                return reply(res, 200, "Repository already exists");
        directory_.push_back({{"icon", request.field("icon")},
                              {"name", request.field("name")},
                              {"url", request.field("url")},
                              {"description", request.field("description")},
                              {"maintainer", request.field("maintainer")},
                              {"category", request.field("category")}});
        return reply(res, 200, "Repository added");
    }
    if (e == "news/retrievenews.php") return replyJSON(res, news_);
    if (e == "credits/credits.php") return replyJSON(res, credits_);
    if (e == "developers/devs.php") {
        json found = json::array();
        for (const auto& profile : developers_)
            if (profile.is_object() &&
                containsIgnoringCase(profile.value("developer", ""), request.field("searchParam")))
                found.push_back(profile);
        return replyJSON(res, found);
    }
    if (e == "ratings/rate.php") {
        int stars = intField(request, "rate");
        auto& rates = rates_[request.field("packageID")];
        bool again = rates.count(request.field("username")) > 0;
        rates[request.field("username")] = stars;
        return reply(res, 200, again ? "Successfully updated" : "Success");
    }
    if (e == "ratings/rating.php") {
        const std::string package = request.field("packageID");
        if (auto it = averages_.find(package); it != averages_.end()) return replyJSON(res, {{"rating", it->second}});
        double sum = 0;
        for (const auto& [user, stars] : rates_[package]) sum += stars;
        const auto& rates = rates_[package];
        return replyJSON(res, {{"rating", rates.empty() ? 0.0 : sum / static_cast<double>(rates.size())}});
    }
    if (e == "ratings/reviews.php") {
        if (request.hasField("review_id")) {
            for (const auto& [package, reviews] : reviews_)
                for (const auto& review : reviews)
                    if (review.is_object() && ZMMakerAPI::text(review, "id") == request.field("review_id"))
                        return replyJSON(res, review);
            return reply(res, 404, "No such review");
        }
        auto it = reviews_.find(request.field("packageID"));
        return replyJSON(res, it == reviews_.end() ? json::array() : it->second);
    }
    if (e == "ratings/reply.php") {
        for (auto& [package, reviews] : reviews_)
            for (auto& review : reviews) {
                if (!review.is_object() || ZMMakerAPI::text(review, "id") != request.field("review_id")) continue;
                if (request.hasField("reply")) {
                    review["reply"] = request.field("reply");
                    return reply(res, 200, "Reply sent");
                }
                for (auto [field, counter] : {std::pair{"upvote", "upvotes"}, std::pair{"downvote", "downvotes"}}) {
                    if (request.field(field) != "1") continue;
                    review[counter] = std::to_string(std::atoi(ZMMakerAPI::text(review, counter).c_str()) + 1);
                    return reply(res, 200, "Vote counted");
                }
            }
        return reply(res, 200, "Failed");
    }
    if (e == "stats/stats.php") {
        if (!keyAccepted(request, "key", res)) return;
        return reply(res, 200, "Success");
    }
    if (e == "stats/trending.php") {
        if (!keyAccepted(request, "key", res)) return;
        return replyJSON(res, trending_);
    }
    if (e == "/register/") return reply(res, 200, "<html><body>Register</body></html>", "text/html");
    if (e == "/index.php" && request.rawQuery == "lost-password/")
        return reply(res, 200, "<html><body>Lost password</body></html>", "text/html");
    reply(res, 404, "Not found");
}
