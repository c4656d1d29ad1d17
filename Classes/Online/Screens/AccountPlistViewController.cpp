#include "Online/Screens/AccountPlistViewController.h"

#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Browsing/OnlineScreens.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/PackagesWishlistViewController.h"
#include "Browsing/SourceAddition.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRPackageManager.h"
#include "Dispatch/Dispatch.h"
#include "ErrorViewController.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMShareTexts.h"
#include "Online/Screens/CreditsViewController.h"
#include "Online/Screens/GroupedScreenPalette.h"
#include "Online/Screens/InAppBrowser.h"
#include "Online/Screens/LoginViewController.h"
#include "Online/Screens/OnlineImages.h"
#include "Online/Screens/VostrelleSetupRestorationViewController.h"
#include "OnlineServiceNotice.h"
#include "PackageCell.h"
#include "RemoteImage.h"
#include "Services/ZMAccount.h"
#include "Services/ZMMakerAPI.h"
#include "Services/ZMSetupBackup.h"
#include "SettingsPlistViewController.h"
#include "UIKit/UINavigationController.h"
#include "ZMStoreGuard.h"

using BrowsingText::q;

namespace {
std::string L(const char* key) { return ZMLocalizedString(key); }
}  // namespace

AccountPlistViewController::AccountPlistViewController(QWidget* parent) : RootViewController("Account", parent) {
    setObjectName("AccountPlistViewController");
    registerTextOperation("signInOutButtonTitle", [this] { return signInOutButtonTitle(); });
    registerAction("signInOut", [this] { signInOut(); });
    registerAction("openPurchased", [this] { openPurchased(); });
    registerAction("openCommercialStores", [this] { openCommercialStores(); });
    registerAction("openWishlist", [this] { openWishlist(); });
    registerAction("openFollowed", [this] { openFollowed(); });
    registerAction("createBackup", [this] { createBackup(); });
    registerAction("openBackup", [this] { openBackup(); });
    registerAction("openSettings", [this] { openSettings(); });
    registerAction("openCredits", [this] { openCredits(); });
    registerAction("openChangelog", [this] { openChangelog(); });
    for (const char* link : {"openGithubIssues", "openDiscordJoin", "openCroudinProject", "openTwitter", "openZemtrixWebsite"})
        registerAction(link, [this, name = std::string(link)] { openLinkOfRow(name); });
    GroupedScreenPalette::applyCurrent(this);
}

void AccountPlistViewController::setAvatarImage(const QImage& image) {
    avatarImage_ = image;
    if (accountImageview_) drawAvatar();
}

// ---- header ----------------------------------------------------------------------------

void AccountPlistViewController::viewDidLoad() {
    RootViewController::viewDidLoad();
    auto* header = new QWidget;
    header->setObjectName("accountHeader");
    header->setFixedHeight(210);
    auto* stack = new QVBoxLayout(header);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(10);
    stack->addSpacing(20);
    accountImageview_ = new QLabel;
    accountImageview_->setObjectName("accountImageview");
    accountImageview_->setFixedSize(kAvatarSide, kAvatarSide);
    stack->addWidget(accountImageview_, 0, Qt::AlignHCenter);
    accountNameLabel_ = new QLabel;
    accountNameLabel_->setObjectName("accountNameLabel");
    accountEmailLabel_ = new QLabel;
    accountEmailLabel_->setObjectName("accountEmailLabel");
    for (QLabel* label : {accountNameLabel_, accountEmailLabel_}) {
        label->setTextFormat(Qt::PlainText);  // the server's texts
        label->setAlignment(Qt::AlignCenter);
        QFont f = label->font();
        f.setPixelSize(16);
        f.setBold(label == accountNameLabel_);
        label->setFont(f);
        stack->addWidget(label);
    }
    stack->addSpacing(20);
    tableView()->setTableHeaderView(header);
    // Without the service, the line other online screens show says why signing in cannot work.
    onlineServiceNotice_ = OnlineServiceNotice::make();
    if (auto* column = qobject_cast<QVBoxLayout*>(layout())) column->insertWidget(0, onlineServiceNotice_);
    refreshHeader();
}

void AccountPlistViewController::drawAvatar() {
    showsAvatar_ = !avatarImage_.isNull();
    accountImageview_->setPixmap(showsAvatar_ ? OnlineImages::rounded(avatarImage_, kAvatarSide, kAvatarSide / 2.0)
                                              : OnlineImages::rounded(OnlineImages::named("iTunesArtwork.png"), kAvatarSide, 23));
}

