#include "Support/FakeStores.h"

#include <algorithm>
#include <chrono>
#include <thread>

using nlohmann::json;

namespace FakeStores {

namespace {

json bodyOf(const httplib::Request& req) {
    json parsed = json::parse(req.body, nullptr, false);
    return parsed.is_object() ? parsed : json::object();
}

void reply(httplib::Response& res, const json& object) { res.set_content(object.dump(), "application/json"); }

}  // namespace

PaymentAPI::PaymentAPI(FlatRepository::FileServer& server, std::string repositoryRoot)
    : server_(server), root_(std::move(repositoryRoot)) {
    state_.endpointBody = "  \t" + endpoint() + " \n";
    server_.route("payment_endpoint", [this](const httplib::Request&, httplib::Response& res) {
        auto s = state();
        res.status = s.endpointStatus;
        res.set_content(s.endpointBody, "text/plain");
    });
    server_.route("pay/info", [this](const httplib::Request&, httplib::Response& res) {
        const json vendor = state().vendor;
        vendorInfoReplies.wait();
        reply(res, vendor);
    });
    server_.route("pay/authenticate", [this](const httplib::Request&, httplib::Response& res) {
        auto s = state();
        std::string callback = "sileo://authentication_success?token=" + s.token + "&payment_secret=" + s.secret;
        std::string page = "<html><body><h1>Paid Test Store</h1>";
        if (s.callback == State::Callback::Form)
            page += "<form method='post' action='authenticate/submit'><input id='user' name='user'>"
                    "<input id='password' name='password' type='password'><button id='signin' type='submit'>Sign in</button></form>";
        else if (s.callback == State::Callback::Script)
            page += "<script>window.location = '" + callback + "';</script>";
        else if (s.callback == State::Callback::Link)
            page += "<a id='signin' href='" + callback + "'>Continue</a>";
        else
            page += "<img id='planted-image' src='sileo://authentication_success?token=planted&payment_secret=planted'>"
                    "<iframe id='planted-frame' src='sileo://authentication_success?token=framed&payment_secret=framed'></iframe>"
                    "<a id='signin' href='" + callback + "'>Continue</a>";
        res.set_content(page + "</body></html>", "text/html");
    });
    server_.route("pay/authenticate/submit", [this](const httplib::Request& req, httplib::Response& res) {
        auto s = state();
        if (req.method != "POST" || req.get_param_value("password").empty()) {
            res.status = 403;
            return;
        }
        res.status = 302;
        res.set_header("Location", "sileo://authentication_success?token=" + s.token + "&payment_secret=" + s.secret);
    });
    server_.route("pay/user_info", [this](const httplib::Request& req, httplib::Response& res) {
        auto s = state();
        if (s.userInfoDelayMs) std::this_thread::sleep_for(std::chrono::milliseconds(s.userInfoDelayMs));
        const bool known = bodyOf(req).value("token", "") == s.token;
        if (!known && s.userInfoUnknownTokenStatus != 200) {
            res.status = s.userInfoUnknownTokenStatus;
            return reply(res, {{"error", "Unauthorized"}});
        }
        if (!known || s.userInfoInvalidates)
            return reply(res, {{"error", "Your session has ended."}, {"invalidate", true}});
        reply(res, {{"user", {{"name", "Jane Buyer"}, {"email", "jane@example.org"}}},
                    {"items", json(std::vector<std::string>(s.purchased.begin(), s.purchased.end()))}});
    });
    server_.route("pay/sign_out", [](const httplib::Request&, httplib::Response& res) { reply(res, {{"success", true}}); });
}

PaymentAPI::State PaymentAPI::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::vector<json> PaymentAPI::bodies(const std::string& path) const {
    std::vector<json> out;
    for (const auto& r : server_.requests())
        if (r.path == "pay/" + path && r.method == "POST") out.push_back(json::parse(r.body, nullptr, false));
    return out;
}

void PaymentAPI::sell(const std::string& identifier, const std::string& debFile) {
    {
        std::lock_guard lock(mutex_);
        debs_[identifier] = debFile;
    }
    const std::string base = "pay/package/" + identifier;
    auto authorized = [this](const httplib::Request& req) { return bodyOf(req).value("token", "") == state().token; };
    server_.route(base + "/info", [this, identifier, authorized](const httplib::Request& req, httplib::Response& res) {
        const auto s = state();
        if (!authorized(req) && !s.packageInfoIgnoresToken)
            return reply(res, {{"available", false}, {"error", "Sign in first."}, {"invalidate", true}});
        reply(res, {{"available", true}, {"purchased", authorized(req) && s.purchased.count(identifier) > 0}, {"price", "$1.99"}});
    });
    server_.route(base + "/purchase", [this, identifier, base, authorized](const httplib::Request& req, httplib::Response& res) {
        auto s = state();
        if (!authorized(req) || bodyOf(req).value("payment_secret", "") != s.secret)
            return reply(res, {{"status", -1}, {"error", "Payment refused."}});
        if (s.purchaseStatus == 0) update([&](State& st) { st.purchased.insert(identifier); });
        json answer = {{"status", s.purchaseStatus}};
        if (s.purchaseStatus == 1) answer["url"] = server_.url(base + "/checkout");
        reply(res, answer);
    });
    server_.route(base + "/checkout", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("<html><body><p>Pay $1.99</p><form method='post' action='checkout/pay'>"
                        "<button id='pay' type='submit'>Pay</button></form>"
                        "<a id='skip' href='sileo://payment_completed'>Done</a></body></html>",
                        "text/html");
    });
    server_.route(base + "/checkout/pay", [this, identifier](const httplib::Request&, httplib::Response& res) {
        update([&](State& st) { st.purchased.insert(identifier); });
        res.status = 302;
        res.set_header("Location", "sileo://payment_completed");
    });
    server_.route(base + "/authorize_download", [this, identifier, authorized](const httplib::Request& req, httplib::Response& res) {
        if (!authorized(req) || !state().purchased.count(identifier)) return reply(res, {{"error", "Not purchased."}});
        std::string ticket;
        {
            std::lock_guard lock(mutex_);
            ticket = "pay/download/" + std::to_string(nextDownload_++);
            downloads_[ticket] = debs_[identifier];
        }
        server_.route(ticket, [this, ticket](const httplib::Request&, httplib::Response& r) {
            std::string file;
            {
                std::lock_guard lock(mutex_);
                file = downloads_[ticket];
                downloads_[ticket].clear();  // one download per authorisation
            }
            if (file.empty()) {
                r.status = 404;
                return;
            }
            if (const int status = state().downloadStatus; status != 200) {
                r.status = status;
                return;
            }
            r.set_content(TestSupport::readFile(root_ + "/" + file), "application/vnd.debian.binary-package");
        });
        reply(res, {{"url", server_.url(ticket)}});
    });
}

