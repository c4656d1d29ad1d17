#include "Details/PackageDetailsViewController.h"

#include "Browsing/PackageRows.h"

#include <QHBoxLayout>
#include <QResizeEvent>
#include <QScrollBar>
#include <QShortcut>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>

#include "Browsing/SourceAddition.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Depictions/ZMDepictionRequests.h"
#include "Depictions/ZMScreenshotPass.h"
#include "Details/DetailsRendering.h"
#include "Details/DetailsSectionWidgets.h"
#include "Details/DetailsTextDocument.h"
#include "Details/PackageAdvertisementView.h"
#include "Details/PackageDepictionReader.h"
#include "Details/PackageDetailsActions.h"
#include "Details/PackageDetailsHeader.h"
#include "Details/PackageDetailsRating.h"
#include "Details/PackageDeveloperCard.h"
#include "Details/PackageHeaderScrolling.h"
#include "Details/PackageInformationRows.h"
#include "Details/PackageInformationSection.h"
#include "Details/PackageOtherPackagesSection.h"
#include "Details/PackageReviewsSection.h"
#include "Details/PackageScreenshotsViewController.h"
#include "Details/ScreenshotsCell.h"
#include "Details/WholeTextViewController.h"
#include "Details/ZMScreenshotQtCodec.h"
#include "Dispatch/Dispatch.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "PackageCell.h"
#include "SystemConfiguration/Reachability.h"
#include "UIKit/GetButton.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIScrollView.h"
#include "UIKit/UITextView.h"
#include "UIKit/UIViewAlpha.h"
#include "VostrellePersistentPreferences.h"
#include "ZMVostrelle.h"
#include "Miscellaneous/ZMJSON.h"
#include "ZMStoreGuard.h"
#include "ZMSvgPixmap.h"

namespace {

constexpr int kBannerHeight = 200;

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string L(const char* key) { return ZMLocalizedString(key); }
std::string F(const char* key, const std::vector<std::string>& values) { return ZMLocalization::format(key, values); }

// A section: its views in a column, with the gap above it as its top margin.
QWidget* section(const char* name, std::initializer_list<QWidget*> views) {
    auto* w = new QWidget;
    w->setObjectName(name);
    auto* column = new QVBoxLayout(w);
    column->setContentsMargins(20, 20, 20, 0);
    column->setSpacing(8);
    for (auto* v : views) column->addWidget(v);
    return w;
}

// The record of a package's source; none when there is none or the database failed (told then).
std::optional<ZMRSource> sourceRecord(const std::string& location) {
    if (location.empty()) return std::nullopt;
    return ZMStoreGuard::record<ZMRSource>("reading a package's source", location);
}

}  // namespace

PackageDetailsViewController::PackageDetailsViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("PackageDetailsViewController");
}

PackageDetailsViewController::~PackageDetailsViewController() {
    *gone_ = true;
    if (pass_) pass_->cancel();
}

// ---- text and images --------------------------------------------------------------------

QTextDocument* PackageDetailsViewController::attributedTextFromMarkdown(const std::string& text, bool forChangelog,
                                                                       bool darkMode) {
    return DetailsRendering::attributedTextFromMarkdown(text, forChangelog, darkMode);
}
QImage PackageDetailsViewController::makeRoundedImage(const QImage& image, double radius) {
    return DetailsRendering::makeRoundedImage(image, radius);
}
QColor PackageDetailsViewController::getDominantColor(const QImage& image) { return DetailsRendering::dominantColor(image); }
QColor PackageDetailsViewController::readableForegroundColorForBackgroundColor(const QColor& color) {
    return DetailsRendering::readableForegroundColor(color);
}

void PackageDetailsViewController::showText(UITextView* view, const std::string& text, TextFormat format, bool forChangelog) {
    if (format == TextFormat::Markdown) {
        view->setAttributedTextInBackground(
            [text, forChangelog, dark = isDarkMode()](const std::function<bool()>& superseded) {
                return DetailsTextDocument::fromMarkdown(text, forChangelog, dark, superseded).document;
            },
            ZMDepictionBudget::queue());
    } else {
        // In the view's own type, as text set on its own document reads.
        view->setAttributedTextInBackground(
            [text, font = view->font()](const std::function<bool()>& superseded) {
                return DetailsTextDocument::fromPlainText(text, font, superseded).document;
            },
            ZMDepictionBudget::queue());
    }
}

// ---- loading ----------------------------------------------------------------------------

std::string PackageDetailsViewController::text(const char* key) const { return ZMJSON::stringValue(packageDictionary_, key); }

void PackageDetailsViewController::setPackageDictionaryFromPackageObject() {
    // A failed read shows the page of an unknown package.
    auto package = ZMStoreGuard::record<ZMRPackage>("reading a package", packageIdentifier_);
    hasRecord_ = package.has_value();
    packageDictionary_ = package ? package->snapshotDictionary() : nlohmann::json::object();
    if (!hasRecord_) packageDictionary_["isFree"] = false;
    // The record has no donation link; its source may have one.
    if (text("donateLink").empty() && !text("sourceLocation").empty())
        if (auto source = sourceRecord(text("sourceLocation")); source && !source->donateLink.empty())
            packageDictionary_["donateLink"] = source->donateLink;
}

bool PackageDetailsViewController::sourceUsesInfoJson() const {
    auto source = sourceRecord(text("sourceLocation"));
    return source && source->isUsingInfoJson.value_or(false);
}

bool PackageDetailsViewController::mayFetchDepictions() const {
    return VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::GetCydiaPackageInfoFromDepiction) ||
           reach_ == Reachability::ReachableViaWWAN || reach_ == Reachability::ReachableViaWiFi;
}

std::string PackageDetailsViewController::developerName() const {
    return PackageInformationRows::developerNameFor(packageDictionary_, sourceRecord(text("sourceLocation")));
}

