#include "Browsing/PackagesTableViewController.h"

#include <QVBoxLayout>
#include <algorithm>

#include "Browsing/BrowsingText.h"
#include "Browsing/PackageOpening.h"
#include "Browsing/PackageRows.h"
#include "Browsing/PackageSearch.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackageManager.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLog.h"
#include "Realm/Realm.h"
#include "PackageCell.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"
#include "VostrellePersistentPreferences.h"
#include "ZMPipelineManager.h"
#include "ZMVostrelle.h"

using BrowsingText::q;

PackagesTableViewController::PackagesTableViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

PackagesTableViewController::~PackagesTableViewController() {
    observers_.clear();
    if (packagesTableView_) {
        packagesTableView_->setDataSource(nullptr);
        packagesTableView_->setDelegate(nullptr);
    }
}

void PackagesTableViewController::setFollowedDeveloper(const std::optional<ZMRDeveloper>& developer) {
    if (developer) model_.followedDeveloperNewPackages = developer->developerNewPackagesIdentifiers;
    else model_.followedDeveloperNewPackages.reset();
}

void PackagesTableViewController::viewDidLoad() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    packagesTableView_ = new UITableView(UITableView::Style::Plain);
    packagesTableView_->setObjectName("packagesTableView");
    layout->addWidget(packagesTableView_);
    packagesTableView_->setDataSource(this);
    packagesTableView_->setDelegate(this);
    packagesTableView_->setRowHeight(kRowHeight);
    packagesTableView_->registerCell("cell", [] { return new PackageCell("cell"); });

    auto& center = NotificationCenter::defaultCenter();
    observers_.add(center.addObserver(ZMRSourceUpdatedNotification, NotificationCenter::Queue::Main,
                                      [this](const Notification& n) { sourceRefreshed(n); }));
    observers_.add(center.addObserver(ZMRPackageInfoIconChangedNotification, NotificationCenter::Queue::Main,
                                      [this](const Notification& n) { iconChanged(n); }));
    observers_.add(center.addObserver(ZMPipelineTaskFinishedNotification, NotificationCenter::Queue::Main,
                                      [this](const Notification& n) { taskFinished(n); }));
    UISwipeGesture::addRightSwipe(this, [this] { backSwipe(); });

    connect(packagesTableView_, &UITableView::willBeginDragging, this, [this] { scrollViewWillBeginDragging(); });
    // Either end of a scroll: a deceleration, or a drag released without one.
    connect(packagesTableView_, &UITableView::didEndScrolling, this, [this] { scrollViewDidEndScrolling(); });

    isScrolling_ = false;
    needCacheRebuild_ = true;
    setSortButton();
}

void PackagesTableViewController::viewWillAppear(bool) {
    packagesTableView_->setBackgroundColor(Qt::transparent);
    rebuildCache();
}

void PackagesTableViewController::setSortButton() {
    if (!model_.showsSortButton()) {
        navigationItem()->setRightBarButtonItems({});
        return;
    }
    if (navigationItem()->rightBarButtonItem()) return;
    auto* sort = new UIBarButtonItem(QIcon(QStringLiteral(":/Images/Sort.svg")),
                                     [this](UIBarButtonItem* item) { sortPackages(item->buttonWidget()); }, navigationItem());
    sort->setTitle(q("Sort"));
    navigationItem()->setRightBarButtonItem(sort);
}

PackagesTableViewController::Reading PackagesTableViewController::currentReading() const {
    Reading reading;
    try {
        reading.packagesVersion = Realm::defaultRealm()->changeVersion(ZMRPackage::schema().className());
    } catch (const std::exception&) {
        reading.packagesVersion = UINT64_MAX;  // no database: nothing to compare with
    }
    reading.sortCriteria = model_.sortPropertyForPrefs();
    reading.showsIncompatible = PackageSearch::showsIncompatible();
    return reading;
}

