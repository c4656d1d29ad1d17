#include "RepoStoreDetailsViewController.h"

#include <QPointer>
#include <QVBoxLayout>

#include "ZMThemedIcon.h"
#include "Browsing/PackageOpening.h"
#include "Database/ZMRNotifications.h"
#include "Dispatch/Dispatch.h"
#include "CydiaStoreLoginController.h"
#include "Miscellaneous/ZMLocalization.h"
#include "PackageCell.h"
#include "SearchCell.h"
#include "Services/ZMCydiaStore.h"
#include "Services/ZMRepoStoreAPI.h"
#include "StoreHeaderView.h"
#include "ZMPaletteManager.h"
#include "UIKit/UINavigationController.h"
#include "VostrellePersistentPreferences.h"
#include "ZMStoreGuard.h"

namespace {
QString localized(const std::string& key) { return QString::fromStdString(ZMLocalizedString(key)); }
constexpr int kRowIconSide = 40;
}  // namespace

RepoStoreDetailsViewController::RepoStoreDetailsViewController(std::string sourceLocation, RepoStoreVendorRecord vendorInfo,
                                                               QWidget* parent)
    : ZMPalettedViewController(parent),
      sourceLocation_(std::move(sourceLocation)),
      vendorInfo_(std::move(vendorInfo)),
      isCydiaStore_(sourceLocation_ == ZMCydiaStore::storeLocation()),
      errorRetreivingVendorInfo_(vendorInfo_.error.has_value()) {
    setTitle(vendorInfo_.name.empty() ? localized("User Info") : QString::fromStdString(vendorInfo_.name));
    paletteWillChangeToStyle(ZMPaletteManager::sharedManager().activeStyle());
}

RepoStoreDetailsViewController::~RepoStoreDetailsViewController() = default;

void RepoStoreDetailsViewController::viewDidLoad() {
    tableView_ = new UITableView(UITableView::Style::Plain, this);
    tableView_->setSeparatorStyle(UITableView::SeparatorStyle::None);
    tableView_->setDataSource(this);
    tableView_->setDelegate(this);
    tableView_->registerCell("cell", [] { return new SearchCell("cell"); });
    tableView_->registerCell("banner", [] { return new UITableViewCell("banner"); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tableView_);

    header_ = new StoreHeaderView(true);
    QPixmap icon = vendorInfo_.image;
    if (icon.isNull()) icon = StoreHeaderView::storeIcon(sourceLocation_, 180);
    header_->setIcon(icon);
    header_->titleLabel()->setText(localized("Username:"));
    header_->subtitleLabel()->setText(localized("Email:"));
    connect(header_->button(), &QPushButton::clicked, this, [this] { logInOutButtonPressed(); });
    tableView_->setTableHeaderView(header_);

    auto& center = NotificationCenter::defaultCenter();
    using Q = NotificationCenter::Queue;
    observers_.add(center.addObserver(ZMRSourceInfoIconChangedNotification, Q::Main, [this](const Notification& n) { iconChanged(n); }));
    observers_.add(center.addObserver(ZMRPackageInfoIconChangedNotification, Q::Main, [this](const Notification& n) { iconChanged(n); }));
    observers_.add(center.addObserver(CydiaStoreSigninStatusDidChange, Q::Main, [this](const Notification& n) { cydiaSigninChanged(n); }));
    if (!isCydiaStore_)  // the store ended the sign-in, or moved: signed out here too
        observers_.add(center.addObserver(ZMRepoStoreAPI::kSigninRequiredNotification, Q::Main,
                                          [this](const Notification&) { setSignedIn(false); }, sourceLocation_));

    if (isCydiaStore_) {
        setSignedIn(VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::CydiaStoreIsSignedIn));
        purchasedPackages_ = ZMRPackage::objectsWhere("isPaidThroughCydia = 1").sortedResultsUsingKeyPath("name", true);
    } else {
        refreshControl_ = new UIRefreshControl;
        connect(refreshControl_, &UIRefreshControl::valueChanged, this, [this] { refreshUserInfo(true); });
        tableView_->setRefreshControl(refreshControl_);
        navigationItem()->setRightBarButtonItem(new UIBarButtonItem(
            ZMThemedIcon::named("view-refresh"), [this](UIBarButtonItem*) { refreshUserInfo(false); }, navigationItem()));
        setSignedIn(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(sourceLocation_));
        refreshUserInfo(false);
        purchasedPackages_ = ZMRPackage::objectsWhere("sourceLocation = %@ AND isPaidThroughSileo = 1", sourceLocation_)
                                 .sortedResultsUsingKeyPath("name", true);
    }
    hasZeroPackages_ = isSignedIn_ && purchasedCount() == 0;
    QPointer<RepoStoreDetailsViewController> self(this);
    purchasedPackagesNotification_ = purchasedPackages_->addNotificationBlock(std::weak_ptr<int>(alive_), [self](const auto&) {
        if (!self) return;
        self->hasZeroPackages_ = self->isSignedIn_ && self->purchasedCount() == 0;
        self->tableView_->reloadData();
    });
}

