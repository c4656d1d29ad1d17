#pragma once
// Helpers shared by the tests: temporary directories, driving the main loop,
// and an isolated application-support directory per test.
#include <chrono>
#include <functional>
#include <string>

namespace TestSupport {

// A fresh directory removed (with its contents) on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Points the application-support, log and target-root directories at a
// fresh temporary tree for the lifetime of the object.
class IsolatedEnvironment {
public:
    IsolatedEnvironment();
    ~IsolatedEnvironment();
    const std::string& root() const { return dir_.path(); }
    std::string support() const { return dir_.path() + "/support"; }
    std::string targetRoot() const { return dir_.path() + "/target"; }

private:
    TempDir dir_;
};

// Collects what is written to standard error (where log lines go) until
// text() is read or the object ends; writes from several threads stay whole
// (the file is opened for appending).
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string text();
    // What was written so far, still collecting (for waiting on a log line).
    std::string soFar() const;

private:
    void restore();
    TempDir dir_;
    std::string file_;
    int saved_ = -1;
};

// Fresh shared services for a test over the package database: preferences,
// package manager, no reachability override, the English string table.
void resetSharedServices();

// Runs the main loop until pred holds or the timeout passes.
bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Runs the main loop for the given time.
void pumpMainLoop(std::chrono::milliseconds duration = std::chrono::milliseconds(50));

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

// The directory of checked-in test data.
std::string dataDirectory();

}  // namespace TestSupport
