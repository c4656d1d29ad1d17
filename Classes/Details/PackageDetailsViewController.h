#pragma once
// The page of one package. Opened for a package identifier by the lists, the
// link router ("Close" at the left when presented) and the store screens.
//
// Loading (viewDidLoad): the snapshot of the record (packageDictionary; its
// installed fields follow the record at every queue state notification of
// the package, which the status scan posts after an install or a removal),
// the observers (queue state of the package, rating changes), one statistic
// of the view, the navigation-bar Get button with the record's title, the
// background work (developer avatar, screenshots from the cache or the
// network, average rating), the depiction choice, the Get title, setContent,
// and for a paid package of a store the user is signed in to, the purchase
// information. The online calls go through ZMDetailsServices.
//
// The depiction choice (ZMDepictionChoice) asks the native JSON depiction
// (getSileoDepiction: banner, description, changelog, screenshots; on a
// network error the classic page) or a classic repository's information page
// (getHtmlPageForCydiaPackage: name, description, changelog, screenshots), or
// nothing. Screenshots go through ZMScreenshotPass; a background pass in
// which every download failed shows the error text and asks the depiction
// choice once more (only once).
//
// Every network completion and the screenshot timer hold the page weakly: a
// closed page receives nothing and its timer dies with it.
//
// Layout. setContent() is the layout pass; it runs on the main thread after
// the loading and whenever new content arrived, and lays the page out afresh.
// The page is one column (contentColumn()) of sections, each a widget whose
// top margin is its gap: banner, header (PackageDetailsHeader), changelog,
// screenshots, description, advertisement (PackageAdvertisementView),
// developer card (PackageDeveloperCard), reviews (PackageReviewsSection),
// information and repository (PackageInformationSection), more by the
// developer (PackageOtherPackagesSection). Its last step fetches the reviews:
// that one list (packageReviews) fills the reviews strip and decides the
// lower half's layout; the answer of an older fetch that arrives after a
// newer one is dropped.
//
// Scrolling: PackageHeaderScrolling fades the header into the bar (see
// there); Home scrolls back to the top.
//
// Rating: the star row rates an installed package. The stars and label show
// the new rating at once; the rating is stored (myRating, and the snapshot)
// only once the service accepted it ("Success" or "Successfully updated"),
// otherwise the previous stars and label come back. A package that is not
// installed gets the install warning only. The leave-review sheet reports
// back as LeaveReviewDelegate; a review that names a problem offers to mail
// the developer first.
//
// Wishlist: the bar's heart toggles the record's mark in one write; once it
// has committed, and only with a signed-in account, the wishlist is uploaded.
//
// Links: mail links go through SourceViewController::mailtoURL (address and
// subject encoded); website, donate and links in the texts open in the
// in-app browser only when they are http(s) addresses.

#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Depictions/ZMDepictionSettings.h"
#include "Details/LeaveReviewDelegate.h"
#include "Details/ZMDetailsServices.h"
#include "Notifications/NotificationCenter.h"
#include "UIKit/Timers.h"
#include "UIKit/UICollectionView.h"
#include "ZMErrorDelegate.h"
#include "ZMPalettedViewController.h"

class ErrorViewController;
class PackageAdvertisementView;
class PackageDetailsHeader;
class PackageDeveloperCard;
class PackageHeaderScrolling;
class PackageInformationSection;
class PackageOtherPackagesSection;
class PackageReviewsSection;
class QTextDocument;
class QToolButton;
class QVBoxLayout;
class UIAlertController;
class UIScrollView;
class UITextView;
class ZMScreenshotPass;

