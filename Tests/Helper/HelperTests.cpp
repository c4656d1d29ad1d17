// The privileged helper refuses every request outside the shapes the driver
// uses, before running anything.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "Framework/APTTestRepository.h"
#include "Miscellaneous/ZMPaths.h"
#include "ZMAPTManager.h"

namespace fs = std::filesystem;
using APTTest::offMain;
using APTTest::Repository;
using APTTest::Sandbox;
using TestSupport::readFile;

namespace {

class Helper : public ::testing::Test {
protected:
    void SetUp() override {
        sandbox_ = std::make_unique<Sandbox>(false);
        ASSERT_TRUE(sandbox_->ready()) << sandbox_->problem();
        marker_ = sandbox_->root() + "/../marker";
        statusBefore_ = sandbox_->statusText();
        fs::create_directories(ZMAPTManager::downloadsDirectory());
        inside_ = ZMAPTManager::downloadsDirectory() + "/com.example.alpha_1.0_all.deb";
        fs::copy_file(Repository::shared().archive("com.example.alpha_1.0_all.deb"), inside_);
    }
    void TearDown() override { EXPECT_TRUE(sandbox_->hostStatusUnchanged()); }

    ZMCommandOutput run(std::vector<std::string> arguments) {
        ZMResult<ZMCommandOutput> result;
        offMain([&] { result = ZMCommandRunner::runHelper(arguments); });
        EXPECT_TRUE(result.ok());
        return result.ok() ? *result.value : ZMCommandOutput{};
    }
    std::vector<std::string> with(std::vector<std::string> rest) {
        std::vector<std::string> all = {sandbox_->tree(), sandbox_->root()};
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    }
    // Refused, said so, and nothing ran: no marker, no dpkg log, status as before.
    void expectRefused(const std::vector<std::string>& arguments) {
        ZMCommandOutput out = run(arguments);
        EXPECT_EQ(out.exitStatus, ZMCommandRunner::kHelperRefused) << out.standardError;
        EXPECT_EQ(out.standardError.rfind("vostrelle-helper: refused: ", 0), 0u) << out.standardError;
        EXPECT_EQ(out.standardError.find('\n'), out.standardError.size() - 1) << "one line, control characters escaped";
        EXPECT_TRUE(out.standardOutput.empty()) << out.standardOutput;
        EXPECT_FALSE(fs::exists(marker_));
        EXPECT_FALSE(fs::exists(sandbox_->root() + "/var/log/dpkg.log"));
        EXPECT_EQ(sandbox_->statusText(), statusBefore_);
    }

    std::unique_ptr<Sandbox> sandbox_;
    std::string marker_, statusBefore_, inside_;
};

}  // namespace

TEST_F(Helper, RefusesProgramsOptionsAndRootsItDoesNotKnow) {
    std::string touch = "touch " + marker_;
    expectRefused(with({"sh", "-c", touch}));
    expectRefused(with({"/bin/sh", "-c", touch}));
    expectRefused(with({"apt-get", "-o", "APT::Update::Pre-Invoke::=" + touch, "update"}));
    expectRefused(with({"apt-get", "-oDir::State::status=/var/lib/dpkg/status", "-s", "install", "com.example.alpha"}));
    expectRefused(with({"apt-get", "-s", "install", "-o", "Dir::State::status=/var/lib/dpkg/status", "com.example.alpha"}));
    expectRefused(with({"apt-get", "source", "com.example.alpha"}));
    expectRefused(with({"apt-get", "update", "com.example.alpha"}));
    expectRefused(with({"dpkg", "--root=/", "-i", inside_}));
    expectRefused(with({"dpkg", "-i", "--root=/", inside_}));
    expectRefused(with({"dpkg", "--purge", "com.example.alpha"}));
    expectRefused(with({"apt-mark", "auto", "com.example.alpha"}));
    expectRefused(with({"dpkg-deb", "-x", inside_, "/"}));
    expectRefused({});
    expectRefused({sandbox_->tree()});
    expectRefused({"relative/tree", sandbox_->root(), "apt-get", "update"});

    // Pointing the root elsewhere than apt.conf says: refused, not run against "/".
    expectRefused({sandbox_->tree(), "/", "apt-get", "-s", "install", "com.example.alpha"});
    // An apt.conf that reads other configuration is not accepted either.
    std::string conf = readFile(sandbox_->tree() + "/apt.conf");
    TestSupport::writeFile(sandbox_->tree() + "/apt.conf",
                           conf.substr(0, conf.find("Dir::Etc::parts")) + conf.substr(conf.find("Dir::State::status")));
    expectRefused(with({"apt-get", "-s", "install", "com.example.alpha"}));
}

