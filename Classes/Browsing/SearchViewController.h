#pragma once
// The Search tab: one search bar searching three things at once — the local
// packages (by name, or by maintainer when no name matches), the developers
// and the repositories of the maker's online service (SearchServices). With
// no search under way it shows the recent searches and the searches trending
// on the service instead. Confirmed searches (the keyboard's search key, a
// history or trending row, a developer name handed over under
// "SearchDeveloper") are recorded in the history and reported.
//
// Typing keeps the main thread free: the package query runs on a background
// queue 0.4 s after the last key and hands back the total and the first five
// identifiers; the lookups start at every change of three or more
// characters. A reply for any text but the one now searched is dropped.
// The online services are those installed when a search starts, not when
// the tab was built (the launch installs them before building the tabs; a
// test may install others later).
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Browsing/BrowsingCard.h"
#include "Browsing/PackageSearch.h"
#include "Browsing/SearchServices.h"
#include "Notifications/NotificationCenter.h"
#include "SearchCell.h"
#include "UIKit/Timers.h"
#include "UIKit/UISegmentedControl.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class SearchViewController : public ZMPalettedViewController,
                             public UITableViewDataSource,
                             public UITableViewDelegate,
                             public SearchCellDelegate {
    Q_OBJECT
public:
    static constexpr size_t kMinimumSearchLength = 3;
    static constexpr double kTypingPause = 0.4;
    static constexpr size_t kShownPackages = 5;
    static constexpr size_t kShownHistory = 3;
    static constexpr int kGenericRowHeight = 44;
    static constexpr int kPackageRowHeight = 70;
    // The package card's press: held this long, it opens the complete list on release.
    static constexpr int kPressMilliseconds = 100;

    explicit SearchViewController(QWidget* parent = nullptr);
    ~SearchViewController() override;

    // ---- operations ----------------------------------------------------------------------
    // A complete search for a given text (history and trending rows, "SearchDeveloper").
    void setSearch(const std::string& text);
    // Searches and records the developer name stored under "SearchDeveloper",
    // once, and empties the preference; false when none was stored.
    bool searchHandedOverDeveloper();
    // The package query for the current text, off the main thread.
    void updatePackagesSearch();
    // The mode control: stores the mode and searches the text shown again at once.
    void segmentClicked(int index);
    void seeAllPackages();
    void updateUI();
    void followStateChanged() override;
    void iconChanged(const Notification& note);
    // The search bar.
    void searchBarTextDidChange(const QString& text);
    void searchBarSearchButtonClicked();
    void searchBarCancelButtonClicked();
    void searchBarShouldBeginEditing();
    void searchBarShouldEndEditing();
    // The package card's press: began, ended inside, or cancelled.
    enum class PressState { Began, Ended, Cancelled };
    void handlePackagesLongPress(PressState state);

    // ---- state for the screen's users and tests ---------------------------------------------
    int64_t searchQuery() const { return searchQuery_; }
    const std::optional<std::string>& searchText() const { return searchText_; }
    const std::optional<PackageSearch::Summary>& packages() const { return packages_; }
    const std::vector<SearchServices::Developer>& developersArray() const { return developers_; }
    const std::vector<SearchServices::Repository>& repositoriesArray() const { return repositories_; }
    const std::vector<std::string>& searchHistory() const { return history_; }
    const std::vector<std::string>& searchesTrending() const { return trending_; }
    const std::map<std::string, QPixmap>& developersAvatarDictionary() const { return avatars_; }
    const std::map<std::string, QPixmap>& repositoriesIconsDictionary() const { return repositoryIcons_; }
    bool isPressed() const { return isPressed_; }
    bool isPackageQueryPending() const { return typingPause_.isPending(); }
    // Package queries started and results applied (a benchmark and the tests count them).
    int packageQueriesStarted() const { return queriesStarted_; }
    int packageResultsApplied() const { return resultsApplied_; }
    bool isShowingResults() const;
    // The line said instead of the online lookups when they cannot run.
    QLabel* onlineServiceNotice() const { return onlineServiceNotice_; }

    QLineEdit* searchBar() const { return searchBar_; }
    QPushButton* cancelButton() const { return cancelBtn_; }
    UISegmentedControl* searchQueryControl() const { return searchQueryControl_; }
    QScrollArea* statsScrollView() const { return statsScrollView_; }
    QScrollArea* searchScrollView() const { return searchScrollView_; }
    UITableView* historyTableView() const { return historyCard_.table; }
    UITableView* trendingTableView() const { return trendingCard_.table; }
    UITableView* packagesTableView() const { return packagesCard_.table; }
    UITableView* developersTableView() const { return developersCard_.table; }
    UITableView* repositoriesTableView() const { return repositoriesCard_.table; }
    QLabel* packagesTitle() const { return packagesCard_.title; }
    CardView* packagesCard() const { return packagesCard_.card; }
    QPushButton* seeAllPackagesBtn() const { return seeAllBtn_; }
    UIViewController* lastPushedViewController() const { return lastPushed_; }

    // ---- tables ------------------------------------------------------------------------------
    int numberOfRows(UITableView* table, int section) override;
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView* table, IndexPath indexPath) override;
    void willDisplayCell(UITableView* table, UITableViewCell* cell, IndexPath indexPath) override;
    void didSelectRow(UITableView* table, IndexPath indexPath) override;
    std::vector<UIContextualAction> trailingSwipeActions(UITableView* table, IndexPath indexPath) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void buildView();
    // The recent and trending searches in place of the results.
    void showHistory();
    void showResults(bool results);
    void clearResults();
    void startLookups(const std::string& text);
    void runPackageQuery(const std::string& text);
    void applyPackages(PackageSearch::Summary summary);
    void recordSearch(const std::string& text, bool onMainThread);
    void reloadHistory();
    void fetchTrending();
    // Whether the online lookups may run; otherwise shows why and hides their cards.
    bool onlineLookupsAvailable();
    void setTableHeights();
    // Down in the field: the first row of the first results list that has
    // one takes the keys, highlighted; false when there is none.
    bool moveToFirstResult();
    void updateShadows();
    void loadPicture(const std::string& key, const std::string& url, bool developer);
    void push(UIViewController* vc);
    void setTextSilently(const std::string& text);

    int64_t searchQuery_ = PackageSearch::Exact;
    std::optional<std::string> searchText_;
    std::optional<PackageSearch::Summary> packages_;
    std::vector<SearchServices::Developer> developers_;
    std::vector<SearchServices::Repository> repositories_;
    std::map<std::string, QPixmap> avatars_;
    std::map<std::string, QPixmap> repositoryIcons_;
    std::set<std::string> picturesLoading_;
    std::vector<std::string> history_;
    std::vector<std::string> trending_;
    bool isPressed_ = false;
    DelayedCall typingPause_;
    uint64_t packageGeneration_ = 0;
    int queriesStarted_ = 0;
    int resultsApplied_ = 0;
    std::vector<UIBarButtonItem*> savedLeftItems_, savedRightItems_;
    bool editing_ = false;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    QLineEdit* searchBar_ = nullptr;
    QLabel* onlineServiceNotice_ = nullptr;
    QPushButton* cancelBtn_ = nullptr;
    UISegmentedControl* searchQueryControl_ = nullptr;
    QScrollArea* statsScrollView_ = nullptr;
    QScrollArea* searchScrollView_ = nullptr;
    BrowsingCard historyCard_, trendingCard_, packagesCard_, developersCard_, repositoriesCard_;
    QPushButton* seeAllBtn_ = nullptr;
    QTimer* pressTimer_ = nullptr;
    ObserverBag observers_;
    QPointer<UIViewController> lastPushed_;
};