void PackageDetailsViewController::viewDidLoad() {
    buttonAlpha_ = 1.0;
    setOverrideLargeTitles(true);
    setUseLegacyNavbarAppearance(true);
    buildViews();
    setPackageDictionaryFromPackageObject();
    if (isComingFromFeatured_) {
        navigationItem()->setNavigationBarHidden(false);
    } else if (isComingFromURLScheme_) {
        navigationItem()->setLeftBarButtonItem(new UIBarButtonItem(q(L("Close")), [this](UIBarButtonItem*) { dismissVC(); },
                                                                   navigationItem()));
    }
    setTitle(QString());

    QPointer<PackageDetailsViewController> weak(this);
    observers_.add(NotificationCenter::defaultCenter().addObserver(
        ZMRPackageInfoRatingChangedNotification, NotificationCenter::Queue::Main, [weak](const Notification& n) {
            if (weak && n.objectString() == weak->packageIdentifier_) weak->fetchAverageRating();
        }));
    observers_.add(NotificationCenter::defaultCenter().addObserver(
        PackageRow::queueStateNotificationName(packageIdentifier_), NotificationCenter::Queue::Main,
        [weak](const Notification&) {
            if (weak) weak->packageStateChanged();
        }));

    const std::string location = text("sourceLocation");
    if (sourceRecord(location))
        ZMDetailsServices::shared()->postPackageStatistic(packageIdentifier_, text("maintainer"), location, text("version"), 0, 1);
    packagesConflicts_.clear();

    // The icon as a title view (the scrolling hand-over swaps it in).
    auto* titleIcon = new QLabel;
    titleIcon->setObjectName("customTitleView");
    titleIcon->setFixedSize(30, 30);
    titleIcon->setPixmap(QPixmap::fromImage(makeRoundedImage(PackageRow::iconForPackage(packageIdentifier_, 30).toImage(), 6.711)));
    customTitleView_ = titleIcon;
    customTitleView_->setParent(this);
    customTitleView_->hide();
    defaultTitleView_ = navigationItem()->titleView();

    // The Get button of the navigation bar.
    getBarBtn_ = new QPushButton(this);
    getBarBtn_->setObjectName("getBarBtn");
    QFont bold = getBarBtn_->font();
    bold.setBold(true);
    bold.setPixelSize(15);
    getBarBtn_->setFont(bold);
    getBarBtn_->setFixedHeight(25);  // and kGetBarButtonWidth wide, or as its title needs (fitGetBarButton)
    getBarBtn_->hide();
    getBarBtnItem_ = new UIBarButtonItem(getBarBtn_, navigationItem());
    connect(getBarBtn_, &QPushButton::clicked, this, [this] { getPackage(getBarBtn_); });
    for (QPushButton* b : {getBarBtn_, getBtn()})
        GetButton::addTargetHapticAction(b, [this, b](GetButton::LongPressState s) {
            if (s == GetButton::LongPressState::Began) presentOptions(b);
        });
    connect(getBtn(), &QPushButton::clicked, this, [this] { getPackage(getBtn()); });
    connect(shareBtn(), &QPushButton::clicked, this, [this] { sharePackage(shareBtn()); });
    // A right click on either Get button: the package rows' Queue / Remove.
    QPointer<PackageDetailsViewController> self(this);
    for (QWidget* button : {static_cast<QWidget*>(getBtn()), static_cast<QWidget*>(getBarBtn_)})
        PackageRows::addQueueMenu(
            button, [self] { return self ? self->packageIdentifier_ : std::string(); },
            [self] {
                if (self) self->updateGetButtonTitle();
            });
    QString initial;
    if (ZMJSON::boolValue(packageDictionary_, "isUpdated") && !ZMJSON::boolValue(packageDictionary_, "isHeld")) initial = "UPDATE";
    else if (ZMJSON::boolValue(packageDictionary_, "isInstalled")) initial = "UNINSTALL";
    else if (ZMJSON::boolValue(packageDictionary_, "isFree")) initial = "GET";
    getBarBtn_->setText(initial.isEmpty() ? q(text("price")) : q(L(initial.toStdString().c_str())));
    fitGetBarButton();

    wishlistBtn_ = new UIBarButtonItem(QIcon(), [this](UIBarButtonItem*) { changeWishlistState(); }, navigationItem());
    PackageDetailsActions::updateWishlistButton(*this);
    scrolling_ = new PackageHeaderScrolling({this, scrollView_, bannerImageView_, header_, getBarBtn_, getBarBtnItem_,
                                             customTitleView_, defaultTitleView_},
                                            this);
    scrolling_->setWishlistButton(wishlistBtn_);
    UIView::setAlpha(getBarBtn_, 0);
    UIView::setAlpha(customTitleView_, 0);

    screenshotsCollectionViewPage_ = 0;
    screenshotRetrievingFail_ = beforeAfterScreenshotsRetrievingFail_ = refreshForCydiaPackages_ = false;
    cydiaPackageHaveChangelog_ = hideBannerPlaceholder_ = false;
    updateBannerPixmap();

    settings_ = ZMDepictionSettings::current();
    loadInformationFromBackground();
    getPackageInformation();
    PackageDepictionReader::readIndexDescription(*this);
    classicSources_ = settings_.classicSources();
    reach_ = Reachability::currentReachabilityStatus();
    runDepictionChoice();
    updateGetButtonTitle();
    setContent();
    fetchPurchaseInformation();
}