TEST_F(Helper, RefusesNamesVersionsAndPathsOutsideTheGrammar) {
    expectRefused(with({"apt-get", "-s", "install", "--", "x;touch " + marker_}));
    expectRefused(with({"apt-get", "-s", "install", "x;rm -rf"}));
    expectRefused(with({"apt-get", "-s", "install", "com.example.alpha=1.0\nfoo"}));
    expectRefused(with({"apt-get", "-s", "install", "com.example.alpha=$(touch " + marker_ + ")"}));
    expectRefused(with({"apt-get", "-s", "install", "Com.Example.Alpha"}));
    expectRefused(with({"apt-get", "-s", "install", "-com.example.alpha"}));
    expectRefused(with({"apt-get", "-s", "remove", "com.example.alpha=1.0"}));
    expectRefused(with({"apt-get", "-s", "install", "com.example.*"}));
    expectRefused(with({"apt-mark", "hold", "com.example.alpha=1.0"}));

    // Archives: only inside the private tree or the downloads directory, even through ../ or a link.
    TestSupport::TempDir outside;
    std::string evil = outside.file("evil.deb");
    fs::copy_file(inside_, evil);
    std::string climbing = sandbox_->tree() + "/var/cache/apt/archives";
    for (fs::path p = climbing; p != "/"; p = p.parent_path()) climbing += "/..";
    climbing += evil;
    expectRefused(with({"dpkg", "-i", climbing}));
    expectRefused(with({"apt-get", "-y", "install", climbing}));
    fs::create_symlink(evil, ZMAPTManager::downloadsDirectory() + "/link.deb");
    expectRefused(with({"dpkg", "-i", ZMAPTManager::downloadsDirectory() + "/link.deb"}));
    expectRefused(with({"dpkg", "-i", "relative.deb"}));
    expectRefused(with({"dpkg-deb", "-f", inside_, "Package;id"}));
}

TEST_F(Helper, RunsTheShapesTheDriverUses) {
    // The same archive the refusals used is accepted from the downloads directory.
    ZMCommandOutput field = run(with({"dpkg-deb", "-f", inside_, "Package", "Version"}));
    EXPECT_EQ(field.exitStatus, 0) << field.standardError;
    EXPECT_EQ(field.standardOutput, "Package: com.example.alpha\nVersion: 1.0\n");

    ZMCommandOutput arch = run(with({"dpkg", "--print-architecture"}));
    EXPECT_EQ(arch.exitStatus, 0);
    EXPECT_EQ(arch.standardOutput, ZMAPTManager::hostArchitecture() + "\n");

    // dpkg -i acts on the sandbox root only, with its own log.
    ZMCommandOutput installed = run(with({"dpkg", "-i", inside_}));
    EXPECT_EQ(installed.exitStatus, 0) << installed.standardError;
    EXPECT_EQ(sandbox_->statusOf("com.example.alpha"), "install ok installed");
    EXPECT_TRUE(fs::exists(sandbox_->root() + "/var/log/dpkg.log"));

}

// Installed setuid-root, the helper works for an unprivileged caller on a tree
// of the caller's own, and only on such a tree.
TEST(HelperSetuid, BecomesRootForTheOwnerOfTheTree) {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
    const uid_t nobody = 65534;
    TestSupport::TempDir dir;
    fs::permissions(dir.path(), fs::perms(0755));
    std::string helper = dir.file("vostrelle-helper");
    fs::copy_file(ZMCommandRunner::helperPath(), helper);
    ASSERT_EQ(chmod(helper.c_str(), 04755), 0);
    std::string tree = dir.file("support/APT"), downloads = dir.file("support/Downloads"), root = dir.file("root");
    fs::create_directories(tree);
    fs::create_directories(downloads);
    fs::create_directories(root + "/var/lib/dpkg");
    fs::create_directories(root + "/var/log");
    TestSupport::writeFile(root + "/var/lib/dpkg/status", "");
    std::string deb = downloads + "/com.example.beta_1.1_all.deb";
    fs::copy_file(Repository::shared().archive("com.example.beta_1.1_all.deb"), deb);
    for (const auto& p : {dir.file("support"), tree, downloads, deb}) ASSERT_EQ(chown(p.c_str(), nobody, nobody), 0);

    auto asNobody = [&](const std::string& treeArgument) {
        auto result = ZMCommandRunner::capture({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                                helper, treeArgument, root, "dpkg", "-i", deb});
        EXPECT_TRUE(result.ok());
        return result.ok() ? *result.value : ZMCommandOutput{};
    };
    // The root directory belongs to root: only a real switch to root can install there.
    ZMCommandOutput installed = asNobody(tree);
    EXPECT_EQ(installed.exitStatus, 0) << installed.standardError;
    EXPECT_NE(TestSupport::readFile(root + "/var/lib/dpkg/status").find("Package: com.example.beta\nStatus: install ok installed"),
              std::string::npos);

    std::string foreign = dir.file("foreign");
    fs::create_directories(foreign);
    ZMCommandOutput refused = asNobody(foreign);
    EXPECT_EQ(refused.exitStatus, ZMCommandRunner::kHelperRefused);
    EXPECT_NE(refused.standardError.find("does not belong to the calling user"), std::string::npos);

    // Without the setuid bit an unprivileged caller is told how to run it.
    ASSERT_EQ(chmod(helper.c_str(), 0755), 0);
    ZMCommandOutput plain = asNobody(tree);
    EXPECT_EQ(plain.exitStatus, ZMCommandRunner::kHelperNotRoot);
}
