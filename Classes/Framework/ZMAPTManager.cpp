#include "ZMAPTManager.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMCommandRunner.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "ZMPipelineManager.h"

namespace fs = std::filesystem;

namespace {

std::string rootPrefix(const std::string& root) { return root == "/" ? std::string() : root; }

// The helper compares the root it is given, resolved, with the one apt.conf
// names: both are written resolved, so a root reached through a symbolic link
// still matches.
std::string resolved(const std::string& path) {
    std::error_code ec;
    auto canonical = fs::weakly_canonical(path, ec);
    std::string text = ec ? path : canonical.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Written beside the target and renamed over it, so that apt never reads a
// half-written file.
bool writeFileAtomically(const std::string& path, const std::string& content) {
    // A name of its own per write: two threads writing one file (refreshes
    // ending together) must not rename each other's half-written file away.
    static std::atomic<uint64_t> writes{0};
    std::string temporary = fmt::format("{}.new.{}.{}", path, ::getpid(), ++writes);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << content;
        if (!out.flush()) return false;
    }
    ::chmod(temporary.c_str(), 0644);
    std::error_code ec;
    fs::rename(temporary, path, ec);
    if (ec) ::unlink(temporary.c_str());
    return !ec;
}

std::string sourcesListPath() { return ZMAPTManager::treePath() + "/etc/apt/sources.list"; }

std::string withTrailingSlash(std::string s) {
    if (s.empty() || s.back() != '/') s += '/';
    return s;
}

std::string sourcesLine(const std::string& location) { return "deb [trusted=yes] " + withTrailingSlash(location) + " ./"; }

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream ss(text);
    std::string line;
    while (std::getline(ss, line)) lines.push_back(line);
    return lines;
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool isNumber(const std::string& s) {
    if (s.empty()) return false;
    bool digit = false;
    for (char c : s) {
        if (c >= '0' && c <= '9') digit = true;
        else if (c != '.') return false;
    }
    return digit;
}

ZMResult<ZMCommandOutput> commandFailure(const std::string& message) {
    return ZMResult<ZMCommandOutput>::failure(ZMError::make(ZMError::CommandFailed, message));
}

ZMCommandRunner::Handlers handlersFor(const ZMAPTManager::OutputHandler& output, const ZMAPTManager::StatusHandler& status) {
    ZMCommandRunner::Handlers handlers;
    if (output) {
        handlers.standardOutput = [output](const std::string& line) { output(line, false); };
        handlers.standardError = [output](const std::string& line) { output(line, true); };
    }
    if (status) {
        handlers.statusFd = [status](const std::string& line) {
            if (auto parsed = ZMAPTManager::parseStatusLine(line)) status(*parsed);
        };
    }
    return handlers;
}

bool queueHas(const std::vector<ZMQueueItem>& queue, ZMQueueOperation op) {
    return std::any_of(queue.begin(), queue.end(), [op](const ZMQueueItem& i) { return i.operation == op; });
}

// Options every real run of a queue needs: downgrades are only allowed when
// the queue asks for one, a reinstall needs --reinstall.
std::vector<std::string> queueOptions(const std::vector<ZMQueueItem>& queue) {
    std::vector<std::string> options;
    if (queueHas(queue, ZMQueueOperation::Downgrade)) options.push_back("--allow-downgrades");
    if (queueHas(queue, ZMQueueOperation::Reinstall)) options.push_back("--reinstall");
    return options;
}

// Characters apt.conf cannot carry inside a quoted value.
bool safeForConfiguration(const std::string& path) {
    if (path.empty() || path[0] != '/') return false;
    for (unsigned char c : path)
        if (c < 0x20 || c == 0x7f || c == '"' || c == '\\' || c == '{' || c == '}' || c == ';') return false;
    return true;
}

}  // namespace

// ---- the private tree -------------------------------------------------------

std::string ZMAPTManager::treePath() { return resolved(ZMPaths::aptTree()); }
std::string ZMAPTManager::targetRoot() { return resolved(ZMPaths::targetRoot()); }
std::string ZMAPTManager::downloadsDirectory() { return ZMPaths::subdirectory("Downloads"); }