void PackageDetailsViewController::buildViews() {
    using namespace DetailsSectionWidgets;
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scrollView_ = new UIScrollView(this);
    scrollView_->setObjectName("scrollView");
    scrollView_->setWidgetResizable(true);
    scrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scrollView_);
    content_ = new QWidget;
    content_->setObjectName("content");
    column_ = new QVBoxLayout(content_);
    column_->setContentsMargins(0, 0, 0, 20);
    column_->setSpacing(0);
    scrollView_->setWidget(content_);
    // A wide window keeps a readable measure: the page is a centred column.
    content_->setMaximumWidth(kReadableWidth);
    scrollView_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    bannerImageView_ = new QLabel;
    bannerImageView_->setObjectName("bannerImageView");
    bannerImageView_->setFixedHeight(kBannerHeight);
    bannerImageView_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);  // the image never widens the page
    bannerImageView_->setAlignment(Qt::AlignCenter);
    column_->addWidget(bannerImageView_);
    header_ = new PackageDetailsHeader;
    column_->addWidget(header_);
    column_->addWidget(section("headerSeparatorRow", {separator("topSeparator")}));

    changelogTitle_ = titleLabel("changelogTitle", q(L("What's New")));
    changelogVersionLbl_ = plainLabel("changelogVersionLbl");
    changelogContentLbl_ = new UITextView;
    changelogContentLbl_->setObjectName("changelogContentLbl");
    changelogSection_ = section("changelogSection", {changelogTitle_, changelogVersionLbl_, changelogContentLbl_, separator()});
    column_->addWidget(changelogSection_);

    screenshotsTitle_ = titleLabel("screenshotsTitle", q(L("Screenshots")));
    screenshotsCollectionView_ = new UICollectionView;
    screenshotsCollectionView_->setObjectName("screenshotsCollectionView");
    screenshotsCollectionView_->setDataSource(this);
    screenshotsCollectionView_->setSpacing(20);
    screenshotsCollectionView_->setContentInsets(0, 0);
    screenshotsLbl_ = plainLabel("screenshotsLbl", true);
    screenshotsLblDefaultText_ = q(L("No screenshots for this package."));
    screenshotsLbl_->setText(screenshotsLblDefaultText_);
    screenshotsSection_ = section("screenshotsSection", {screenshotsTitle_, screenshotsCollectionView_, screenshotsLbl_, separator()});
    column_->addWidget(screenshotsSection_);

    descriptionTitle_ = titleLabel("descriptionTitle", q(L("Description")));
    descriptionLbl_ = new UITextView;
    descriptionLbl_->setObjectName("descriptionLbl");
    descriptionSection_ = section("descriptionSection", {descriptionTitle_, descriptionLbl_});
    column_->addWidget(descriptionSection_);

    adsWebView_ = new PackageAdvertisementView;
    column_->addWidget(adsWebView_);
    developerCard_ = new PackageDeveloperCard;
    column_->addWidget(developerCard_);
    reviewsSection_ = new PackageReviewsSection;
    reviewsSection_->setReviews(&packageReviews_, {});
    column_->addWidget(reviewsSection_);
    informationSection_ = new PackageInformationSection;
    column_->addWidget(informationSection_);
    otherPackagesSection_ = new PackageOtherPackagesSection;
    column_->addWidget(otherPackagesSection_);
    column_->addStretch(1);

    connect(developerCard_, &PackageDeveloperCard::tapped, this, &PackageDetailsViewController::openDeveloperCard);
    connect(reviewsSection_, &PackageReviewsSection::reviewsTapped, this, &PackageDetailsViewController::seeAllReviews);
    connect(reviewsSection_, &PackageReviewsSection::contactTapped, this, &PackageDetailsViewController::contactDeveloper);
    connect(reviewsSection_, &PackageReviewsSection::leaveReviewTapped, this, &PackageDetailsViewController::leaveReview);
    connect(informationSection_, &PackageInformationSection::installedFilesTapped, this,
            &PackageDetailsViewController::seeInstalledFiles);
    connect(informationSection_, &PackageInformationSection::websiteTapped, this, &PackageDetailsViewController::developerWebsite);
    connect(informationSection_, &PackageInformationSection::donateTapped, this, &PackageDetailsViewController::donate);
    connect(otherPackagesSection_, &PackageOtherPackagesSection::seeAllTapped, this, &PackageDetailsViewController::seeAllDevPackages);
    connect(otherPackagesSection_, &PackageOtherPackagesSection::packageSelected, this, &PackageDetailsViewController::openPackage);
    for (QToolButton* star : header_->ratingButtons())
        connect(star, &QToolButton::clicked, this, [this, star] { ratingPressed(star); });
    for (UITextView* view : {descriptionLbl_, changelogContentLbl_}) {
        connect(view, &UITextView::linkActivated, this, &PackageDetailsViewController::openTextLink);
        connect(view, &UITextView::wholeTextRequested, this, [this, view] {
            const QString title = view == descriptionLbl_ ? descriptionTitle_->text() : changelogTitle_->text();
            SourceAddition::topPresenter(this)->presentViewController(WholeTextViewController::sheet(title, view->wholeText()), true);
        });
    }
    // A changelog built after the layout pass shows once it has words.
    connect(changelogContentLbl_, &UITextView::attributedTextShown, this,
            [this] { layoutChangelog(sourceUsesInfoJson(), mayFetchDepictions()); });

    connect(scrollView_, &UIScrollView::didScroll, this, [this](double y) {
        if (handOverEnabled_ && scrolling_) scrolling_->scrollViewDidScroll(y);
    });
    connect(scrollView_, &UIScrollView::willEndDragging, this, [this](double, double target) {
        if (scrolling_) scrolling_->scrollViewWillEndDragging(target);
    });
    // The strip stays where the user leaves it.
    connect(screenshotsCollectionView_, &UICollectionView::willBeginDragging, this, [this] {
        if (timer_) timer_->invalidate();
    });
    auto* top = new QShortcut(QKeySequence(Qt::Key_Home), this, this, &PackageDetailsViewController::handleStatusBarTap);
    top->setContext(Qt::WidgetWithChildrenShortcut);
    auto* bottom = new QShortcut(QKeySequence(Qt::Key_End), this, this, [this] {
        scrollView_->setContentOffsetY(scrollView_->verticalScrollBar()->maximum(), true);
    });
    bottom->setContext(Qt::WidgetWithChildrenShortcut);
}

