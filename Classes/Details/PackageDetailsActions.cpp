#include "Details/PackageDetailsActions.h"

#include "Browsing/SourceAddition.h"
#include "Browsing/SourceViewController.h"
#include "Database/ZMRPackage.h"
#include "Details/ContactDeveloperViewController.h"
#include "Details/DetailsImages.h"
#include "Details/InstalledFilesViewController.h"
#include "Details/PackageDetailsHeader.h"
#include "Details/PackageDetailsViewController.h"
#include "ErrorViewController.h"
#include "Foundation/URL.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "PackageCell.h"
#include "Realm/Realm.h"
#include "UIKit/GetButton.h"
#include "UIKit/UINavigationController.h"
#include "WebViewViewController.h"
#include "ZMVostrelle.h"
#include "Miscellaneous/ZMJSON.h"
#include "ZMMailLink.h"
#include "ZMStoreGuard.h"

namespace {

constexpr const char* kMailSubject = PackageDetailsViewController::kMailSubject;

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string L(const char* key) { return ZMLocalizedString(key); }
std::string F(const char* key, const std::vector<std::string>& values) { return ZMLocalization::format(key, values); }

// An http(s) address with a host; nullopt for anything else (javascript:, file:...).
std::optional<QUrl> webAddress(const std::string& link) {
    auto url = URL::parse(link);
    if (!url || !url->isHTTP() || url->host().empty()) return std::nullopt;
    QUrl out(QString::fromStdString(url->string()), QUrl::StrictMode);
    if (!out.isValid()) return std::nullopt;
    return out;
}

}  // namespace

void PackageDetailsActions::getPackage(PackageDetailsViewController& page, QPushButton* sender) {
    if (!page.hasRecord_) return;
    if (sender == page.getBtn() || sender == page.getBarBtn_) GetButton::animateButton(sender);
    ZMVostrelle::sharedVostrelle().queuePackageWithIdentifier(page.packageIdentifier_, std::nullopt, sender);
}

void PackageDetailsActions::presentOptions(PackageDetailsViewController& page, QWidget* sender) {
    if (!page.hasRecord_) return;
    ZMVostrelle::sharedVostrelle().presentOptions(page.packageIdentifier_, sender);
}

void PackageDetailsActions::sharePackage(PackageDetailsViewController& page, QWidget* sender) {
    if (!page.hasRecord_) return;
    ZMVostrelle::sharedVostrelle().sharePackage(page.packageIdentifier_, sender);
}

void PackageDetailsActions::push(PackageDetailsViewController& page, UIViewController* screen) {
    page.lastOpened_ = screen;
    if (auto* nav = page.navigationController()) nav->pushViewController(screen, true);
    else SourceAddition::topPresenter(&page)->presentViewController(new UINavigationController(screen), true);
}

void PackageDetailsActions::showErrorPopup(PackageDetailsViewController& page, const std::string& title, const std::string& message) {
    auto* popup = new ErrorViewController;
    popup->setDelegate(&page);
    popup->showWithTitle(title, message, 1, L("OK"));
    page.lastOpened_ = popup;
    SourceAddition::topPresenter(&page)->presentViewController(popup, true);
}

bool PackageDetailsActions::openWebLink(PackageDetailsViewController& page, const std::string& link, const std::string& title) {
    auto url = webAddress(link);
    if (!url) return false;
    auto* web = new WebViewViewController;
    web->setViewTitle(title);
    web->setWebsiteURL(*url);
    push(page, web);
    return true;
}

void PackageDetailsActions::contactDeveloper(PackageDetailsViewController& page) {
    // The address is encoded like the subject: a contact cannot add recipients or headers.
    const QUrl url = SourceViewController::mailtoURL(page.text("contact"), F(kMailSubject, {page.text("name")}));
    if (!url.isValid() || url.isEmpty()) {
        showErrorPopup(page, L("No Email Address"), F("%@ hasn't provided an email address.", {page.developerName()}));
        return;
    }
    ZMMailLink::open(url);
}

void PackageDetailsActions::developerWebsite(PackageDetailsViewController& page) {
    const std::string developer = page.developerName();
    if (openWebLink(page, page.text("website"), F("%@'s website", {developer}))) return;
    showErrorPopup(page, L("No Website Link"), F("%@ hasn't provided a website link", {developer}));
}

