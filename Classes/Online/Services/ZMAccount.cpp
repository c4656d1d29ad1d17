#include "Services/ZMAccount.h"

#include <chrono>
#include <mutex>

#include "Categories/String+ZemtrixExtensions.h"
#include "Keychain/PDKeychainBindings.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Services/ZMFollowedDevelopers.h"
#include "Services/ZMMakerAPI.h"
#include "Services/ZMPackagesWishlist.h"

namespace {

constexpr const char* kUsername = "username";
constexpr const char* kPassword = "password";
constexpr const char* kUserID = "userID";
constexpr const char* kGroupID = "groupID";
constexpr const char* kSecGroupID = "secGroupID";
constexpr const char* kEmail = "email";
constexpr const char* kAvatarURL = "avatarURL";

PDKeychainBindings& keychain() { return PDKeychainBindings::sharedKeychainBindings(); }

std::optional<std::string> entry(const char* key) { return keychain().stringForKey(key); }

std::string trimmed(const std::string& s) {
    size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool isFive(const std::string& text) { return ZMMakerAPI::positiveInteger(trimmed(text)) == 5; }

// A group field as text: a string as it is, an integer in decimal.
std::optional<std::string> groupText(const nlohmann::json& reply, const char* key) {
    std::string value = ZMMakerAPI::text(reply, key);
    return value.empty() ? std::nullopt : std::optional<std::string>(value);
}

}  // namespace

ZMAccount& ZMAccount::instance() {
    static ZMAccount account;
    return account;
}

std::optional<std::string> ZMAccount::returnUsername() const { return entry(kUsername); }
std::optional<std::string> ZMAccount::returnPassword() const { return entry(kPassword); }
std::optional<std::string> ZMAccount::returnEmail() const { return entry(kEmail); }
std::optional<std::string> ZMAccount::returnAvatarURL() const { return entry(kAvatarURL); }

int32_t ZMAccount::returnUserID() const {
    auto id = entry(kUserID);
    return id ? ZMMakerAPI::positiveInteger(*id).value_or(0) : 0;
}

bool ZMAccount::isSignedIn() const {
    auto username = returnUsername();
    auto marker = returnPassword();
    return username && !username->empty() && returnUserID() > 0 && marker && !marker->empty();
}

bool ZMAccount::isPremium() const {
    if (!isSignedIn()) return false;
    if (auto group = entry(kGroupID); group && isFive(*group)) return true;
    if (auto groups = entry(kSecGroupID)) {
        size_t start = 0;
        while (start <= groups->size()) {
            size_t comma = groups->find(',', start);
            if (comma == std::string::npos) comma = groups->size();
            if (isFive(groups->substr(start, comma - start))) return true;
            start = comma + 1;
        }
    }
    return false;
}

void ZMAccount::setUsername(const std::string& value) { keychain().setString(value, kUsername); }
void ZMAccount::setUserID(const std::string& value) { keychain().setString(value, kUserID); }
void ZMAccount::setGroupID(const std::string& value) { keychain().setString(value, kGroupID); }
void ZMAccount::setSecGroupID(const std::string& value) { keychain().setString(value, kSecGroupID); }
void ZMAccount::setEmail(const std::string& value) { keychain().setString(value, kEmail); }
void ZMAccount::setAvatarURL(const std::string& value) { keychain().setString(value, kAvatarURL); }

std::optional<ZMAccount::SignInEntries> ZMAccount::entriesFromReply(const std::string& body) {
    auto reply = ZMMakerAPI::parseJSON(body);
    if (!reply || !reply->is_object()) return std::nullopt;
    SignInEntries entries;
    auto username = reply->find("username");
    if (username == reply->end() || !username->is_string() || username->get_ref<const std::string&>().empty())
        return std::nullopt;
    entries.username = username->get<std::string>();
    auto userID = reply->find("user_id");
    if (userID == reply->end()) return std::nullopt;
    auto id = ZMMakerAPI::positiveInteger(*userID);
    if (!id) return std::nullopt;
    entries.userID = *id;
    if (auto it = reply->find("email");
        it != reply->end() && it->is_string() && !it->get_ref<const std::string&>().empty())
        entries.email = it->get<std::string>();
    if (auto avatar = ZMMakerAPI::httpURL(*reply, "avatar_url"); !avatar.empty()) entries.avatarURL = avatar;
    entries.groupID = groupText(*reply, "group_id");
    entries.secGroupID = groupText(*reply, "sec_group_ids");
    return entries;
}

void ZMAccount::store(const SignInEntries& entries) {
    auto value = [](const std::optional<std::string>& v) { return v ? nlohmann::json(*v) : nlohmann::json(); };
    keychain().setObjects({
        {kUsername, entries.username},
        {kPassword, ZemtrixExtensions::iso8601String(std::chrono::system_clock::now())},
        {kEmail, value(entries.email)},
        {kAvatarURL, value(entries.avatarURL)},
        {kUserID, std::to_string(entries.userID)},
        {kGroupID, value(entries.groupID)},
        {kSecGroupID, value(entries.secGroupID)},
    });
}

void ZMAccount::logout() {
    keychain().setObjects({{kUsername, nullptr},
                           {kPassword, nullptr},
                           {kUserID, nullptr},
                           {kGroupID, nullptr},
                           {kSecGroupID, nullptr},
                           {kEmail, nullptr},
                           {kAvatarURL, nullptr}});
}

void ZMAccount::performLogin(const std::string& username, const std::string& password,
                             std::function<void(std::string message)> completion, std::function<void()> synchronized) {
    if (username.empty() || password.empty()) {
        completion(ZMLocalizedString("You have to fill in both username and password"));
        return;
    }
    auto request = ZMMakerAPI::postForm(
        "login/login.php", {{"username", username}, {"password", password}, {"login", ZMMakerAPI::kClientKey}},
        ZMMakerAPI::Blank::Plus);
    ZMMakerAPI::send(request, [this, completion = std::move(completion),
                               synchronized = std::move(synchronized)](ZMMakerAPI::Reply reply) {
        if (!reply.ok()) {
            std::string description = reply.error->localizedDescription();
            ZMMAKER_LOG_FAILURE(description);
            completion(description);
            return;
        }
        std::string text = ZMMakerAPI::displayText(reply.body);
        if (text == "Incorrect password. Please try again." || text.find("The requested user ") != std::string::npos) {
            completion(text);
            return;
        }
        auto entries = entriesFromReply(reply.body);
        if (!entries) {
            auto error = ZMMakerAPI::invalidReplyError();
            ZMMAKER_LOG_FAILURE("the sign-in reply is not an account");
            completion(error.localizedDescription());
            return;
        }
        store(*entries);
        ZMPackagesWishlist::sharedInstance().retrieveZemtrixAccountWishlist(
            [synchronized](std::optional<std::vector<std::string>> wishlist) {
                ZMPackagesWishlist::mergeAccountWishlist(wishlist);
                ZMFollowedDevelopers::sharedInstance().retrieveZemtrixAccountFollowedDevelopers(
                    [synchronized](std::optional<std::vector<std::string>> developers) {
                        ZMFollowedDevelopers::mergeAccountFollowedDevelopers(developers);
                        if (synchronized) synchronized();
                    });
            });
        completion(kZMStatusSuccess);
    });
}