void PackageDetailsViewController::getPackageInformation() {
    const std::string location = text("sourceLocation");
    const std::optional<ZMRSource> source = sourceRecord(location);
    const PackageInformationRows rows = PackageInformationRows::make(packageDictionary_, source, settings_.makerRepository);
    header_->setIcon(PackageRow::iconForPackage(packageIdentifier_, 240));
    const std::string name = text("name");
    header_->nameLbl()->setText(q(name.empty() ? packageIdentifier_ : name));
    header_->verifiedIconView()->setVisible(rows.verified);
    updateGetButtonTitle();
    PackageDetailsRating::paintRating(*this, rows.myRating);
    header_->packageVersionLbl()->setText(rows.version);
    header_->packageCategoryLbl()->setText(rows.category);
    if (rows.descriptionIsMarkdown) showText(descriptionLbl_, rows.description, TextFormat::Markdown);
    else showText(descriptionLbl_, indexDescription_.value_or(rows.description), TextFormat::Plain);
    descriptionFromIndex_ = !rows.descriptionIsMarkdown;
    const QString shownName = q(PackageRow::displayMaintainer(rows.developerName.toStdString()));
    header_->authorLbl()->setText(shownName);
    developerCard_->setDeveloper(shownName, authorAvatar_);
    otherPackagesSection_->moreDevPackagesTitle()->setText(rows.moreByTitle);
    otherPackagesSection_->copyrightLbl()->setText(rows.copyright);
    QPixmap repositoryIcon;
    if (source) {
        const auto icon = ZMRPackageManager::sharedPackageManager().sources().iconForLocation(location);
        if (!icon.path.empty()) repositoryIcon = QPixmap(q(icon.path));
    }
    if (repositoryIcon.isNull()) repositoryIcon = ZMSvgPixmap::pixmap(":/Images/Developers/iTunesArtwork.svg", 120);
    informationSection_->fill(rows, repositoryIcon);
    informationSection_->developerNameLbl()->setText(shownName);
    reviewsSection_->setReviews(&packageReviews_, text("maintainer"));
}

void PackageDetailsViewController::loadInformationFromBackground() {
    fetchAuthorAvatar();
    const auto urls = ZMJSON::stringList(packageDictionary_, "screenshots");
    if (!urls.empty()) startScreenshotPass(urls, true, false);
    fetchAverageRating();
}

void PackageDetailsViewController::fetchAverageRating() {
    QPointer<PackageDetailsViewController> weak(this);
    ZMDetailsServices::shared()->getAverageRate(packageIdentifier_, [weak](std::optional<std::string> rate) {
        Dispatch::main([weak, rate] {
            if (weak) weak->packageRatingLbl()->setText(q(rate.value_or("")));
        });
    });
}

void PackageDetailsViewController::setAuthorAvatar(const QImage& avatar) {
    authorAvatar_ = avatar;
    developerCard_->setDeveloper(developerCard_->developerName(), authorAvatar_);
}

void PackageDetailsViewController::fetchAuthorAvatar() {
    QPointer<PackageDetailsViewController> weak(this);
    auto defaultAvatar = [weak] {
        Dispatch::main([weak] {
            if (weak) weak->setAuthorAvatar(ZMSvgPixmap::pixmap(":/Images/Developers/iTunesArtwork.svg", 120).toImage());
        });
    };
    const std::string maintainer = text("maintainer");
    if (maintainer.empty()) {
        defaultAvatar();
        return;
    }
    ZMDetailsServices::shared()->searchDeveloper(maintainer, [weak, maintainer, defaultAvatar](
                                                                 std::vector<ZMDetailsServices::DeveloperProfile> found) {
        if (found.empty()) defaultAvatar();
        for (const auto& developer : found) {
            if (developer.fullName != maintainer) {
                defaultAvatar();
                continue;
            }
            ZMDepictionRequests::fetch(URLSession::sharedSession(), developer.avatarURL, ZMDepictionRequests::kMaximumImageSize,
                                       [weak](std::string data, std::optional<URLResponse> response, std::optional<ZMError> error) {
                                           // a failed download changes nothing
                                           if (error || !response || !response->isSuccess()) return;
                                           Dispatch::defaultQueue([weak, data = std::move(data)] {
                                               QImage image = ZMScreenshotQtCodec::decodeImage(data, QSize(512, 512));
                                               Dispatch::main([weak, image] {
                                                   if (!weak) return;
                                                   weak->setAuthorAvatar(image.isNull()
                                                       ? ZMSvgPixmap::pixmap(":/Images/Developers/iTunesArtwork.svg", 120).toImage()
                                                       : image);
                                               });
                                           });
                                       });
        }
    });
}

void PackageDetailsViewController::fetchPurchaseInformation() {
    if (!hasRecord_ || ZMJSON::boolValue(packageDictionary_, "isFree")) return;
    auto services = ZMDetailsServices::shared();
    if (!services->userIsAuthenticatedForStoreLocation(text("sourceLocation"))) return;
    QPointer<PackageDetailsViewController> weak(this);
    services->purchaseInfoForPackage(packageIdentifier_, [weak](std::optional<ZMDetailsServices::PurchaseInfo> info) {
        if (!info) return;  // a failed reply changes nothing
        Dispatch::main([weak, info = *info] {
            if (!weak) return;
            weak->packagePrice_ = info.price;
            weak->packageOwned_ = info.purchased;
            weak->packageAvailable_ = info.available;
            weak->packageInfoWasFetched_ = true;
            weak->buttonAlpha_ = info.available ? 1.0 : 0.5;
            weak->updateGetButtonTitle();
        });
    });
}


// ---- screenshots ----------------------------------------------------------------------------

void PackageDetailsViewController::setPackageScreenshotsFromArray(const std::vector<std::string>& urls) {
    screenshotsDictionary_.clear();
    startScreenshotPass(urls, false, true);
}