size_t RepoStoreDetailsViewController::purchasedCount() const {
    if (!purchasedPackages_) return 0;
    return ZMStoreGuard::value("counting purchases", [&] { return purchasedPackages_->count(); }).value_or(0);
}

std::optional<ZMRPackage> RepoStoreDetailsViewController::packageAtIndexPath(IndexPath indexPath) const {
    if (indexPath.row < 0 || static_cast<size_t>(indexPath.row) >= purchasedCount()) return std::nullopt;
    return ZMStoreGuard::value("reading a purchase", [&] { return (*purchasedPackages_)[indexPath.row]; });
}

void RepoStoreDetailsViewController::setSignedIn(bool signedIn) {
    if (!Dispatch::isMainThread()) {
        QPointer<RepoStoreDetailsViewController> self(this);
        return Dispatch::main([self, signedIn] {
            if (self) self->setSignedIn(signedIn);
        });
    }
    int height = StoreHeaderView::kHeight;
    if (isCydiaStore_) {
        isSignedIn_ = VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::CydiaStoreIsSignedIn);
        header_->titleLabel()->hide();
        header_->subtitleLabel()->hide();
    } else {
        isSignedIn_ = signedIn;
        if (signedIn) height = kSignedInHeaderHeight;
        header_->titleLabel()->setVisible(signedIn);
        header_->subtitleLabel()->setVisible(signedIn);
    }
    const std::string signInTitle = vendorInfo_.buttonTitle.empty() ? ZMLocalizedString("Login") : vendorInfo_.buttonTitle;
    header_->button()->setText(signedIn ? localized("Logout") : QString::fromStdString(signInTitle));
    header_->setFixedHeight(height);
    tableView_->setTableHeaderView(header_);
    // The rows change kind with the state; the list's own change may have come already.
    hasZeroPackages_ = isSignedIn_ && purchasedCount() == 0;
    tableView_->reloadData();
}

void RepoStoreDetailsViewController::logInOutButtonPressed() {
    if (isCydiaStore_) {
        auto* nav = new UINavigationController(new CydiaStoreLoginController);
        nav->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
        presentViewController(nav, true);
        return;
    }
    QPointer<RepoStoreDetailsViewController> self(this);
    if (ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(sourceLocation_)) {
        ZMRepoStoreAPI::logoutOfSource(sourceLocation_, [self](bool success) {
            if (success) Dispatch::main([self] { if (self) self->setSignedIn(false); });
        });
    } else {
        ZMRepoStoreAPI::loginToSource(sourceLocation_, [self](bool success) {
            if (!success) return;
            Dispatch::main([self] {
                if (!self) return;
                self->setSignedIn(true);
                self->refreshUserInfo(false);  // the name and e-mail of the account just signed in
            });
        });
    }
}

void RepoStoreDetailsViewController::refreshUserInfo(bool fromControl) {
    if (!isSignedIn_) {
        if (refreshControl_) refreshControl_->endRefreshing();
        return;
    }
    if (fromControl && !refreshControl_->isRefreshing()) refreshControl_->beginRefreshing();
    QPointer<RepoStoreDetailsViewController> self(this);
    const std::string location = sourceLocation_;
    ZMRepoStoreAPI::sharedRepoStore().userInfoForSourceLocation(location, [self, location](bool failed, const RepoStoreUserInfoResponse& info) {
        if (!failed && !info.error) ZMRepoStoreAPI::updatePurchasesForSourceWithLocation(location, info);
        Dispatch::main([self, failed, info] {
            if (!self) return;
            if (!failed && !info.error) {
                self->header_->subtitleLabel()->setText(QString::fromStdString(info.email));
                self->header_->titleLabel()->setText(QString::fromStdString(info.name));
                if (info.purchases.empty()) self->hasZeroPackages_ = true;
            }
            if (self->refreshControl_) self->refreshControl_->endRefreshing();
            self->tableView_->reloadData();
        });
    });
}

