#include "TestSupport.h"
#include "VostrelleBuildPaths.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSources.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "VostrellePersistentPreferences.h"
#include "Miscellaneous/ZMPaths.h"

namespace fs = std::filesystem;

namespace TestSupport {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "vostrelle-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

StderrCapture::StderrCapture() : file_(dir_.file("stderr")) {
    fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    int fd = open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
    dup2(fd, STDERR_FILENO);
    close(fd);
}

StderrCapture::~StderrCapture() { restore(); }

std::string StderrCapture::text() {
    restore();
    return readFile(file_);
}

std::string StderrCapture::soFar() const { return readFile(file_); }

void StderrCapture::restore() {
    if (saved_ < 0) return;
    fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
}

IsolatedEnvironment::IsolatedEnvironment() {
    fs::create_directories(support());
    fs::create_directories(targetRoot() + "/var/lib/dpkg");
    fs::create_directories(dir_.path() + "/log");
    ZMPaths::setApplicationSupport(support());
    ZMPaths::setLogDirectory(dir_.path() + "/log");
    ZMPaths::setTargetRoot(targetRoot());
}

IsolatedEnvironment::~IsolatedEnvironment() = default;

void resetSharedServices() {
    VostrellePersistentPreferences::resetForTesting();
    ZMRPackageManager::resetForTesting();
    ZMRSources::setReachabilityHook(nullptr);
    ZMLocalization::setLanguage("en");
    ZMLocalization::reload();
}

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    return Dispatch::MainLoop::instance().runUntil(pred, timeout);
}

void pumpMainLoop(std::chrono::milliseconds duration) { Dispatch::MainLoop::instance().runFor(duration); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string dataDirectory() { return VOSTRELLE_TEST_DATA_DIR; }

}  // namespace TestSupport
