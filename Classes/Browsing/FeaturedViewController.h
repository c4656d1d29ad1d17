#pragma once
// The featured home page, the first tab: the maker's featured feed as a
// carousel of banner cards (BigFeaturedCell) and four cards of package rows
// (the middle list, must-have tweaks, must-have themes, extend your apps),
// each listing only packages the database knows. Above them the version
// prompt, the title, the news button and the account button with the user's
// avatar; below them the device line, which a long press copies.
//
// The feed is requested once, when the view loads; the lists and banner
// pictures are built off the main thread and reach the page in one step.
// Banners come from HomeCache (PNG files named by their URL), else from the
// network, each redrawing its own card when it arrives. The cards are made
// anew only for a new feed: a new width, palette or appearance redraws the
// same cards, so a press held on one carries on. With exactly five
// banners the carousel advances every 4 s, until the user drags it or
// presses a card; with any other number it moves only when dragged. After a source refresh, and at every later
// appearance, the four lists are recomputed (never while the page scrolls)
// and the tables whose contents changed are reloaded.
//
// Each appearance sends a user who has not finished the first-run setup into
// its flow (never a second one), and after an upgrade shows the change log once.
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Browsing/BrowsingCard.h"
#include "Browsing/FeaturedModel.h"
#include "Notifications/NotificationCenter.h"
#include "Services/ZMFeaturedPackages.h"
#include "UIKit/Timers.h"
#include "UIKit/UICollectionView.h"
#include "UIKit/UITableView.h"
#include "ZMErrorDelegate.h"
#include "ZMPalettedViewController.h"

class BigFeaturedCell;