void AccountPlistViewController::refreshHeader() {
    // The account's name and e-mail, or their placeholders. The avatar stays
    // as the featured page handed it over, also after signing out, until the
    // page is made again.
    auto& account = ZMAccount::instance();
    auto shown = [](const std::optional<std::string>& value, const char* placeholder) {
        return QString::fromStdString(value && !value->empty() ? *value : L(placeholder));
    };
    if (accountImageview_) {
        accountNameLabel_->setText(shown(account.returnUsername(), "Account Name"));
        accountEmailLabel_->setText(shown(account.returnEmail(), "Account Email"));
        OnlineServiceNotice::update(onlineServiceNotice_);
        drawAvatar();
    }
    reloadData();
}

// ---- rows ------------------------------------------------------------------------------

std::string AccountPlistViewController::signInOutButtonTitle() const {
    return ZMAccount::instance().isSignedIn() ? L("Sign Out") : L("Sign In");
}

void AccountPlistViewController::signInOut() {
    auto& account = ZMAccount::instance();
    if (account.isSignedIn()) {
        account.logout();
        refreshHeader();
        return;
    }
    if (!OnlineServiceNotice::serviceConfigured()) {
        // A sign-in form that cannot reach anyone would only fail.
        popup(L("Sign In"), ZMMakerAPI::notConfiguredText(), L("OK"));
        return;
    }
    auto* login = new LoginViewController;
    login->setIsInvokedFromSettings(true);
    QPointer<AccountPlistViewController> self(this);
    login->setDismissCompletion([self] {
        if (!self) return;
        self->refreshHeader();
        const std::string url = ZMAccount::instance().returnAvatarURL().value_or("");
        if (url.empty() || !ZMAccount::instance().isSignedIn()) return;
        RemoteImage::load(url, [self](const QImage& image, bool placeholder) {
            if (self && !placeholder && ZMAccount::instance().isSignedIn()) self->setAvatarImage(image);
        });
    });
    login->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    SourceAddition::topPresenter(this)->presentViewController(login, true);
}

void AccountPlistViewController::push(UIViewController* vc) {
    lastPushed_ = vc;
    if (auto* nav = navigationController()) nav->pushViewController(vc, true);
    else SourceAddition::topPresenter(this)->presentViewController(new UINavigationController(vc), true);
}

void AccountPlistViewController::popup(const std::string& title, const std::string& message, const std::string& close,
                                       const std::optional<std::string>& other, std::function<void()> action) {
    auto* popup = new ErrorViewController;
    popup->setDelegate(this);
    popup->showWithTitle(title, message, other ? 2 : 1, close, other, std::move(action));
    SourceAddition::topPresenter(this)->presentViewController(popup, true);
}

void AccountPlistViewController::openPurchased() {
    auto* list = new PackagesTableViewController;
    list->setCategory(kCategorySpecial_SileoPackages);
    list->setTitle(q(kCategorySpecial_SileoPackages));
    push(list);
}

void AccountPlistViewController::openCommercialStores() { push(OnlineScreens::storeList()); }

void AccountPlistViewController::openWishlist() {
    auto count = ZMStoreGuard::value("opening the wishlist",
                                     [] { return ZMRPackageManager::sharedPackageManager().packages().countOfPackagesInWishlist(); });
    if (!count) return;
    if (*count == 0) {
        popup(L("Packages Wishlist"), L("There are no packages in your wishlist"), L("OK"));
        return;
    }
    push(new PackagesWishlistViewController);
}

void AccountPlistViewController::openFollowed() {
    auto followed = ZMStoreGuard::value("opening the followed developers", [] {
        return ZMRPackageManager::sharedPackageManager().developers().arrayOfFollowedDevelopers();
    });
    if (!followed) return;
    if (followed->empty()) {
        popup(L("Followed Developers"), L("You are not following any developers"), L("OK"));
        return;
    }
    push(OnlineScreens::followedDevelopers());
}

void AccountPlistViewController::openSettings() { push(new SettingsPlistViewController); }

void AccountPlistViewController::openCredits() { push(new CreditsViewController); }

void AccountPlistViewController::openChangelog() { push(new ChangelogViewController); }

