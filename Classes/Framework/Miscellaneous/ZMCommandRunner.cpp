#include "ZMCommandRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "Dispatch/Dispatch.h"
#include "ZMLog.h"

#include "VostrelleBuildPaths.h"
#include "Miscellaneous/ZMPaths.h"

extern char** environ;

namespace {

std::atomic<bool> gBusy{false};

std::mutex gCheckMutex;
std::shared_ptr<const ZMCommandRunner::CommandCheck> gCheck;

constexpr int kChildStatusFd = 3;
constexpr const char* kInstalledHelper = "/usr/local/libexec/vostrelle-helper";

// Read ends and the child's write ends live above the standard descriptors
// and the status descriptor, so that dup2 onto 1, 2 and 3 never meets itself.
int movedHigh(int fd) {
    int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    close(fd);
    return high;
}

struct Pipe {
    int read = -1;
    int write = -1;
    bool open() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        read = movedHigh(fds[0]);
        write = movedHigh(fds[1]);
        return read >= 0 && write >= 0;
    }
    void closeBoth() {
        if (read >= 0) close(read);
        if (write >= 0) close(write);
        read = write = -1;
    }
};

// Splits a stream into lines as bytes arrive; a last line without a newline
// is delivered at the end.
struct LineSplitter {
    std::string pending;
    std::string* whole = nullptr;
    const ZMCommandRunner::LineHandler* handler = nullptr;
    void feed(const char* data, size_t size) {
        if (whole) whole->append(data, size);
        pending.append(data, size);
        size_t start = 0, nl;
        while ((nl = pending.find('\n', start)) != std::string::npos) {
            deliver(pending.substr(start, nl - start));
            start = nl + 1;
        }
        pending.erase(0, start);
    }
    void finish() {
        if (!pending.empty()) deliver(pending);
        pending.clear();
    }
    void deliver(const std::string& line) {
        if (handler && *handler) (*handler)(line);
    }
};

ZMResult<ZMCommandOutput> spawnAndCollect(const std::vector<std::string>& argv, const ZMCommandRunner::Handlers& handlers) {
    if (argv.empty()) return ZMResult<ZMCommandOutput>::failure(ZMError::make(ZMError::CommandFailed, "empty command"));
    bool wantStatus = static_cast<bool>(handlers.statusFd);
    Pipe out, err, status;
    if (!out.open() || !err.open() || (wantStatus && !status.open())) {
        out.closeBoth();
        err.closeBoth();
        status.closeBoth();
        return ZMResult<ZMCommandOutput>::failure(
            ZMError::make(ZMError::CommandFailed, std::string("pipe: ") + std::strerror(errno)));
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write, STDERR_FILENO);
    if (wantStatus) posix_spawn_file_actions_adddup2(&actions, status.write, kChildStatusFd);

    std::vector<char*> cargv;
    for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out.write);
    close(err.write);
    if (wantStatus) close(status.write);
    if (rc != 0) {
        close(out.read);
        close(err.read);
        if (wantStatus) close(status.read);
        return ZMResult<ZMCommandOutput>::failure(
            ZMError::make(ZMError::CommandFailed, "could not start " + argv[0] + ": " + std::strerror(rc)));
    }

    ZMCommandOutput result;
    LineSplitter splitters[3];
    splitters[0].whole = &result.standardOutput;
    splitters[0].handler = &handlers.standardOutput;
    splitters[1].whole = &result.standardError;
    splitters[1].handler = &handlers.standardError;
    splitters[2].handler = &handlers.statusFd;
    struct pollfd fds[3] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}, {wantStatus ? status.read : -1, POLLIN, 0}};
    int open = wantStatus ? 3 : 2;
    char buffer[8192];
    while (open > 0) {
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 3; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                splitters[i].feed(buffer, static_cast<size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                splitters[i].finish();
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);

    int waitStatus = 0;
    while (waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(waitStatus)) result.exitStatus = WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) result.signal = WTERMSIG(waitStatus);
    return ZMResult<ZMCommandOutput>::success(std::move(result));
}

bool isExecutable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

// A helper that will run as root without help: we are root, or it carries the
// setuid bit and belongs to root.
bool runsAsRootByItself(const std::string& helper) {
    if (geteuid() == 0) return true;
    struct stat st{};
    return stat(helper.c_str(), &st) == 0 && st.st_uid == 0 && (st.st_mode & S_ISUID);
}

}  // namespace

std::string ZMCommandRunner::helperPath() {
    if (const char* env = std::getenv("VOSTRELLE_HELPER"); env && *env) return env;
    // Not root: the copy scripts/install-helper installed setuid-root, when there is one.
    if (geteuid() != 0 && runsAsRootByItself(kInstalledHelper) && isExecutable(kInstalledHelper)) return kInstalledHelper;
    return ZMPaths::companionProgram(VOSTRELLE_HELPER_BUILD_PATH, "vostrelle-helper");
}

bool ZMCommandRunner::isBusy() { return gBusy.load(); }

void ZMCommandRunner::setCommandCheck(CommandCheck check) {
    std::lock_guard lock(gCheckMutex);
    gCheck = check ? std::make_shared<const CommandCheck>(std::move(check)) : nullptr;
}

ZMResult<ZMCommandOutput> ZMCommandRunner::runHelper(const std::vector<std::string>& arguments, const Handlers& handlers) {
    if (Dispatch::isMainThread()) {
        // A command can take minutes; blocking the interface for it is a bug in the caller.
        ZMLOG("refused: helper commands must not run on the main thread");
        return ZMResult<ZMCommandOutput>::failure(
            ZMError::make(ZMError::CommandFailed, "helper command requested on the main thread"));
    }
    bool expected = false;
    if (!gBusy.compare_exchange_strong(expected, true)) {
        ZMLOG("refused: another package command is running");
        return ZMResult<ZMCommandOutput>::failure(
            ZMError::make(ZMError::CommandFailed, "Another package operation is running."));
    }
    struct Release {
        ~Release() { gBusy.store(false); }
    } release;

    std::shared_ptr<const CommandCheck> check;
    {
        std::lock_guard lock(gCheckMutex);
        check = gCheck;
    }
    if (check && !(*check)(arguments)) {
        ZMLOG("refused: the command check refused a helper command");
        return ZMResult<ZMCommandOutput>::failure(
            ZMError::make(ZMError::CommandFailed, "helper command refused by the command check"));
    }

    std::string helper = helperPath();
    std::vector<std::string> argv;
    if (!runsAsRootByItself(helper) && isExecutable("/usr/bin/pkexec")) argv.push_back("/usr/bin/pkexec");
    argv.push_back(helper);
    if (handlers.statusFd) argv.push_back("--status-fd");
    argv.insert(argv.end(), arguments.begin(), arguments.end());

    // Control characters escaped: a hostile name must not forge log lines.
    std::string shown;
    for (size_t i = 1; i < argv.size(); ++i) {
        shown += ' ';
        for (unsigned char c : argv[i]) shown += (c < 0x20 || c == 0x7f) ? fmt::format("\\x{:02x}", c) : std::string(1, static_cast<char>(c));
    }
    ZMLOG("running{}", shown);
    auto result = spawnAndCollect(argv, handlers);
    if (!result) {
        ZMLOG("{}", result.error->detail);
    } else if (!result.value->succeeded()) {
        ZMLOG("helper exited with status {} (signal {})", result.value->exitStatus, result.value->signal);
    }
    return result;
}

ZMResult<ZMCommandOutput> ZMCommandRunner::capture(const std::vector<std::string>& argv) {
    return spawnAndCollect(argv, {});
}