class FeaturedViewController : public ZMPalettedViewController,
                               public UICollectionViewDataSource,
                               public UITableViewDataSource,
                               public UITableViewDelegate,
                               public ZMErrorDelegate {
    Q_OBJECT
public:
    static constexpr double kCarouselSeconds = 4.0;
    static constexpr int kRowHeight = 70;
    // Banners larger than this are not downloaded whole.
    static constexpr int64_t kMaximumBannerBytes = 8 * 1024 * 1024;

    explicit FeaturedViewController(QWidget* parent = nullptr);
    ~FeaturedViewController() override;

    // Whether appearing presents the first-run flow and the change log (on by
    // default). Tests of other screens, which launch the whole window over an
    // unfinished setup, turn it off.
    static void setLaunchScreensEnabled(bool enabled);
    static bool launchScreensEnabled();

    // ---- the page's operations ----------------------------------------------------
    // Builds the lists and banners from the feed client's lists (after the feed arrived).
    void loadInformationsFromBackground();
    // Sizes of the carousel and its cards for the page's width.
    void setContent();
    // Recomputes the four lists (not while scrolling: then it stays pending).
    void retrieveFeaturedPackages();
    void updateShadows();
    // The carousel timer's tick.
    void autoScrollFeaturedCollectionView();
    // The details (or web depiction) of a package; for a banner whose package
    // the database lacks, the offer to add its repository.
    void openPackageDepictionForIdentifier(const std::string& identifier);
    // The first-run flow, unless one is already shown.
    void goToSetupScreen();
    void goToNews();
    void accountInformations();
    // The sheet that copies the device model and identifier.
    void copyDeviceSpecs();
    // A banner's menu ("Featured Page"), as a right click shows it.
    QMenu* showBannerMenu(int index, QPoint globalPos);
    // The featured package page of banner `index`, presented.
    void presentFeaturedPage(int index);

    // ---- state ------------------------------------------------------------------------
    const std::vector<ZMFeaturedPackagesTop>& banners() const { return banners_; }
    const FeaturedModel::Lists& lists() const { return lists_; }
    QImage bannerImage(int index) const;
    size_t featuredCollectionViewPage() const { return page_; }
    bool isCarouselTimerRunning() const { return timer_ && timer_->isValid(); }
    bool isScrolling() const { return isScrolling_; }
    bool needsCacheRebuild() const { return needCacheRebuild_; }
    // How many times the feed's contents were put on the page.
    int contentDisplayCount() const { return displayCount_; }
    // How many rebuilds reached the tables.
    int rebuildCount() const { return rebuildCount_; }
    QImage avatarImage() const { return avatarImage_; }

    QScrollArea* scrollView() const { return scrollView_; }
    UICollectionView* topFeaturedCollectionView() const { return carousel_; }
    BigFeaturedCell* bannerCell(int index) const;
    UITableView* tableView(FeaturedModel::List list) const { return cards_[list].table; }
    QWidget* cardView(FeaturedModel::List list) const { return cards_[list].card; }
    QLabel* navBarPrompt() const { return navBarPrompt_; }
    QLabel* navBarFeatured() const { return navBarFeatured_; }
    QToolButton* newsButton() const { return newsButton_; }
    QToolButton* infoBtn() const { return infoBtn_; }
    QLabel* deviceSpecs() const { return deviceSpecs_; }
    QLabel* onlineServiceNotice() const { return onlineServiceNotice_; }
    UIViewController* lastOpenedViewController() const { return lastOpened_; }

    // ---- carousel -----------------------------------------------------------------------
    int numberOfItems(UICollectionView*) override { return static_cast<int>(banners_.size()); }
    QWidget* cellForItem(UICollectionView*, int index) override;
    QSize sizeForItem(UICollectionView*, int index) override;
    void didSelectItem(UICollectionView*, int index) override;
    bool shouldSelectItem(UICollectionView*, int index) override;

    // ---- tables -------------------------------------------------------------------------
    int numberOfRows(UITableView* table, int section) override;
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override { return kRowHeight; }
    void didSelectRow(UITableView* table, IndexPath indexPath) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    struct Built;
    void display(Built built);
    // The banner's picture, texts, icon and palette on its card.
    void configureBannerCell(BigFeaturedCell* cell, int index);
    // Every card shows its banner again, in place (a new set of cards only
    // when the number of banners changed).
    void updateBannerCells();
    void downloadBanner(int index, uint64_t generation);
    void startTimer();
    void stopTimer();
    void centreNearestBanner();
    void scrollingBegan();
    void scrollingEnded();
    void applyTableHeights();
    void updateAccountButton();
    void showAccountImage(const QImage& image, bool round);
    std::optional<FeaturedModel::List> listOf(UITableView* table) const;
    const ZMFeaturedPackagesTop* bannerFor(const std::string& identifier) const;
    void showChangelogIfNeeded();
    void open(UIViewController* vc);

    // What the page shows; replaced only on the main thread.
    std::vector<ZMFeaturedPackagesTop> banners_;
    std::vector<QImage> images_;
    FeaturedModel::Lists lists_;
    uint64_t bannerGeneration_ = 0;
    uint64_t listsGeneration_ = 0;

    QImage avatarImage_;
    std::string avatarURL_;
    bool firstAppearance_ = true;
    std::unique_ptr<UITimer> timer_;
    bool isScrolling_ = false;
    bool needCacheRebuild_ = true;
    size_t page_ = 0;
    int displayCount_ = 0;
    int rebuildCount_ = 0;
    int lastWidth_ = -1;

    QScrollArea* scrollView_ = nullptr;
    QWidget* navigationBar_ = nullptr;
    QLabel* navBarPrompt_ = nullptr;
    QLabel* navBarFeatured_ = nullptr;
    QToolButton* newsButton_ = nullptr;
    QToolButton* infoBtn_ = nullptr;
    UICollectionView* carousel_ = nullptr;
    std::array<BrowsingCard, FeaturedModel::ListCount> cards_;
    QLabel* deviceSpecs_ = nullptr;
    QLabel* onlineServiceNotice_ = nullptr;
    QTimer scrollIdle_;
    QPointer<QMenu> bannerMenu_;
    QPointer<UIViewController> lastOpened_;
    ObserverBag observers_;
};