// ---- held replies ----------------------------------------------------------------------------

void HeldReplies::hold() {
    std::lock_guard lock(mutex_);
    holding_ = true;
}

void HeldReplies::stop() {
    std::lock_guard lock(mutex_);
    holding_ = false;
    for (auto& released : replies_) *released = true;
    changed_.notify_all();
}

size_t HeldReplies::waiting() const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count_if(replies_.begin(), replies_.end(), [](const auto& r) { return !*r; }));
}

void HeldReplies::release(size_t index) {
    std::lock_guard lock(mutex_);
    if (index < replies_.size()) *replies_[index] = true;
    changed_.notify_all();
}

void HeldReplies::wait() {
    std::unique_lock lock(mutex_);
    if (!holding_) return;
    auto released = std::make_shared<bool>(false);
    replies_.push_back(released);
    changed_.wait(lock, [&] { return *released; });
}

// ---- Cydia store ----------------------------------------------------------------------------

CydiaStore::CydiaStore(std::vector<std::string> purchases) : purchases_(std::move(purchases)) {
    // A 1x1 PNG for the pages to embed from another origin.
    static const unsigned char png[] = {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
                                        0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
                                        0x00, 0x1f, 0x15, 0xc4, 0x89, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x44, 0x41, 0x54, 0x78,
                                        0x9c, 0x63, 0xf8, 0xcf, 0xc0, 0xf0, 0x1f, 0x00, 0x05, 0x00, 0x01, 0xff, 0x89, 0x99,
                                        0x3d, 0x1d, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    TestSupport::writeFile(dir_.file("logo.png"), std::string(reinterpret_cast<const char*>(png), sizeof png));
    images_ = std::make_unique<FlatRepository::FileServer>(dir_.path());
    store_ = std::make_unique<FlatRepository::FileServer>(dir_.path());
    const std::string image = "<img id='logo' src='" + images_->url("logo.png") + "'>";
    auto hasSession = [this](const httplib::Request& req) {
        std::lock_guard lock(mutex_);
        return !session_.empty() && req.get_header_value("Cookie").find("session=" + session_) != std::string::npos;
    };
    const std::string form = "<form method='post' action='/account'><input id='email' name='email'>"
                             "<input id='password' name='password' type='password'><button id='login' type='submit'>Log in</button></form>";
    store_->route("account", [this, hasSession, form, image](const httplib::Request& req, httplib::Response& res) {
        if (req.method == "POST") {
            std::lock_guard lock(mutex_);
            session_ = "s" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
            res.set_header("Set-Cookie", "session=" + session_ + "; Path=/; HttpOnly");
            res.status = 302;
            res.set_header("Location", "/account");
            return;
        }
        res.set_content("<html><body>" + image +
                            (hasSession(req) ? "<p>Your account</p><a id='purchases' href='/account/purchases'>Purchases</a>"
                                               "<a id='signout' href='/api/invalidate'>Sign out</a>"
                                             : form) +
                            "</body></html>",
                        "text/html");
    });
    store_->route("account/purchases", [this, hasSession, form, image](const httplib::Request& req, httplib::Response& res) {
        int delay = 0;
        {
            std::lock_guard lock(mutex_);
            delay = delayMs_;
        }
        if (delay) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        std::string page = "<html><body>" + image;
        if (hasSession(req)) {
            std::lock_guard lock(mutex_);
            for (const auto& id : purchases_)
                page += "<p><a href=\"" + store_->url("package/" + id) + "\">" + id + "</a></p>";
        } else {
            page += form;
        }
        purchaseListReplies.wait();
        res.set_content(page + "</body></html>", "text/html");
    });
    store_->route("api/invalidate", [this](const httplib::Request&, httplib::Response& res) {
        {
            std::lock_guard lock(mutex_);
            session_.clear();
        }
        res.set_content("<html><body><p>Signed out</p></body></html>", "text/html");
    });
}

bool CydiaStore::signedIn() const {
    std::lock_guard lock(mutex_);
    return !session_.empty();
}

void CydiaStore::setPurchases(std::vector<std::string> purchases) {
    std::lock_guard lock(mutex_);
    purchases_ = std::move(purchases);
}

}  // namespace FakeStores

namespace FakeStores {
void CydiaStore::setPurchaseListDelay(int milliseconds) {
    std::lock_guard lock(mutex_);
    delayMs_ = milliseconds;
}
}  // namespace FakeStores
