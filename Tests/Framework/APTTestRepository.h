#pragma once
// A flat APT repository of small generated packages, served over loopback,
// built once per test run; and a sandbox (private tree + target root) per test.
#include <functional>
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
// repository, refreshed. Records the host's dpkg status to compare at the end.
class Sandbox {
public:
    explicit Sandbox(bool refresh = true);
    ~Sandbox();
    std::string tree() const;
    std::string root() const { return env_.targetRoot(); }
    std::string statusFile() const { return root() + "/var/lib/dpkg/status"; }
    std::string statusText() const { return TestSupport::readFile(statusFile()); }
    // The Status: line of a package in the sandbox status file, or "".
    std::string statusOf(const std::string& package) const;
    // True when the host's /var/lib/dpkg/status is as it was at construction.
    bool hostStatusUnchanged() const;
    // Whether the preparation (tree, sources list, update) worked, and why not.
    bool ready() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }

private:
    std::string problem_;
    TestSupport::IsolatedEnvironment env_;
    std::string hostStatus_;
    long long hostModified_ = 0;
};

}  // namespace APTTest