std::string ZMAPTManager::hostArchitecture() {
    static std::once_flag once;
    static std::string architecture;
    std::call_once(once, [] {
        auto result = ZMCommandRunner::capture({"/usr/bin/dpkg", "--print-architecture"});
        if (result && result.value->succeeded()) architecture = trim(result.value->standardOutput);
        if (architecture.empty()) {
            ZMLOG("dpkg --print-architecture failed; assuming amd64");
            architecture = "amd64";
        }
    });
    return architecture;
}

ZMResult<std::string> ZMAPTManager::aptConfiguration(const std::string& tree, const std::string& root,
                                                     const std::string& architecture) {
    if (!safeForConfiguration(tree) || !safeForConfiguration(root))
        return ZMResult<std::string>::failure(
            ZMError::make(ZMError::CommandFailed, "The APT tree or target root path cannot be written into apt.conf"));
    bool archOk = !architecture.empty() && std::all_of(architecture.begin(), architecture.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
    if (!archOk)
        return ZMResult<std::string>::failure(ZMError::make(ZMError::CommandFailed, "bad architecture " + architecture));
    std::string prefix = rootPrefix(root);
    std::string text;
    text += "// Written by Vostrelle at every launch; edits are lost.\n";
    text += "Dir \"" + withTrailingSlash(tree) + "\";\n";
    text += "Dir::State \"var/lib/apt/\";\nDir::Cache \"var/cache/apt/\";\nDir::Etc \"etc/apt/\";\nDir::Log \"var/log/apt/\";\n";
    // Read nothing but this file: no apt.conf.d fragments, and no second read of it as the main file.
    text += "Dir::Etc::main \"/dev/null\";\nDir::Etc::parts \"/dev/null\";\n";
    text += "Dir::State::status \"" + prefix + "/var/lib/dpkg/status\";\n";
    text += "Dir::Bin::dpkg \"/usr/bin/dpkg\";\n";
    text += "APT::Architecture \"" + architecture + "\";\nAPT::Architectures { \"" + architecture + "\"; };\n";
    text += "Acquire::Languages \"none\";\n";
    text += "APT::Sandbox::User \"root\";\n";
    // --root must agree with Dir::State::status; dpkg's log does not follow --root by itself.
    text += "DPkg::Options { \"--root=" + root + "\"; \"--log=" + prefix +
            "/var/log/dpkg.log\"; \"--force-script-chrootless\"; };\n";
    return ZMResult<std::string>::success(std::move(text));
}

ZMResult<bool> ZMAPTManager::prepareTree() {
    std::string tree = treePath();
    std::string prefix = rootPrefix(targetRoot());
    for (const std::string& dir :
         {tree + "/etc/apt/sources.list.d", tree + "/etc/apt/apt.conf.d", tree + "/etc/apt/preferences.d",
          tree + "/var/lib/apt/lists/partial", tree + "/var/cache/apt/archives/partial",
          // Missing, apt fails with status 100 after dpkg has already installed.
          tree + "/var/log/apt", prefix + "/var/lib/dpkg", prefix + "/var/log", downloadsDirectory()}) {
        if (!ZMPaths::createDirectories(dir)) {
            ZMLOG("could not create {}", dir);
            return ZMResult<bool>::failure(ZMError::make(ZMError::CommandFailed, "could not create " + dir));
        }
    }
    std::string status = prefix + "/var/lib/dpkg/status";
    if (!fs::exists(status)) std::ofstream(status).flush();

    // Resolved again now that every directory exists.
    tree = treePath();
    auto configuration = aptConfiguration(tree, targetRoot(), hostArchitecture());
    if (!configuration) return ZMResult<bool>::failure(*configuration.error);
    if (!writeFileAtomically(tree + "/apt.conf", *configuration.value))
        return ZMResult<bool>::failure(ZMError::make(ZMError::CommandFailed, "could not write apt.conf"));
    if (!fs::exists(sourcesListPath())) writeFileAtomically(sourcesListPath(), "");
    return ZMResult<bool>::success(true);
}

bool ZMAPTManager::isAcceptableSourceLocation(const std::string& location) {
    std::string rest;
    if (startsWith(location, "http://")) rest = location.substr(7);
    else if (startsWith(location, "https://")) rest = location.substr(8);
    else return false;
    if (rest.empty() || location.size() > 2048) return false;
    // Host: letters, digits, dots, dashes, an optional port.
    size_t slash = rest.find('/');
    std::string host = rest.substr(0, slash);
    if (host.empty() || host[0] == '.' || host[0] == '-' || host[0] == ':') return false;
    int colons = 0;
    for (char c : host) {
        if (c == ':') ++colons;
        else if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') return false;
    }
    if (colons > 1 || host.back() == ':') return false;
    // Path: the unreserved characters and a few harmless ones. No whitespace,
    // quotes, brackets, '$' (apt expands variables in sources lines) or '#'.
    if (slash != std::string::npos) {
        for (char c : rest.substr(slash)) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && std::string_view("/-._~%+,=@:").find(c) == std::string_view::npos)
                return false;
        }
    }
    return true;
}