void PackageDetailsViewController::startScreenshotPass(const std::vector<std::string>& urls, bool readCache, bool recordsURLs) {
    if (pass_) pass_->cancel();
    ZMScreenshotPass::Request request;
    request.identifier = packageIdentifier_;
    request.urls = urls;
    request.cachedPaths = ZMJSON::stringList(packageDictionary_, "screenshotsLocalPaths");
    request.readCache = readCache;
    request.recordsURLs = recordsURLs;
    QPointer<PackageDetailsViewController> weak(this);
    const bool background = !recordsURLs;
    pass_ = ZMScreenshotPass::start(
        std::move(request), std::make_shared<ZMScreenshotQtCodec>(), [weak, background](ZMScreenshotPass::Outcome outcome) {
            if (!weak) return;
            PackageDetailsViewController& page = *weak;
            page.screenshotsDictionary_.clear();
            page.screenshotFiles_ = outcome.files;
            for (const auto& [position, image] : outcome.images)
                if (auto* qt = dynamic_cast<const ZMScreenshotQtImage*>(image.get())) page.screenshotsDictionary_[position] = qt->rounded;
            const bool any = !page.screenshotsDictionary_.empty();
            if (outcome.fromCache || !background) page.refreshForCydiaPackages_ = true;
            if (any) {
                page.screenshotRetrievingFail_ = false;
                page.screenshotsCollectionView_->reloadData();
                page.restartScreenshotTimer();
                page.setContent();
                return;
            }
            page.refreshForCydiaPackages_ = true;
            page.screenshotRetrievingFail_ = true;
            page.setContent();
            // Every download failed: a depiction may know newer addresses. Asked once only.
            if (background && !page.screenshotChoiceRerun_) {
                page.screenshotChoiceRerun_ = true;
                page.runDepictionChoice();
            }
        },
        [weak] {
            // The cache files the gallery decodes at its own size.
            if (weak && weak->pass_) weak->screenshotFiles_ = weak->pass_->savedFiles();
        });
}

void PackageDetailsViewController::restartScreenshotTimer() {
    if (timer_) timer_->invalidate();
    QPointer<PackageDetailsViewController> weak(this);
    timer_ = UITimer::scheduledTimer(4.0, true, [weak] {
        if (weak) weak->autoScrollScreenshotsCollectionView();
    });
}

void PackageDetailsViewController::autoScrollScreenshotsCollectionView() {
    const int count = static_cast<int>(screenshotsDictionary_.size());
    if (count < 2) return;
    screenshotsCollectionViewPage_ = screenshotsCollectionViewPage_ >= count - 1 ? 0 : screenshotsCollectionViewPage_ + 1;
    screenshotsCollectionView_->scrollToItem(screenshotsCollectionViewPage_, true,
                                             UICollectionView::ScrollPosition::CenteredHorizontally);
}

int PackageDetailsViewController::numberOfItems(UICollectionView*) { return static_cast<int>(screenshotsDictionary_.size()); }

QWidget* PackageDetailsViewController::cellForItem(UICollectionView*, int index) {
    auto* cell = new ScreenshotsCell;
    auto it = screenshotsDictionary_.find(index + 1);
    if (it != screenshotsDictionary_.end()) cell->setImage(it->second);
    return cell;
}

QSize PackageDetailsViewController::sizeForItem(UICollectionView*, int index) {
    // Taller than the cap: scaled down to it, the aspect kept. A single
    // screenshot takes the page's width less 32.
    constexpr int kHeightCap = 422;
    auto it = screenshotsDictionary_.find(index + 1);
    QSize size = it == screenshotsDictionary_.end() || it->second.isNull() ? QSize(1, 1) : it->second.size();
    if (size.height() > kHeightCap) size = QSize(std::max(1, size.width() * kHeightCap / size.height()), kHeightCap);
    if (screenshotsDictionary_.size() == 1) size.setWidth(std::max(1, width() - 32));
    return size;
}

void PackageDetailsViewController::didSelectItem(UICollectionView*, int) { presentScreenshots(); }

void PackageDetailsViewController::presentScreenshots() {
    auto* gallery = new PackageScreenshotsViewController;
    gallery->setScreenshotsDictionary(screenshotsDictionary_);
    // Files still being written when the gallery opens: those saved so far.
    if (screenshotFiles_.empty() && pass_) screenshotFiles_ = pass_->savedFiles();
    gallery->setScreenshotFiles(screenshotFiles_);
    auto* nav = new UINavigationController(gallery);
    // Presented by the outermost screen, like every modal screen of the window.
    UIViewController* presenter = this;
    while (presenter->parentViewController()) presenter = presenter->parentViewController();
    presenter->presentViewController(nav, true);
}

// ---- layout -----------------------------------------------------------------------------------

bool PackageDetailsViewController::isCompactWindow() const {
    const QWidget* w = window();
    return w && PackageDetailsHeader::isCompactHeight(w->height());
}

void PackageDetailsViewController::setContent() {
    if (!content_) return;  // views not built yet (the first pass runs from viewDidLoad itself)
    const bool usesInfoJson = sourceUsesInfoJson();
    const bool mayFetch = mayFetchDepictions();
    layoutBanner();
    header_->applyGeometry(isCompactWindow(), usesInfoJson);
    layoutChangelog(usesInfoJson, mayFetch);
    layoutScreenshots(usesInfoJson);
    layoutAdvertisement();
    fetchReviews();
    layoutLowerHalf();
}

void PackageDetailsViewController::layoutBanner() {
    // A package with a native depiction shows its banner, unless the depiction has none.
    const bool hasDepiction = !text("sileoDepiction").empty();
    const bool shown = hasDepiction && !hideBannerPlaceholder_;
    bannerImageView_->setVisible(shown);
    if (scrolling_) scrolling_->setHasBanner(hasDepiction);
    if (!shown) navigationItem()->setBarBackgroundColor(QColor());
}

