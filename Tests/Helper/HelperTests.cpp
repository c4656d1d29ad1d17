// The privileged helper, run as a real process: it refuses every request
// outside the shapes the driver uses before running anything, and runs those
// shapes on the sandbox only.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "Framework/APTTestRepository.h"
#include "Support/FlatRepository.h"
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
        sandbox_ = std::make_unique<Sandbox>(false, Sandbox::Commands::HostileOnPurpose);
        ASSERT_TRUE(sandbox_->ready()) << sandbox_->problem();
        marker_ = sandbox_->root() + "/../marker";
        statusBefore_ = sandbox_->statusText();
        downloads_ = ZMAPTManager::downloadsDirectory();
        fs::create_directories(downloads_);
        inside_ = place(downloads_ + "/com.example.alpha_1.0_all.deb");
    }
    void TearDown() override { EXPECT_EQ(sandbox_->hostProblem(), ""); }

    static std::string place(const std::string& path) {
        fs::create_directories(fs::path(path).parent_path());
        fs::copy_file(Repository::shared().archive("com.example.alpha_1.0_all.deb"), path);
        return path;
    }
    ZMCommandOutput run(const std::vector<std::string>& arguments) {
        ZMResult<ZMCommandOutput> result;
        offMain([&] { result = ZMCommandRunner::runHelper(arguments); });
        EXPECT_TRUE(result.ok());
        return result.ok() ? *result.value : ZMCommandOutput{};
    }
    std::vector<std::string> with(std::vector<std::string> rest) const {
        std::vector<std::string> all = {sandbox_->tree(), sandbox_->root()};
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    }
    // Refused, said so on one line, and nothing ran: no marker, no dpkg log, status as before.
    void expectRefused(const std::vector<std::string>& arguments, const std::string& why) {
        ZMCommandOutput out = run(arguments);
        EXPECT_EQ(out.exitStatus, ZMCommandRunner::kHelperRefused) << why << ": " << out.standardError;
        EXPECT_EQ(out.standardError.rfind("vostrelle-helper: refused: ", 0), 0u) << why << ": " << out.standardError;
        EXPECT_EQ(out.standardError.find('\n'), out.standardError.size() - 1) << why << ": control characters escaped";
        EXPECT_TRUE(out.standardOutput.empty()) << why;
        EXPECT_FALSE(fs::exists(marker_)) << why;
        EXPECT_FALSE(fs::exists(sandbox_->root() + "/var/log/dpkg.log")) << why;
        EXPECT_EQ(sandbox_->statusText(), statusBefore_) << why;
    }

    std::unique_ptr<Sandbox> sandbox_;
    std::string marker_, statusBefore_, downloads_, inside_;
};

}  // namespace

