#include "Browsing/CategoriesTableViewController.h"

#include <QCoreApplication>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QTimer>

#include <set>

#include "Browsing/BrowsingText.h"
#include "Browsing/PackageOpening.h"
#include "Browsing/CategoriesCell.h"
#include "Browsing/OnlineScreens.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SubcategoriesViewController.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "ErrorViewController.h"
#include "PackageCell.h"
#include "Miscellaneous/ZMLog.h"
#include "UIKit/UINavigationController.h"

using BrowsingText::q;

namespace {
// The bundled images of the five fixed rows, in row order.
constexpr const char* kDefaultRowImages[] = {"Categories/All Packages", "Categories/Installed Packages",
                                             "Categories/Updated Packages", "Categories/Recent Packages",
                                             "Categories/Browse Repositories"};
constexpr size_t kDefaultRows = 5;
}  // namespace

CategoriesTableViewController::CategoriesTableViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

CategoriesTableViewController::~CategoriesTableViewController() {
    observers_.clear();
    for (auto* table : {defaultCard_.table, otherCard_.table}) {
        if (!table) continue;
        table->setDataSource(nullptr);
        table->setDelegate(nullptr);
    }
}

void CategoriesTableViewController::viewDidLoad() {
    auto* column = BrowsingCard::makeColumn(this, scrollView_, "scrollView");
    defaultCard_ = BrowsingCard::make(column, q("Packages"), "defaultCategories");
    otherCard_ = BrowsingCard::make(column, q("Categories"), "otherCategories");
    column->addStretch(1);
    setTitle(q("Sections"));
    for (auto* table : {defaultCard_.table, otherCard_.table}) {
        table->registerCell(CategoriesCell::kReuseIdentifier, [] { return new CategoriesCell; });
        table->setDataSource(this);
        table->setDelegate(this);
        table->setRowHeight(kRowHeight);
    }
    observers_.add(NotificationCenter::defaultCenter().addObserver(
        ZMRDoneRebuildingPackagesCacheNotification, NotificationCenter::Queue::Main,
        [this](const Notification&) { setCategoriesArrays(); }));
    setCategoriesArrays();
}

void CategoriesTableViewController::viewWillAppear(bool) {
    defaultCard_.table->reloadData();
    otherCard_.table->reloadData();
    setOtherTableHeight();
    QPointer<CategoriesTableViewController> self(this);
    QTimer::singleShot(10, this, [self] {
        if (self) self->updateShadows();
    });
}

void CategoriesTableViewController::resizeEvent(QResizeEvent* e) {
    ZMPalettedViewController::resizeEvent(e);
    updateShadows();
}

void CategoriesTableViewController::setCategoriesArrays() {
    defaultPackagesCategories_.clear();
    std::vector<std::string> others;
    try {
        auto list = ZMRPackageManager::sharedPackageManager().packages().arrayOfPackagesCategories();
        if (list) {
            for (size_t i = 0; i < list->size(); ++i) {
                if (i < kDefaultRows) defaultPackagesCategories_.push_back((*list)[i]);
                else others.push_back((*list)[i]);
            }
        }
    } catch (const std::exception& e) {
        ZMLOG("no categories: {}", e.what());
    }
    groups_.setEntries(std::move(others));
    groups_.removeDuplicateRows();
    {
        std::set<std::string> seen;
        std::vector<std::string> unique;
        for (auto& entry : defaultPackagesCategories_)
            if (seen.insert(entry).second) unique.push_back(entry);
        defaultPackagesCategories_ = std::move(unique);
    }
    if (!defaultCard_.table) return;
    defaultCard_.table->reloadData();
    otherCard_.table->reloadData();
    setOtherTableHeight();
    if (auto* page = scrollView_->widget(); page && page->layout()) page->layout()->activate();
    updateShadows();
}

void CategoriesTableViewController::setOtherTableHeight() {
    defaultCard_.table->setFixedHeight(static_cast<int>(defaultPackagesCategories_.size()) * kRowHeight);
    otherCard_.table->setFixedHeight(static_cast<int>(groups_.rows().size()) * kRowHeight);
}

void CategoriesTableViewController::scrollTo(int y) {
    // The page takes the new table height first, so that the scroll range allows the offset.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (QWidget* page = scrollView_->widget()) {
        page->resize(scrollView_->viewport()->width(), std::max(scrollView_->viewport()->height(), page->sizeHint().height()));
    }
    QScrollBar* bar = scrollView_->verticalScrollBar();
    const int duration = UIView::durationMs(0.3);
    if (duration == 0) {
        bar->setValue(y);
        return;
    }
    auto* animation = new QPropertyAnimation(bar, "value", bar);
    animation->setDuration(duration);
    animation->setEndValue(std::min(y, bar->maximum()));
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void CategoriesTableViewController::manipulateAddonsArray(bool addons, bool themes, bool tweaks, bool widgets) {
    auto group = CategoryGroups::groupOf(addons, themes, tweaks, widgets);
    if (!group) return;
    UITableView* table = otherCard_.table;
    const bool unfolded = groups_.toggle(
        *group, [table](const std::vector<int>& rows) { table->insertRows(sectionZero(rows)); },
        [table](const std::vector<int>& rows) { table->deleteRows(sectionZero(rows)); });
    setOtherTableHeight();
    if (auto label = groups_.rowOfLabel(*group); unfolded && label)
        scrollTo(kOtherTableTop + kRowHeight * static_cast<int>(*label));
    QPointer<CategoriesTableViewController> self(this);
    QTimer::singleShot(10, this, [self] {
        if (self) self->updateShadows();
    });
}

