#include "Browsing/SubcategoriesViewController.h"

#include <QVBoxLayout>
#include <algorithm>

#include "Browsing/BrowsingText.h"
#include "Browsing/CategoriesCell.h"
#include "Browsing/PackageOpening.h"
#include "Browsing/PackageRows.h"
#include "Browsing/PackageSearch.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SourceViewController.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackageManager.h"
#include "Dispatch/Dispatch.h"
#include "ErrorViewController.h"
#include "WebViewViewController.h"
#include "Miscellaneous/ZMLog.h"
#include "PackageCell.h"
#include "Realm/Realm.h"
#include "Services/ZMRepoStoreAPI.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"
#include "ZMStoreGuard.h"

using BrowsingText::q;

namespace {
std::function<void(const std::string&)> gPurchasedRefresher;
}  // namespace

void SubcategoriesViewController::setPurchasedPackagesRefresher(std::function<void(const std::string&)> refresher) {
    gPurchasedRefresher = std::move(refresher);
}

SubcategoriesViewController::SubcategoriesViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

SubcategoriesViewController::~SubcategoriesViewController() {
    observers_.clear();
    if (table_) {
        table_->setDataSource(nullptr);
        table_->setDelegate(nullptr);
    }
}

void SubcategoriesViewController::viewDidLoad() {
    setOverrideLargeTitles(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    table_ = new UITableView(UITableView::Style::Plain);
    table_->setObjectName("subcategoriesAndPackagesTableView");
    layout->addWidget(table_);
    table_->setDataSource(this);
    table_->setDelegate(this);
    table_->registerCell(CategoriesCell::kReuseIdentifier, [] { return new CategoriesCell; });
    table_->registerCell("cell", [] { return new PackageCell("cell"); });
    try {
        if (isSourceScreen()) source_ = ZMRSource::objectForPrimaryKey(sourceLocation_);
    } catch (const std::exception& e) {
        ZMLOG("source {}: {}", sourceLocation_, e.what());
    }

    auto& center = NotificationCenter::defaultCenter();
    observers_.add(center.addObserver(ZMRSourceUpdatedNotification, NotificationCenter::Queue::Main,
                                      [this](const Notification& n) { sourceRefreshed(n); }));
    observers_.add(center.addObserver(ZMRPackageInfoIconChangedNotification, NotificationCenter::Queue::Main,
                                      [this](const Notification& n) { iconChanged(n); }));
    UISwipeGesture::addRightSwipe(this, [this] { backSwipe(); });
    connect(table_, &UITableView::willBeginDragging, this, [this] { scrollViewWillBeginDragging(); });
    // Either end of a scroll: a deceleration, or a drag released without one.
    connect(table_, &UITableView::didEndScrolling, this, [this] { scrollViewDidEndScrolling(); });
    isScrolling_ = false;
    needCacheRebuild_ = true;
}

void SubcategoriesViewController::viewWillAppear(bool) {
    table_->setBackgroundColor(Qt::transparent);
    updateUI();
    rebuildCache();
}

bool SubcategoriesViewController::signedInToStore() const {
    if (!source_ || source_->endpoint.empty()) return false;
    return ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(sourceLocation_);
}

void SubcategoriesViewController::refreshPurchases() {
    if (source_ && signedInToStore() && gPurchasedRefresher) gPurchasedRefresher(sourceLocation_);
}

SubcategoriesViewController::Reading SubcategoriesViewController::currentReading() const {
    Reading reading;
    try {
        auto realm = Realm::defaultRealm();
        reading.packagesVersion = realm->changeVersion(ZMRPackage::schema().className());
        reading.sourcesVersion = realm->changeVersion(ZMRSource::schema().className());
    } catch (const std::exception&) {
        reading.packagesVersion = reading.sourcesVersion = UINT64_MAX;  // no database: nothing to compare with
    }
    reading.showsIncompatible = PackageSearch::showsIncompatible();
    return reading;
}

void SubcategoriesViewController::rebuildCache() {
    if (isScrolling_) {
        // Carried out when the scroll ends.
        needCacheRebuild_ = true;
        return;
    }
    const bool forced = needCacheRebuild_;
    needCacheRebuild_ = false;
    Reading reading = currentReading();
    if (forced || !reading_ || !(*reading_ == reading)) {
        startRebuild(std::move(reading));
        return;
    }
    // The rows stand: nothing they show changed since they were read (or are
    // being read). The purchases are the store's, asked again all the same.
    setBarButtons();
    refreshPurchases();
}

SubcategoriesViewController::Rows SubcategoriesViewController::readRows(const std::string& category,
                                                                        const std::string& sourceLocation,
                                                                        bool incompatible) {
    Rows rows;
    std::vector<std::string> entries;
    auto& collection = ZMRPackageManager::sharedPackageManager().packages();
    std::optional<Results<ZMRPackage>> packages;
    try {
        if (!sourceLocation.empty()) {
            rows.source = ZMRSource::objectForPrimaryKey(sourceLocation);
            if (rows.source) entries = collection.arrayOfSourceCategories(sourceLocation);
            // The source's own packages (none once it is gone).
            packages = incompatible ? ZMRPackage::objectsWhere("sourceLocation = %@", sourceLocation)
                                    : ZMRPackage::objectsWhere("sourceLocation = %@ AND tweakCompatibleStatus != %i",
                                                               sourceLocation, 1);
        } else {
            entries = collection.arrayOfSubcategoriesOfCategory(category);
            packages = incompatible ? ZMRPackage::objectsWhere("category = %@", category)
                                    : ZMRPackage::objectsWhere("category = %@ AND tweakCompatibleStatus != %i", category, 1);
        }
        if (packages) rows.sections.rebuildWithPackages(packages->sortedResultsUsingKeyPath("name", true), "name");
    } catch (const std::exception& e) {
        ZMLOG("category screen of {}: {}", sourceLocation.empty() ? category : sourceLocation, e.what());
        entries.clear();
        rows.sections = PackageListModel();
        rows.read = false;
        rows.failure = e.what();
    }
    rows.groups.setEntries(std::move(entries));
    if (rows.source && !rows.groups.rows().empty()) rows.groups.insertRow(0, kAllPackagesRow);
    return rows;
}

void SubcategoriesViewController::startRebuild(Reading reading) {
    // The versions are read before the query: a write that lands meanwhile
    // is seen again at the next appearance.
    reading_ = reading;
    const uint64_t request = ++rebuildsRequested_;
    std::weak_ptr<void> owner = alive_;
    Dispatch::defaultQueue([this, owner, request, category = category_, location = sourceLocation_,
                            incompatible = reading.showsIncompatible] {
        auto rows = std::make_shared<Rows>(readRows(category, location, incompatible));
        Dispatch::main([this, owner, request, rows] {
            if (!owner.lock() || request != rebuildsRequested_) return;  // gone, or superseded
            rebuildsSettled_ = request;
            if (isScrolling_) {
                // Not under the user's finger: read again when the scroll ends.
                reading_.reset();
                needCacheRebuild_ = true;
                return;
            }
            if (!rows->read) {
                // The database failed under the reading: a source that could
                // not be read is no source gone. The rows stay, read again at
                // the next appearance; the failure is told.
                reading_.reset();
                ZMStoreGuard::tell("reading a category's packages", ZMError::storeFailure(rows->failure));
                return;
            }
            applyRows(std::move(*rows));
        });
    });
}

void SubcategoriesViewController::applyRows(Rows rows) {
    ++rebuildCount_;
    // The highlighted row stays what it showed (a package queued from its
    // page reads the rows again): the keys go on from it.
    const auto highlighted = table_ ? table_->indexPathForHighlightedRow() : std::nullopt;
    const auto shown = highlighted ? rowContent(*highlighted) : std::nullopt;
    source_ = std::move(rows.source);
    groups_ = std::move(rows.groups);
    sections_ = std::move(rows.sections);
    refreshPurchases();
    setBarButtons();
    if (table_) {
        table_->reloadData();
        if (shown)
            if (const auto row = rowShowing(*shown, highlighted)) table_->setHighlightedRow(*row);
    }
    if (isSourceScreen() && !source_) popFromNavigation();
}

std::optional<SubcategoriesViewController::RowContent> SubcategoriesViewController::rowContent(IndexPath ip) const {
    if (hasSubcategorySection() && ip.section == 0) {
        if (ip.row < 0 || ip.row >= static_cast<int>(groups_.rows().size())) return std::nullopt;
        return RowContent{false, groups_.rows()[ip.row]};
    }
    if (auto identifier = identifierAt(ip)) return RowContent{true, std::move(*identifier)};
    return std::nullopt;
}

std::optional<IndexPath> SubcategoriesViewController::rowShowing(const RowContent& content, std::optional<IndexPath> before) const {
    if (before && rowContent(*before) == content) return before;
    if (!content.package) {
        const auto& rows = groups_.rows();
        const auto it = std::find(rows.begin(), rows.end(), content.name);
        if (it == rows.end()) return std::nullopt;
        return IndexPath{0, static_cast<int>(it - rows.begin())};
    }
    const auto at = sections_.positionOf(content.name);
    if (!at) return std::nullopt;
    return IndexPath{at->first + (hasSubcategorySection() ? 1 : 0), at->second};
}

void SubcategoriesViewController::popFromNavigation() {
    auto* nav = navigationController();
    if (!nav) return;
    // This screen, or the container it is a page of, as the stack holds it.
    UIViewController* entry = this;
    while (entry && entry->parentViewController() && entry->parentViewController() != nav) entry = entry->parentViewController();
    if (nav->topViewController() == entry && nav->viewControllers().size() > 1) nav->popViewController(true);
}

void SubcategoriesViewController::setBarButtons() {
    navigationItem()->setRightBarButtonItems({});
    if (!isSourceScreen()) return;
    std::vector<UIBarButtonItem*> items;
    items.push_back(new UIBarButtonItem(q("Source Info"), [this](UIBarButtonItem*) { sourceInfo(); }, navigationItem()));
    if (signedInToStore())
        items.push_back(
            new UIBarButtonItem(q("Purchased"), [this](UIBarButtonItem*) { seeSileoPurchasedPackages(); }, navigationItem()));
    navigationItem()->setRightBarButtonItems(items);
}

void SubcategoriesViewController::manipulateAddonsArray(bool addons, bool themes, bool tweaks, bool widgets) {
    auto group = CategoryGroups::groupOf(addons, themes, tweaks, widgets);
    if (!group || !table_) return;
    const bool unfolded = groups_.toggle(
        *group, [this](const std::vector<int>& rows) { table_->insertRows(sectionZero(rows)); },
        [this](const std::vector<int>& rows) { table_->deleteRows(sectionZero(rows)); });
    if (auto label = groups_.rowOfLabel(*group); unfolded && label)
        table_->scrollToRow({0, static_cast<int>(*label)}, UITableView::ScrollPosition::Top, true);
}

void SubcategoriesViewController::updateUI() {
    if (isScrolling_) return;
    // The rows keep the identifiers of the last rebuild; only their drawing
    // follows the queue. The keys go on from the row they were on (the row
    // Return opened, when the screen comes back).
    setBarButtons();
    if (!table_) return;
    const auto highlighted = table_->indexPathForHighlightedRow();
    table_->reloadData();
    if (highlighted) table_->setHighlightedRow(*highlighted);
}

void SubcategoriesViewController::push(UIViewController* vc) {
    lastPushed_ = vc;
    PackageOpening::show(this, vc);
}

void SubcategoriesViewController::sourceInfo() {
    auto* page = new SourceViewController;
    page->setSourceLocation(sourceLocation_);
    page->setIsPresented(true);
    auto* nav = new UINavigationController(page);
    nav->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    lastPresented_ = nav;
    UIViewController* from = navigationController() ? static_cast<UIViewController*>(navigationController()) : this;
    from->presentViewController(nav, true);
}

void SubcategoriesViewController::seeSileoPurchasedPackages() {
    auto* list = new PackagesTableViewController;
    list->setTitle(q(kCategorySpecial_SileoPackages));
    list->setCategory(kCategorySpecial_SileoPackages);
    list->setSourceLocation(sourceLocation_);
    push(list);
}

void SubcategoriesViewController::sourceRefreshed(const Notification&) {
    if (!isViewLoaded() || !isOnScreen()) return;
    needCacheRebuild_ = true;
    updateUI();
    rebuildCache();
}

void SubcategoriesViewController::iconChanged(const Notification& note) {
    const std::string identifier = note.objectString();
    QPointer<SubcategoriesViewController> self(this);
    Dispatch::main([self, identifier] {
        if (!self || !self->table_) return;
        for (const auto& ip : self->table_->indexPathsForVisibleRows()) {
            if (self->hasSubcategorySection() && ip.section == 0) continue;
            auto* cell = qobject_cast<PackageCell*>(self->table_->cellForRow(ip));
            if (cell && cell->packageIdentifier() == identifier) {
                cell->updatePackageIcon();
                return;
            }
        }
    });
}

void SubcategoriesViewController::backSwipe() {
    if (auto* nav = navigationController(); nav && nav->topViewController() == this && nav->viewControllers().size() > 1)
        nav->popViewController(true);
}

void SubcategoriesViewController::scrollViewWillBeginDragging() { isScrolling_ = true; }

void SubcategoriesViewController::scrollViewDidEndScrolling() {
    for (const auto& ip : table_->indexPathsForVisibleRows()) {
        if (hasSubcategorySection() && ip.section == 0) continue;
        if (auto* cell = qobject_cast<PackageCell*>(table_->cellForRow(ip))) {
            cell->setFetchesIcon(true);
            cell->updatePackageIcon();
        }
    }
    isScrolling_ = false;
    if (needCacheRebuild_) {
        updateUI();
        rebuildCache();
    }
}

// ---- table ---------------------------------------------------------------------------------------

std::optional<std::string> SubcategoriesViewController::identifierAt(IndexPath ip) const {
    if (hasSubcategorySection() && ip.section == 0) return std::nullopt;
    return sections_.identifierAt(packageSectionIndex(ip.section), ip.row);
}

int SubcategoriesViewController::numberOfSections(UITableView*) {
    return sections_.numberOfSections() + (hasSubcategorySection() ? 1 : 0);
}

int SubcategoriesViewController::numberOfRows(UITableView*, int section) {
    if (hasSubcategorySection() && section == 0) return static_cast<int>(groups_.rows().size());
    return sections_.numberOfRows(packageSectionIndex(section));
}

double SubcategoriesViewController::heightForRow(UITableView*, IndexPath ip) {
    return hasSubcategorySection() && ip.section == 0 ? kSubcategoryRowHeight : kPackageRowHeight;
}

std::optional<QString> SubcategoriesViewController::titleForHeader(UITableView*, int section) {
    if (hasSubcategorySection() && section == 0) return isSourceScreen() ? q("Source categories") : q("Subcategories");
    const int index = packageSectionIndex(section);
    if (index < 0 || index >= sections_.numberOfSections()) return std::nullopt;
    return QString::fromStdString(sections_.sections()[index]);
}

UITableViewCell* SubcategoriesViewController::cellForRow(UITableView* table, IndexPath ip) {
    if (hasSubcategorySection() && ip.section == 0) {
        auto* cell = table->dequeueReusableCell<CategoriesCell>(CategoriesCell::kReuseIdentifier);
        cell->setBackgroundColor(Qt::transparent);
        const auto& rows = groups_.rows();
        const std::string entry = ip.row < static_cast<int>(rows.size()) ? rows[ip.row] : std::string();
        // Shown as the source gives it.
        cell->nameLbl()->setText(QString::fromStdString(entry));
        PackageRow::setTextColor(cell->nameLbl(), palette().primaryTextColor());
        cell->applyCategoryIcon(entry);
        const bool label = CategoryGroups::groupOfLabel(entry).has_value();
        cell->setAccessoryType(label ? UITableViewCell::Accessory::None : UITableViewCell::Accessory::DisclosureIndicator);
        cell->setSeparatorTrailingConstraint(label ? CategoriesCell::kGroupLabelSeparatorInset : 0);
        cell->setSeparatorHidden(ip.row + 1 == static_cast<int>(rows.size()));
        return cell;
    }
    // Away from the top a row starts no icon download: an icon already on
    // disk, else its category's picture, until the scroll comes to rest.
    return PackageRows::dequeueCell(table, ip, identifierAt(ip), table->contentOffset() == 0);
}

void SubcategoriesViewController::willDisplayHeaderView(UITableView*, QWidget* view, int) {
    PackageRows::styleHeader(view, palette());
}

void SubcategoriesViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    if (hasSubcategorySection() && ip.section == 0) {
        if (ip.row < 0 || ip.row >= static_cast<int>(groups_.rows().size())) return;
        const std::string entry = groups_.rows()[ip.row];
        if (auto group = CategoryGroups::groupOfLabel(entry)) {
            manipulateAddonsArray(*group == CategoryGroups::Addons, *group == CategoryGroups::Themes,
                                  *group == CategoryGroups::Tweaks, *group == CategoryGroups::Widgets);
            return;
        }
        auto* list = new PackagesTableViewController;
        if (isSourceScreen()) {
            list->setCategory(kCategorySpecial_SourcePackages);
            list->setSourceLocation(sourceLocation_);
        } else {
            list->setCategory(category_);
        }
        list->setSubcategory(entry);
        list->setTitle(q(entry));
        push(list);
        return;
    }
    // A record gone since the last rebuild opens nothing.
    auto package = PackageRows::lookUp(identifierAt(ip));
    if (!package) return;
    push(PackageOpening::viewControllerForPackage(*package));
}

std::vector<UIContextualAction> SubcategoriesViewController::trailingSwipeActions(UITableView* table, IndexPath ip) {
    auto package = PackageRows::lookUp(identifierAt(ip));
    if (!package) return {};
    QPointer<SubcategoriesViewController> self(this);
    return PackageRows::queueActions(table, ip, *package, [self] {
        if (self) self->setBarButtons();
    });
}

void SubcategoriesViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    if (table_) table_->setSeparatorColor(palette.separatorColor());
}