TEST_F(Helper, RefusesProgramsOptionsNamesAndRootsOutsideItsGrammar) {
    const std::string touch = "touch " + marker_;
    const std::string tree = sandbox_->tree(), root = sandbox_->root();
    TestSupport::TempDir elsewhere;
    const std::string outside = place(elsewhere.file("outside.deb"));
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"a shell", with({"sh", "-c", touch})},
        {"a shell by path", with({"/bin/sh", "-c", touch})},
        {"apt option", with({"apt-get", "-o", "APT::Update::Pre-Invoke::=" + touch, "update"})},
        {"glued apt option", with({"apt-get", "-oDir::State::status=/var/lib/dpkg/status", "-s", "install", "x.y"})},
        {"option after the command", with({"apt-get", "-s", "install", "-o", "Dir::State::status=/", "x.y"})},
        {"apt-get source", with({"apt-get", "source", "com.example.alpha"})},
        {"update with operands", with({"apt-get", "update", "com.example.alpha"})},
        {"dpkg root option", with({"dpkg", "--root=/", "-i", inside_})},
        {"dpkg root option later", with({"dpkg", "-i", "--root=/", inside_})},
        {"dpkg --purge", with({"dpkg", "--purge", "com.example.alpha"})},
        {"apt-mark auto", with({"apt-mark", "auto", "com.example.alpha"})},
        {"dpkg-deb -x", with({"dpkg-deb", "-x", inside_, "/"})},
        {"no arguments", {}},
        {"no root", {tree}},
        {"relative tree", {"relative/tree", root, "apt-get", "update"}},
        // Every archive on the disk would lie inside such a tree.
        {"/ as the tree", {"/", root, "dpkg", "-i", outside}},
        {"a tree that resolves to /", {"/usr/..", root, "dpkg", "-i", outside}},
        {"a root apt.conf does not name", {tree, "/", "apt-get", "-s", "install", "com.example.alpha"}},
        {"command in a name", with({"apt-get", "-s", "install", "--", "x;touch " + marker_})},
        {"blank in a name", with({"apt-get", "-s", "install", "x;rm -rf"})},
        {"newline in a version", with({"apt-get", "-s", "install", "com.example.alpha=1.0\nfoo"})},
        {"substitution in a version", with({"apt-get", "-s", "install", "com.example.alpha=$(" + touch + ")"})},
        // A version begins with a digit: a word or an option is not one.
        {"a word for a version", with({"apt-get", "-s", "install", "com.example.alpha=latest"})},
        {"an option for a version", with({"apt-get", "-s", "install", "com.example.alpha=-x"})},
        {"a word for a version to show", with({"apt-cache", "show", "com.example.alpha=latest"})},
        {"capitals", with({"apt-get", "-s", "install", "Com.Example.Alpha"})},
        {"leading hyphen", with({"apt-get", "-s", "install", "-com.example.alpha"})},
        {"version on remove", with({"apt-get", "-s", "remove", "com.example.alpha=1.0"})},
        {"glob", with({"apt-get", "-s", "install", "com.example.*"})},
        {"version on apt-mark", with({"apt-mark", "hold", "com.example.alpha=1.0"})},
        {"field name with a command", with({"dpkg-deb", "-f", inside_, "Package;id"})},
    };
    for (const auto& [why, arguments] : cases) expectRefused(arguments, why);

    // An apt.conf that reads other configuration is not accepted either.
    std::string conf = readFile(tree + "/apt.conf");
    TestSupport::writeFile(tree + "/apt.conf",
                           conf.substr(0, conf.find("Dir::Etc::parts")) + conf.substr(conf.find("Dir::State::status")));
    expectRefused(with({"apt-get", "-s", "install", "com.example.alpha"}), "apt.conf reading other files");
}

// Archives are taken only from inside the private tree or the downloads
// directory, judged after links and ".." are resolved.
TEST_F(Helper, ArchivePathsResolveInsideTheTreeOrTheDownloadsOnly) {
    const std::string tree = sandbox_->tree();
    const std::string support = fs::path(tree).parent_path().string();
    TestSupport::TempDir outside;
    const std::string evil = place(outside.file("evil.deb"));
    auto climbOut = [](std::string from) {  // from/../../.. up to "/"
        for (fs::path p = from; p != "/"; p = p.parent_path()) from += "/..";
        return from;
    };
    fs::create_symlink(evil, downloads_ + "/link.deb");
    fs::create_directory_symlink(outside.path(), downloads_ + "/folder");
    const std::string inTree = place(tree + "/var/cache/apt/archives/com.example.alpha_1.0_all.deb");
    fs::create_symlink(inTree, downloads_ + "/to-tree.deb");
    fs::copy_file(inside_, downloads_ + "/not-an-archive");
    fs::create_symlink(downloads_ + "/not-an-archive", tree + "/looks.deb");
    fs::create_directories(downloads_ + "/directory.deb");

    struct Case {
        const char* why;
        std::string path;
        bool accepted;
    };
    const Case cases[] = {
        {"in the downloads", inside_, true},
        {"in the tree", inTree, true},
        {"'..' that stays inside", tree + "/var/../var/cache/apt/archives/com.example.alpha_1.0_all.deb", true},
        {"a link from the downloads into the tree", downloads_ + "/to-tree.deb", true},
        {"climbing out of the tree with '..'", climbOut(tree + "/var/cache/apt/archives") + evil, false},
        {"climbing out of the downloads with '..'", climbOut(downloads_) + evil, false},
        {"sibling of the tree", place(support + "/APTevil/x.deb"), false},
        {"sibling of the downloads", place(support + "/Downloadsevil/x.deb"), false},
        {"'..' into a sibling", downloads_ + "/../Downloadsevil/x.deb", false},
        {"a link leading out", downloads_ + "/link.deb", false},
        {"a linked folder leading out", downloads_ + "/folder/evil.deb", false},
        {"a .deb link to a file without the suffix", tree + "/looks.deb", false},
        {"no .deb suffix", downloads_ + "/not-an-archive", false},
        {"a directory", downloads_ + "/directory.deb", false},
        {"missing", downloads_ + "/missing.deb", false},
        {"relative", "com.example.alpha_1.0_all.deb", false},
    };
    for (const auto& c : cases) {
        if (!c.accepted) {
            expectRefused(with({"dpkg-deb", "-f", c.path, "Package"}), c.why);
            expectRefused(with({"dpkg", "-i", c.path}), c.why);
            expectRefused(with({"apt-get", "-y", "install", c.path}), c.why);
            continue;
        }
        ZMCommandOutput field = run(with({"dpkg-deb", "-f", c.path, "Package", "Version"}));
        EXPECT_EQ(field.exitStatus, 0) << c.why << ": " << field.standardError;
        EXPECT_EQ(field.standardOutput, "Package: com.example.alpha\nVersion: 1.0\n") << c.why;
    }
}

