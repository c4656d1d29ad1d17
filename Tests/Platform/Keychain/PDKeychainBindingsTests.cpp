#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "Keychain/PDKeychainBindings.h"
#include "Miscellaneous/ZMPaths.h"
#include "Support/TestSupport.h"

using nlohmann::json;
namespace fs = std::filesystem;

namespace {
mode_t modeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class PDKeychainBindingsTest : public ::testing::Test {
protected:
    void SetUp() override { PDKeychainBindings::resetForTesting(); }
    void TearDown() override {
        PDKeychainBindings::resetForTesting();
        umask(savedUmask_);
    }
    TestSupport::IsolatedEnvironment env_;
    mode_t savedUmask_ = umask(022);
};
}  // namespace

TEST_F(PDKeychainBindingsTest, EntriesPersistInAnOwnerOnlyFile) {
    umask(0);  // the file must not depend on a careful umask
    auto& keychain = PDKeychainBindings::sharedKeychainBindings();
    std::string path = ZMPaths::applicationSupport() + "/keychain.json";
    EXPECT_EQ(keychain.path(), path);
    EXPECT_TRUE(keychain.objectForKey("username").is_null());
    EXPECT_EQ(keychain.stringForKey("username"), std::nullopt);

    EXPECT_TRUE(keychain.setString("alice", "username"));
    EXPECT_TRUE(keychain.setObject("s3cr3t", "password"));
    EXPECT_TRUE(keychain.setObject(42, "userID"));
    EXPECT_TRUE(keychain.setString("tok", "https://repo.example.com/_token"));
    EXPECT_EQ(modeOf(path), 0600u);
    // Nothing of it in the preference file.
    EXPECT_FALSE(fs::exists(ZMPaths::preferencesFile()));

    PDKeychainBindings::resetForTesting();
    auto& reread = PDKeychainBindings::sharedKeychainBindings();
    EXPECT_NE(&reread, &keychain);
    EXPECT_EQ(reread.stringForKey("username"), "alice");
    EXPECT_EQ(reread.stringForKey("password"), "s3cr3t");
    EXPECT_EQ(reread.stringForKey("userID"), "42");
    EXPECT_EQ(reread.objectForKey("userID"), 42);
    EXPECT_EQ(reread.stringForKey("https://repo.example.com/_token"), "tok");

    EXPECT_TRUE(reread.removeObjectForKey("password"));
    EXPECT_TRUE(reread.setObject(nullptr, "userID"));
    EXPECT_EQ(json::parse(TestSupport::readFile(path)),
              json({{"username", "alice"}, {"https://repo.example.com/_token", "tok"}}));
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(reread.stringForKey("password"), std::nullopt);
}

TEST_F(PDKeychainBindingsTest, AFileOthersCouldReadIsClosedAndACorruptOneKeptAside) {
    std::string path = ZMPaths::applicationSupport() + "/keychain.json";
    // Readable or writable by the group or by others: owner-only once loaded.
    for (const mode_t widened : {mode_t(0644), mode_t(0640), mode_t(0660), mode_t(0604), mode_t(0620), mode_t(0602)}) {
        PDKeychainBindings::resetForTesting();
        TestSupport::writeFile(path, R"({"username": "bob"})");
        chmod(path.c_str(), widened);
        EXPECT_EQ(PDKeychainBindings::sharedKeychainBindings().stringForKey("username"), "bob") << std::oct << widened;
        EXPECT_EQ(modeOf(path), 0600u) << std::oct << widened;
    }

    PDKeychainBindings::resetForTesting();
    TestSupport::writeFile(path, R"({"username": "bo)");
    auto& keychain = PDKeychainBindings::sharedKeychainBindings();
    EXPECT_EQ(keychain.stringForKey("username"), std::nullopt);
    EXPECT_EQ(TestSupport::readFile(path + ".corrupt"), R"({"username": "bo)");
    EXPECT_TRUE(keychain.setString("carol", "username"));
    EXPECT_EQ(json::parse(TestSupport::readFile(path)), json({{"username", "carol"}}));
}

TEST_F(PDKeychainBindingsTest, ConcurrentWritersLeaveACompleteFile) {
    auto& keychain = PDKeychainBindings::sharedKeychainBindings();
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&keychain, t] {
            for (int i = 0; i < 30; ++i) keychain.setString(std::to_string(i), "t" + std::to_string(t) + "-" + std::to_string(i));
        });
    }
    for (auto& thread : threads) thread.join();
    json onDisk = json::parse(TestSupport::readFile(keychain.path()), nullptr, false);
    ASSERT_TRUE(onDisk.is_object());
    EXPECT_EQ(onDisk.size(), 180u);
    EXPECT_EQ(onDisk.value("t5-29", ""), "29");
}

TEST_F(PDKeychainBindingsTest, TextThatIsNotUtf8IsStoredWithoutFailing) {
    auto& keychain = PDKeychainBindings::sharedKeychainBindings();
    EXPECT_TRUE(keychain.setString(std::string("bad \xff byte"), "odd"));
    EXPECT_TRUE(keychain.setString("fine", "other"));
    PDKeychainBindings::resetForTesting();
    EXPECT_EQ(PDKeychainBindings::sharedKeychainBindings().stringForKey("other"), "fine");
}
