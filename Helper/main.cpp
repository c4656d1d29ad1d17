// vostrelle-helper: runs one apt-get, apt-cache, apt-mark, dpkg or dpkg-deb
// command as root for Vostrelle, and nothing else.
//
//   vostrelle-helper [--status-fd] <tree> <root> <program> [arguments...]
//
// <tree> is the private APT tree (it holds apt.conf), <root> the root packages
// are installed into. The helper accepts, per program, only the argument
// shapes the application uses (see the tables below), checks every package
// name, version and archive path, adds the fixed options itself, clears the
// environment and execs the program by absolute path. No shell is involved
// anywhere. With --status-fd, descriptor 3 stays open and apt-get reports
// machine-readable progress on it.
//
// Exit status: the program's own status when it ran; otherwise
//   126  the request was refused (bad shape, name, version or path)
//   125  the helper could not become root
//   127  the program could not be executed
//
// It is deliberately self-contained (no library but the C and C++ runtimes)
// so that it stays small enough to audit as a setuid-root program.
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kRefused = 126;
constexpr int kNotRoot = 125;
constexpr int kExecFailed = 127;
constexpr int kStatusFd = 3;
constexpr const char* kSafePath = "/usr/sbin:/usr/bin:/sbin:/bin";

// Arguments are logged with control characters escaped, so that a hostile
// name cannot forge log lines.
std::string printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string joined(const std::vector<std::string>& args) {
    std::string out;
    for (const auto& a : args) {
        if (!out.empty()) out += ' ';
        out += printable(a);
    }
    return out;
}

[[noreturn]] void refuse(const std::string& why, const std::vector<std::string>& args) {
    std::string line = "refused: " + printable(why) + " [" + joined(args) + "]";
    std::fprintf(stderr, "vostrelle-helper: %s\n", line.c_str());
    syslog(LOG_AUTHPRIV | LOG_WARNING, "%s", line.c_str());
    std::exit(kRefused);
}

bool isLowerAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
bool isAlnum(char c) { return isLowerAlnum(c) || (c >= 'A' && c <= 'Z'); }

// Debian package name: [a-z0-9][a-z0-9+.-]+
bool validName(const std::string& s) {
    if (s.size() < 2 || !isLowerAlnum(s[0])) return false;
    for (char c : s)
        if (!isLowerAlnum(c) && c != '+' && c != '.' && c != '-') return false;
    return true;
}

// Architecture qualifier: [a-z0-9][a-z0-9-]*
bool validArch(const std::string& s) {
    if (s.empty() || !isLowerAlnum(s[0])) return false;
    for (char c : s)
        if (!isLowerAlnum(c) && c != '-') return false;
    return true;
}

// Debian version: [epoch:]upstream[-revision], starting with a digit, made of
// alphanumerics and . + ~ - : only.
bool validVersion(const std::string& s) {
    if (s.empty() || s.size() > 256 || !(s[0] >= '0' && s[0] <= '9')) return false;
    for (char c : s)
        if (!isAlnum(c) && c != '.' && c != '+' && c != '~' && c != '-' && c != ':') return false;
    return true;
}

// name[:arch][=version] or, when removals are allowed, name[:arch]- .
bool validPackageSpec(std::string s, bool allowVersion, bool allowRemoval) {
    if (s.size() > 512) return false;
    auto eq = s.find('=');
    if (eq != std::string::npos) {
        if (!allowVersion || !validVersion(s.substr(eq + 1))) return false;
        s.resize(eq);
    } else if (allowRemoval && s.size() > 2 && s.back() == '-') {
        s.pop_back();
    }
    auto colon = s.find(':');
    if (colon != std::string::npos) {
        if (!validArch(s.substr(colon + 1))) return false;
        s.resize(colon);
    }
    return validName(s);
}

std::string realPath(const std::string& p) {
    char buf[PATH_MAX];
    if (!realpath(p.c_str(), buf)) return {};
    return buf;
}

bool isInside(const std::string& path, const std::string& dir) {
    if (dir.empty() || path.size() <= dir.size()) return false;
    if (dir == "/") return true;
    return path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/';
}

struct Context {
    std::string tree;       // canonical
    std::string root;       // canonical
    std::string downloads;  // canonical, may be empty when it does not exist
    std::vector<std::string> original;
};