ZMResult<size_t> ZMAPTManager::writeSourcesList(const std::vector<std::string>& locations) {
    std::string text;
    std::set<std::string> seen;
    size_t count = 0;
    for (const auto& location : locations) {
        if (!isAcceptableSourceLocation(location)) {
            std::string shown = location;
            std::replace_if(shown.begin(), shown.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
            ZMLOG("skipping source location that is not a plain http(s) URL: {}", shown);
            continue;
        }
        std::string line = sourcesLine(location);
        if (!seen.insert(line).second) continue;
        text += line + "\n";
        ++count;
    }
    // Written only when it changes: refreshes ending together all rewrite it.
    static std::mutex writing;
    std::lock_guard lock(writing);
    std::error_code ec;
    if (fs::exists(sourcesListPath(), ec) && readWholeFile(sourcesListPath()) == text)
        return ZMResult<size_t>::success(count);
    noteListsChanged();
    if (!ZMPaths::createDirectories(treePath() + "/etc/apt") || !writeFileAtomically(sourcesListPath(), text))
        return ZMResult<size_t>::failure(ZMError::make(ZMError::CommandFailed, "could not write the sources list"));
    return ZMResult<size_t>::success(count);
}

// apt's URItoFileName: the URI without its scheme and credentials, specials
// and '_' escaped as %xx, then '/' turned into '_'.
std::string ZMAPTManager::listFilePrefix(const std::string& location) {
    std::string uri = withTrailingSlash(location) + "./";
    size_t scheme = uri.find("://");
    if (scheme != std::string::npos) uri = uri.substr(scheme + 3);
    size_t at = uri.find('@');
    if (at != std::string::npos && at < uri.find('/')) uri = uri.substr(at + 1);
    static const std::string bad = "\\|{}[]<>\"^~_=!@#$%^&*";
    std::string out;
    for (unsigned char c : uri) {
        if (bad.find(static_cast<char>(c)) != std::string::npos || c <= 0x20 || c >= 0x7f) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    std::replace(out.begin(), out.end(), '/', '_');
    return out;  // e.g. "127.0.0.1:8765_repo_._"
}

void ZMAPTManager::purgeSourceFromSandbox(const std::string& location) {
    std::string line = sourcesLine(location);
    std::string current = readWholeFile(sourcesListPath());
    std::string kept;
    for (const auto& l : splitLines(current))
        if (trim(l) != line && !l.empty()) kept += l + "\n";
    if (kept != current) writeFileAtomically(sourcesListPath(), kept);

    std::string prefix = listFilePrefix(location);
    std::error_code ec;
    for (const std::string& dir : {treePath() + "/var/lib/apt/lists", treePath() + "/var/lib/apt/lists/partial"}) {
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            if (!entry.is_regular_file(ec)) continue;
            if (startsWith(entry.path().filename().string(), prefix)) {
                fs::remove(entry.path(), ec);
            }
        }
    }
    ZMLOG("purged {} from the private tree", location);
}

void ZMAPTManager::cleanArchives() {
    std::error_code ec;
    std::string archives = treePath() + "/var/cache/apt/archives";
    for (const std::string& dir : {archives, archives + "/partial"}) {
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            std::string name = entry.path().filename().string();
            if (!entry.is_regular_file(ec)) continue;
            if (dir != archives || (name.size() > 4 && name.compare(name.size() - 4, 4, ".deb") == 0))
                fs::remove(entry.path(), ec);
        }
    }
}

