#pragma once
// The one screen behind every generic package list: all, installed, updated,
// new packages by date, a source's packages, a section's subcategory, search
// results, purchased packages and a followed developer's or source's new
// packages. The opener sets the kind and the navigation title.
//
// Rows are package identifiers; each record is looked up when its row is
// drawn, tapped or swiped. A tap opens the package, a swipe queues or
// dequeues it, "Sort" chooses the system-wide sort criterion. A rebuild asked
// for while the user scrolls waits for the scroll to end (a deceleration, or a
// drag released without one) and is never lost.
//
// A rebuild queries and groups on a background queue (a list of every
// package takes too long for the main thread) and swaps the rows in on the
// main thread; a newer request supersedes an older one still running. On
// appearing, the list rebuilds only when the packages, the sort criterion or
// the compatibility filter changed since its rows were read, or a source was
// refreshed meanwhile; in view, it follows the end of every queue run and
// .deb install (a removed package leaves the installed list at once).
#include <QPointer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Browsing/PackageListModel.h"
#include "Database/ZMRDeveloper.h"
#include "Notifications/NotificationCenter.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class PackageCell;

class PackagesTableViewController : public ZMPalettedViewController,
                                    public UITableViewDataSource,
                                    public UITableViewDelegate {
    Q_OBJECT
public:
    static constexpr double kRowHeight = 70;

    explicit PackagesTableViewController(QWidget* parent = nullptr);
    ~PackagesTableViewController() override;

    // ---- inputs ----------------------------------------------------------------------------
    void setCategory(const std::string& category) { model_.category = category; }
    void setSubcategory(const std::string& subcategory) { model_.subcategory = subcategory; }
    void setSearch(const std::string& search) { model_.search = search; }
    // The search mode (PackageSearch::Mode) of the search-results kind.
    void setSearchQuery(int64_t mode) { model_.searchQuery = mode; }
    void setSourceLocation(const std::string& location) { model_.sourceLocation = location; }
    void setFollowedDeveloper(const std::optional<ZMRDeveloper>& developer);
    void setNewsSourcePackagesToShow(std::vector<std::string> identifiers) {
        model_.newsSourcePackagesToShow = std::move(identifiers);
    }
    const std::string& category() const { return model_.category; }

    // ---- state -----------------------------------------------------------------------------
    const PackageListModel& model() const { return model_; }
    bool isScrolling() const { return isScrolling_; }
    bool needCacheRebuild() const { return needCacheRebuild_; }
    // Rebuilds whose rows were swapped in.
    int rebuildCount() const { return rebuildCount_; }
    bool isRebuilding() const { return rebuildsRequested_ != rebuildsSettled_; }
    UITableView* packagesTableView() const { return packagesTableView_; }
    UIViewController* lastOpenedViewController() const { return lastOpened_; }

    // ---- operations ------------------------------------------------------------------------
    // Rebuilds the rows (off the main thread) unless nothing they show changed.
    void rebuildCache();
    std::string sortPropertyForPrefs() const { return model_.sortPropertyForPrefs(); }
    // The Sort button's sheet.
    void sortPackages(QWidget* sender);
    void sourceRefreshed(const Notification& note);
    void iconChanged(const Notification& note);
    // The pipeline's end of a task: after a queue run or a .deb install the
    // list in view is read again (when the records changed).
    void taskFinished(const Notification& note);
    void backSwipe();
    // The queue confirmation screen's redraw request: reloads the rows.
    void updateUI();

    // ---- scrolling (the table's signals land here) ----------------------------------------------
    void scrollViewWillBeginDragging();
    void scrollViewDidEndScrolling();

    // ---- table -----------------------------------------------------------------------------
    int numberOfSections(UITableView*) override;
    int numberOfRows(UITableView*, int section) override;
    UITableViewCell* cellForRow(UITableView*, IndexPath indexPath) override;
    std::optional<QString> titleForHeader(UITableView*, int section) override;
    QStringList sectionIndexTitles(UITableView*) override;
    double heightForRow(UITableView*, IndexPath) override { return kRowHeight; }
    void willDisplayHeaderView(UITableView*, QWidget* view, int section) override;
    void didSelectRow(UITableView*, IndexPath indexPath) override;
    std::vector<UIContextualAction> trailingSwipeActions(UITableView*, IndexPath indexPath) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    // What the rows were read from: the packages' change version, the sort
    // criterion and the compatibility filter.
    struct Reading {
        uint64_t packagesVersion = 0;
        std::string sortCriteria;
        bool showsIncompatible = false;
        bool operator==(const Reading&) const = default;
    };
    void setSortButton();
    Reading currentReading() const;
    void startRebuild(Reading reading);
    PackageCell* visibleCellFor(const std::string& identifier) const;
    // Where the package is in the rows read last (its old place looked at first).
    std::optional<IndexPath> rowOf(const std::string& identifier, std::optional<IndexPath> before) const;

    PackageListModel model_;
    UITableView* packagesTableView_ = nullptr;
    bool isScrolling_ = false;
    bool needCacheRebuild_ = false;
    int rebuildCount_ = 0;
    std::optional<Reading> reading_;
    uint64_t rebuildsRequested_ = 0, rebuildsSettled_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    ObserverBag observers_;
    QPointer<UIViewController> lastOpened_;
};