void PackageDetailsViewController::layoutChangelog(bool usesInfoJson, bool mayFetch) {
    // A changelog without a word takes no room (a blank text is built as an empty document).
    const bool hasText = !changelogContentLbl_->document()->isEmpty();
    changelogSection_->setVisible(!usesInfoJson && mayFetch && cydiaPackageHaveChangelog_ && hasText);
}

void PackageDetailsViewController::showScreenshotsGallery(bool shown, const QString& message) {
    // An empty strip (none found yet) takes no room; a message always shows.
    const bool hasItems = numberOfItems(screenshotsCollectionView_) > 0;
    screenshotsCollectionView_->setVisible(shown && hasItems);
    screenshotsLbl_->setVisible(!shown);
    if (!shown) screenshotsLbl_->setText(message);
    screenshotsSection_->setVisible(!shown || hasItems);
}

void PackageDetailsViewController::layoutScreenshots(bool usesInfoJson) {
    const std::string name = text("name");
    const QString failure = q(F("There was an error retrieving screenshots for \"%@\"", {name}));
    if (usesInfoJson) {
        const bool has = !ZMJSON::stringList(packageDictionary_, "screenshots").empty() || !ZMJSON::stringList(packageDictionary_, "iPadScreenshots").empty();
        showScreenshotsGallery(has && !screenshotRetrievingFail_, screenshotRetrievingFail_ ? failure : screenshotsLblDefaultText_);
    } else {
        const std::string location = text("sourceLocation");
        const bool classic = std::find(classicSources_.begin(), classicSources_.end(), location) != classicSources_.end();
        const bool galleryPath =
            (VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::GetCydiaPackageInfoFromDepiction) &&
             classic && (reach_ == 1 || reach_ == 2)) ||
            !text("sileoDepiction").empty();  // the record keeps no "absent" apart from ""
        if (!galleryPath) {
            showScreenshotsGallery(false, q(F("Unable to retrieve screenshots for %@ as its source is incompatible with the "
                                              "native depiction feature of Vostrelle",
                                              {name})));
        } else if (refreshForCydiaPackages_) {
            const bool shown = !screenshotsDictionary_.empty() && !screenshotRetrievingFail_;
            showScreenshotsGallery(shown, screenshotRetrievingFail_ ? failure : screenshotsLblDefaultText_);
            refreshForCydiaPackages_ = false;
        } else {
            showScreenshotsGallery(true, {});
        }
    }
    DetailsSectionWidgets::setTopGap(screenshotsSection_, 20);
}

void PackageDetailsViewController::layoutAdvertisement() {
    // Only the first classic repository's packages, and only with a configured snippet.
    bool shown = false;
    if (!classicSources_.empty() && text("sourceLocation") == classicSources_.front() && !settings_.advertisementSnippet.empty())
        if (auto page = settings_.advertisementPage(text("name")))
            shown = adsWebView_->load(settings_.advertisementSnippet, QUrl(q(*page), QUrl::StrictMode));
    adsWebView_->setVisible(shown);
    DetailsSectionWidgets::setTopGap(developerCard_, shown ? 0 : 30);
}

void PackageDetailsViewController::fetchReviews() {
    // One list: the latest fetch fills it; an older answer arriving late is dropped.
    const int generation = ++reviewsGeneration_;
    QPointer<PackageDetailsViewController> weak(this);
    ZMDetailsServices::shared()->getReviews(packageIdentifier_, [weak, generation](std::vector<ZMReviews> reviews) {
        Dispatch::main([weak, generation, reviews = std::move(reviews)]() mutable {
            if (!weak) return;
            ++weak->answeredReviewFetches_;
            if (generation != weak->reviewsGeneration_) return;
            weak->packageReviews_ = std::move(reviews);
            weak->layoutLowerHalf();
        });
    });
}

void PackageDetailsViewController::layoutLowerHalf() {
    const auto screens = ZMDetailsServices::screens();
    reviewsSection_->layoutForReviews(!packageReviews_.empty());
    // What nothing can open has no button.
    reviewsSection_->seeAllReviewsBtn()->setVisible(!packageReviews_.empty() && screens.allReviews);
    reviewsSection_->leaveReviewBtn()->setVisible(static_cast<bool>(screens.leaveReview));
    informationSection_->layoutFor(ZMJSON::boolValue(packageDictionary_, "isInstalled"), sourceUsesInfoJson());
    otherPackagesSection_->setSeeAllAvailable(static_cast<bool>(screens.maintainerPackages));
    otherPackagesSection_->setPackages(devPackages_);
    otherPackagesSection_->layoutForPackages();
    if (content_ && content_->layout()) content_->layout()->activate();
}

// ---- buttons and links --------------------------------------------------------------------------

void PackageDetailsViewController::updateGetButtonTitle() {
    if (!Dispatch::isMainThread()) {
        QPointer<PackageDetailsViewController> weak(this);
        Dispatch::main([weak] {
            if (weak) weak->updateGetButtonTitle();
        });
        return;
    }
    if (!header_ || !getBarBtn_) return;
    // A package the database does not know cannot be queued, optioned or shared.
    getBtn()->setVisible(hasRecord_);
    shareBtn()->setVisible(hasRecord_);
    if (!hasRecord_) return;
    auto read = ZMStoreGuard::value("drawing the Get button", [&] {
        return ZMRPackageManager::sharedPackageManager().packages().getButtonTitleForPackageIdentifier(
            packageIdentifier_, true, packageInfoWasFetched_ ? packageAvailable_ : true,
            packageInfoWasFetched_ && packageOwned_, packageInfoWasFetched_ ? packagePrice_ : std::nullopt);
    });
    if (!read) return;
    const std::string& title = *read;
    for (QPushButton* b : {getBtn(), getBarBtn_}) {
        b->setText(q(title));
        b->setEnabled(!(packageInfoWasFetched_ && !packageAvailable_));
    }
    fitGetBarButton();
    if (scrolling_) scrolling_->setGetButtonAlpha(buttonAlpha_);
    const bool handedOver = scrolling_ && scrolling_->isHandedOver();
    UIView::setAlpha(getBtn(), handedOver ? 0.0 : buttonAlpha_);
    UIView::setAlpha(getBarBtn_, handedOver ? buttonAlpha_ : 0.0);
    GetButton::setTitleFittingWidth(getBtn(), q(title));
}

