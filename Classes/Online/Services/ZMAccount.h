#pragma once
// The user's account on the maker's online service: sign-in, the accessors
// through which every online feature learns who the user is, and sign-out.
//
// The account is seven entries of the keychain store (PDKeychainBindings):
// "username", "password", "userID", "groupID", "secGroupID", "email" and
// "avatarURL". The password itself goes only into the sign-in form: the
// "password" entry holds a marker of the sign-in (its date), never the
// password, and nothing logs it. A sign-in replaces all seven entries at once
// (a field the server leaves out removes its entry), so nothing of a previous
// account survives it; sign-out removes them all.
//
// Signed in, for every caller, means isSignedIn(): a user name that is not
// empty, a user ID above 0 and the sign-in marker. Every request that needs
// the account (wishlist, followed developers, backup, rating, reply, vote)
// sends nothing when it is false.
//
// Threads: every member may be called from any thread.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class ZMAccount {
public:
    static ZMAccount& instance();

    // The stored texts, or nullopt when absent.
    std::optional<std::string> returnUsername() const;
    // The sign-in marker (not the password).
    std::optional<std::string> returnPassword() const;
    std::optional<std::string> returnEmail() const;
    // An http(s) URL as text.
    std::optional<std::string> returnAvatarURL() const;
    // The user ID, 0 when absent or not a number.
    int32_t returnUserID() const;
    bool isSignedIn() const;
    // The group ID is 5, or one member of the comma list of secondary group IDs
    // is 5 ("3,5" and " 5" count, "15" does not). NO when signed out. Decides
    // between the online and the local setup backup.
    bool isPremium() const;

    // Store one entry (the sign-in writes them itself; the password marker has
    // no setter).
    void setUsername(const std::string& value);
    void setUserID(const std::string& value);
    void setGroupID(const std::string& value);
    void setSecGroupID(const std::string& value);
    void setEmail(const std::string& value);
    void setAvatarURL(const std::string& value);

    // Signs in. Sends the form "username", "password", "login" (the client
    // key) to "login/login.php" and calls `completion` exactly once with:
    //   "Success"                                     signed in; the entries are stored
    //   "You have to fill in both username and password"  an empty field; nothing sent
    //   the server's refusal ("Incorrect password. Please try again.", or a
    //   text containing "The requested user ")        nothing stored
    //   an error's description                        no answer, a status outside
    //                                                 2xx, or a reply that is not an
    //                                                 account (no user name, no
    //                                                 positive "user_id"); nothing stored
    // The completion runs on a background queue (on the caller's thread for an
    // empty field or an unconfigured service): hop to the main thread before
    // touching the interface.
    //
    // After a successful sign-in the account's wishlist and then its followed
    // developers are downloaded and merged into the database
    // (ZMPackagesWishlist::mergeAccountWishlist, ZMFollowedDevelopers::
    // mergeAccountFollowedDevelopers); "Success" does not wait for them.
    // `synchronized` (optional) runs on a background queue once both merges
    // have ended, whatever their outcome.
    void performLogin(const std::string& username, const std::string& password,
                      std::function<void(std::string message)> completion, std::function<void()> synchronized = {});

    // Removes the seven entries. The wishlist and followed marks in the
    // database stay as they are.
    void logout();

    // The parts of a sign-in reply that become the entries; nullopt when the
    // reply is not an account.
    struct SignInEntries {
        std::string username;
        int32_t userID = 0;
        std::optional<std::string> email, avatarURL, groupID, secGroupID;
    };
    static std::optional<SignInEntries> entriesFromReply(const std::string& body);

private:
    ZMAccount() = default;
    void store(const SignInEntries& entries);
};
