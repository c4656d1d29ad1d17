#pragma once
// The page of one package. Opened for a package identifier by the lists, the
// link router ("Close" at the left when presented) and the store screens.
//
// Loading (viewDidLoad): the snapshot of the record (packageDictionary), the
// observers (queue state of the package, rating changes), one statistic of
// the view, the navigation-bar Get button with the record's title, the
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
// top margin is its gap: banner, header, changelog, screenshots, description.
// The steps laid out so far: the banner (shown for a package with a native
// depiction, unless that depiction has no header image), the changelog
// (collapsed for an information-file source, else shown once a changelog was
// read and depictions may be fetched), and the screenshots of either kind of
// source (the strip, or the message saying why there is none). The header's
// contents are filled here (icon, name, developer, version, category, Get),
// not its geometry. Still to come, each as further steps at the end of
// setContent() and further sections below the description in contentColumn()
// (before its closing stretch):
// the header's geometry, stars and share button, the title-view hand-over and
// the bar's colour while scrolling, the information rows, the developer card,
// the reviews (whose average rating packageRatingLbl() already holds), the
// other packages of the developer (devPackages()) and the wishlist button.

#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Depictions/ZMDepictionSettings.h"
#include "Details/ZMDetailsServices.h"
#include "Notifications/NotificationCenter.h"
#include "UIKit/Timers.h"
#include "UIKit/UICollectionView.h"
#include "ZMPalettedViewController.h"

class QTextDocument;
class QVBoxLayout;
class UITextView;
class ZMScreenshotPass;
struct ZMNativeDepiction;

class PackageDetailsViewController : public ZMPalettedViewController, public UICollectionViewDataSource {
    Q_OBJECT
public:
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
    const std::vector<std::string>& devPackages() const { return devPackages_; }
    const std::vector<ZMDetailsServices::Review>& packageReviews() const { return packageReviews_; }
    double buttonAlpha() const { return buttonAlpha_; }
    bool isScreenshotTimerRunning() const { return timer_ && timer_->isValid(); }
    // How many times the depiction choice ran (tests).
    int depictionChoiceCount() const { return depictionChoiceCount_; }

    // ---- outlets ----------------------------------------------------------------
    QScrollArea* scrollView() const { return scrollView_; }
    QVBoxLayout* contentColumn() const { return column_; }
    QLabel* bannerImageView() const { return bannerImageView_; }
    QLabel* iconView() const { return iconView_; }
    QLabel* nameLbl() const { return nameLbl_; }
    QLabel* authorLbl() const { return authorLbl_; }
    QPushButton* getBtn() const { return getBtn_; }
    QPushButton* getBarBtn() const { return getBarBtn_; }
    QWidget* changelogSection() const { return changelogSection_; }
    QLabel* changelogVersionLbl() const { return changelogVersionLbl_; }
    UITextView* changelogContentLbl() const { return changelogContentLbl_; }
    QWidget* screenshotsSection() const { return screenshotsSection_; }
    UICollectionView* screenshotsCollectionView() const { return screenshotsCollectionView_; }
    QLabel* screenshotsLbl() const { return screenshotsLbl_; }
    UITextView* descriptionLbl() const { return descriptionLbl_; }
    QLabel* packageRatingLbl() const { return packageRatingLbl_; }

    // ---- loading ------------------------------------------------------------------
    void setPackageDictionaryFromPackageObject();
    void loadInformationFromBackground();
    // The index fields of the record: the fallback when no depiction can be read.
    void getPackageInformation();
    void runDepictionChoice();
    void getSileoDepiction();
    void getHtmlPageForCydiaPackage();
    // Downloads a list of screenshots found by a depiction (main thread).
    void setPackageScreenshotsFromArray(const std::vector<std::string>& urls);

    // ---- layout and actions -----------------------------------------------------------
    void setContent();
    void updateGetButtonTitle();
    void getPackage(QPushButton* sender);
    void presentOptions(QWidget* sender);
    void autoScrollScreenshotsCollectionView();
    void dismissVC();
    // Opens the full-screen gallery on the screenshots.
    void presentScreenshots();

    // ---- text and images ----------------------------------------------------------------
    // A description (forChangelog false) or a changelog as a document: Markdown
    // through ZMMarkdownHTML, links that show their own address without
    // underline, left-aligned, without trailing line breaks. Never null.
    static QTextDocument* attributedTextFromMarkdown(const std::string& text, bool forChangelog, bool darkMode);
    static QImage makeRoundedImage(const QImage& image, double radius);
    // The average colour of the image (clear for a null image).
    static QColor getDominantColor(const QImage& image);
    // Black or white, whichever reads on the colour.
    static QColor readableForegroundColorForBackgroundColor(const QColor& color);

    // ---- the strip's data source ------------------------------------------------------
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
    void buildViews();
    // The steps of setContent this page lays out.
    void layoutBanner();
    void layoutChangelog(bool usesInfoJson, bool mayFetch);
    void layoutScreenshots(bool usesInfoJson);
    void showScreenshotsGallery(bool shown, const QString& message);
    bool sourceUsesInfoJson() const;
    bool mayFetchDepictions() const;
    std::string text(const char* key) const;
    void applyNativeDepiction(ZMNativeDepiction depiction);
    void fetchChangelogPage(const std::string& url);
    void fetchBanner(const std::string& url);
    void showChangelog(const QString& plainText);
    void showMarkdown(UITextView* view, const std::string& markdown, bool forChangelog);
    void startScreenshotPass(const std::vector<std::string>& urls, bool readCache, bool recordsURLs);
    void restartScreenshotTimer();
    void colorNavigationBarForBanner();
    void updateBannerPixmap();
    void fetchAuthorAvatar();
    void fetchPurchaseInformation();

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
    QImage authorAvatar_;
    QColor colorForNavBarTintColor_;
    std::vector<std::string> devPackages_;
    std::vector<ZMDetailsServices::Review> packageReviews_;
    std::vector<std::string> packagesConflicts_;
    ObserverBag observers_;

    // Views.
    QScrollArea* scrollView_ = nullptr;
    QWidget* content_ = nullptr;
    QVBoxLayout* column_ = nullptr;
    QLabel* bannerImageView_ = nullptr;
    QLabel* iconView_ = nullptr;
    QLabel* nameLbl_ = nullptr;
    QLabel* authorLbl_ = nullptr;
    QLabel* versionLbl_ = nullptr;
    QLabel* packageVersionLbl_ = nullptr;
    QLabel* categoryLbl_ = nullptr;
    QLabel* packageCategoryLbl_ = nullptr;
    QPushButton* getBtn_ = nullptr;
    QWidget* headerSeparator_ = nullptr;
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
    QLabel* packageRatingLbl_ = nullptr;
    QPushButton* getBarBtn_ = nullptr;
    UIBarButtonItem* getBarBtnItem_ = nullptr;
    QPointer<QWidget> customTitleView_;
    QPointer<QWidget> defaultTitleView_;
};