void CategoriesTableViewController::updateShadows() {
    if (!defaultCard_.card) return;
    for (const BrowsingCard* card : {&defaultCard_, &otherCard_}) card->card->setShadowColor(palette().shadowColor());
}

// ---- tables ------------------------------------------------------------------------------------

int CategoriesTableViewController::numberOfRows(UITableView* table, int) {
    if (table == defaultCard_.table) return static_cast<int>(defaultPackagesCategories_.size());
    return static_cast<int>(groups_.rows().size());
}

UITableViewCell* CategoriesTableViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = table->dequeueReusableCell<CategoriesCell>(CategoriesCell::kReuseIdentifier);
    cell->setBackgroundColor(Qt::transparent);
    const auto& rows = table == defaultCard_.table ? defaultPackagesCategories_ : groups_.rows();
    const std::string entry = ip.row < static_cast<int>(rows.size()) ? rows[ip.row] : std::string();
    // Special kinds and labels show through their translations, categories as they are.
    cell->nameLbl()->setText(q(entry));
    PackageRow::setTextColor(cell->nameLbl(), palette().primaryTextColor());
    cell->setSeparatorHidden(ip.row + 1 == static_cast<int>(rows.size()));
    const bool label = table == otherCard_.table && CategoryGroups::groupOfLabel(entry).has_value();
    cell->setAccessoryType(label ? UITableViewCell::Accessory::None : UITableViewCell::Accessory::DisclosureIndicator);
    cell->setSeparatorTrailingConstraint(label ? CategoriesCell::kGroupLabelSeparatorInset : 0);
    return cell;
}

void CategoriesTableViewController::willDisplayCell(UITableView* table, UITableViewCell* cell, IndexPath ip) {
    auto* row = qobject_cast<CategoriesCell*>(cell);
    if (!row) return;
    if (table == defaultCard_.table) {
        if (ip.row >= 0 && ip.row < static_cast<int>(kDefaultRows)) row->setIconImage(kDefaultRowImages[ip.row]);
        return;
    }
    if (ip.row < static_cast<int>(groups_.rows().size())) row->applyCategoryIcon(groups_.rows()[ip.row]);
}

void CategoriesTableViewController::push(UIViewController* vc) {
    lastPushed_ = vc;
    PackageOpening::show(this, vc);
}

void CategoriesTableViewController::selectDefaultRow(int row) {
    auto list = [this](const char* category, const std::string& title) {
        auto* vc = new PackagesTableViewController;
        vc->setCategory(category);
        vc->setTitle(q(title));
        push(vc);
    };
    switch (row) {
        case 0: list(kCategorySpecial_AllPackages, kCategorySpecial_AllPackages); break;
        case 1: list(kCategorySpecial_InstalledPackages, kCategorySpecial_InstalledPackages); break;
        case 2: {
            // Any package with an update opens the list, a held one too (the
            // list itself then leaves it out); none at all gets the popup.
            size_t updates = 0;
            try {
                updates = ZMRPackage::objectsWhere("isUpdated = 1").count();
            } catch (const std::exception& e) {
                ZMLOG("counting updates failed: {}", e.what());
            }
            if (updates > 0) {
                list(kCategorySpecial_UpdatedPackages, "Updated Packages");
                break;
            }
            auto* popup = new ErrorViewController;
            popup->showWithTitle(ZMLocalizedString("Updated Packages"),
                                 ZMLocalizedString("None of your packages currently have updates available, check back later."),
                                 1, ZMLocalizedString("OK"));
            UIViewController* from = navigationController() ? static_cast<UIViewController*>(navigationController()) : this;
            from->presentViewController(popup, true);
            break;
        }
        case 3: list(kCategorySpecial_NewPackages, kCategorySpecial_NewPackages); break;
        case 4: {
            auto* directory = OnlineScreens::repositoryDirectory();
            directory->setTitle(q("Browse Repositories"));
            push(directory);
            break;
        }
        default: break;
    }
}

void CategoriesTableViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    if (table == defaultCard_.table) {
        selectDefaultRow(ip.row);
        return;
    }
    if (ip.row < 0 || ip.row >= static_cast<int>(groups_.rows().size())) return;
    const std::string entry = groups_.rows()[ip.row];
    if (auto group = CategoryGroups::groupOfLabel(entry)) {
        manipulateAddonsArray(*group == CategoryGroups::Addons, *group == CategoryGroups::Themes,
                              *group == CategoryGroups::Tweaks, *group == CategoryGroups::Widgets);
        return;
    }
    auto* screen = new SubcategoriesViewController;
    screen->setCategory(entry);
    screen->setTitle(q(entry));
    push(screen);
}

void CategoriesTableViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    if (!defaultCard_.card) return;
    for (const BrowsingCard* card : {&defaultCard_, &otherCard_}) card->applyPalette(palette);
    defaultCard_.table->reloadData();
    otherCard_.table->reloadData();
}