QString RepoStoreDetailsViewController::messageText() const {
    if (showsPackages()) return {};
    if (errorRetreivingVendorInfo_) {
        QString text = localized("There was an error while retrieving vendor information for this store. Information displayed "
                          "here might not be acurate. Error: (%@)");
        return text.replace("%@", QString::fromStdString(*vendorInfo_.error));
    }
    if (isSignedIn_) return localized("You have no purchased packages for this account.");
    if (!vendorInfo_.message.empty()) return localized(vendorInfo_.message);
    return localized("You must sign in before you can view your purchased packages.");
}

int RepoStoreDetailsViewController::numberOfRows(UITableView*, int) {
    return showsPackages() ? static_cast<int>(purchasedCount()) : 1;
}

double RepoStoreDetailsViewController::heightForRow(UITableView*, IndexPath) {
    return showsPackages() ? SearchCell::kRowHeight : UITableView::kAutomaticDimension;
}

UITableViewCell* RepoStoreDetailsViewController::cellForRow(UITableView* table, IndexPath indexPath) {
    const ZMPalette p = palette();
    if (!showsPackages()) {
        auto* cell = table->dequeueReusableCell("banner");
        cell->setSelectionStyle(UITableViewCell::SelectionStyle::None);
        cell->setBackgroundColor(isDarkMode() ? p.highlightColor() : p.cellBackgroundColor());
        QLabel* label = cell->textLabel();
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setText(messageText());
        const QColor color = errorRetreivingVendorInfo_ ? QColor(255, 59, 48) : p.secondaryTextColor();
        label->setStyleSheet(QStringLiteral("color: %1;").arg(color.name()));
        return cell;
    }
    auto* cell = table->dequeueReusableCell<SearchCell>("cell");
    auto package = packageAtIndexPath(indexPath);
    if (!package) return cell;
    cell->nameLbl()->setText(QString::fromStdString(package->name.empty() ? package->identifier : package->name));
    cell->subinfoLbl()->setText(QString::fromStdString(package->maintainer));
    cell->subinfoLbl()->setWordWrap(true);
    cell->setAccessoryType(UITableViewCell::Accessory::DisclosureIndicator);
    cell->setIcon(PackageRow::iconForPackage(package->identifier, kRowIconSide * 2));
    cell->setProperty("packageIdentifier", QString::fromStdString(package->identifier));
    cell->followBtn()->hide();
    cell->nameLbl()->setStyleSheet(QStringLiteral("color: %1;").arg(p.primaryTextColor().name()));
    cell->subinfoLbl()->setStyleSheet(QStringLiteral("color: %1;").arg(p.secondaryTextColor().name()));
    cell->setBackgroundColor(p.cellBackgroundColor());
    cell->setSeparatorHidden(static_cast<size_t>(indexPath.row) + 1 == purchasedCount());
    return cell;
}

void RepoStoreDetailsViewController::didSelectRow(UITableView* table, IndexPath indexPath) {
    table->deselectRow(indexPath, true);
    if (!showsPackages()) return;
    auto package = packageAtIndexPath(indexPath);
    if (!package || !navigationController()) return;
    navigationController()->pushViewController(PackageOpening::viewControllerForPackage(*package), true);
}

void RepoStoreDetailsViewController::iconChanged(const Notification& note) {
    const std::string object = note.objectString();
    if (note.name == ZMRSourceInfoIconChangedNotification) {
        if (object == sourceLocation_ && vendorInfo_.image.isNull()) header_->setIcon(StoreHeaderView::storeIcon(object, 180));
        return;
    }
    for (auto* cell : tableView_->visibleCells())
        if (auto* row = qobject_cast<SearchCell*>(cell); row && row->property("packageIdentifier").toString().toStdString() == object)
            row->setIcon(PackageRow::iconForPackage(object, kRowIconSide * 2));
}

void RepoStoreDetailsViewController::cydiaSigninChanged(const Notification& note) {
    const bool* value = std::any_cast<bool>(&note.object);
    setSignedIn(value && *value);
}

void RepoStoreDetailsViewController::paletteWillChangeToStyle(int style) { StoreHeaderView::applyStoreColors(*this, style); }

void RepoStoreDetailsViewController::paletteDidChange(const ZMPalette& p) {
    if (!tableView_) return;
    tableView_->setBackgroundColor(p.backgroundColor());
    header_->applyPalette(p);
    tableView_->reloadData();
}
