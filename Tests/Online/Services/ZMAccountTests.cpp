// Signing in and out of the maker's account: what is sent, what is stored,
// and what is never stored.
#include <filesystem>

#include "Online/Services/OnlineServicesFixture.h"

namespace fs = std::filesystem;

namespace {
std::string login(const std::string& user, const std::string& password) {
    Answer<std::string> answer;
    ZMAccount::instance().performLogin(user, password, answer.callback());
    EXPECT_TRUE(answer.wait());
    return answer.value();
}
}  // namespace

TEST_F(OnlineServices, SignInAnswersAndStoresOnlySuccess) {
    struct Case {
        std::string user, password, message;
    } cases[] = {
        {"ada", "", "You have to fill in both username and password"},
        {"", "x", "You have to fill in both username and password"},
        {"ada", "wrong", "Incorrect password. Please try again."},
        {"nobody", "x", "The requested user 'nobody' could not be found."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(login(c.user, c.password), c.message);
        EXPECT_FALSE(ZMAccount::instance().returnUsername()) << c.message;
        EXPECT_FALSE(ZMAccount::instance().returnPassword()) << "not even the password: " << c.message;
    }
    EXPECT_EQ(maker->count("login/login.php"), 2u) << "empty fields send nothing";

    EXPECT_EQ(login("ada", "pässword & co"), "Success");
    auto sent = maker->requests("login/login.php").back();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.field("password"), "pässword & co");
    EXPECT_EQ(sent.field("login"), "Quendarix");
    EXPECT_EQ(sent.header("Content-Type"), "application/x-www-form-urlencoded");
    auto& account = ZMAccount::instance();
    EXPECT_TRUE(account.isSignedIn());
    EXPECT_EQ(account.returnUsername(), "ada");
    EXPECT_EQ(account.returnUserID(), 12);
    EXPECT_EQ(account.returnEmail(), "ada@example.com");
    EXPECT_EQ(account.returnAvatarURL(), "https://img.example/ada.png");
    EXPECT_NE(account.returnPassword(), "pässword & co");
}

// A second sign-in leaves nothing of the first account; fields it leaves out
// (or gives as null or a file: URL) remove their entries.
TEST_F(OnlineServices, SignInReplacesEveryEntryAndSignOutRemovesThem) {
    maker->addAccount(
        {"bob", "pw", 7, "", "", "", "",
         nlohmann::json{{"username", "bob"}, {"user_id", "7"}, {"email", nullptr}, {"avatar_url", "file:///x"}}});
    ASSERT_EQ(login("ada", "pässword & co"), "Success");
    ASSERT_EQ(login("bob", "pw"), "Success");
    auto& account = ZMAccount::instance();
    EXPECT_EQ(account.returnUsername(), "bob");
    EXPECT_EQ(account.returnUserID(), 7);
    EXPECT_FALSE(account.returnEmail());
    EXPECT_FALSE(account.returnAvatarURL());
    EXPECT_FALSE(account.isPremium());
    account.logout();
    EXPECT_FALSE(account.isSignedIn());
    EXPECT_EQ(account.returnUserID(), 0);
    EXPECT_EQ(PDKeychainBindings::sharedKeychainBindings().objectForKey("password"), nullptr);
}

TEST_F(OnlineServices, PremiumIsGroupFiveOrAMemberFiveOfTheSecondaryList) {
    struct Case {
        std::string group, secondary;
        bool premium;
    } cases[] = {{"5", "", true},  {"2", "15", false},  {"2", "3,5", true},     {"2", " 5 ", true},
                 {"2", "", false}, {"25", "51", false}, {"2", "1,2,55", false}, {"05", "", true}};
    int id = 100;
    for (const auto& c : cases) {
        const std::string name = "user" + std::to_string(id);
        maker->addAccount({name, "pw", id++, "", "", c.group, c.secondary});
        ASSERT_EQ(login(name, "pw"), "Success");
        EXPECT_EQ(ZMAccount::instance().isPremium(), c.premium) << c.group << " / " << c.secondary;
    }
    ZMAccount::instance().logout();
    EXPECT_FALSE(ZMAccount::instance().isPremium());
}

TEST_F(OnlineServices, PasswordReachesNoFileAndNoLog) {
    const std::string password = "Unique-Secret-4711";
    maker->addAccount({"carol", password, 9});
    std::string log;
    {
        TestSupport::StderrCapture capture;
        ASSERT_TRUE(maker->signIn("carol", password));
        log = capture.text();
    }
    EXPECT_EQ(log.find(password), std::string::npos);
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(env.root())) {
        if (!entry.is_regular_file()) continue;
        ++files;
        EXPECT_EQ(TestSupport::readFile(entry.path()).find(password), std::string::npos) << entry.path();
    }
    EXPECT_GT(files, 1u) << "the keychain file and the database were looked at";
}
