#pragma once
// One package category, or one source: a table whose first section lists the
// category's subcategories (or the source's categories, under "All Packages"),
// with the names that begin with "Addon", "Theme", "Tweak" or "Widget" folded
// into four groups, and whose other sections list the packages by the first
// letter of their names. A tap on a subcategory opens the generic package list
// narrowed to it; a tap on a package opens it; a swipe queues or unqueues it.
//
// It is a source screen when a source location was given (setSourceLocation);
// it then lists that source's own packages and offers the source's page and,
// once signed in to the source's store, the packages bought there. A source
// removed meanwhile pops the screen at its next rebuild.
//
// Rows hold identifiers taken at the last rebuild; a rebuild asked for while
// the user scrolls runs when the scroll ends (a deceleration, or a drag
// released without one).
//
// A rebuild reads and groups on a background queue (a source such as
// Debian's main archive has tens of thousands of packages) and swaps the
// rows in on the main thread; a newer request supersedes an older one still
// running. Appearing again reads again only when the packages, the sources
// or the compatibility filter changed since the rows were read; a source
// refreshed while the screen is shown always does. A reading the database
// fails keeps the rows shown (the source is not gone) and is told.
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Browsing/CategoryGroups.h"
#include "Browsing/PackageListModel.h"
#include "Database/ZMRSource.h"
#include "Notifications/NotificationCenter.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class SubcategoriesViewController : public ZMPalettedViewController,
                                    public UITableViewDataSource,
                                    public UITableViewDelegate {
    Q_OBJECT
public:
    static constexpr double kSubcategoryRowHeight = 44;
    static constexpr double kPackageRowHeight = 70;
    static constexpr const char* kAllPackagesRow = "All Packages";

    explicit SubcategoriesViewController(QWidget* parent = nullptr);
    ~SubcategoriesViewController() override;

    // ---- inputs ----------------------------------------------------------------------------
    void setCategory(const std::string& category) { category_ = category; }
    void setSourceLocation(const std::string& location) { sourceLocation_ = location; }
    const std::string& category() const { return category_; }
    bool isSourceScreen() const { return !sourceLocation_.empty(); }

    // The store's purchases of a signed-in source are refreshed in the
    // background at every rebuild; the store client installs the refresher.
    static void setPurchasedPackagesRefresher(std::function<void(const std::string& location)> refresher);

    // ---- operations ------------------------------------------------------------------------
    // Rebuilds the rows (off the main thread) unless nothing they show changed.
    void rebuildCache();
    // Exactly one argument true: unfolds that group (folding any other) or folds it.
    void manipulateAddonsArray(bool addons, bool themes, bool tweaks, bool widgets);
    // The queue confirmation's redraw request: the bar buttons and the rows.
    void updateUI();
    void sourceInfo();
    void seeSileoPurchasedPackages();
    void sourceRefreshed(const Notification& note);
    void iconChanged(const Notification& note);
    void backSwipe();
    void scrollViewWillBeginDragging();
    void scrollViewDidEndScrolling();

    // ---- state -----------------------------------------------------------------------------
    const std::vector<std::string>& subcategoriesArray() const { return groups_.rows(); }
    const CategoryGroups& groups() const { return groups_; }
    const PackageListModel& packageSections() const { return sections_; }
    const std::optional<ZMRSource>& source() const { return source_; }
    bool isScrolling() const { return isScrolling_; }
    bool needCacheRebuild() const { return needCacheRebuild_; }
    // Rebuilds whose rows were swapped in.
    int rebuildCount() const { return rebuildCount_; }
    bool isRebuilding() const { return rebuildsRequested_ != rebuildsSettled_; }
    UITableView* subcategoriesAndPackagesTableView() const { return table_; }
    UIViewController* lastPushedViewController() const { return lastPushed_; }
    UIViewController* lastPresentedViewController() const { return lastPresented_; }
    // The identifier of a package row; nullopt for a subcategory row.
    std::optional<std::string> identifierAt(IndexPath indexPath) const;

    // ---- table -----------------------------------------------------------------------------
    int numberOfSections(UITableView*) override;
    int numberOfRows(UITableView*, int section) override;
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    std::optional<QString> titleForHeader(UITableView*, int section) override;
    double heightForRow(UITableView*, IndexPath indexPath) override;
    void willDisplayHeaderView(UITableView*, QWidget* view, int section) override;
    void didSelectRow(UITableView* table, IndexPath indexPath) override;
    std::vector<UIContextualAction> trailingSwipeActions(UITableView* table, IndexPath indexPath) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    // What the rows were read from: the change versions of the packages and
    // of the sources, and the compatibility filter.
    struct Reading {
        uint64_t packagesVersion = 0, sourcesVersion = 0;
        bool showsIncompatible = false;
        bool operator==(const Reading&) const = default;
    };
    // One rebuild's reading, made on a background queue.
    struct Rows {
        bool read = true;  // false: the database failed; read again at the next appearance
        std::string failure;  // what failed, when not read
        std::optional<ZMRSource> source;
        CategoryGroups groups;
        PackageListModel sections;
    };
    Reading currentReading() const;
    void startRebuild(Reading reading);
    static Rows readRows(const std::string& category, const std::string& sourceLocation, bool showsIncompatible);
    void applyRows(Rows rows);
    // What a row shows, to find it again among new rows: a package, or a
    // name of the first section (a subcategory or a group's label).
    struct RowContent {
        bool package = false;
        std::string name;
        bool operator==(const RowContent&) const = default;
    };
    std::optional<RowContent> rowContent(IndexPath indexPath) const;
    // `before` when it still shows it, else the first row that does.
    std::optional<IndexPath> rowShowing(const RowContent& content, std::optional<IndexPath> before) const;
    // The store's purchases, read again in the background while signed in.
    void refreshPurchases();
    bool hasSubcategorySection() const { return !groups_.rows().empty(); }
    int packageSectionIndex(int tableSection) const { return tableSection - (hasSubcategorySection() ? 1 : 0); }
    bool signedInToStore() const;
    void setBarButtons();
    void popFromNavigation();
    void push(UIViewController* vc);

    std::string category_;
    std::string sourceLocation_;
    std::optional<ZMRSource> source_;
    CategoryGroups groups_;
    PackageListModel sections_;
    UITableView* table_ = nullptr;
    bool isScrolling_ = false;
    bool needCacheRebuild_ = false;
    int rebuildCount_ = 0;
    std::optional<Reading> reading_;
    uint64_t rebuildsRequested_ = 0, rebuildsSettled_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    ObserverBag observers_;
    QPointer<UIViewController> lastPushed_;
    QPointer<UIViewController> lastPresented_;
};