// ---- names ----------------------------------------------------------------------

bool ZMAPTManager::isValidPackageName(const std::string& name) {
    if (name.size() < 2 || name.size() > 256) return false;
    auto lowerAlnum = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
    if (!lowerAlnum(name[0])) return false;
    return std::all_of(name.begin(), name.end(), [&](char c) { return lowerAlnum(c) || c == '+' || c == '.' || c == '-'; });
}

bool ZMAPTManager::isValidVersion(const std::string& version) {
    if (version.empty() || version.size() > 256 || !(version[0] >= '0' && version[0] <= '9')) return false;
    return std::all_of(version.begin(), version.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '~' || c == '-' || c == ':';
    });
}

ZMResult<std::vector<std::string>> ZMAPTManager::queueArguments(const std::vector<ZMQueueItem>& queue) {
    std::vector<std::string> operands;
    for (const auto& item : queue) {
        if (!isValidPackageName(item.identifier))
            return ZMResult<std::vector<std::string>>::failure(
                ZMError::make(ZMError::CommandFailed, "Refused package name \"" + item.identifier + "\""));
        if (!item.version.empty() && !isValidVersion(item.version))
            return ZMResult<std::vector<std::string>>::failure(ZMError::make(
                ZMError::CommandFailed, "Refused version \"" + item.version + "\" of " + item.identifier));
        switch (item.operation) {
            case ZMQueueOperation::Remove:
                operands.push_back(item.identifier + "-");
                break;
            case ZMQueueOperation::Downgrade:
                if (item.version.empty())
                    return ZMResult<std::vector<std::string>>::failure(
                        ZMError::make(ZMError::CommandFailed, "A downgrade of " + item.identifier + " needs a version"));
                [[fallthrough]];
            default:
                operands.push_back(item.version.empty() ? item.identifier : item.identifier + "=" + item.version);
        }
    }
    return ZMResult<std::vector<std::string>>::success(std::move(operands));
}

// ---- commands -------------------------------------------------------------------

std::string ZMAPTManager::failureMessage(const ZMCommandOutput& output) {
    std::string message;
    for (const auto& line : splitLines(output.standardError)) {
        if (startsWith(line, "E: ") || startsWith(line, "dpkg: error") || startsWith(line, "vostrelle-helper: ")) {
            if (!message.empty()) message += "\n";
            message += line;
        }
    }
    if (message.empty()) {
        auto lines = splitLines(output.standardError);
        while (!lines.empty() && trim(lines.back()).empty()) lines.pop_back();
        if (!lines.empty()) message = lines.back();
    }
    if (message.empty())
        message = output.signal ? "killed by signal " + std::to_string(output.signal)
                                : "exited with status " + std::to_string(output.exitStatus);
    return message;
}

ZMResult<ZMCommandOutput> ZMAPTManager::run(const std::string& program, const std::vector<std::string>& arguments,
                                            const OutputHandler& output, const StatusHandler& status) {
    std::vector<std::string> helperArguments = {treePath(), targetRoot(), program};
    helperArguments.insert(helperArguments.end(), arguments.begin(), arguments.end());
    auto result = ZMCommandRunner::runHelper(helperArguments, handlersFor(output, status));
    if (!result) return result;
    if (!result.value->succeeded()) {
        std::string message = failureMessage(*result.value);
        ZMLOG("{} failed: {}", program, message);
        return commandFailure(message);
    }
    return result;
}

ZMResult<ZMCommandOutput> ZMAPTManager::update(const OutputHandler& output) {
    return run("apt-get", {"update"}, output);
}