void PackageDetailsViewController::packageStateChanged() {
    // The status scan announces an install or a removal with the queue's own
    // notification: the installed fields of the snapshot follow the record,
    // and with them the version row and the installed files' button.
    auto package = ZMStoreGuard::record<ZMRPackage>("reading a package", packageIdentifier_);
    if (package) {
        const nlohmann::json record = package->snapshotDictionary();
        bool changed = false;
        for (const char* key : {"isInstalled", "installedVersion", "installDate", "isUpdated", "isHeld", "isEssential",
                                "installedFiles"}) {
            const nlohmann::json value = record.contains(key) ? record[key] : nlohmann::json();
            const nlohmann::json shown = packageDictionary_.contains(key) ? packageDictionary_[key] : nlohmann::json();
            if (value == shown) continue;
            packageDictionary_[key] = value;
            changed = true;
        }
        if (changed && content_) {
            header_->packageVersionLbl()->setText(
                PackageInformationRows::make(packageDictionary_, sourceRecord(text("sourceLocation")), settings_.makerRepository)
                    .version);
            layoutLowerHalf();
        }
    }
    updateGetButtonTitle();
    // Out of the queue (a run ended, the store refused the download): what
    // the store said when the page opened may hold no more.
    if (packageInfoWasFetched_ && package && !package->isInTheQueue.value_or(false)) fetchPurchaseInformation();
}

void PackageDetailsViewController::fitGetBarButton() {
    // "UNINSTALL" in bold 15 is wider than the bar button's 100 points: the
    // button grows rather than cutting its title at both ends.
    if (getBarBtn_) getBarBtn_->setFixedWidth(std::max(kGetBarButtonWidth, getBarBtn_->sizeHint().width()));
}

void PackageDetailsViewController::dismissVC() {
    if (auto* nav = navigationController(); nav && nav->presentingViewController()) nav->dismissViewController(true);
    else dismissViewController(true);
}

void PackageDetailsViewController::handleStatusBarTap() {
    if (scrolling_) scrolling_->handleStatusBarTap();
}

// ---- life cycle ---------------------------------------------------------------------------------

void PackageDetailsViewController::colorNavigationBarForBanner() {
    if (!scrolling_) return;
    if (hasBannerImage_) {
        const QColor dominant = getDominantColor(bannerImage_);
        scrolling_->setBannerColor(dominant, readableForegroundColorForBackgroundColor(dominant));
    }
    scrolling_->colorBar();
}

void PackageDetailsViewController::viewWillAppear(bool) {
    if (scrollView_->contentOffsetY() < 100) navigationItem()->setRightBarButtonItem(wishlistBtn_);
    colorNavigationBarForBanner();
    readDeveloperPackages();
    fetchReviews();
}

void PackageDetailsViewController::readDeveloperPackages() {
    // The maintainer's other packages. The maintainer has no index: the query
    // reads every package, off the main thread; the newest request wins.
    const uint64_t request = ++devPackagesRequest_;
    const std::string maintainer = text("maintainer");
    const std::string identifier = packageIdentifier_;
    const bool showIncompatible =
        VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::ShowIncompatiblePackages);
    QPointer<PackageDetailsViewController> weak(this);
    Dispatch::defaultQueue([weak, request, maintainer, identifier, showIncompatible] {
        std::vector<std::string> found;
        if (!maintainer.empty()) {
            try {
                auto results = showIncompatible
                    ? ZMRPackage::objectsWhere("maintainer = %@ AND identifier != %@", maintainer, identifier)
                    : ZMRPackage::objectsWhere("maintainer = %@ AND tweakCompatibleStatus != %i AND identifier != %@",
                                               maintainer, 1, identifier);
                for (const auto& v : results.sortedResultsUsingKeyPath("name", true).valueForKey("identifier"))
                    if (v.is_string()) found.push_back(v.get<std::string>());
            } catch (const std::exception& e) {
                ZMLOG("reading the packages of {} failed: {}", maintainer, e.what());
            }
        }
        Dispatch::main([weak, request, found = std::move(found)] {
            if (!weak || request != weak->devPackagesRequest_) return;
            weak->devPackages_ = found;
            ++weak->devPackagesReadings_;
            weak->otherPackagesSection_->setPackages(weak->devPackages_);
            weak->otherPackagesSection_->layoutForPackages();
        });
    });
}

void PackageDetailsViewController::viewWillDisappear(bool) {
    navigationItem()->setBarTintColor(palette().tintColor());
}

void PackageDetailsViewController::updateBannerPixmap() {
    // The banner fills its width, cut to its height.
    const QSize size(std::max(1, bannerImageView_->width()), kBannerHeight);
    const QImage source = !bannerImage_.isNull()
        ? bannerImage_
        : ZMSvgPixmap::pixmap(":/Images/Details/default-banner.svg", QSize(640, kBannerHeight)).toImage();
    bannerImageView_->setPixmap(QPixmap::fromImage(source.scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation)));
}

void PackageDetailsViewController::resizeEvent(QResizeEvent* e) {
    ZMPalettedViewController::resizeEvent(e);
    if (!content_) return;
    if (e->size().width() != e->oldSize().width()) {
        updateBannerPixmap();
        if (!screenshotsDictionary_.empty()) screenshotsCollectionView_->reloadData();
    }
    if (header_->isCompact() != isCompactWindow()) header_->applyGeometry(isCompactWindow(), sourceUsesInfoJson());
}