TEST_F(Helper, RunsTheShapesTheDriverUsesOnTheSandboxOnly) {
    ZMCommandOutput arch = run(with({"dpkg", "--print-architecture"}));
    EXPECT_EQ(arch.exitStatus, 0);
    EXPECT_EQ(arch.standardOutput, ZMAPTManager::hostArchitecture() + "\n");

    ZMCommandOutput installed = run(with({"dpkg", "-i", inside_}));
    EXPECT_EQ(installed.exitStatus, 0) << installed.standardError;
    EXPECT_EQ(sandbox_->statusOf("com.example.alpha"), "install ok installed");
    EXPECT_TRUE(fs::exists(sandbox_->root() + "/var/log/dpkg.log"));
}

// The program run as root inherits the standard descriptors and, when asked
// for, the status pipe; nothing else the caller had open reaches it (nor the
// maintainer scripts dpkg runs).
TEST_F(Helper, OnlyTheAskedForStatusPipeReachesTheProgram) {
    TestSupport::TempDir work, seen;
    FlatRepository::Deb deb{"com.example.descriptors", "1.0", ""};
    deb.postinst = "{ echo reached >&3; } 2>/dev/null\n{ echo reached >&4; } 2>/dev/null\nexit 0";
    const std::string archive = downloads_ + "/" + FlatRepository::buildDeb(work.path(), downloads_, deb);
    for (const bool statusPipe : {false, true}) {
        SCOPED_TRACE(statusPipe ? "with --status-fd" : "without --status-fd");
        const std::string three = seen.file(std::string("3-") + (statusPipe ? "pipe" : "none"));
        const std::string four = seen.file(std::string("4-") + (statusPipe ? "pipe" : "none"));
        TestSupport::writeFile(three, "");
        TestSupport::writeFile(four, "");
        // The caller holds descriptors 3 and 4 open when it starts the helper.
        std::vector<std::string> argv = {"/bin/sh", "-c", "three=$1 four=$2; shift 2; exec \"$@\" 3>>\"$three\" 4>>\"$four\"",
                                         "sh", three, four, ZMCommandRunner::helperPath()};
        if (statusPipe) argv.push_back("--status-fd");
        for (const auto& a : with({"dpkg", "-i", archive})) argv.push_back(a);
        ZMResult<ZMCommandOutput> ran;
        offMain([&] { ran = ZMCommandRunner::capture(argv); });
        ASSERT_TRUE(ran.ok());
        EXPECT_EQ(ran.value->exitStatus, 0) << ran.value->standardError;
        EXPECT_EQ(sandbox_->statusOf("com.example.descriptors"), "install ok installed");
        EXPECT_EQ(readFile(three), statusPipe ? "reached\n" : "") << "descriptor 3";
        EXPECT_EQ(readFile(four), "") << "descriptor 4";
    }
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

// ---- the configuration file and dpkg's forms ----------------------------------------------

// apt.conf decides what apt runs as root: only a regular file that nobody but
// its owner may write is read.
TEST_F(Helper, AptConfIsReadOnlyWhenNobodyButItsOwnerMayWriteIt) {
    const std::string conf = sandbox_->tree() + "/apt.conf";
    const std::string text = readFile(conf);
    struct Case {
        const char* why;
        std::function<void()> make;
        bool accepted;
    };
    auto withMode = [&](fs::perms mode) {
        return [&, mode] {
            fs::remove(conf);
            TestSupport::writeFile(conf, text);
            fs::permissions(conf, mode);
        };
    };
    const Case cases[] = {
        {"0644", withMode(fs::perms(0644)), true},
        {"0600", withMode(fs::perms(0600)), true},
        {"0444", withMode(fs::perms(0444)), true},
        {"0640", withMode(fs::perms(0640)), true},
        {"0646: others may write", withMode(fs::perms(0646)), false},
        {"0666: everybody may write", withMode(fs::perms(0666)), false},
        {"0602: others may write", withMode(fs::perms(0602)), false},
        {"0664: the group may write", withMode(fs::perms(0664)), false},
        {"0624: the group may write", withMode(fs::perms(0624)), false},
        {"0777", withMode(fs::perms(0777)), false},
        {"a link to a good file",
         [&] {
             fs::remove(conf);
             TestSupport::writeFile(conf + ".real", text);
             fs::permissions(conf + ".real", fs::perms(0644));
             fs::create_symlink(conf + ".real", conf);
         },
         false},
        {"a directory",
         [&] {
             fs::remove(conf);
             fs::create_directory(conf);
         },
         false},
        {"missing", [&] { fs::remove(conf); }, false},
    };
    for (const auto& c : cases) {
        c.make();
        for (const auto& program : {std::vector<std::string>{"apt-mark", "showhold"},
                                    std::vector<std::string>{"apt-get", "check"},
                                    std::vector<std::string>{"apt-cache", "policy"}}) {
            if (!c.accepted) {
                expectRefused(with(program), std::string(c.why) + " " + program[0]);
                continue;
            }
            ZMCommandOutput out = run(with(program));
            EXPECT_EQ(out.exitStatus, 0) << c.why << " " << program[0] << ": " << out.standardError;
        }
        fs::remove_all(conf);
        fs::remove(conf + ".real");
    }
    TestSupport::writeFile(conf, text);
    fs::permissions(conf, fs::perms(0644));
}

// dpkg runs in four shapes only; anything else, however close, is refused.
TEST_F(Helper, DpkgRunsOnlyItsFourShapes) {
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"--configure"},
        {"--configure", "com.example.alpha"},
        {"--configure", "--pending"},
        {"--configure", "-A"},
        {"--configure", "-a", "com.example.alpha"},
        {"--configure", "-a", "-a"},
        {"--configure", "-a", "--force-all"},
        {"-a", "--configure"},
        {"--configure=-a"},
        {"--configure", "-a\n"},
        {"--audit", "com.example.alpha"},
        {"--print-architecture", "--root=/"},
        {"--print-architecture", "--print-architecture"},
        {"-i"},
        {"-i", "--"},
        {"-i", "--force-all", inside_},
        {"--install", inside_},
        {"--unpack", inside_},
        {"-r", "com.example.alpha"},
        {"-P", "com.example.alpha"},
        {"--set-selections"},
        {"-l"},
    };
    for (const auto& args : refused) {
        std::vector<std::string> all = {"dpkg"};
        all.insert(all.end(), args.begin(), args.end());
        std::string shown;
        for (const auto& a : args) shown += " " + a;
        expectRefused(with(all), "dpkg" + shown);
    }
    for (const std::vector<std::string>& accepted :
         {std::vector<std::string>{"--configure", "-a"}, {"--audit"}, {"--print-architecture"}}) {
        std::vector<std::string> all = {"dpkg"};
        all.insert(all.end(), accepted.begin(), accepted.end());
        ZMCommandOutput out = run(with(all));
        EXPECT_EQ(out.exitStatus, 0) << accepted[0] << ": " << out.standardError;
    }
}