namespace {
// `apt-get -s <options> install -- <operands>`, read into its six lists.
ZMResult<ZMDryRunResult> simulate(const std::vector<std::string>& options, const std::vector<std::string>& operands) {
    std::vector<std::string> helperArguments = {ZMAPTManager::treePath(), ZMAPTManager::targetRoot(), "apt-get", "-s"};
    helperArguments.insert(helperArguments.end(), options.begin(), options.end());
    helperArguments.push_back("install");
    helperArguments.push_back("--");
    helperArguments.insert(helperArguments.end(), operands.begin(), operands.end());
    auto result = ZMCommandRunner::runHelper(helperArguments);
    if (!result) return ZMResult<ZMDryRunResult>::failure(*result.error);
    const ZMCommandOutput& output = *result.value;
    // apt-get answers an unresolvable queue with status 100 and its reasons;
    // anything else (the helper refusing, a signal) means it did not resolve.
    if (!output.succeeded() && !(output.signal == 0 && output.exitStatus == 100))
        return ZMResult<ZMDryRunResult>::failure(ZMError::make(ZMError::CommandFailed, ZMAPTManager::failureMessage(output)));
    ZMDryRunResult parsed = ZMAPTManager::parseDryRun(output.standardOutput, output.standardError);
    if (!output.succeeded() && parsed.unmetDependencies.empty()) {
        ZMDependencyDescription unmet;
        unmet.operation = ZMDependencyOperation::Unmet;
        unmet.reason = ZMAPTManager::failureMessage(output);
        parsed.unmetDependencies.push_back(unmet);
    }
    return ZMResult<ZMDryRunResult>::success(std::move(parsed));
}
}  // namespace

ZMResult<ZMDryRunResult> ZMAPTManager::dryRun(const std::vector<ZMQueueItem>& queue) {
    auto operands = queueArguments(queue);
    if (!operands) return ZMResult<ZMDryRunResult>::failure(*operands.error);
    return simulate(queueOptions(queue), *operands.value);
}

ZMResult<ZMDryRunResult> ZMAPTManager::dryRunDebFile(const std::string& archive) {
    auto staged = stagedArchive(archive);
    if (!staged) return ZMResult<ZMDryRunResult>::failure(*staged.error);
    return simulate({}, {*staged.value});
}

void ZMAPTManager::dryRunAsync(std::vector<ZMQueueItem> queue, std::function<void(ZMResult<ZMDryRunResult>)> completion) {
    Dispatch::backgroundQueue([queue = std::move(queue), completion = std::move(completion)] {
        auto result = dryRun(queue);
        Dispatch::main([completion, result = std::move(result)] { completion(result); });
    });
}

namespace {
ZMResult<ZMCommandOutput> runQueue(const std::vector<ZMQueueItem>& queue, bool downloadOnly,
                                   const ZMAPTManager::OutputHandler& output, const ZMAPTManager::StatusHandler& status) {
    auto operands = ZMAPTManager::queueArguments(queue);
    if (!operands) return ZMResult<ZMCommandOutput>::failure(*operands.error);
    std::vector<std::string> arguments;
    if (downloadOnly) arguments.push_back("-d");
    arguments.push_back("-y");
    for (auto& o : queueOptions(queue)) arguments.push_back(o);
    arguments.push_back("install");
    arguments.push_back("--");
    arguments.insert(arguments.end(), operands.value->begin(), operands.value->end());
    return ZMAPTManager::run("apt-get", arguments, output, status);
}
}  // namespace

ZMResult<ZMCommandOutput> ZMAPTManager::installQueue(const std::vector<ZMQueueItem>& queue, const OutputHandler& output,
                                                     const StatusHandler& status) {
    return runQueue(queue, false, output, status);
}

ZMResult<ZMCommandOutput> ZMAPTManager::downloadQueue(const std::vector<ZMQueueItem>& queue, const OutputHandler& output,
                                                      const StatusHandler& status) {
    return runQueue(queue, true, output, status);
}

ZMResult<std::string> ZMAPTManager::stagedArchive(const std::string& path, bool copyAlways) {
    std::error_code ec;
    fs::path resolved = fs::canonical(path, ec);
    if (ec || !fs::is_regular_file(resolved, ec))
        return ZMResult<std::string>::failure(ZMError::make(ZMError::CommandFailed, "No such archive: " + path));
    // The helper only takes archives from our own directories; others are
    // copied in under a plain name of their own.
    std::string downloads = fs::canonical(downloadsDirectory(), ec).string();
    std::string tree = fs::canonical(treePath(), ec).string();
    auto inside = [&](const std::string& dir) {
        return !dir.empty() && startsWith(resolved.string(), dir + "/");
    };
    if (!copyAlways && (inside(downloads) || inside(tree))) return ZMResult<std::string>::success(resolved.string());
    std::string name = resolved.filename().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '+' && c != '~') c = '_';
    if (name.size() < 5 || name.compare(name.size() - 4, 4, ".deb") != 0) name += ".deb";
    static std::atomic<unsigned> counter{0};
    if (copyAlways) name = fmt::format("opened-{}-{}-{}", ::getpid(), ++counter, name);
    ZMPaths::createDirectories(downloadsDirectory());
    const std::string archive = downloadsDirectory() + "/" + name;
    fs::copy_file(resolved, archive, fs::copy_options::overwrite_existing, ec);
    if (ec)
        return ZMResult<std::string>::failure(
            ZMError::make(ZMError::CommandFailed, "Could not copy " + path + ": " + ec.message()));
    return ZMResult<std::string>::success(archive);
}

