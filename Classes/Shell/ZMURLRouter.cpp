#include "ZMURLRouter.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <mutex>
#include <vector>

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

ZMURLRouter::Outcome ZMURLRouter::carryOut(const ZMURLAction& action, std::string_view link) {
    auto h = hooks();
    using Kind = ZMURLAction::Kind;
    switch (action.kind) {
        case Kind::Invalid:
            ZMLOG("link refused: {}", action.problem);
            return Outcome::Refused;
        case Kind::AddSource: addSource(action.location, false); return Outcome::Done;
        case Kind::OpenURL: {
            auto* top = presenter();
            if (!top) return Outcome::Refused;
            auto* web = new WebViewViewController;
            web->setWebsiteURL(QUrl(QString::fromStdString(action.url)));
            auto* nav = new UINavigationController(web);
            web->navigationItem()->setLeftBarButtonItem(new UIBarButtonItem(
                QString::fromStdString(ZMLocalizedString("Close")),
                [nav](UIBarButtonItem*) { nav->dismissViewController(true); }, web->navigationItem()));
            top->presentViewController(nav, true);
            return Outcome::Done;
        }
        case Kind::ShowPackage: {
            auto known = ZMStoreGuard::value("showing a package", [&] {
                return ZMRPackage::objectForPrimaryKey(action.packageIdentifier).has_value();
            });
            if (!known) return Outcome::Told;
            if (!*known) {
                std::string message =
                    ZMLocalizedString("Package not found in the database. Please refresh your sources and try again.");
                if (!link.empty()) message += "\n\n" + shownLink(link);
                popup(ZMLocalizedString("Package not Found"), message);
                return Outcome::Told;
            }
            if (!h.showPackage) break;
            h.showPackage(action.packageIdentifier);
            return Outcome::Done;
        }
        case Kind::ShowDeveloper:
            if (h.showDeveloper) {
                h.showDeveloper(action.developer);
                return Outcome::Done;
            }
            if (showSearchTabForDeveloper(action.developer)) return Outcome::Done;
            break;
        case Kind::AuthenticationSuccess:
        case Kind::PaymentCompleted:
            ZMLOG("store callback from outside the program dropped");
            return Outcome::Refused;
    }
    ZMLOG("nothing handles this link yet");
    return Outcome::Refused;
}

bool ZMURLRouter::perform(const ZMURLAction& action) { return carryOut(action, {}) == Outcome::Done; }

bool ZMURLRouter::showSearchTabForDeveloper(const std::string& name) {
    VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::SearchDeveloper, name);
    auto h = hooks();
    if (!h.showSearchTab) return false;
    h.showSearchTab();
    return true;
}

bool ZMURLRouter::openURL(const std::string& text) {
    const Outcome outcome = carryOut(ZMURLSchemeHandler::parse(text), text);
    if (outcome == Outcome::Refused) tellNotOpened({text}, {});
    return outcome == Outcome::Done;
}

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
    std::vector<std::string> links, files;
    for (const QString& argument : arguments) {
        const std::string text = argument.toStdString();
        if (ZMURLSchemeHandler::namesOurScheme(text)) {
            const Outcome outcome = carryOut(ZMURLSchemeHandler::parse(text), text);
            if (outcome == Outcome::Done) ++taken;
            else if (outcome == Outcome::Refused) links.push_back(text);
        } else if (openFile(text)) {
            ++taken;
        } else {
            files.push_back(text);
        }
    }
    // Whatever came to nothing is named, all in one alert.
    tellNotOpened(links, files);
    return taken;
}

void ZMURLRouter::tellNotOpened(const std::vector<std::string>& links, const std::vector<std::string>& files) {
    const size_t count = links.size() + files.size();
    if (count == 0) return;
    std::string message;
    if (count > 1) message = ZMLocalizedString("Vostrelle cannot open these links and files:");
    else if (!links.empty()) message = ZMLocalizedString("Vostrelle cannot open this link:");
    else message = ZMLocalizedString("This is not a .deb file that Vostrelle can open:");
    message += "\n";
    std::vector<std::string> named = links;
    named.insert(named.end(), files.begin(), files.end());
    for (size_t i = 0; i < named.size() && i < kShownItems; ++i) message += "\n" + shownLink(named[i]);
    if (named.size() > kShownItems) message += "\n\u2026";
    popup(ZMLocalizedString("Not Opened"), message);
}

std::string ZMURLRouter::shownLink(std::string_view text) {
    // A store callback's query holds its tokens: the alert names the callback only.
    std::string shown(text);
    const std::string callbacks = std::string(ZMURLSchemeHandler::kStoreCallbackScheme) + ":";
    if (QString::fromStdString(shown).startsWith(QString::fromStdString(callbacks), Qt::CaseInsensitive))
        shown = shown.substr(0, shown.find_first_of("?#"));
    // It came from outside: no line breaks or other control characters, and not without end.
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    QString line = QString::fromStdString(shown);
    if (line.size() > kShownLinkLength) line = line.left(kShownLinkLength) + QChar(0x2026);
    return line.toStdString();
}