void PackagesTableViewController::rebuildCache() {
    if (isScrolling_) {
        // Carried out when the scroll ends.
        needCacheRebuild_ = true;
        return;
    }
    const bool forced = needCacheRebuild_;
    needCacheRebuild_ = false;
    setSortButton();
    Reading reading = currentReading();
    // The rows stand: nothing they show changed since they were read (or are being read).
    if (!forced && reading_ && *reading_ == reading) return;
    startRebuild(std::move(reading));
}

void PackagesTableViewController::startRebuild(Reading reading) {
    reading_ = reading;
    const uint64_t request = ++rebuildsRequested_;
    auto next = std::make_shared<PackageListModel>(model_.inputsOnly());
    std::weak_ptr<void> owner = alive_;
    // The version is read before the query: a write that lands meanwhile is
    // seen again at the next appearance.
    Dispatch::defaultQueue([this, owner, request, next] {
        bool built = true;
        try {
            next->rebuild();
        } catch (const std::exception& e) {
            ZMLOG("the package list could not be read: {}", e.what());
            built = false;
        }
        Dispatch::main([this, owner, request, next, built] {
            if (!owner.lock() || request != rebuildsRequested_) return;  // gone, or superseded
            rebuildsSettled_ = request;
            if (!built) {
                reading_.reset();
                return;
            }
            if (isScrolling_) {
                // Not under the user's finger: read again when the scroll ends.
                reading_.reset();
                needCacheRebuild_ = true;
                return;
            }
            // The highlighted row stays the same package (a queue mark written
            // meanwhile reads the list again): the keys go on from it.
            const auto highlighted = packagesTableView_ ? packagesTableView_->indexPathForHighlightedRow() : std::nullopt;
            const auto package = highlighted ? model_.identifierAt(highlighted->section, highlighted->row) : std::nullopt;
            model_ = std::move(*next);
            ++rebuildCount_;
            if (!packagesTableView_) return;
            packagesTableView_->reloadData();
            if (package)
                if (const auto row = rowOf(*package, highlighted)) packagesTableView_->setHighlightedRow(*row);
        });
    });
}

void PackagesTableViewController::sortPackages(QWidget* sender) {
    const bool installed = model_.isInstalledList();
    auto* sheet = UIAlertController::alertControllerWithTitle(
        q(installed ? "Sort Installed Packages" : "Sort Packages"),
        q(installed ? "How do you want to sort your installed packages:" : "How do you want to sort the packages:"),
        UIAlertController::Style::ActionSheet);
    QPointer<PackagesTableViewController> self(this);
    auto choose = [self](const char* value) {
        return [self, value] {
            VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::SortInstalledPackagesBy, value);
            if (self) self->rebuildCache();
        };
    };
    sheet->addAction(q("Category"), UIAlertController::ActionStyle::Default, choose("Category"));
    if (model_.isInstalledList()) sheet->addAction(q("Install date"), UIAlertController::ActionStyle::Default, choose("InstallDate"));
    sheet->addAction(q("Maintainer"), UIAlertController::ActionStyle::Default, choose("Maintainer"));
    sheet->addAction(q("Name"), UIAlertController::ActionStyle::Default, choose("Name"));
    sheet->addAction(q("Source"), UIAlertController::ActionStyle::Default, choose("Source"));
    sheet->addAction(q("Cancel"), UIAlertController::ActionStyle::Cancel);
    ZMVostrelle::sharedVostrelle().presentViewController(sheet, sender);
}

void PackagesTableViewController::sourceRefreshed(const Notification&) {
    if (!isViewLoaded()) return;
    // Off screen: read again at the next appearance.
    needCacheRebuild_ = true;
    if (isOnScreen()) rebuildCache();
}

void PackagesTableViewController::taskFinished(const Notification& note) {
    // An install or a removal ended (its status scan wrote the records): the
    // list in view follows, as the installed and updated lists must; one out
    // of view compares at its next appearance anyway.
    if (!note.userInfo.is_object() || !ZMPipelineChangesInstalledPackages(note.userInfo.value("pipelineID", ""))) return;
    if (isViewLoaded() && isOnScreen()) rebuildCache();
}

