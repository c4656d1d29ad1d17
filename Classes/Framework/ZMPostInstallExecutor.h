#pragma once
// Carries out the post-install actions of a finished run on this platform:
// each action has a configurable command (an absolute program and its
// arguments, run as ourselves, never through a shell). The default command is
// none: the action is only logged. A reboot is never carried out unless the
// caller says the user confirmed it (the shell asks first).
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ZMPipelineManager.h"

class ZMPostInstallExecutor {
public:
    static ZMPostInstallExecutor& sharedExecutor();

    // An empty vector restores "log only". Refused (false) when the program
    // is not an absolute path.
    bool setCommand(ZMPostInstallAction action, std::vector<std::string> argv);
    std::vector<std::string> command(ZMPostInstallAction action) const;

    enum class Outcome { Logged, Ran, Failed, AwaitingConfirmation };
    // Performs each action; a reboot only with rebootConfirmed. Blocks while
    // the commands run: call it off the main thread.
    std::map<ZMPostInstallAction, Outcome> perform(const std::set<ZMPostInstallAction>& actions, bool rebootConfirmed);

    // Makes the pipeline hand its collected actions to this executor (on a
    // background queue, reboot not confirmed). `rebootRequested` (main thread,
    // optional) hears when a reboot waits for the user's confirmation; the
    // shell then calls perform({Reboot}, true) if the user agrees.
    void installAsPipelineHandler(std::function<void()> rebootRequested = {});

private:
    ZMPostInstallExecutor() = default;
    mutable std::mutex mutex_;
    std::map<ZMPostInstallAction, std::vector<std::string>> commands_;
};