void PackageDetailsActions::donate(PackageDetailsViewController& page) {
    const std::string developer = page.developerName();
    if (openWebLink(page, page.text("donateLink"), F("%@'s Donate Link", {developer}))) return;
    showErrorPopup(page, L("No Donate Link"), page.sourceUsesInfoJson() ? F("%@ hasn't provided a donate link.", {developer})
                                                             : L("This feature is not supported by this repository"));
}

void PackageDetailsActions::openTextLink(PackageDetailsViewController& page, const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (scheme == "mailto") {
        ZMMailLink::open(url);
        return;
    }
    openWebLink(page, url.toString().toStdString(), F("%@'s Link", {page.header_->nameLbl()->text().toStdString()}));
}

void PackageDetailsActions::seeAllDevPackages(PackageDetailsViewController& page) {
    auto factory = ZMDetailsServices::screens().maintainerPackages;
    if (!factory) return;
    const std::string maintainer = page.text("maintainer");
    push(page, factory(maintainer, F("%@'s Packages", {PackageRow::displayMaintainer(maintainer)})));
}

void PackageDetailsActions::seeAllReviews(PackageDetailsViewController& page) {
    auto factory = ZMDetailsServices::screens().allReviews;
    if (factory) push(page, factory(page.text("identifier"), page.text("maintainer")));
}

void PackageDetailsActions::leaveReview(PackageDetailsViewController& page) {
    if (!ZMJSON::boolValue(page.packageDictionary_, "isInstalled")) {
        page.showLeaveReviewWarning();
        return;
    }
    auto factory = ZMDetailsServices::screens().leaveReview;
    if (!factory) return;
    UIViewController* sheet = factory(page.text("identifier"), &page);
    sheet->setModalPresentationStyle(UIViewController::ModalPresentationStyle::OverFullScreen);
    page.lastOpened_ = sheet;
    SourceAddition::topPresenter(&page)->presentViewController(sheet, true);
}

void PackageDetailsActions::seeInstalledFiles(PackageDetailsViewController& page) {
    auto* files = new InstalledFilesViewController;
    files->setPackageIdentifier(page.text("identifier"));
    push(page, files);
}

void PackageDetailsActions::openDeveloperCard(PackageDetailsViewController& page) {
    auto* card = new ContactDeveloperViewController;
    card->setDeveloperAvatar(page.authorAvatar_);
    card->setDeveloperName(page.developerName());
    card->setEmail(page.text("contact"));
    card->setPackageName(page.text("name"));
    push(page, card);
}

void PackageDetailsActions::openPackage(PackageDetailsViewController& page, const std::string& identifier) {
    auto package = ZMStoreGuard::record<ZMRPackage>("opening a package", identifier);
    if (!package) return;
    auto* details = new PackageDetailsViewController;
    details->setPackageIdentifier(identifier);
    details->setTitle(q(package->name.empty() ? identifier : package->name));
    push(page, details);
}

void PackageDetailsActions::updateWishlistButton(PackageDetailsViewController& page) {
    const bool inWishlist = ZMJSON::boolValue(page.packageDictionary_, "isInWishlist");
    page.wishlistBtn_->setIcon(DetailsImages::named(inWishlist ? "Fav" : "Not Fav"));
    page.wishlistBtn_->setTitle(q(L(inWishlist ? "Remove from Wishlist" : "Add to Wishlist")));
}

void PackageDetailsActions::changeWishlistState(PackageDetailsViewController& page) {
    const bool wished = !ZMJSON::boolValue(page.packageDictionary_, "isInWishlist");
    bool written = false;
    // Not stored: the heart keeps showing what the record says.
    if (!ZMStoreGuard::run("changing the wishlist", [&] {
            auto realm = Realm::defaultRealm();
            realm->transactionWithBlock([&] {
                auto package = realm->objectForPrimaryKey<ZMRPackage>(page.packageIdentifier_);
                if (!package || package->isInvalidated()) return;
                realm->setValueForKey(*package, "isInWishlist", wished);
                written = true;
            });
        }))
        return;
    page.packageDictionary_["isInWishlist"] = wished;
    updateWishlistButton(page);
    // Uploaded once committed, and only for a signed-in account: signed out the mark stays here.
    auto services = ZMDetailsServices::shared();
    if (written && services->isSignedIn()) services->uploadWishlist();
}