PackageCell* PackagesTableViewController::visibleCellFor(const std::string& identifier) const {
    if (!packagesTableView_) return nullptr;
    for (auto* cell : packagesTableView_->visibleCells())
        if (auto* row = qobject_cast<PackageCell*>(cell); row && row->packageIdentifier() == identifier) return row;
    return nullptr;
}

std::optional<IndexPath> PackagesTableViewController::rowOf(const std::string& identifier,
                                                           std::optional<IndexPath> before) const {
    if (before && model_.identifierAt(before->section, before->row) == identifier) return before;
    if (const auto at = model_.positionOf(identifier)) return IndexPath{at->first, at->second};
    return std::nullopt;
}

void PackagesTableViewController::iconChanged(const Notification& note) {
    const std::string identifier = note.objectString();
    QPointer<PackagesTableViewController> self(this);
    auto redraw = [self, identifier] {
        if (!self) return;
        if (auto* cell = self->visibleCellFor(identifier)) cell->updatePackageIcon();
    };
    if (Dispatch::isMainThread()) redraw();
    else Dispatch::main(redraw);
}

void PackagesTableViewController::backSwipe() {
    if (auto* nav = navigationController(); nav && nav->topViewController() == this && nav->viewControllers().size() > 1)
        nav->popViewController(true);
}

void PackagesTableViewController::updateUI() {
    if (packagesTableView_) packagesTableView_->reloadData();
}

void PackagesTableViewController::scrollViewWillBeginDragging() { isScrolling_ = true; }

void PackagesTableViewController::scrollViewDidEndScrolling() {
    // The visible rows get their real icons now that the list stands still.
    for (auto* cell : packagesTableView_->visibleCells())
        if (auto* row = qobject_cast<PackageCell*>(cell)) {
            row->setFetchesIcon(true);
            row->updatePackageIcon();
        }
    isScrolling_ = false;
    if (needCacheRebuild_) rebuildCache();
}

// ---- table ---------------------------------------------------------------------------------------

int PackagesTableViewController::numberOfSections(UITableView*) { return model_.numberOfSections(); }

int PackagesTableViewController::numberOfRows(UITableView*, int section) { return model_.numberOfRows(section); }

UITableViewCell* PackagesTableViewController::cellForRow(UITableView* table, IndexPath ip) {
    // A record removed since the last rebuild (a source went away): an empty
    // row until the next one. Rows drawn during a scroll start no icon download.
    return PackageRows::dequeueCell(table, ip, model_.identifierAt(ip.section, ip.row), !isScrolling_);
}

std::optional<QString> PackagesTableViewController::titleForHeader(UITableView*, int section) {
    if (section < 0 || section >= model_.numberOfSections()) return std::nullopt;
    return QString::fromStdString(model_.headerTitle(section));
}

QStringList PackagesTableViewController::sectionIndexTitles(UITableView*) {
    QStringList titles;
    if (model_.indexTitles())
        for (const auto& t : *model_.indexTitles()) titles << QString::fromStdString(t);
    return titles;
}

void PackagesTableViewController::willDisplayHeaderView(UITableView*, QWidget* view, int) {
    PackageRows::styleHeader(view, palette());
}

void PackagesTableViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    auto package = PackageRows::lookUp(model_.identifierAt(ip.section, ip.row));
    if (!package) return;
    UIViewController* vc = PackageOpening::viewControllerForPackage(*package);
    lastOpened_ = vc;
    PackageOpening::show(this, vc);
}

std::vector<UIContextualAction> PackagesTableViewController::trailingSwipeActions(UITableView* table, IndexPath ip) {
    auto package = PackageRows::lookUp(model_.identifierAt(ip.section, ip.row));
    if (!package) return {};
    return PackageRows::queueActions(table, ip, *package);
}

void PackagesTableViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    if (packagesTableView_) {
        packagesTableView_->setSectionIndexColor(palette.tintColor());
        packagesTableView_->setSeparatorColor(palette.separatorColor());
    }
}
