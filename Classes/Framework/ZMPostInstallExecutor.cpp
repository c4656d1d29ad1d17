#include "ZMPostInstallExecutor.h"

#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMCommandRunner.h"
#include "Miscellaneous/ZMLog.h"

ZMPostInstallExecutor& ZMPostInstallExecutor::sharedExecutor() {
    static ZMPostInstallExecutor executor;
    return executor;
}

bool ZMPostInstallExecutor::setCommand(ZMPostInstallAction action, std::vector<std::string> argv) {
    if (!argv.empty() && (argv[0].empty() || argv[0][0] != '/')) return false;
    std::lock_guard lock(mutex_);
    if (argv.empty()) commands_.erase(action);
    else commands_[action] = std::move(argv);
    return true;
}

std::vector<std::string> ZMPostInstallExecutor::command(ZMPostInstallAction action) const {
    std::lock_guard lock(mutex_);
    auto found = commands_.find(action);
    return found == commands_.end() ? std::vector<std::string>{} : found->second;
}

std::map<ZMPostInstallAction, ZMPostInstallExecutor::Outcome> ZMPostInstallExecutor::perform(
    const std::set<ZMPostInstallAction>& actions, bool rebootConfirmed) {
    std::map<ZMPostInstallAction, Outcome> outcomes;
    for (auto action : actions) {
        const char* name = ZMPostInstallActionName(action);
        if (action == ZMPostInstallAction::Reboot && !rebootConfirmed) {
            ZMLOG("post-install action {} waits for the user's confirmation", name);
            outcomes[action] = Outcome::AwaitingConfirmation;
            continue;
        }
        auto argv = command(action);
        if (argv.empty()) {
            ZMLOG("post-install action {} (no command configured)", name);
            outcomes[action] = Outcome::Logged;
            continue;
        }
        auto result = ZMCommandRunner::capture(argv);
        bool ok = result && result.value->succeeded();
        ZMLOG("post-install action {}: {} {}", name, argv[0], ok ? "succeeded" : "failed");
        outcomes[action] = ok ? Outcome::Ran : Outcome::Failed;
    }
    return outcomes;
}

void ZMPostInstallExecutor::installAsPipelineHandler(std::function<void()> rebootRequested) {
    ZMPipelineManager::sharedManager().setPostInstallHandler(
        [this, rebootRequested](const std::set<ZMPostInstallAction>& actions) {
            Dispatch::backgroundQueue([this, actions, rebootRequested] {
                auto outcomes = perform(actions, false);
                auto reboot = outcomes.find(ZMPostInstallAction::Reboot);
                if (reboot != outcomes.end() && reboot->second == Outcome::AwaitingConfirmation && rebootRequested)
                    Dispatch::main(rebootRequested);
            });
        });
}
