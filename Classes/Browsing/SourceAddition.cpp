#include "Browsing/SourceAddition.h"

#include <QPointer>

#include "Browsing/BrowsingText.h"
#include "Database/ZMRPackageManager.h"
#include "ErrorViewController.h"
#include "Miscellaneous/ZMLog.h"
#include "ZMStoreGuard.h"

namespace SourceAddition {

UIViewController* topPresenter(UIViewController* presenter) {
    UIViewController* top = presenter;
    // A screen inside a container presents through its outermost container, so
    // that the window sees the whole chain of presentations.
    while (top && top->parentViewController()) top = top->parentViewController();
    while (top && top->presentedViewController() && !top->presentedViewController()->isBeingDismissed())
        top = top->presentedViewController();
    return top;
}

std::string refusalMessage(const ZMRAddSourceResult& result, const std::string& typed) {
    switch (result.status) {
        case ZMRAddSourceStatus::AlreadyConfigured:
            return BrowsingText::format("%@ is already one of your sources.", result.location.empty() ? typed : result.location);
        case ZMRAddSourceStatus::Refused:
            switch (result.problem) {
                case ZMRSourceLocationProblem::Empty:
                case ZMRSourceLocationProblem::SchemeOnly:
                    return ZMLocalizedString("Please input the valid source URL above to add the source.");
                case ZMRSourceLocationProblem::NoScheme:
                    return ZMLocalizedString("A source address starts with https:// or http://.");
                case ZMRSourceLocationProblem::UnsupportedScheme:
                    return ZMLocalizedString("Only https:// and http:// sources can be added.");
                case ZMRSourceLocationProblem::InvalidCharacters:
                    return ZMLocalizedString("A source address cannot contain spaces, quotes or brackets.");
                case ZMRSourceLocationProblem::None:
                    return ZMLocalizedString("The source could not be added.");
            }
            return ZMLocalizedString("The source could not be added.");
        default:
            return {};
    }
}

ZMRAddSourceResult add(UIViewController* presenter, const std::string& location, bool httpApproval,
                       bool showOriginalDepictions, std::function<void(bool)> added) {
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    auto checked = ZMStoreGuard::value("adding a source", [&] {
        return sources.addSourceWithLocation(location, httpApproval, showOriginalDepictions, added);
    });
    if (!checked) {
        if (added) added(false);
        return {ZMRAddSourceStatus::Refused, {}, ZMRSourceLocationProblem::None};
    }
    ZMRAddSourceResult result = *checked;
    QPointer<UIViewController> guard(presenter);
    if (result.status == ZMRAddSourceStatus::NeedsHttpApproval) {
        auto* warning = new ErrorViewController;
        const std::string approved = result.location;
        warning->showWithTitle(ZMLocalizedString("Warning"),
                               ZMLocalizedString("You are trying to add a source with http:// instead of default https://.\n"
                                                 "As it is less secure, are you sure you want to add it?"),
                               2, ZMLocalizedString("Cancel"), ZMLocalizedString("Continue"),
                               ErrorViewController::Action([guard, approved, added] {
                                   add(guard.data(), approved, true, false, added);
                               }));
        if (auto* top = topPresenter(presenter)) top->presentViewController(warning, true);
        else delete warning;
        return result;
    }
    const std::string why = refusalMessage(result, location);
    if (!why.empty()) {
        ZMLOG("source {} not added: {}", location, why);
        auto* popup = new ErrorViewController;
        popup->showWithTitle(ZMLocalizedString("Cannot Add Source"), why, 1, ZMLocalizedString("OK"));
        if (auto* top = topPresenter(presenter)) top->presentViewController(popup, true);
        else delete popup;
        if (added) added(false);
    }
    return result;
}

}  // namespace SourceAddition
