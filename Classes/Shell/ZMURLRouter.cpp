#include "ZMURLRouter.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <mutex>

#include "Database/ZMRPackageManager.h"
#include "ErrorViewController.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"
#include "VostrellePersistentPreferences.h"
#include "WebViewViewController.h"
#include "ZMStoreGuard.h"

namespace {

std::mutex gMutex;
ZMURLRouter::Hooks gHooks;

UIViewController* presenter() { return ZMURLRouter::presenter(); }

void popup(const std::string& title, const std::string& message) {
    auto* top = presenter();
    if (!top) return;
    auto* error = new ErrorViewController;
    error->showWithTitle(title, message, 1, ZMLocalizedString("OK"));
    top->presentViewController(error, true);
}

void addSource(const std::string& location, bool approval) {
    auto checked = ZMStoreGuard::value("adding a source", [&] {
        return ZMRPackageManager::sharedPackageManager().sources().addSourceWithLocation(location, approval);
    });
    if (!checked) return;
    const auto& result = *checked;
    switch (result.status) {
        case ZMRAddSourceStatus::NeedsHttpApproval: {
            auto* top = presenter();
            if (!top) return;
            auto* warning = new ErrorViewController;
            std::string normalized = result.location;
            // A link comes from elsewhere: the warning names the address it would add.
            warning->showWithTitle(ZMLocalizedString("Warning"),
                                   ZMLocalizedString("You are trying to add a source with http:// instead of default "
                                                     "https://.\nAs it is less secure, are you sure you want to add it?") +
                                       "\n\n" + normalized,
                                   2, ZMLocalizedString("Cancel"), ZMLocalizedString("Continue"),
                                   [normalized] { addSource(normalized, true); });
            top->presentViewController(warning, true);
            break;
        }
        case ZMRAddSourceStatus::AlreadyConfigured:
            popup(ZMLocalizedString("Add Source"), ZMLocalizedString("This source is already in your sources."));
            break;
        case ZMRAddSourceStatus::Refused:
            popup(ZMLocalizedString("Add Source"), ZMLocalizedString("This source cannot be added."));
            break;
        case ZMRAddSourceStatus::Added:
        case ZMRAddSourceStatus::AwaitingAuthentication: break;
    }
}

}  // namespace

UIViewController* ZMURLRouter::presenter() {
    auto h = hooks();
    if (h.presenter) return h.presenter();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<UIWindow*>(w); window && window->isVisible())
            return window->topPresentedViewController();
    return nullptr;
}

void ZMURLRouter::setHooks(Hooks hooks) {
    std::lock_guard lock(gMutex);
    gHooks = std::move(hooks);
}

ZMURLRouter::Hooks ZMURLRouter::hooks() {
    std::lock_guard lock(gMutex);
    return gHooks;
}

bool ZMURLRouter::perform(const ZMURLAction& action) {
    auto h = hooks();
    using Kind = ZMURLAction::Kind;
    switch (action.kind) {
        case Kind::Invalid:
            ZMLOG("link refused: {}", action.problem);
            return false;
        case Kind::AddSource: addSource(action.location, false); return true;
        case Kind::OpenURL: {
            auto* top = presenter();
            if (!top) return false;
            auto* web = new WebViewViewController;
            web->setWebsiteURL(QUrl(QString::fromStdString(action.url)));
            auto* nav = new UINavigationController(web);
            web->navigationItem()->setLeftBarButtonItem(new UIBarButtonItem(
                QString::fromStdString(ZMLocalizedString("Close")),
                [nav](UIBarButtonItem*) { nav->dismissViewController(true); }, web->navigationItem()));
            top->presentViewController(nav, true);
            return true;
        }
        case Kind::ShowPackage: {
            auto known = ZMStoreGuard::value("showing a package", [&] {
                return ZMRPackage::objectForPrimaryKey(action.packageIdentifier).has_value();
            });
            if (!known) return false;
            if (!*known) {
                popup(ZMLocalizedString("Package not Found"),
                      ZMLocalizedString("Package not found in the database. Please refresh your sources and try again."));
                return false;
            }
            if (!h.showPackage) break;
            h.showPackage(action.packageIdentifier);
            return true;
        }
        case Kind::ShowDeveloper:
            if (h.showDeveloper) {
                h.showDeveloper(action.developer);
                return true;
            }
            if (showSearchTabForDeveloper(action.developer)) return true;
            break;
        case Kind::AuthenticationSuccess:
        case Kind::PaymentCompleted:
            ZMLOG("store callback from outside the program dropped");
            return false;
    }
    ZMLOG("nothing handles this link yet");
    return false;
}

bool ZMURLRouter::showSearchTabForDeveloper(const std::string& name) {
    VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::SearchDeveloper, name);
    auto h = hooks();
    if (!h.showSearchTab) return false;
    h.showSearchTab();
    return true;
}

bool ZMURLRouter::openURL(const std::string& text) { return perform(ZMURLSchemeHandler::parse(text)); }

bool ZMURLRouter::openFile(const std::string& path) {
    QFileInfo info(QString::fromStdString(path));
    if (!info.isFile() || !info.isReadable() || info.suffix().toLower() != "deb") {
        ZMLOG("not a .deb file: {}", path);
        return false;
    }
    auto h = hooks();
    if (!h.installDebFile) {
        ZMLOG("nothing installs .deb files yet; {} ignored", path);
        return false;
    }
    h.installDebFile(info.canonicalFilePath().toStdString());
    return true;
}

int ZMURLRouter::open(const QStringList& arguments) {
    int taken = 0;
    for (const QString& argument : arguments) {
        const std::string text = argument.toStdString();
        bool ours = argument.startsWith("vostrelle:", Qt::CaseInsensitive) || argument.startsWith("sileo:", Qt::CaseInsensitive);
        if (ours ? openURL(text) : openFile(text)) ++taken;
    }
    return taken;
}
