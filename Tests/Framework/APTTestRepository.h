#pragma once
// A flat APT repository of small generated packages, served over loopback,
// built once per test run; and a sandbox (private tree + target root) per test.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Miscellaneous/ZMCommandRunner.h"
#include "Support/TestSupport.h"

namespace APTTest {

class Repository {
public:
    // The shared repository (built and served on first use).
    static Repository& shared();

    std::string url() const;       // http://127.0.0.1:<port>/repo/
    std::string otherUrl() const;  // the same packages under /other/
    std::string slowUrl() const;   // answers only after releaseSlow()
    // Makes the slow address hold its next request again.
    void rearmSlow();
    std::string archive(const std::string& fileName) const;  // path of a built .deb
    std::string indexPath() const;  // the uncompressed Packages index
    // Requests the server has answered so far.
    size_t requestCount() const;

    // The slow location's first request has arrived and is being held.
    bool slowRequestArrived() const;
    void releaseSlow();

    ~Repository();

private:
    Repository();
    struct State;
    std::unique_ptr<State> state_;
};

// The records the refresh would write for the shared repository under
// `location`: one ZMRPackage per package (its highest version) and one
// ZMRPackageVersion per stanza, into the default database.
void loadRecordsFromIndex(const std::string& location);

// The identifiers of the 20 small independent packages kept for timing runs.
std::vector<std::string> benchPackages();

// An architecture that is not this machine's ("arm64", or "amd64" on arm64).
std::string foreignArchitecture();

// Runs `body` on a thread of its own (helper commands refuse the main thread).
void offMain(const std::function<void()>& body);

// An isolated environment whose tree is prepared and lists the shared
// repository, refreshed. Guards the host: records what the host's dpkg status
// says of the repository's packages, and checks every helper command line the
// test runs while it lives.
class Sandbox {
public:
    // What the test's command lines may name. OnlyTheSandbox: a line naming
    // the host's root is refused before it runs, and counts against the test.
    // HostileOnPurpose: for tests of the helper's own refusals, which send
    // such lines on purpose; they reach the helper and do not count.
    enum class Commands { OnlyTheSandbox, HostileOnPurpose };
    explicit Sandbox(bool refresh = true, Commands commands = Commands::OnlyTheSandbox);
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;
    std::string tree() const;
    std::string root() const { return env_.targetRoot(); }
    std::string statusFile() const { return root() + "/var/lib/dpkg/status"; }
    std::string statusText() const { return TestSupport::readFile(statusFile()); }
    // The Status: line of a package in the sandbox status file, or "".
    std::string statusOf(const std::string& package) const;
    // What of the test reached the host, "" when nothing did: the host's dpkg
    // status gained, lost or changed one of the repository's packages, or a
    // command line of the test named the host's root. Changes of the host's
    // status that are no test's doing (another install on the machine) do not count.
    std::string hostProblem() const;
    // Whether the preparation (tree, sources list, update) worked, and why not.
    bool ready() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }

    struct CommandLog;

private:
    std::string problem_;
    TestSupport::IsolatedEnvironment env_;
    std::map<std::string, std::string> hostStanzas_;  // the repository's packages in the host's status
    std::shared_ptr<CommandLog> commands_;
};

}  // namespace APTTest
