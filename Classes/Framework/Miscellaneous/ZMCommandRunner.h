#pragma once
// Runs the privileged helper (vostrelle-helper) with an argument vector — never
// through a shell — and streams its standard output and error back line by
// line. Only one helper command runs at a time in the whole process: a second
// request while one runs is refused at once rather than queued, and each
// command blocks its calling thread (never the main thread) until it exits.
#include <functional>
#include <string>
#include <vector>

#include "ZMError.h"

struct ZMCommandOutput {
    int exitStatus = -1;      // the helper's (and so the program's) exit status
    int signal = 0;           // non-zero when it was killed by a signal
    std::string standardOutput;
    std::string standardError;
    bool succeeded() const { return signal == 0 && exitStatus == 0; }
};

class ZMCommandRunner {
public:
    using LineHandler = std::function<void(const std::string& line)>;

    struct Handlers {
        LineHandler standardOutput;  // each line of standard output, without its newline
        LineHandler standardError;   // each line of standard error
        LineHandler statusFd;        // each line apt writes to APT::Status-Fd; set = open the status pipe
    };

    // The helper's exit codes for requests it did not carry out.
    static constexpr int kHelperRefused = 126;
    static constexpr int kHelperNotRoot = 125;
    static constexpr int kHelperExecFailed = 127;

    // Runs `vostrelle-helper [--status-fd] <arguments...>`. Fails (code 34) when
    // another command is running, when called on the main thread, or when the
    // helper cannot be started; otherwise returns its output and exit status.
    static ZMResult<ZMCommandOutput> runHelper(const std::vector<std::string>& arguments, const Handlers& handlers = {});

    // True while a helper command runs.
    static bool isBusy();

    // Tests: sees the arguments of every helper command before it starts; a
    // command it answers false for fails (code 34) without running. None by
    // default; nullptr removes it.
    using CommandCheck = std::function<bool(const std::vector<std::string>& arguments)>;
    static void setCommandCheck(CommandCheck check);

    // Where the helper is looked for: $VOSTRELLE_HELPER; else, when not root,
    // the setuid copy in /usr/local/libexec (scripts/install-helper); else the
    // build's copy; else beside the running executable. A helper that cannot
    // become root by itself is started through pkexec.
    static std::string helperPath();

    // Runs an unprivileged read-only program (absolute path) and returns its
    // output; not serialised with the helper. For queries such as the host
    // architecture that need no root.
    static ZMResult<ZMCommandOutput> capture(const std::vector<std::string>& argv);
};