ZMResult<ZMCommandOutput> ZMAPTManager::installDebFile(const std::string& path, const OutputHandler& output,
                                                       const StatusHandler& status) {
    auto archive = stagedArchive(path);
    if (!archive) return ZMResult<ZMCommandOutput>::failure(*archive.error);
    return run("apt-get", {"-y", "install", "--", *archive.value}, output, status);
}

ZMResult<ZMCommandOutput> ZMAPTManager::fixBroken(const OutputHandler& output) {
    return run("apt-get", {"-y", "-f", "install"}, output);
}

bool ZMAPTManager::needsRepair() {
    std::ifstream in(rootPrefix(targetRoot()) + "/var/lib/dpkg/status");
    std::string line;
    while (std::getline(in, line)) {
        if (!startsWith(line, "Status:")) continue;
        std::istringstream words(line.substr(7));
        std::string want, flag, state;
        words >> want >> flag >> state;
        if (flag == "reinstreq") return true;
        if (state != "installed" && state != "not-installed" && state != "config-files") return true;
    }
    return false;
}

ZMResult<ZMCommandOutput> ZMAPTManager::hold(const std::string& identifier) {
    if (!isValidPackageName(identifier)) return commandFailure("Refused package name \"" + identifier + "\"");
    return run("apt-mark", {"hold", "--", identifier});
}

ZMResult<ZMCommandOutput> ZMAPTManager::unhold(const std::string& identifier) {
    if (!isValidPackageName(identifier)) return commandFailure("Refused package name \"" + identifier + "\"");
    return run("apt-mark", {"unhold", "--", identifier});
}

ZMResult<ZMCommandOutput> ZMAPTManager::rebuildCaches() { return run("apt-cache", {"gencaches"}); }

namespace {
std::atomic<uint64_t> listsGeneration{1};
std::atomic<uint64_t> cachesGeneration{0};  // of the lists the last rebuild that worked read
}  // namespace

void ZMAPTManager::noteListsChanged() { ++listsGeneration; }

bool ZMAPTManager::cachesAreCurrent() { return cachesGeneration.load() == listsGeneration.load(); }

std::shared_ptr<ZMFunctionTask> ZMAPTManager::cacheRebuildTask() {
    return ZMFunctionTask::make("apt.cache.rebuild", ZMPipelineCacheOps, ZMLocalizedString("Rebuilding caches"), [](ZMFunctionTask&) {
        const uint64_t generation = listsGeneration.load();
        // Housekeeping waits its turn: the user's command (a dry run, a queue
        // run) keeps the helper, and the rebuild must not fail, or make that
        // command fail, just because both came at once.
        constexpr int kAttempts = 3000;  // about ten minutes of 200 ms waits
        for (int attempt = 0;; ++attempt) {
            while (ZMCommandRunner::isBusy() && attempt < kAttempts) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                ++attempt;
            }
            auto result = rebuildCaches();
            if (result) {
                // Only forward: a slower rebuild of older lists must not claim newer ones.
                uint64_t built = cachesGeneration.load();
                while (built < generation && !cachesGeneration.compare_exchange_weak(built, generation)) {
                }
                return std::optional<ZMError>();
            }
            // Refused because another command started in between: wait again.
            if (!ZMCommandRunner::isBusy() || attempt >= kAttempts) return result.error;
        }
    });
}

ZMResult<bool> ZMAPTManager::repairIfNeeded(const OutputHandler& output) {
    if (!needsRepair()) return ZMResult<bool>::success(false);
    ZMLOG("the target root has partially installed packages; running apt-get -f install");
    auto result = fixBroken(output);
    if (!result) return ZMResult<bool>::failure(*result.error);
    return ZMResult<bool>::success(true);
}