std::string rootPrefix(const Context& ctx) { return ctx.root == "/" ? std::string() : ctx.root; }

// A .deb path: absolute, an existing regular file ending in .deb, resolving
// inside the tree or the downloads directory beside it. Returns the resolved path.
std::string checkedArchive(const Context& ctx, const std::string& arg) {
    if (arg.empty() || arg[0] != '/') refuse("archive path is not absolute: " + arg, ctx.original);
    std::string resolved = realPath(arg);
    if (resolved.empty()) refuse("archive does not exist: " + arg, ctx.original);
    if (!isInside(resolved, ctx.tree) && !isInside(resolved, ctx.downloads))
        refuse("archive lies outside the private tree and the downloads directory: " + arg, ctx.original);
    if (resolved.size() < 5 || resolved.compare(resolved.size() - 4, 4, ".deb") != 0)
        refuse("archive name does not end in .deb: " + arg, ctx.original);
    struct stat st{};
    if (stat(resolved.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        refuse("archive is not a regular file: " + arg, ctx.original);
    return resolved;
}

// The tree's apt.conf must exist as a regular file and name the same target
// root as our argument: if Dir::State::status and dpkg's --root disagreed,
// dpkg would act on another root than apt resolved against. It must also keep
// apt from reading configuration fragments from elsewhere in the tree.
void checkAptConf(const Context& ctx) {
    std::string path = ctx.tree + "/apt.conf";
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) refuse("the private tree has no apt.conf", ctx.original);
    struct stat st{};
    // Whoever else may write it could have apt run commands of theirs as root.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        close(fd);
        refuse("apt.conf is not a regular file writable only by its owner", ctx.original);
    }
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0 && text.size() < (1 << 16)) text.append(buf, static_cast<size_t>(n));
    close(fd);
    std::string prefix = rootPrefix(ctx);
    const std::string required[] = {
        "Dir::State::status \"" + prefix + "/var/lib/dpkg/status\";",
        "\"--root=" + ctx.root + "\";",
        "Dir::Etc::main \"/dev/null\";",
        "Dir::Etc::parts \"/dev/null\";",
    };
    for (const auto& line : required)
        if (text.find(line) == std::string::npos)
            refuse("apt.conf does not declare " + line, ctx.original);
}

bool oneOf(const std::string& s, std::initializer_list<const char*> set) {
    for (const char* x : set)
        if (s == x) return true;
    return false;
}

// apt-get [options] command [-- operands]
std::vector<std::string> aptGet(const Context& ctx, const std::vector<std::string>& args, bool statusFd) {
    std::vector<std::string> out = {"/usr/bin/apt-get",
                                    // Unknown names must fail, never match other packages as a regex or glob.
                                    "-o", "APT::Cmd::Pattern-Only=true",
                                    "-o", "Dir::State::status=" + rootPrefix(ctx) + "/var/lib/dpkg/status"};
    if (statusFd) {
        out.push_back("-o");
        out.push_back("APT::Status-Fd=" + std::to_string(kStatusFd));
    }
    size_t i = 0;
    for (; i < args.size() && !args[i].empty() && args[i][0] == '-'; ++i) {
        if (!oneOf(args[i], {"-s", "-y", "-d", "-f", "-q", "--reinstall", "--allow-downgrades",
                             "--allow-change-held-packages", "--no-install-recommends"}))
            refuse("apt-get option not allowed: " + args[i], ctx.original);
        out.push_back(args[i]);
    }
    if (i == args.size()) refuse("apt-get needs a command", ctx.original);
    const std::string& command = args[i++];
    if (oneOf(command, {"update", "clean", "autoclean", "check"})) {
        if (i != args.size()) refuse("apt-get " + command + " takes no operands", ctx.original);
        out.push_back(command);
        return out;
    }
    if (!oneOf(command, {"install", "remove", "purge"})) refuse("apt-get command not allowed: " + command, ctx.original);
    out.push_back(command);
    if (i < args.size() && args[i] == "--") ++i;
    out.push_back("--");
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (command == "install" && !a.empty() && a[0] == '/') {
            out.push_back(checkedArchive(ctx, a));
        } else if (validPackageSpec(a, command == "install", command == "install")) {
            out.push_back(a);
        } else {
            refuse("not a package name: " + a, ctx.original);
        }
    }
    return out;
}