class PackageDetailsViewController : public ZMPalettedViewController,
                                     public UICollectionViewDataSource,
                                     public LeaveReviewDelegate,
                                     public ZMErrorDelegate {
    Q_OBJECT
public:
    // The page's widest column: lines of text stay readable in a wide window.
    static constexpr int kReadableWidth = 760;
    // The navigation bar's Get button: at least this wide, 25 high.
    static constexpr int kGetBarButtonWidth = 100;
    static constexpr const char* kMailSubject = "Vostrelle 5: Question regarding %@";

    explicit PackageDetailsViewController(QWidget* parent = nullptr);
    ~PackageDetailsViewController() override;

    // ---- inputs, set before the view loads ---------------------------------------
    void setPackageIdentifier(const std::string& identifier) { packageIdentifier_ = identifier; }
    const std::string& packageIdentifier() const { return packageIdentifier_; }
    void setSelectedCategory(const std::string& category) { selectedCategory_ = category; }
    void setIsComingFromFeatured(bool featured) { isComingFromFeatured_ = featured; }
    void setIsComingFromURLScheme(bool scheme) { isComingFromURLScheme_ = scheme; }

    // ---- state -----------------------------------------------------------------
    const nlohmann::json& packageDictionary() const { return packageDictionary_; }
    int64_t reach() const { return reach_; }
    const std::vector<std::string>& nativeDepictionCompatibleCydiaSources() const { return classicSources_; }
    bool screenshotRetrievingFail() const { return screenshotRetrievingFail_; }
    bool refreshForCydiaPackages() const { return refreshForCydiaPackages_; }
    bool cydiaPackageHaveChangelog() const { return cydiaPackageHaveChangelog_; }
    bool hideBannerPlaceholder() const { return hideBannerPlaceholder_; }
    // The depiction's header image has arrived and shows in the banner.
    bool hasBannerImage() const { return hasBannerImage_; }
    // Rounded screenshots keyed 1..k (main thread).
    const std::map<int, QImage>& screenshotsDictionary() const { return screenshotsDictionary_; }
    const QImage& authorAvatar() const { return authorAvatar_; }
    // The maintainer's other packages, read off the main thread each time the page appears.
    const std::vector<std::string>& devPackages() const { return devPackages_; }
    int devPackagesReadings() const { return devPackagesReadings_; }
    const std::vector<ZMReviews>& packageReviews() const { return packageReviews_; }
    double buttonAlpha() const { return buttonAlpha_; }
    bool isScreenshotTimerRunning() const { return timer_ && timer_->isValid(); }
    int screenshotsCollectionViewPage() const { return screenshotsCollectionViewPage_; }
    // How many times the depiction choice ran (tests).
    int depictionChoiceCount() const { return depictionChoiceCount_; }
    // Review fetches answered, applied or dropped (tests).
    int answeredReviewFetches() const { return answeredReviewFetches_; }
    PackageHeaderScrolling* headerScrolling() const { return scrolling_; }
    // The scrolling behaviour of the header (on by default; off only to measure it).
    void setHeaderHandOverEnabled(bool enabled) { handOverEnabled_ = enabled; }
    // The last screen of each kind the page opened (pushed, presented or a popup).
    UIViewController* lastOpenedViewController() const { return lastOpened_; }

    // ---- outlets ----------------------------------------------------------------
    UIScrollView* scrollView() const { return scrollView_; }
    QVBoxLayout* contentColumn() const { return column_; }
    QLabel* bannerImageView() const { return bannerImageView_; }
    PackageDetailsHeader* header() const { return header_; }
    QLabel* iconView() const;
    QLabel* nameLbl() const;
    QLabel* authorLbl() const;
    QLabel* verifiedIconView() const;
    QLabel* ratingLbl() const;
    const std::array<QToolButton*, 5>& ratingButtons() const;
    QLabel* packageVersionLbl() const;
    QLabel* packageCategoryLbl() const;
    QPushButton* getBtn() const;
    QPushButton* shareBtn() const;
    QPushButton* getBarBtn() const { return getBarBtn_; }
    UIBarButtonItem* getBarBtnItem() const { return getBarBtnItem_; }
    UIBarButtonItem* wishlistBtn() const { return wishlistBtn_; }
    QWidget* customTitleView() const { return customTitleView_; }
    QWidget* changelogSection() const { return changelogSection_; }
    QLabel* changelogVersionLbl() const { return changelogVersionLbl_; }
    UITextView* changelogContentLbl() const { return changelogContentLbl_; }
    QWidget* screenshotsSection() const { return screenshotsSection_; }
    UICollectionView* screenshotsCollectionView() const { return screenshotsCollectionView_; }
    QLabel* screenshotsLbl() const { return screenshotsLbl_; }
    UITextView* descriptionLbl() const { return descriptionLbl_; }
    PackageAdvertisementView* adsWebView() const { return adsWebView_; }
    PackageDeveloperCard* developerCard() const { return developerCard_; }
    PackageReviewsSection* reviewsSection() const { return reviewsSection_; }
    QLabel* packageRatingLbl() const;
    PackageInformationSection* informationSection() const { return informationSection_; }
    PackageOtherPackagesSection* otherPackagesSection() const { return otherPackagesSection_; }

    // ---- loading ------------------------------------------------------------------
    void setPackageDictionaryFromPackageObject();
    void loadInformationFromBackground();
    // The fixed fields from the record: the fallback when no depiction can be read.
    void getPackageInformation();
    void runDepictionChoice();
    void getSileoDepiction();
    void getHtmlPageForCydiaPackage();
    // Downloads a list of screenshots found by a depiction (main thread).
    void setPackageScreenshotsFromArray(const std::vector<std::string>& urls);

    // ---- layout -----------------------------------------------------------------------
    void setContent();
    // Whether the window makes the compact header (568 or 480 points tall).
    bool isCompactWindow() const;

    // ---- actions ------------------------------------------------------------------------
    void updateGetButtonTitle();
    // The package's queue or installed state changed: the Get title, and
    // after an install or a removal the installed parts of the page.
    void packageStateChanged();
    void getPackage(QPushButton* sender);
    void presentOptions(QWidget* sender);
    void sharePackage(QWidget* sender);
    void contactDeveloper();
    void developerWebsite();
    void donate();
    void seeAllDevPackages();
    void seeAllReviews();
    void leaveReview();
    void seeInstalledFiles();
    void openDeveloperCard();
    void openPackage(const std::string& identifier);
    // A link in the description or the changelog.
    void openTextLink(const QUrl& url);
    void changeWishlistState();
    void autoScrollScreenshotsCollectionView();
    void handleStatusBarTap();
    void dismissVC();
    // Opens the full-screen gallery on the screenshots.
    void presentScreenshots();

    // ---- rating -------------------------------------------------------------------------
    void ratingPressed(QToolButton* sender);
    void setRating(int rating);
    void showLeaveReviewWarning();
    void updateRatingInfo() override;
    void showReviewWarningWithTitle(const std::string& title, const std::string& text, std::optional<int> rate) override;

    // ---- text and images ----------------------------------------------------------------
    // How a description or changelog is written: Markdown (or HTML after
    // "<style>"), or text shown as it is.
    enum class TextFormat { Markdown, Plain };
    // A description (forChangelog false) or a changelog as a document: Markdown
    // through ZMMarkdownHTML, links that show their own address without
    // underline, left-aligned, without trailing line breaks. Never null.
    static QTextDocument* attributedTextFromMarkdown(const std::string& text, bool forChangelog, bool darkMode);
    static QImage makeRoundedImage(const QImage& image, double radius);
    // The average colour of the image (clear for a null image).
    static QColor getDominantColor(const QImage& image);
    // Black or white, whichever reads on the colour.
    static QColor readableForegroundColorForBackgroundColor(const QColor& color);

    // ---- the screenshot strip's data source ------------------------------------------------
    int numberOfItems(UICollectionView*) override;
    QWidget* cellForItem(UICollectionView*, int index) override;
    QSize sizeForItem(UICollectionView*, int index) override;
    void didSelectItem(UICollectionView*, int index) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    // The page's seams: each works on the page's state.
    friend class PackageDepictionReader;
    friend class PackageDetailsActions;
    friend class PackageDetailsRating;

    void buildViews();
    // The steps of setContent.
    void layoutBanner();
    void layoutChangelog(bool usesInfoJson, bool mayFetch);
    void layoutScreenshots(bool usesInfoJson);
    void layoutAdvertisement();
    void fetchReviews();
    void layoutLowerHalf();
    void showScreenshotsGallery(bool shown, const QString& message);
    bool sourceUsesInfoJson() const;
    bool mayFetchDepictions() const;
    std::string text(const char* key) const;
    std::string developerName() const;
    // Shows a text in one of the page's text views once its document is
    // built on a background queue (DetailsTextDocument); the latest text set
    // for a view wins, and a closed page gets none.
    void showText(UITextView* view, const std::string& text, TextFormat format, bool forChangelog = false);
    void startScreenshotPass(const std::vector<std::string>& urls, bool readCache, bool recordsURLs);
    void restartScreenshotTimer();
    void fitGetBarButton();
    void colorNavigationBarForBanner();
    void updateBannerPixmap();
    void fetchAuthorAvatar();
    void setAuthorAvatar(const QImage& avatar);
    void fetchPurchaseInformation();
    void fetchAverageRating();
    void readDeveloperPackages();

    // Inputs.
    std::string packageIdentifier_;
    std::string selectedCategory_;
    bool isComingFromFeatured_ = false;
    bool isComingFromURLScheme_ = false;

    // State.
    nlohmann::json packageDictionary_ = nlohmann::json::object();
    bool hasRecord_ = false;
    ZMDepictionSettings settings_;
    std::vector<std::string> classicSources_;
    int64_t reach_ = 0;
    double buttonAlpha_ = 1.0;
    std::optional<std::string> packagePrice_;
    bool packageOwned_ = false;
    bool packageAvailable_ = true;
    bool packageInfoWasFetched_ = false;
    std::map<int, QImage> screenshotsDictionary_;
    std::map<int, std::string> screenshotFiles_;  // cache files by position, for the gallery
    int screenshotsCollectionViewPage_ = 0;
    bool screenshotRetrievingFail_ = false;
    bool beforeAfterScreenshotsRetrievingFail_ = false;
    bool refreshForCydiaPackages_ = false;
    bool cydiaPackageHaveChangelog_ = false;
    bool changelogFromTab_ = false;
    bool hideBannerPlaceholder_ = false;
    bool hasBannerImage_ = false;
    QImage bannerImage_;
    bool screenshotChoiceRerun_ = false;
    int depictionChoiceCount_ = 0;
    std::unique_ptr<UITimer> timer_;
    std::shared_ptr<ZMScreenshotPass> pass_;
    // Set when the page goes: what reads its depiction stops at its next check.
    std::shared_ptr<std::atomic<bool>> gone_ = std::make_shared<std::atomic<bool>>(false);
    std::function<bool()> pageWent() const {
        return [gone = gone_] { return gone->load(); };
    }
    QImage authorAvatar_;
    std::vector<std::string> devPackages_;
    uint64_t devPackagesRequest_ = 0;
    int devPackagesReadings_ = 0;
    std::vector<ZMReviews> packageReviews_;
    int reviewsGeneration_ = 0;
    int answeredReviewFetches_ = 0;
    int ratingGeneration_ = 0;
    std::vector<std::string> packagesConflicts_;
    bool handOverEnabled_ = true;
    ObserverBag observers_;
    QPointer<UIViewController> lastOpened_;

    // Views.
    UIScrollView* scrollView_ = nullptr;
    QWidget* content_ = nullptr;
    QVBoxLayout* column_ = nullptr;
    QLabel* bannerImageView_ = nullptr;
    PackageDetailsHeader* header_ = nullptr;
    PackageHeaderScrolling* scrolling_ = nullptr;
    QWidget* changelogSection_ = nullptr;
    QLabel* changelogTitle_ = nullptr;
    QLabel* changelogVersionLbl_ = nullptr;
    UITextView* changelogContentLbl_ = nullptr;
    QWidget* screenshotsSection_ = nullptr;
    QLabel* screenshotsTitle_ = nullptr;
    UICollectionView* screenshotsCollectionView_ = nullptr;
    QLabel* screenshotsLbl_ = nullptr;
    QString screenshotsLblDefaultText_;
    QWidget* descriptionSection_ = nullptr;
    QLabel* descriptionTitle_ = nullptr;
    UITextView* descriptionLbl_ = nullptr;
    // The whole description from the source's stored index, once read.
    std::optional<std::string> indexDescription_;
    // The description shows the index's text (no depiction's description came).
    bool descriptionFromIndex_ = false;
    PackageAdvertisementView* adsWebView_ = nullptr;
    PackageDeveloperCard* developerCard_ = nullptr;
    PackageReviewsSection* reviewsSection_ = nullptr;
    PackageInformationSection* informationSection_ = nullptr;
    PackageOtherPackagesSection* otherPackagesSection_ = nullptr;
    QPushButton* getBarBtn_ = nullptr;
    UIBarButtonItem* getBarBtnItem_ = nullptr;
    UIBarButtonItem* wishlistBtn_ = nullptr;
    QPointer<QWidget> customTitleView_;
    QPointer<QWidget> defaultTitleView_;
};
