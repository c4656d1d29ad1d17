#include "ZMDeviceOwnerAuthentication.h"

#include "Database/ZMRSources.h"
#include "Dispatch/Dispatch.h"
#include "LocalAuthentication/LAContext.h"
#include "Miscellaneous/ZMLocalization.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UIWindow.h"
#include "ZMVostrelle.h"

namespace {

QString L(const char* key) { return QString::fromStdString(ZMLocalizedString(key)); }

void showAlert(const char* message) {
    auto* alert = UIAlertController::alertControllerWithTitle(L("Vostrelle Authentication"), L(message),
                                                              UIAlertController::Style::Alert);
    alert->addAction(L("Close"), UIAlertController::ActionStyle::Cancel);
    ZMVostrelle::sharedVostrelle().presentViewController(alert);
}

}  // namespace

void ZMDeviceOwnerAuthentication::authenticate(const std::string& reason, std::function<void(bool)> completion) {
    LAContext context;
    if (!context.canEvaluatePolicy()) {
        showAlert("This computer cannot check your login password at the moment: its authentication (PAM) is not "
                  "available to Vostrelle.");
        if (completion) completion(false);
        return;
    }
    UIWindow* window = ZMVostrelle::sharedVostrelle().window();
    context.evaluatePolicy(
        QString::fromStdString(reason),
        [completion](bool success, LAContext::Error) {
            if (!success) showAlert("Failed to authenticate yourself. Try again.");
            if (completion) completion(success);
        },
        window ? window->topPresentedViewController() : nullptr);
}

void ZMDeviceOwnerAuthentication::installInto(ZMRSources& sources) {
    sources.setAuthenticationHook([](const std::string& reason, std::function<void(bool)> completion) {
        // The prompt and the alerts belong to the main thread, whoever adds.
        Dispatch::main([reason, completion] { authenticate(reason, completion); });
    });
}