// apt-cache command [-- names]
std::vector<std::string> aptCache(const Context& ctx, const std::vector<std::string>& args) {
    if (args.empty()) refuse("apt-cache needs a command", ctx.original);
    const std::string& command = args[0];
    std::vector<std::string> out = {"/usr/bin/apt-cache", "-o",
                                    "Dir::State::status=" + rootPrefix(ctx) + "/var/lib/dpkg/status", command};
    if (command == "gencaches") {
        if (args.size() != 1) refuse("apt-cache gencaches takes no operands", ctx.original);
        return out;
    }
    if (!oneOf(command, {"policy", "show", "showpkg", "depends", "rdepends"}))
        refuse("apt-cache command not allowed: " + command, ctx.original);
    size_t i = 1;
    if (i < args.size() && args[i] == "--") ++i;
    out.push_back("--");
    for (; i < args.size(); ++i) {
        if (!validPackageSpec(args[i], command == "show", false)) refuse("not a package name: " + args[i], ctx.original);
        out.push_back(args[i]);
    }
    return out;
}

// apt-mark hold|unhold|showhold [-- names]
std::vector<std::string> aptMark(const Context& ctx, const std::vector<std::string>& args) {
    if (args.empty() || !oneOf(args[0], {"hold", "unhold", "showhold"}))
        refuse("apt-mark command not allowed", ctx.original);
    std::vector<std::string> out = {"/usr/bin/apt-mark", "-o",
                                    "Dir::State::status=" + rootPrefix(ctx) + "/var/lib/dpkg/status", args[0], "--"};
    size_t i = 1;
    if (i < args.size() && args[i] == "--") ++i;
    for (; i < args.size(); ++i) {
        if (!validPackageSpec(args[i], false, false)) refuse("not a package name: " + args[i], ctx.original);
        out.push_back(args[i]);
    }
    return out;
}

// dpkg --print-architecture | --configure -a | --audit | -i [--] archives...
std::vector<std::string> dpkg(const Context& ctx, const std::vector<std::string>& args) {
    std::vector<std::string> out = {"/usr/bin/dpkg"};
    if (args.size() == 1 && args[0] == "--print-architecture") {
        out.push_back(args[0]);
        return out;
    }
    // dpkg never acts on another root than the configured one.
    out.push_back("--root=" + ctx.root);
    out.push_back("--log=" + rootPrefix(ctx) + "/var/log/dpkg.log");
    out.push_back("--force-script-chrootless");
    if (args.size() == 2 && args[0] == "--configure" && args[1] == "-a") {
        out.insert(out.end(), args.begin(), args.end());
        return out;
    }
    if (args.size() == 1 && args[0] == "--audit") {
        out.push_back(args[0]);
        return out;
    }
    if (args.empty() || args[0] != "-i") refuse("dpkg form not allowed", ctx.original);
    size_t i = 1;
    if (i < args.size() && args[i] == "--") ++i;
    if (i == args.size()) refuse("dpkg -i needs an archive", ctx.original);
    out.push_back("-i");
    out.push_back("--");
    for (; i < args.size(); ++i) out.push_back(checkedArchive(ctx, args[i]));
    return out;
}

// dpkg-deb -f archive [fields...] | -I archive | -c archive
std::vector<std::string> dpkgDeb(const Context& ctx, const std::vector<std::string>& args) {
    if (args.size() < 2 || !oneOf(args[0], {"-f", "-I", "-c"})) refuse("dpkg-deb form not allowed", ctx.original);
    std::vector<std::string> out = {"/usr/bin/dpkg-deb", args[0], "--", checkedArchive(ctx, args[1])};
    if (args[0] != "-f" && args.size() > 2) refuse("dpkg-deb " + args[0] + " takes one archive", ctx.original);
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& field = args[i];
        bool ok = !field.empty() && field.size() < 64;
        for (char c : field) ok = ok && (isAlnum(c) || c == '-');
        if (!ok) refuse("not a control field name: " + field, ctx.original);
        out.push_back(field);
    }
    return out;
}

