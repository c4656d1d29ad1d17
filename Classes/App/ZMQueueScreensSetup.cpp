#include "App/ZMQueueScreensSetup.h"

#include "Browsing/SearchViewController.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Services/ZMRepoStoreResponseFactory.h"
#include "ZMPackageOperations.h"
#include "ZMPackageOptionsSheet.h"
#include "ZMPackageQueue.h"
#include "ZMPipelineManager.h"
#include "ZMPostInstallExecutor.h"
#include "ZMPostInstallPrompt.h"
#include "ZMQueue.h"
#include "ZMTasksViewController.h"
#include "ZMURLRouter.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "ZMVostrelle.h"

void ZMQueueScreensSetup::install() {
    ZMPackageQueue::setRunStarter([](const std::vector<ZMQueueItem>& queue,
                                     const ZMDryRunResult& resolution) -> std::optional<ZMError> {
        auto confirmation = ZMQueue::confirm(queue, resolution, [](const ZMError& error) {
            // A download failed: the run was not queued. Say so; the queue marks
            // stay. A store that ended the sign-in is told by "Sign In Again".
            if (RepoStoreError::isSigninEnded(error.domain, error.code)) return;
            Dispatch::main([error] {
                ZMVostrelle::sharedVostrelle().showAlert(ZMLocalizedString("Error"), error.localizedDescription());
            });
        });
        return confirmation.error;
    });
    ZMPackageOptionsSheet::setQueueFunction([](const std::string& identifier, const std::optional<std::string>& version) {
        ZMVostrelle::sharedVostrelle().queuePackageWithIdentifier(identifier, version);
    });
    ZMPackageOptionsSheet::setHoldFunction(
        [](const std::string& identifier, bool held, std::function<void(std::optional<ZMError>)> completion) {
            ZMPackageOperations::setHeldAsync(identifier, held, [completion](ZMResult<bool> result) {
                if (completion) completion(result.error);
            });
        });
    ZMPostInstallPrompt::setExecutor([](ZMPostInstallAction action) {
        // The commands block: off the main thread. Accepting the popup is the confirmation a reboot needs.
        Dispatch::backgroundQueue([action] {
            auto outcome = ZMPostInstallExecutor::sharedExecutor().perform({action}, true);
            for (const auto& [a, o] : outcome)
                if (o == ZMPostInstallExecutor::Outcome::Failed) ZMLOG("post-install action {} failed", ZMPostInstallActionName(a));
        });
    });
    ZMPostInstallPrompt::install();
    // The console and the task screen show what the tasks said and how they
    // ended before they were first opened.
    (void)ZMConsoleViewController::Store::shared();
    (void)ZMTasksViewController::History::shared();

    auto hooks = ZMURLRouter::hooks();
    hooks.showSearchTab = [] {
        auto* tabs = ZMVostrelle::sharedVostrelle().tabBarController();
        if (!tabs) return;
        auto* nav = qobject_cast<UINavigationController*>(tabs->viewControllers().at(ZMVostrelle::SearchTab));
        if (nav) nav->popToRootViewController(false);
        tabs->setSelectedIndex(ZMVostrelle::SearchTab);
        // Already on screen, the search tab does not appear again: it searches the name now.
        auto* search = nav ? qobject_cast<SearchViewController*>(nav->viewControllers().front()) : nullptr;
        if (search && search->isOnScreen()) search->searchHandedOverDeveloper();
    };
    // Any program can hand us a file: it is installed only once the user confirms.
    hooks.installDebFile = [](const std::string& path) { ZMVostrelle::sharedVostrelle().presentDebFile(path); };
    ZMURLRouter::setHooks(hooks);
}
