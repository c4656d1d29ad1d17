#pragma once
// What happens when a queue run has finished and its packages asked for
// post-install actions: a popup offers them. Respring and refreshing the
// application icons run through the executor when the user accepts; a reboot
// is never started without that confirmation. The shell installs it as the
// pipeline's post-install handler at launch.
#include <functional>
#include <set>
#include <string>

#include "ZMPipelineManager.h"

class UIViewController;

class ZMPostInstallPrompt {
public:
    // Runs one action (the package-operations code installs the real one).
    using Executor = std::function<void(ZMPostInstallAction action)>;
    static void setExecutor(Executor executor);
    // Where the popup goes: by default the top screen of the main window.
    static void setPresenterProvider(std::function<UIViewController*()> provider);

    // Makes this the pipeline's post-install handler.
    static void install();
    // The handler: shows the popup for `actions` (empty: nothing).
    static void offer(const std::set<ZMPostInstallAction>& actions);

    // The popup's texts, for the actions asked for.
    struct Texts {
        std::string title;
        std::string message;
        std::string confirmButton;  // "Reboot", "Respring" or "Refresh Icons"
        std::string laterButton;
    };
    static Texts textsForActions(const std::set<ZMPostInstallAction>& actions);
    // What accepting runs: a reboot replaces a respring (it restarts more);
    // refreshing the icons comes first.
    static std::vector<ZMPostInstallAction> actionsToRun(const std::set<ZMPostInstallAction>& actions);
};
