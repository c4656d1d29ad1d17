#include "ZMStoreGuard.h"

#include <exception>
#include <stdexcept>

#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "ZMVostrelle.h"

namespace ZMStoreGuard {

bool run(const char* what, const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const std::out_of_range& e) {
        // A record gone between counting and reading (another thread changed
        // the list): the screen redraws from the change; nothing failed.
        ZMLOG("{}: a record went meanwhile: {}", what, e.what());
        return false;
    } catch (const std::exception& e) {
        tell(what, ZMError::storeFailure(e.what()));
    }
    return false;
}

void tell(const char* what, const ZMError& failure) {
    ZMLOG("{} failed in the package database: {}", what, failure.detail);
    // One text for every failure: the alert already up takes the next ones.
    auto show = [] { ZMVostrelle::sharedVostrelle().showAlert(alertTitle(), alertMessage()); };
    if (Dispatch::isMainThread()) show();
    else Dispatch::main(show);
}

std::string alertTitle() { return ZMLocalizedString("Database Error"); }

std::string alertMessage() {
    return ZMLocalizedString(
        "Vostrelle could not read or write its package database, so this was not done. Check that the disk has free "
        "space and try again.");
}

}  // namespace ZMStoreGuard