// ---- parsing --------------------------------------------------------------------

std::optional<ZMAPTStatus> ZMAPTManager::parseStatusLine(const std::string& line) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) return std::nullopt;
    std::string kind = line.substr(0, colon);
    ZMAPTStatus status;
    if (kind == "dlstatus") status.kind = ZMAPTStatus::Kind::Download;
    else if (kind == "pmstatus") status.kind = ZMAPTStatus::Kind::Install;
    else if (kind == "pmerror") status.kind = ZMAPTStatus::Kind::Error;
    else if (kind == "pmconffile") status.kind = ZMAPTStatus::Kind::ConfigFile;
    else return std::nullopt;
    // kind:package:percent:message, where the package may carry ":arch" and
    // the message may contain colons: the percent is the first numeric field
    // after the package.
    std::vector<std::string> fields;
    size_t start = colon + 1;
    for (int i = 0; i < 3; ++i) {
        size_t next = line.find(':', start);
        if (next == std::string::npos) break;
        fields.push_back(line.substr(start, next - start));
        start = next + 1;
    }
    std::string rest = line.substr(start);
    if (fields.size() >= 2 && isNumber(fields[1]) && !fields[0].empty()) {
        status.package = fields[0];
        status.percent = std::stod(fields[1]);
        status.message = (fields.size() == 3 ? fields[2] + ":" : std::string()) + rest;
    } else if (fields.size() == 3 && isNumber(fields[2])) {
        status.package = fields[0] + ":" + fields[1];
        status.percent = std::stod(fields[2]);
        status.message = rest;
    } else {
        return std::nullopt;
    }
    return status;
}

