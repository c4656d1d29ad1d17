#include "RepoStoresListController.h"

#include <QPointer>
#include <QVBoxLayout>

#include "ZMThemedIcon.h"
#include "Dispatch/Dispatch.h"
#include "Database/ZMRNotifications.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMLocalization.h"
#include "RepoStoreDetailsViewController.h"
#include "SearchCell.h"
#include "Services/ZMCydiaStore.h"
#include "Services/ZMRepoStoreAPI.h"
#include "StoreHeaderView.h"
#include "ZMPaletteManager.h"
#include "UIKit/UINavigationController.h"
#include "ZMStoreGuard.h"

namespace {
QString localized(const char* key) { return QString::fromStdString(ZMLocalizedString(key)); }
constexpr int kRowIconSide = 40;
constexpr uint64_t kMaximumIconBytes = 8u << 20;
}  // namespace

RepoStoresListController::RepoStoresListController(QWidget* parent) : ZMPalettedViewController(parent) {
    paletteWillChangeToStyle(ZMPaletteManager::sharedManager().activeStyle());
}

RepoStoresListController::~RepoStoresListController() = default;

void RepoStoresListController::viewDidLoad() {
    setTitle(localized("Stores"));
    tableView_ = new UITableView(UITableView::Style::Plain, this);
    tableView_->setSeparatorStyle(UITableView::SeparatorStyle::None);
    tableView_->setDataSource(this);
    tableView_->setDelegate(this);
    tableView_->registerCell("cell", [] { return new SearchCell("cell"); });
    refreshControl_ = new UIRefreshControl;
    connect(refreshControl_, &UIRefreshControl::valueChanged, this, [this] { refreshEndpointList(true); });
    tableView_->setRefreshControl(refreshControl_);
    navigationItem()->setRightBarButtonItem(new UIBarButtonItem(
        ZMThemedIcon::named("view-refresh"), [this](UIBarButtonItem*) { refreshEndpointList(false); }, navigationItem()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tableView_);

    header_ = new StoreHeaderView(false);
    header_->setIcon(StoreHeaderView::applicationIcon(180));
    header_->titleLabel()->setText(localized("Zemtrix Vostrelle"));
    header_->subtitleLabel()->setText(localized("Commercial Repos"));
    tableView_->setTableHeaderView(header_);

    iconObserver_ = NotificationCenter::defaultCenter().addObserver(
        ZMRSourceInfoIconChangedNotification, NotificationCenter::Queue::Main, [this](const Notification& n) { iconChanged(n); });
    commercialSources_ = ZMRSource::objectsWhere("hasEndpoint = 1").sortedResultsUsingKeyPath("name", true);
    QPointer<RepoStoresListController> self(this);
    commercialSourcesNotification_ = commercialSources_->addNotificationBlock(std::weak_ptr<int>(alive_), [self](const auto&) {
        if (self) self->tableView_->reloadData();
    });
    fetchVendorInfoForAllSources();
}

size_t RepoStoresListController::commercialCount() const {
    if (!commercialSources_) return 0;
    return ZMStoreGuard::value("counting the stores", [&] { return commercialSources_->count(); }).value_or(0);
}

std::optional<ZMRSource> RepoStoresListController::sourceAtIndexPath(IndexPath indexPath) const {
    if (indexPath.row < 0 || static_cast<size_t>(indexPath.row) >= commercialCount()) return std::nullopt;
    return ZMStoreGuard::value("reading a store", [&] { return (*commercialSources_)[indexPath.row]; });
}

std::optional<IndexPath> RepoStoresListController::indexPathForSourceLocation(const std::string& location) const {
    if (!commercialSources_) return std::nullopt;
    std::optional<ZMRSource> match;
    std::vector<int64_t> ids;
    if (!ZMStoreGuard::run("finding a store", [&] {
            match = commercialSources_->objectsWhere("location = %@", location).firstObject();
            if (match) ids = commercialSources_->core()->rowIds();
        }))
        return std::nullopt;
    if (!match) return std::nullopt;
    for (size_t i = 0; i < ids.size(); ++i)
        if (ids[i] == match->realmRowId()) return IndexPath{0, static_cast<int>(i)};
    return std::nullopt;
}

bool RepoStoresListController::hasVendorInfoForSourceLocation(const std::string& location) const {
    return vendorInfoCollection_.count(location) > 0;
}

RepoStoreVendorRecord RepoStoresListController::vendorInfoForSourceLocation(const std::string& location) const {
    auto it = vendorInfoCollection_.find(location);
    return it == vendorInfoCollection_.end() ? RepoStoreVendorRecord{} : it->second;
}

void RepoStoresListController::fetchVendorInfoForAllSources() {
    // Replies of an earlier round may still come: only this round's count.
    const uint64_t round = ++vendorRound_;
    vendorInfoCollection_.clear();
    RepoStoreVendorRecord cydia;
    cydia.name = ZMLocalizedString("Cydia Store");
    cydia.image = StoreHeaderView::cydiaStoreIcon(180);
    vendorInfoCollection_[ZMCydiaStore::storeLocation()] = cydia;
    if (!commercialSources_) return;
    QPointer<RepoStoresListController> self(this);
    auto locations = ZMStoreGuard::value("listing the stores", [&] { return commercialSources_->valueForKey("location"); });
    if (!locations) return;
    for (const auto& value : *locations) {
        if (!value.is_string()) continue;
        const std::string location = value.get<std::string>();
        ZMRepoStoreAPI::sharedRepoStore().vendorInfoForSourceLocation(
            location, [self, location, round](bool failed, const RepoStoreVendorInfoResponse& response) {
                RepoStoreVendorRecord record;
                if (failed || response.error) {
                    record.error = response.error ? response.error->localizedDescription : std::string();
                } else {
                    record.name = response.name;
                    record.icon = response.icon;
                    if (response.authenticationInfo) {
                        record.buttonTitle = response.authenticationInfo->buttonTitle;
                        record.message = response.authenticationInfo->message;
                    }
                }
                Dispatch::main([self, location, record, round] {
                    if (!self || round != self->vendorRound_) return;
                    self->vendorInfoCollection_[location] = record;
                    self->fetchIconForURL(record.icon, location);
                });
            });
    }
}

void RepoStoresListController::fetchIconForURL(const std::string& address, const std::string& location) {
    if (address.empty() || location.empty()) return;
    if (!vendorInfoForSourceLocation(location).image.isNull()) return;
    auto url = URL::parse(address);
    if (!url || !url->isHTTP()) return;
    URLRequest request(*url);
    request.maximumBodySize = kMaximumIconBytes;
    QPointer<RepoStoresListController> self(this);
    const uint64_t round = vendorRound_;
    URLSession::sharedSession()
        ->dataTaskWithRequest(request,
                              [self, location, round](std::string data, std::optional<URLResponse> response, std::optional<ZMError> error) {
                                  if (error || data.empty() || !response ||
                                      (response->statusCode != 200 && response->statusCode != 304))
                                      return;
                                  Dispatch::main([self, location, round, data = std::move(data)] {
                                      QPixmap image = StoreHeaderView::pictureFromData(data);
                                      if (!self || round != self->vendorRound_ || image.isNull() ||
                                          !self->vendorInfoCollection_.count(location))
                                          return;
                                      self->vendorInfoCollection_[location].image = image;
                                      if (auto row = self->indexPathForSourceLocation(location)) self->tableView_->reloadRows({*row});
                                  });
                              })
        ->resume();
}

void RepoStoresListController::iconChanged(const Notification& note) {
    const std::string location = note.objectString();
    if (!vendorInfoForSourceLocation(location).image.isNull()) return;
    setIcon(StoreHeaderView::sourceIcon(location, kRowIconSide * 2), location);
}

void RepoStoresListController::setIcon(const QPixmap& icon, const std::string& location) {
    if (icon.isNull() || location.empty() || !tableView_) return;
    for (auto* cell : tableView_->visibleCells())
        if (auto* row = qobject_cast<SearchCell*>(cell); row && row->subinfoLbl()->text().toStdString() == location)
            row->setIcon(icon);
}

void RepoStoresListController::refreshEndpointList(bool fromControl) {
    const size_t before = commercialCount();
    if (fromControl && !refreshControl_->isRefreshing()) refreshControl_->beginRefreshing();
    QPointer<RepoStoresListController> self(this);
    ZMRepoStoreAPI::refreshEndpontsForAllSourcesWithCompletion([self, before](bool) {
        Dispatch::main([self, before] {
            if (!self) return;
            if (self->commercialCount() != before) self->fetchVendorInfoForAllSources();
            self->refreshControl_->endRefreshing();
        });
    });
}

int RepoStoresListController::numberOfRows(UITableView*, int) { return static_cast<int>(commercialCount()) + 1; }

double RepoStoresListController::heightForRow(UITableView*, IndexPath) { return SearchCell::kRowHeight; }

UITableViewCell* RepoStoresListController::cellForRow(UITableView* table, IndexPath indexPath) {
    auto* cell = table->dequeueReusableCell<SearchCell>("cell");
    const ZMPalette p = palette();
    QPixmap icon;
    if (auto source = sourceAtIndexPath(indexPath)) {
        const auto record = vendorInfoForSourceLocation(source->location);
        cell->nameLbl()->setText(QString::fromStdString(record.name.empty() ? source->name : record.name));
        cell->subinfoLbl()->setText(QString::fromStdString(source->location));
        icon = record.image.isNull() ? StoreHeaderView::sourceIcon(source->location, kRowIconSide * 2) : record.image;
        cell->setSeparatorHidden(false);
    } else {
        cell->nameLbl()->setText(localized("Cydia Store"));
        // Where the store is, with the scheme it is configured with.
        cell->subinfoLbl()->setText(QString::fromStdString(ZMCydiaStore::storeLocation()));
        icon = StoreHeaderView::cydiaStoreIcon(kRowIconSide * 2);
        cell->setSeparatorHidden(true);
    }
    cell->setIcon(icon);
    cell->setAccessoryType(UITableViewCell::Accessory::DisclosureIndicator);
    cell->followBtn()->hide();
    cell->subinfoLbl()->setWordWrap(true);
    cell->nameLbl()->setStyleSheet(QStringLiteral("color: %1;").arg(p.primaryTextColor().name()));
    cell->subinfoLbl()->setStyleSheet(QStringLiteral("color: %1;").arg(p.secondaryTextColor().name()));
    cell->setBackgroundColor(p.cellBackgroundColor());
    return cell;
}

void RepoStoresListController::didSelectRow(UITableView* table, IndexPath indexPath) {
    table->deselectRow(indexPath, true);
    auto source = sourceAtIndexPath(indexPath);
    const std::string location = source ? source->location : ZMCydiaStore::storeLocation();
    auto* details = new RepoStoreDetailsViewController(location, vendorInfoForSourceLocation(location));
    if (auto* nav = navigationController()) nav->pushViewController(details, true);
}

void RepoStoresListController::paletteWillChangeToStyle(int style) { StoreHeaderView::applyStoreColors(*this, style); }

void RepoStoresListController::paletteDidChange(const ZMPalette& p) {
    if (!tableView_) return;
    tableView_->setBackgroundColor(p.backgroundColor());
    header_->applyPalette(p);
    tableView_->reloadData();
}
