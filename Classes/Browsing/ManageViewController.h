#pragma once
// The Manage tab: two cards on one scrolling page — the five most recently
// installed packages (with the way to the full list) and every configured
// source with its icon, name, description, installed and total package
// counts and the time since its repository was regenerated. Sources are
// refreshed, opened, removed, copied, shared and added
// from here; the records themselves change only through ZMRSources.
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Database/ZMRPackage.h"
#include "Database/ZMRSource.h"
#include "Database/ZMRSources.h"
#include "Notifications/NotificationCenter.h"
#include "UIKit/CardView.h"
#include "UIKit/Timers.h"
#include "UIKit/UIRefreshControl.h"
#include "UIKit/UITableView.h"
#include "ZMErrorDelegate.h"
#include "ZMPalettedViewController.h"

class SourcesCell;

class ManageViewController : public ZMPalettedViewController,
                             public UITableViewDataSource,
                             public UITableViewDelegate,
                             public ZMErrorDelegate {
    Q_OBJECT
public:
    static constexpr int kSourceRowHeight = 99;
    static constexpr int kPackageRowHeight = 70;
    static constexpr int kMaxInstalledRows = 5;

    explicit ManageViewController(QWidget* parent = nullptr);
    ~ManageViewController() override;

    // ---- operations ------------------------------------------------------------------------
    // Offers the pasteboard's new repository addresses, else opens the add form.
    void addSource();
    void handleRefresh();
    void seeAllInstalledPackages();
    ZMRAddSourceResult addSourceWithString(const std::string& text, bool httpApproval);
    // Recounts the installed packages of every source off the main thread and
    // installs the new counts on the main thread.
    void rebuildSourcesCache();
    void animateContentForTable(bool sourcesTable);
    void updateShadows();
    // The installed card's long press (0.2 s): the card presses in, and a release
    // inside it opens the full list.
    enum class LongPressState { Began, Ended, Cancelled };
    void handleLongPressGesture(LongPressState state, QPoint globalPosition);
    bool isInstalledCardPressed() const { return cardPressed_; }
    void iconChanged(const Notification& note);
    void sourceIconChanged(const Notification& note);
    // Removes at once, after the device-owner check when the preference asks
    // for one; the maker's own repository is never removed.
    void removeSourceWithLocation(const std::string& location);
    void removeSourceAtRow(int row);
    // Puts the location on the clipboard.
    void copySourceWithLocation(const std::string& location);
    void copySourceAtRow(int row);
    void shareAllSources();

    // ---- state for the screen's users and tests -------------------------------------------------------
    UITableView* installedPackagesTableView() const { return installedPackagesTableView_; }
    UITableView* sourcesTableView() const { return sourcesTableView_; }
    UIRefreshControl* refreshControl() const { return refreshController_; }
    QScrollArea* scrollView() const { return scrollView_; }
    CardView* installedPackagesCard() const { return installedPackagesCard_; }
    CardView* sourcesCard() const { return sourcesCard_; }
    QPushButton* seeAllInstalledPackagesBtn() const { return seeAllInstalledPackagesBtn_; }
    // The installed counts per source location, as last installed on the main thread.
    const std::map<std::string, std::string>& dictOfInstalledPackagesCount() const { return installedCounts_; }
    int installedCountGeneration() const { return installedCountGeneration_; }
    bool isTimerRunning() const { return timeSinceTimer_ && timeSinceTimer_->isValid(); }
    UIViewController* lastPushedViewController() const { return lastPushed_; }
    UIViewController* lastPresentedViewController() const { return lastPresented_; }
    // Called with the outcome of each removal (tests, and the failure alert).
    void setRemovalObserver(std::function<void(const std::string& location, bool succeeded)> observer) {
        removalObserver_ = std::move(observer);
    }
    // Redraws the visible rows' regeneration labels (what the timer does every second).
    void redrawRegenerationLabels();

    // ---- tables ------------------------------------------------------------------------------------
    int numberOfRows(UITableView* table, int section) override;
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView* table, IndexPath) override;
    void didSelectRow(UITableView* table, IndexPath indexPath) override;
    std::vector<UIContextualAction> trailingSwipeActions(UITableView* table, IndexPath indexPath) override;
    // A source row's edit menu: Copy.
    std::vector<UIContextualAction> editMenuActions(UITableView* table, IndexPath indexPath) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildView();
    void setBarButtons();
    void startTimer();
    void presentAddForm();
    void removeSource(const std::string& location, const std::string& name);
    void push(UIViewController* vc);
    void present(UIViewController* vc);
    void fillSourceCell(SourcesCell* cell, const ZMRSource& source, int row);
    void sourcesChanged();
    void packagesChanged();
    // The rows' order: the sources by name, in the locale's order; while a
    // refresh runs (and names change under the user's pointer) the order
    // shown stays, new sources coming last, until the refresh ends.
    void updateSourceOrder();
    std::optional<ZMRSource> sourceAtRow(int row) const;
    size_t installedCount() const;
    std::optional<ZMRPackage> installedPackageAtRow(int row) const;

    // Live results and their change blocks.
    std::optional<Results<ZMRSource>> allSources_;
    std::vector<std::string> sourceOrder_;  // the locations, row by row
    std::optional<Results<ZMRPackage>> allPackages_;
    NotificationToken sourceNotification_;
    NotificationToken packageNotification_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    std::map<std::string, std::string> installedCounts_;
    int installedCountGeneration_ = 0;
    int installedCountRequests_ = 0;
    std::unique_ptr<UITimer> timeSinceTimer_;
    ObserverBag observers_;
    std::function<void(const std::string&, bool)> removalObserver_;

    QScrollArea* scrollView_ = nullptr;
    QProgressBar* loadingIndicator_ = nullptr;
    UIRefreshControl* refreshController_ = nullptr;
    CardView* installedPackagesCard_ = nullptr;
    QLabel* installedPackagesTitle_ = nullptr;
    QPushButton* seeAllInstalledPackagesBtn_ = nullptr;
    UITableView* installedPackagesTableView_ = nullptr;
    CardView* sourcesCard_ = nullptr;
    QLabel* sourcesTitle_ = nullptr;
    UITableView* sourcesTableView_ = nullptr;
    double pullAccumulated_ = 0;
    QTimer* longPressTimer_ = nullptr;
    bool cardPressed_ = false;

    QPointer<UIViewController> lastPushed_;
    QPointer<UIViewController> lastPresented_;
};