void PackageDetailsViewController::paletteDidChange(const ZMPalette& p) {
    if (!content_) return;
    QPalette qp = p.qPalette();
    qp.setColor(QPalette::Window, p.backgroundColor());
    setPalette(qp);
    setAutoFillBackground(true);
    QPalette second = qp;
    second.setColor(QPalette::Window, p.foregroundColor());
    content_->setPalette(qp);
    DetailsSectionWidgets::colorSeparators(content_, p.separatorColor());
    const QString button = QStringLiteral("QPushButton { color: %1; background: %2; border: none; border-radius: %3px; "
                                          "padding: 0 12px; font-weight: 700; } QPushButton:disabled { color: %1; }");
    getBtn()->setStyleSheet(button.arg(p.getButtonTextColor().name(), p.getButtonBackgoundColor().name()).arg(15));
    shareBtn()->setStyleSheet(QStringLiteral("QPushButton { background: transparent; border: none; }"));
    // White on the bar's tint (a darker shade of it where white would not read).
    if (getBarBtn_) getBarBtn_->setStyleSheet(button.arg(QColor(Qt::white).name(), p.tintPillColor().name()).arg(12));
    fitGetBarButton();
    for (QLabel* primary : {nameLbl(), changelogTitle_, screenshotsTitle_, descriptionTitle_, reviewsSection_->reviewsTitle(),
                            informationSection_->informationsTitle(), informationSection_->repositoryTitle(),
                            otherPackagesSection_->moreDevPackagesTitle()})
        PackageRow::setTextColor(primary, p.primaryTextColor());
    for (QLabel* secondary : {authorLbl(), header_->versionLbl(), header_->categoryLbl(), changelogVersionLbl_, screenshotsLbl_})
        PackageRow::setTextColor(secondary, p.secondaryTextColor());
    reviewsSection_->applyPalette(p, isDarkMode());
    informationSection_->applyPalette(p);
    otherPackagesSection_->applyPalette(p, isDarkMode());
    if (scrolling_) scrolling_->colorBar();
}

// ---- outlets ---------------------------------------------------------------------------------------

QLabel* PackageDetailsViewController::iconView() const { return header_->iconView(); }
QLabel* PackageDetailsViewController::nameLbl() const { return header_->nameLbl(); }
QLabel* PackageDetailsViewController::authorLbl() const { return header_->authorLbl(); }
QLabel* PackageDetailsViewController::verifiedIconView() const { return header_->verifiedIconView(); }
QLabel* PackageDetailsViewController::ratingLbl() const { return header_->ratingLbl(); }
const std::array<QToolButton*, 5>& PackageDetailsViewController::ratingButtons() const { return header_->ratingButtons(); }
QLabel* PackageDetailsViewController::packageVersionLbl() const { return header_->packageVersionLbl(); }
QLabel* PackageDetailsViewController::packageCategoryLbl() const { return header_->packageCategoryLbl(); }
QPushButton* PackageDetailsViewController::getBtn() const { return header_->getBtn(); }
QPushButton* PackageDetailsViewController::shareBtn() const { return header_->shareBtn(); }
QLabel* PackageDetailsViewController::packageRatingLbl() const { return reviewsSection_->packageRatingLbl(); }

// ---- actions (PackageDetailsActions, PackageDetailsRating, PackageDepictionReader) ----------------

void PackageDetailsViewController::runDepictionChoice() { PackageDepictionReader::runDepictionChoice(*this); }
void PackageDetailsViewController::getSileoDepiction() { PackageDepictionReader::getSileoDepiction(*this); }
void PackageDetailsViewController::getHtmlPageForCydiaPackage() { PackageDepictionReader::getHtmlPageForCydiaPackage(*this); }
void PackageDetailsViewController::getPackage(QPushButton* sender) { PackageDetailsActions::getPackage(*this, sender); }
void PackageDetailsViewController::presentOptions(QWidget* sender) { PackageDetailsActions::presentOptions(*this, sender); }
void PackageDetailsViewController::sharePackage(QWidget* sender) { PackageDetailsActions::sharePackage(*this, sender); }
void PackageDetailsViewController::contactDeveloper() { PackageDetailsActions::contactDeveloper(*this); }
void PackageDetailsViewController::developerWebsite() { PackageDetailsActions::developerWebsite(*this); }
void PackageDetailsViewController::donate() { PackageDetailsActions::donate(*this); }
void PackageDetailsViewController::seeAllDevPackages() { PackageDetailsActions::seeAllDevPackages(*this); }
void PackageDetailsViewController::seeAllReviews() { PackageDetailsActions::seeAllReviews(*this); }
void PackageDetailsViewController::leaveReview() { PackageDetailsActions::leaveReview(*this); }
void PackageDetailsViewController::seeInstalledFiles() { PackageDetailsActions::seeInstalledFiles(*this); }
void PackageDetailsViewController::openDeveloperCard() { PackageDetailsActions::openDeveloperCard(*this); }
void PackageDetailsViewController::openPackage(const std::string& identifier) { PackageDetailsActions::openPackage(*this, identifier); }
void PackageDetailsViewController::openTextLink(const QUrl& url) { PackageDetailsActions::openTextLink(*this, url); }
void PackageDetailsViewController::changeWishlistState() { PackageDetailsActions::changeWishlistState(*this); }
void PackageDetailsViewController::ratingPressed(QToolButton* sender) { PackageDetailsRating::ratingPressed(*this, sender); }
void PackageDetailsViewController::setRating(int rating) { PackageDetailsRating::setRating(*this, rating); }
void PackageDetailsViewController::showLeaveReviewWarning() { PackageDetailsRating::showLeaveReviewWarning(*this); }
void PackageDetailsViewController::updateRatingInfo() { PackageDetailsRating::updateRatingInfo(*this); }
void PackageDetailsViewController::showReviewWarningWithTitle(const std::string& title, const std::string& text,
                                                              std::optional<int> rate) {
    PackageDetailsRating::showReviewWarning(*this, title, text, rate);
}