// Runs as root: already (root caller, pkexec, sudo), or through the setuid bit.
void becomeRoot() {
    if (geteuid() != 0) {
        std::fprintf(stderr,
                     "vostrelle-helper: must run as root (installed setuid-root by scripts/install-helper, "
                     "or started through pkexec or sudo)\n");
        std::exit(kNotRoot);
    }
    if (getuid() != 0 || getgid() != 0) {
        if (setgroups(0, nullptr) != 0 || setgid(0) != 0 || setuid(0) != 0 || getuid() != 0 || geteuid() != 0) {
            std::fprintf(stderr, "vostrelle-helper: could not switch to root: %s\n", std::strerror(errno));
            std::exit(kNotRoot);
        }
    }
}

// Standard descriptors always open; nothing else inherited but the status
// pipe. Returns whether the status pipe is there.
bool sanitizeDescriptors(bool keepStatusFd) {
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0) open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (keepStatusFd && fcntl(kStatusFd, F_GETFD) >= 0) {
        close_range(kStatusFd + 1, ~0U, 0);
        return true;
    }
    close_range(kStatusFd, ~0U, 0);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const uid_t caller = getuid();
    std::vector<std::string> all(argv + 1, argv + argc);
    Context ctx;
    ctx.original = all;
    openlog("vostrelle-helper", LOG_PID, LOG_AUTHPRIV);

    size_t i = 0;
    bool statusFd = false;
    if (i < all.size() && all[i] == "--status-fd") {
        statusFd = true;
        ++i;
    }
    statusFd = sanitizeDescriptors(statusFd);
    if (all.size() - i < 3) refuse("usage: vostrelle-helper [--status-fd] <tree> <root> <program> [arguments...]", all);
    becomeRoot();

    const std::string& treeArg = all[i++];
    const std::string& rootArg = all[i++];
    const std::string program = all[i++];
    std::vector<std::string> args(all.begin() + static_cast<long>(i), all.end());

    if (treeArg.empty() || treeArg[0] != '/' || rootArg.empty() || rootArg[0] != '/')
        refuse("tree and root must be absolute paths", all);
    ctx.tree = realPath(treeArg);
    ctx.root = realPath(rootArg);
    if (ctx.tree.empty() || ctx.root.empty()) refuse("tree or root does not exist", all);
    if (ctx.tree == "/") refuse("the private tree cannot be /", all);
    struct stat st{};
    if (stat(ctx.tree.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || stat(ctx.root.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode))
        refuse("tree and root must be directories", all);
    // Through the setuid bit a user works only on a tree of their own.
    if (caller != 0 && (stat(ctx.tree.c_str(), &st) != 0 || st.st_uid != caller))
        refuse("the private tree does not belong to the calling user", all);
    // The downloads directory sits beside the tree in the application-support directory.
    ctx.downloads = realPath(ctx.tree.substr(0, ctx.tree.rfind('/')) + "/Downloads");

    std::vector<std::string> command;
    bool isApt = program == "apt-get" || program == "apt-cache" || program == "apt-mark";
    if (isApt) checkAptConf(ctx);
    if (program == "apt-get") command = aptGet(ctx, args, statusFd);
    else if (program == "apt-cache") command = aptCache(ctx, args);
    else if (program == "apt-mark") command = aptMark(ctx, args);
    else if (program == "dpkg") command = dpkg(ctx, args);
    else if (program == "dpkg-deb") command = dpkgDeb(ctx, args);
    else refuse("program not allowed: " + program, all);

    clearenv();
    setenv("PATH", kSafePath, 1);
    setenv("LC_ALL", "C", 1);
    setenv("DEBIAN_FRONTEND", "noninteractive", 1);
    std::string aptConfig = ctx.tree + "/apt.conf";
    setenv("APT_CONFIG", aptConfig.c_str(), 1);
    umask(022);
    if (chdir("/") != 0) return kExecFailed;

    syslog(LOG_AUTHPRIV | LOG_NOTICE, "uid %d runs: %s", static_cast<int>(caller), joined(command).c_str());
    std::vector<char*> cargv;
    for (auto& a : command) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    execv(cargv[0], cargv.data());
    std::fprintf(stderr, "vostrelle-helper: could not execute %s: %s\n", cargv[0], std::strerror(errno));
    return kExecFailed;
}