ZMDryRunResult ZMAPTManager::parseDryRun(const std::string& standardOutput, const std::string& standardError) {
    enum class Section { None, Additional, New, Removed, Upgraded, Downgraded, Unmet, Other };
    Section section = Section::None;
    std::set<std::string> additional, fresh, upgraded, downgraded;
    ZMDryRunResult result;

    auto unmetEntry = [&](const std::string& package, const std::string& text) {
        ZMDependencyDescription d;
        d.identifier = package;
        d.operation = ZMDependencyOperation::Unmet;
        d.reason = text;
        result.unmetDependencies.push_back(d);
    };

    std::string unmetPackage;
    for (const auto& line : splitLines(standardOutput)) {
        if (startsWith(line, "The following ")) {
            if (line.find("additional packages will be installed") != std::string::npos) section = Section::Additional;
            else if (line.find("NEW packages will be installed") != std::string::npos) section = Section::New;
            else if (line.find("will be REMOVED") != std::string::npos) section = Section::Removed;
            else if (line.find("will be upgraded") != std::string::npos) section = Section::Upgraded;
            else if (line.find("will be DOWNGRADED") != std::string::npos) section = Section::Downgraded;
            else if (line.find("have unmet dependencies") != std::string::npos) section = Section::Unmet;
            else section = Section::Other;
            continue;
        }
        if (section == Section::Unmet && startsWith(line, " ")) {
            // " pkg : Depends: x but it is not installable", further relations
            // indented below it, alternatives ("or") continuing the one above.
            std::string text = trim(line);
            size_t sep = line.find(" : ");
            if (line.size() > 1 && line[1] != ' ' && sep != std::string::npos) {
                unmetPackage = trim(line.substr(0, sep));
                unmetEntry(unmetPackage, unmetPackage + ": " + trim(line.substr(sep + 3)));
                continue;
            }
            size_t relation = text.find(": ");
            bool startsRelation = relation != std::string::npos && relation > 0 &&
                                  std::all_of(text.begin(), text.begin() + static_cast<long>(relation), [](char c) {
                                      return std::isalpha(static_cast<unsigned char>(c)) || c == '-';
                                  });
            if (startsRelation && !unmetPackage.empty()) {
                unmetEntry(unmetPackage, unmetPackage + ": " + text);
            } else if (!result.unmetDependencies.empty()) {
                result.unmetDependencies.back().reason += " " + text;
            }
            continue;
        }
        if (startsWith(line, "  ") && section != Section::None && section != Section::Other && section != Section::Unmet) {
            std::istringstream words(line);
            std::string word;
            while (words >> word) {
                if (word.empty() || word[0] == '(') continue;
                if (word.back() == '*') word.pop_back();
                switch (section) {
                    case Section::Additional: additional.insert(word); break;
                    case Section::New: fresh.insert(word); break;
                    case Section::Upgraded: upgraded.insert(word); break;
                    case Section::Downgraded: downgraded.insert(word); break;
                    default: break;
                }
            }
            continue;
        }
        if (!startsWith(line, " ")) section = Section::None;

        bool inst = startsWith(line, "Inst ");
        bool remv = startsWith(line, "Remv ");
        bool purg = startsWith(line, "Purg ");
        if (!inst && !remv && !purg) continue;
        // Inst name [old] (new origin [arch]) ; Remv name [old]
        ZMDependencyDescription d;
        std::string rest = line.substr(5);
        size_t space = rest.find(' ');
        d.identifier = rest.substr(0, space);
        rest = space == std::string::npos ? std::string() : rest.substr(space + 1);
        if (startsWith(rest, "[")) {
            size_t close = rest.find(']');
            d.installedVersion = rest.substr(1, close == std::string::npos ? std::string::npos : close - 1);
            rest = close == std::string::npos ? std::string() : trim(rest.substr(close + 1));
        }
        if (inst) {
            if (startsWith(rest, "(")) {
                size_t close = rest.rfind(')');
                std::string inner = rest.substr(1, close == std::string::npos ? std::string::npos : close - 1);
                size_t versionEnd = inner.find(' ');
                d.version = inner.substr(0, versionEnd);
                if (versionEnd != std::string::npos) {
                    std::string origin = inner.substr(versionEnd + 1);
                    size_t arch = origin.rfind(" [");
                    d.repository = trim(arch == std::string::npos ? origin : origin.substr(0, arch));
                    if (arch != std::string::npos) {
                        size_t end = origin.find(']', arch);
                        if (end != std::string::npos) d.architecture = origin.substr(arch + 2, end - arch - 2);
                    }
                }
            }
            if (downgraded.count(d.identifier)) d.operation = ZMDependencyOperation::Downgrade;
            else if (upgraded.count(d.identifier)) d.operation = ZMDependencyOperation::Upgrade;
            else if (!d.installedVersion.empty() && d.installedVersion == d.version) d.operation = ZMDependencyOperation::Reinstall;
            else if (!d.installedVersion.empty()) d.operation = ZMDependencyOperation::Upgrade;
            else d.operation = ZMDependencyOperation::Install;
            result.allPackagesToInstall.push_back(d);
            if (additional.count(d.identifier)) result.additionalPackages.push_back(d);
            if (fresh.count(d.identifier)) result.newPackages.push_back(d);
            if (d.operation == ZMDependencyOperation::Upgrade) result.packagesToUpgrade.push_back(d);
            if (d.operation == ZMDependencyOperation::Downgrade) result.packagesToDowngrade.push_back(d);
        } else {
            d.version = d.installedVersion;
            d.operation = purg ? ZMDependencyOperation::Purge : ZMDependencyOperation::Remove;
            result.packagesToRemove.push_back(d);
        }
    }

    // Errors that name a package of the queue.
    bool anySpecific = !result.unmetDependencies.empty();
    std::vector<std::string> generic;
    for (const auto& line : splitLines(standardError)) {
        if (!startsWith(line, "E: ")) continue;
        std::string text = line.substr(3);
        static const std::string locate = "Unable to locate package ";
        if (startsWith(text, locate)) {
            unmetEntry(trim(text.substr(locate.size())), text);
            anySpecific = true;
        } else if (startsWith(text, "Version '") && text.find("' was not found") != std::string::npos) {
            size_t open = text.find("for '");
            std::string package;
            if (open != std::string::npos) package = text.substr(open + 5, text.find('\'', open + 5) - open - 5);
            unmetEntry(package, text);
            anySpecific = true;
        } else if (!startsWith(text, "Couldn't find any package by")) {
            generic.push_back(text);
        }
    }
    if (!anySpecific)
        for (const auto& text : generic) unmetEntry("", text);
    return result;
}