void AccountPlistViewController::openLinkOfRow(const std::string& operation) {
    for (const auto& section : sections())
        for (const auto& row : section.rows) {
            const auto& item = row.item;
            if (item.value("detail", "") != operation && item.value("action", "") != operation) continue;
            const std::string url = item.value("url", "");
            InAppBrowser::present(this, QUrl(QString::fromStdString(url), QUrl::StrictMode),
                                  ZMLocalizedString(item.value("label", "")));
            return;
        }
    ZMLOG("account list: no link for {}", operation);
}

// ---- backup -------------------------------------------------------------------------------

void AccountPlistViewController::createBackup() {
    QPointer<AccountPlistViewController> self(this);
    if (ZMAccount::instance().isPremium()) {
        popup(L("Vostrelle Setup Backup"),
              L("Do you really want to backup configured sources and installed packages? This feature may be useful if "
                "you plan to restore your device and restore your Vostrelle setup afterwards. Please note that these "
                "information will be uploaded to our server."),
              L("Cancel"), L("Backup now"), [self] {
                  if (self) self->backupOnline();
              });
        return;
    }
    popup(L("Database Backup"),
          L("You need to be a premium user in order to use the online backup feature. Do you want to save it locally?"),
          L("Cancel"), L("OK"), [self] {
              if (self) self->backupLocally();
          });
}

void AccountPlistViewController::backupOnline() {
    // Reading every source and package is no work for the main thread.
    Dispatch::defaultQueue([] {
        if (!ZMSetupBackup::backupOnline()) ZMLOG("no online backup queued (signed out, or one is running)");
    });
}

void AccountPlistViewController::backupLocally() {
    QPointer<AccountPlistViewController> self(this);
    Dispatch::defaultQueue([self] {
        auto written = ZMSetupBackup::backupLocally();
        Dispatch::main([self, written] {
            if (!self) return;
            if (written.ok())
                self->popup(L("Local Setup Backup"),
                            ZMShareTexts::fillFormat("Backup successfully done! You can find it in %@", {*written.value}),
                            "OK");
            else
                self->popup(L("Local Setup Backup"),
                            written.error ? written.error->localizedDescription() : L("The backup could not be written."),
                            "OK");
        });
    });
}

// ---- restoration ------------------------------------------------------------------------

void AccountPlistViewController::openBackup() {
    QPointer<AccountPlistViewController> self(this);
    ZMSetupRestoration::openBackup([self](ZMSetupRestoration::Finding finding) {
        if (self) self->showFinding(std::move(finding));
    });
}

void AccountPlistViewController::restoreBackupWithJSONData(const std::string& bytes) {
    QPointer<AccountPlistViewController> self(this);
    ZMSetupRestoration::restoreBackupWithJSONData(bytes, [self](ZMSetupRestoration::Finding finding) {
        if (self) self->showFinding(std::move(finding));
    });
}

void AccountPlistViewController::showFinding(ZMSetupRestoration::Finding finding) {
    using Kind = ZMSetupRestoration::Finding::Kind;
    const std::string title = L("Vostrelle Setup Restoration");
    QPointer<AccountPlistViewController> self(this);
    switch (finding.kind) {
    case Kind::Compared:
        pushRestoration(finding.comparison);
        return;
    case Kind::AllInstalled:
    case Kind::Unrestorable: {
        auto comparison = finding.comparison;
        popup(title, finding.message, L("Cancel"), L("Show"), [self, comparison] {
            if (self) self->pushRestoration(comparison);
        });
        return;
    }
    case Kind::NoBackup:
        popup(title, finding.message, L("Cancel"), L("OK"), [self] {
            if (self) self->createBackup();
        });
        return;
    case Kind::Empty:
    case Kind::Failed:
        popup(title, finding.message, L("OK"));
        return;
    }
}

void AccountPlistViewController::pushRestoration(const ZMSetupRestoration::Comparison& comparison) {
    auto* screen = new VostrelleSetupRestorationViewController;
    screen->setSourcesToRestoreDict(comparison.sourcesToRestore);
    screen->setPackagesToRestoreDict(comparison.packagesToRestore);
    screen->setUnusableSources(comparison.unusableSources);
    push(screen);
}

// ---- palette ----------------------------------------------------------------------------

void AccountPlistViewController::paletteWillChangeToStyle(int style) { GroupedScreenPalette::apply(this, style); }

void AccountPlistViewController::paletteDidChange(const ZMPalette& p) {
    RootViewController::paletteDidChange(p);
    if (!accountNameLabel_) return;
    PackageRow::setTextColor(accountNameLabel_, p.primaryTextColor());
    PackageRow::setTextColor(accountEmailLabel_, p.secondaryTextColor());
    reloadData();
}
