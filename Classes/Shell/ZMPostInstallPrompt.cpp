#include "ZMPostInstallPrompt.h"

#include <QApplication>
#include <mutex>

#include "ErrorViewController.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "UIKit/UIWindow.h"

namespace {
std::mutex gMutex;
ZMPostInstallPrompt::Executor gExecutor;
std::function<UIViewController*()> gPresenter;

UIViewController* defaultPresenter() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<UIWindow*>(w); window && window->isVisible())
            return window->topPresentedViewController();
    }
    return nullptr;
}
}  // namespace

void ZMPostInstallPrompt::setExecutor(Executor executor) {
    std::lock_guard lock(gMutex);
    gExecutor = std::move(executor);
}

void ZMPostInstallPrompt::setPresenterProvider(std::function<UIViewController*()> provider) {
    std::lock_guard lock(gMutex);
    gPresenter = std::move(provider);
}

void ZMPostInstallPrompt::install() {
    ZMPipelineManager::sharedManager().setPostInstallHandler(
        [](const std::set<ZMPostInstallAction>& actions) { offer(actions); });
}

std::vector<ZMPostInstallAction> ZMPostInstallPrompt::actionsToRun(const std::set<ZMPostInstallAction>& actions) {
    std::vector<ZMPostInstallAction> out;
    if (actions.count(ZMPostInstallAction::RefreshIcons)) out.push_back(ZMPostInstallAction::RefreshIcons);
    if (actions.count(ZMPostInstallAction::Reboot))
        out.push_back(ZMPostInstallAction::Reboot);
    else if (actions.count(ZMPostInstallAction::Respring))
        out.push_back(ZMPostInstallAction::Respring);
    return out;
}

ZMPostInstallPrompt::Texts ZMPostInstallPrompt::textsForActions(const std::set<ZMPostInstallAction>& actions) {
    Texts t;
    t.laterButton = ZMLocalizedString("Later");
    if (actions.count(ZMPostInstallAction::Reboot)) {
        t.title = ZMLocalizedString("Reboot Required");
        t.message = ZMLocalizedString("The installed packages need a reboot to take effect. Reboot now?");
        t.confirmButton = ZMLocalizedString("Reboot");
    } else if (actions.count(ZMPostInstallAction::Respring)) {
        t.title = ZMLocalizedString("Respring Required");
        t.message = ZMLocalizedString("The installed packages need a respring to take effect. Respring now?");
        t.confirmButton = ZMLocalizedString("Respring");
    } else {
        t.title = ZMLocalizedString("Refresh Icons");
        t.message = ZMLocalizedString("The installed packages added or changed applications. Refresh the icons now?");
        t.confirmButton = ZMLocalizedString("Refresh Icons");
    }
    return t;
}

void ZMPostInstallPrompt::offer(const std::set<ZMPostInstallAction>& actions) {
    if (actions.empty()) return;
    std::function<UIViewController*()> provider;
    {
        std::lock_guard lock(gMutex);
        provider = gPresenter;
    }
    UIViewController* presenter = provider ? provider() : defaultPresenter();
    if (!presenter) {
        // Nobody to ask: nothing runs without the user's word.
        ZMLOG("post-install actions not offered (no window)");
        return;
    }
    Texts t = textsForActions(actions);
    auto toRun = actionsToRun(actions);
    auto* popup = new ErrorViewController;
    popup->showWithTitle(t.title, t.message, 2, t.laterButton, t.confirmButton, [toRun] {
        Executor executor;
        {
            std::lock_guard lock(gMutex);
            executor = gExecutor;
        }
        for (auto action : toRun) {
            if (executor)
                executor(action);
            else
                ZMLOG("no executor for post-install action {}", ZMPostInstallActionName(action));
        }
    });
    presenter->presentViewController(popup, true);
}
