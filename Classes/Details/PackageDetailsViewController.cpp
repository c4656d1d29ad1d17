#include "Details/PackageDetailsViewController.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetrics>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>

#include "Categories/String+URLsFromString.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Depictions/ZMDepictionChoice.h"
#include "Depictions/ZMDepictionRequests.h"
#include "Depictions/ZMDepictionsParser.h"
#include "Depictions/ZMMarkdownHTML.h"
#include "Depictions/ZMNativeDepiction.h"
#include "Depictions/ZMScreenshotPass.h"
#include "Details/PackageScreenshotsViewController.h"
#include "Details/ScreenshotsCell.h"
#include "Details/ZMScreenshotQtCodec.h"
#include "Dispatch/Dispatch.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPlatform.h"
#include "Miscellaneous/ZMShareTexts.h"
#include "PackageCell.h"
#include "SystemConfiguration/Reachability.h"
#include "UIKit/GetButton.h"
#include "UIKit/UIApplication.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITextView.h"
#include "VostrellePersistentPreferences.h"
#include "ZMVostrelle.h"

namespace {

constexpr int kBannerHeight = 200;
constexpr int kScreenshotHeight = 300;
constexpr const char* kClassicUserAgent = "Telesphoreo APT-HTTP/1.0.592";

QString q(const std::string& s) { return QString::fromStdString(s); }

std::string stringValue(const nlohmann::json& d, const char* key) {
    auto it = d.find(key);
    return it != d.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool boolValue(const nlohmann::json& d, const char* key) {
    auto it = d.find(key);
    return it != d.end() && it->is_boolean() && it->get<bool>();
}

std::vector<std::string> listValue(const nlohmann::json& d, const char* key) {
    std::vector<std::string> out;
    auto it = d.find(key);
    if (it == d.end() || !it->is_array()) return out;
    for (const auto& v : *it)
        if (v.is_string()) out.push_back(v.get<std::string>());
    return out;
}

std::shared_ptr<URLSession> noCacheSession() {
    static auto session = [] {
        auto configuration = URLSessionConfiguration::noCacheConfigureation();
        configuration.timeoutIntervalForResource = 60;  // a trickling host is not waited on for ever
        return URLSession::sessionWithConfiguration(configuration);
    }();
    return session;
}

QWidget* separator() {
    auto* line = new QWidget;
    line->setObjectName("separator");
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    return line;
}

QLabel* plainLabel(const char* name, bool wraps = false) {
    auto* l = new QLabel;
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText);  // every text here comes from an index or a server
    l->setWordWrap(wraps);
    return l;
}

QLabel* titleLabel(const char* name, const QString& text) {
    auto* l = plainLabel(name);
    QFont f = l->font();
    f.setPointSizeF(f.pointSizeF() * 1.35);
    f.setBold(true);
    l->setFont(f);
    l->setText(text);
    return l;
}

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

void setTopGap(QWidget* w, int gap) {
    auto m = w->layout()->contentsMargins();
    m.setTop(gap);
    w->layout()->setContentsMargins(m);
}

}  // namespace

PackageDetailsViewController::PackageDetailsViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("PackageDetailsViewController");
}

PackageDetailsViewController::~PackageDetailsViewController() {
    if (pass_) pass_->cancel();
}

// ---- text and images --------------------------------------------------------------------

QTextDocument* PackageDetailsViewController::attributedTextFromMarkdown(const std::string& text, bool forChangelog,
                                                                       bool darkMode) {
    auto* doc = new QTextDocument;
    QFont font = doc->defaultFont();
    font.setPixelSize(15);
    doc->setDefaultFont(font);
    // The breaks written after paragraphs and headings are the spacing.
    doc->setDefaultStyleSheet("p, h1, h2, h3, h4, h5, h6 { margin-top: 0; margin-bottom: 0; }");
    const std::string html = ZMMarkdownHTML::htmlForText(text, forChangelog, darkMode);
    if (html.empty()) return doc;
    doc->setHtml(q(html));
    const QString plain = doc->toPlainText();
    // A link written as its own address shows without underline.
    for (const URL& url : StringURLsFromString::URLs(plain.toStdString())) {
        const int at = plain.indexOf(q(url.string()));
        if (at < 0) continue;
        QTextCursor c(doc);
        c.setPosition(at);
        c.setPosition(at + static_cast<int>(q(url.string()).size()), QTextCursor::KeepAnchor);
        QTextCharFormat f;
        f.setFontUnderline(false);
        f.setUnderlineStyle(QTextCharFormat::NoUnderline);
        c.mergeCharFormat(f);
    }
    QTextCursor all(doc);
    all.select(QTextCursor::Document);
    QTextBlockFormat left;
    left.setAlignment(Qt::AlignLeft);
    all.mergeBlockFormat(left);
    // No trailing line breaks (the break after the last paragraph).
    for (;;) {
        const int count = doc->characterCount();
        if (count <= 1) break;
        const QChar last = doc->characterAt(count - 2);
        if (last != QChar::LineSeparator && last != QChar::ParagraphSeparator && last != '\n') break;
        QTextCursor c(doc);
        c.movePosition(QTextCursor::End);
        c.deletePreviousChar();
        if (doc->characterCount() == count) break;
    }
    return doc;
}

QImage PackageDetailsViewController::makeRoundedImage(const QImage& image, double radius) {
    if (image.isNull()) return {};
    QImage out(image.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(out.rect()), radius, radius);
    p.setClipPath(clip);
    p.drawImage(0, 0, image);
    return out;
}

QColor PackageDetailsViewController::getDominantColor(const QImage& image) {
    if (image.isNull()) return Qt::transparent;
    // The average of a small copy is the average of the image, cheaply.
    const QImage small = image.scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_ARGB32);
    double r = 0, g = 0, b = 0, a = 0;
    for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < small.width(); ++x) {
            const QColor c = small.pixelColor(x, y);
            r += c.redF() * c.alphaF();
            g += c.greenF() * c.alphaF();
            b += c.blueF() * c.alphaF();
            a += c.alphaF();
        }
    if (a <= 0) return Qt::transparent;
    return QColor::fromRgbF(static_cast<float>(r / a), static_cast<float>(g / a), static_cast<float>(b / a),
                            static_cast<float>(a / (small.width() * small.height())));
}

QColor PackageDetailsViewController::readableForegroundColorForBackgroundColor(const QColor& color) {
    const double luminance = 0.299 * color.redF() + 0.587 * color.greenF() + 0.114 * color.blueF();
    return luminance > 0.6 ? QColor(Qt::black) : QColor(Qt::white);
}

// ---- loading ----------------------------------------------------------------------------

std::string PackageDetailsViewController::text(const char* key) const { return stringValue(packageDictionary_, key); }

void PackageDetailsViewController::setPackageDictionaryFromPackageObject() {
    auto package = ZMRPackage::objectForPrimaryKey(packageIdentifier_);
    hasRecord_ = package.has_value();
    packageDictionary_ = package ? package->snapshotDictionary() : nlohmann::json::object();
}

bool PackageDetailsViewController::sourceUsesInfoJson() const {
    const std::string location = text("sourceLocation");
    if (location.empty()) return false;
    auto source = ZMRSource::objectForPrimaryKey(location);
    return source && source->isUsingInfoJson.value_or(false);
}

bool PackageDetailsViewController::mayFetchDepictions() const {
    return VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::GetCydiaPackageInfoFromDepiction) ||
           reach_ == Reachability::ReachableViaWWAN || reach_ == Reachability::ReachableViaWiFi;
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
        navigationItem()->setLeftBarButtonItem(new UIBarButtonItem(q(ZMLocalizedString("Close")),
                                                                   [this](UIBarButtonItem*) { dismissVC(); }, navigationItem()));
    }
    setTitle(QString());

    QPointer<PackageDetailsViewController> weak(this);
    observers_.add(NotificationCenter::defaultCenter().addObserver(
        ZMRPackageInfoRatingChangedNotification, NotificationCenter::Queue::Main, [weak](const Notification& n) {
            if (!weak || n.objectString() != weak->packageIdentifier_) return;
            ZMDetailsServices::shared()->getAverageRate(weak->packageIdentifier_, [weak](std::optional<std::string> rate) {
                Dispatch::main([weak, rate] {
                    if (weak) weak->packageRatingLbl_->setText(q(rate.value_or("")));
                });
            });
        }));
    observers_.add(NotificationCenter::defaultCenter().addObserver(
        PackageRow::queueStateNotificationName(packageIdentifier_), NotificationCenter::Queue::Main,
        [weak](const Notification&) {
            if (weak) weak->updateGetButtonTitle();
        }));

    const std::string location = text("sourceLocation");
    if (!location.empty() && ZMRSource::objectForPrimaryKey(location))
        ZMDetailsServices::shared()->postPackageStatistic(packageIdentifier_, text("maintainer"), location, text("version"), 0, 1);
    packagesConflicts_.clear();

    // The icon as a title view (the scrolling hand-over swaps it in).
    auto* titleIcon = new QLabel;
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
    getBarBtn_->setFixedSize(100, 25);
    getBarBtn_->hide();
    getBarBtnItem_ = new UIBarButtonItem(getBarBtn_, navigationItem());
    connect(getBarBtn_, &QPushButton::clicked, this, [this] { getPackage(getBarBtn_); });
    for (QPushButton* b : {getBarBtn_, getBtn_})
        GetButton::addTargetHapticAction(b, [this, b](GetButton::LongPressState s) {
            if (s == GetButton::LongPressState::Began) presentOptions(b);
        });
    connect(getBtn_, &QPushButton::clicked, this, [this] { getPackage(getBtn_); });
    QString initial;
    if (boolValue(packageDictionary_, "isUpdated") && !boolValue(packageDictionary_, "isHeld")) initial = "UPDATE";
    else if (boolValue(packageDictionary_, "isInstalled")) initial = "UNINSTALL";
    else if (boolValue(packageDictionary_, "isFree")) initial = "GET";
    getBarBtn_->setText(initial.isEmpty() ? q(text("price")) : q(ZMLocalizedString(initial.toStdString())));

    screenshotsCollectionViewPage_ = 0;
    screenshotRetrievingFail_ = beforeAfterScreenshotsRetrievingFail_ = refreshForCydiaPackages_ = false;
    cydiaPackageHaveChangelog_ = hideBannerPlaceholder_ = false;
    updateBannerPixmap();

    loadInformationFromBackground();
    getPackageInformation();
    settings_ = ZMDepictionSettings::current();
    classicSources_ = settings_.classicSources();
    reach_ = Reachability::currentReachabilityStatus();
    runDepictionChoice();
    updateGetButtonTitle();
    setContent();
    fetchPurchaseInformation();
}

void PackageDetailsViewController::buildViews() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scrollView_ = new QScrollArea(this);
    scrollView_->setObjectName("scrollView");
    scrollView_->setFrameShape(QFrame::NoFrame);
    scrollView_->setWidgetResizable(true);
    scrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scrollView_);
    content_ = new QWidget;
    content_->setObjectName("content");
    column_ = new QVBoxLayout(content_);
    column_->setContentsMargins(0, 0, 0, 20);
    column_->setSpacing(0);
    scrollView_->setWidget(content_);

    bannerImageView_ = new QLabel;
    bannerImageView_->setObjectName("bannerImageView");
    bannerImageView_->setFixedHeight(kBannerHeight);
    bannerImageView_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);  // the image never widens the page
    bannerImageView_->setAlignment(Qt::AlignCenter);
    bannerImageView_->setScaledContents(false);
    column_->addWidget(bannerImageView_);

    // Header.
    auto* header = new QWidget;
    header->setObjectName("header");
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(20, 20, 20, 0);
    row->setSpacing(16);
    iconView_ = new QLabel;
    iconView_->setObjectName("iconView");
    iconView_->setFixedSize(80, 80);
    row->addWidget(iconView_, 0, Qt::AlignTop);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    nameLbl_ = plainLabel("nameLbl", true);
    QFont big = nameLbl_->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    nameLbl_->setFont(big);
    authorLbl_ = plainLabel("authorLbl", true);
    auto facts = [](QLabel*& caption, QLabel*& value, const char* captionName, const char* valueName, const char* text) {
        auto* line = new QHBoxLayout;
        caption = plainLabel(captionName);
        caption->setText(q(ZMLocalizedString(text)));
        value = plainLabel(valueName);
        line->addWidget(caption);
        line->addWidget(value, 1);
        return line;
    };
    getBtn_ = new QPushButton;
    getBtn_->setObjectName("getBtn");
    getBtn_->setFixedHeight(30);
    titles->addWidget(nameLbl_);
    titles->addWidget(authorLbl_);
    titles->addLayout(facts(versionLbl_, packageVersionLbl_, "versionLbl", "packageVersionLbl", "Version"));
    titles->addLayout(facts(categoryLbl_, packageCategoryLbl_, "categoryLbl", "packageCategoryLbl", "Category"));
    titles->addWidget(getBtn_, 0, Qt::AlignLeft);
    row->addLayout(titles, 1);
    column_->addWidget(header);
    headerSeparator_ = separator();
    auto* separatorRow = section("headerSeparatorRow", {headerSeparator_});
    column_->addWidget(separatorRow);

    // Changelog.
    changelogTitle_ = titleLabel("changelogTitle", q(ZMLocalizedString("What's New")));
    changelogVersionLbl_ = plainLabel("changelogVersionLbl");
    changelogContentLbl_ = new UITextView;
    changelogContentLbl_->setObjectName("changelogContentLbl");
    changelogSection_ = section("changelogSection", {changelogTitle_, changelogVersionLbl_, changelogContentLbl_, separator()});
    column_->addWidget(changelogSection_);

    // Screenshots.
    screenshotsTitle_ = titleLabel("screenshotsTitle", q(ZMLocalizedString("Screenshots")));
    screenshotsCollectionView_ = new UICollectionView;
    screenshotsCollectionView_->setObjectName("screenshotsCollectionView");
    screenshotsCollectionView_->setDataSource(this);
    screenshotsCollectionView_->setContentInsets(0, 0);
    screenshotsLbl_ = plainLabel("screenshotsLbl", true);
    screenshotsLblDefaultText_ = q(ZMLocalizedString("No screenshots for this package."));
    screenshotsLbl_->setText(screenshotsLblDefaultText_);
    screenshotsSection_ = section("screenshotsSection", {screenshotsTitle_, screenshotsCollectionView_, screenshotsLbl_, separator()});
    column_->addWidget(screenshotsSection_);

    // Description.
    descriptionTitle_ = titleLabel("descriptionTitle", q(ZMLocalizedString("Description")));
    descriptionLbl_ = new UITextView;
    descriptionLbl_->setObjectName("descriptionLbl");
    descriptionSection_ = section("descriptionSection", {descriptionTitle_, descriptionLbl_});
    column_->addWidget(descriptionSection_);

    // The average rating (the reviews section that shows it comes with the rest of the page).
    packageRatingLbl_ = plainLabel("packageRatingLbl");
    packageRatingLbl_->setParent(content_);
    packageRatingLbl_->hide();
    column_->addStretch(1);

    for (UITextView* view : {descriptionLbl_, changelogContentLbl_})
        connect(view, &UITextView::linkActivated, this, [](const QUrl& url) {
            const QString scheme = url.scheme().toLower();
            if (scheme == "http" || scheme == "https" || scheme == "mailto") UIApplication::openURL(url);
        });
}

void PackageDetailsViewController::getPackageInformation() {
    auto package = ZMRPackage::objectForPrimaryKey(packageIdentifier_);
    if (!package) {
        nameLbl_->setText(q(packageIdentifier_));
        return;
    }
    iconView_->setPixmap(PackageRow::iconForPackage(package->identifier, 80));
    nameLbl_->setText(q(package->name.empty() ? package->identifier : package->name));
    authorLbl_->setText(q(PackageRow::displayMaintainer(package->author.empty() ? package->maintainer : package->author)));
    packageVersionLbl_->setText(q(package->version));
    packageCategoryLbl_->setText(q(package->category));
    descriptionLbl_->setPlainText(q(package->Description));
}

void PackageDetailsViewController::loadInformationFromBackground() {
    fetchAuthorAvatar();
    const auto urls = listValue(packageDictionary_, "screenshots");
    if (!urls.empty()) startScreenshotPass(urls, true, false);
    QPointer<PackageDetailsViewController> weak(this);
    ZMDetailsServices::shared()->getAverageRate(packageIdentifier_, [weak](std::optional<std::string> rate) {
        Dispatch::main([weak, rate] {
            if (weak) weak->packageRatingLbl_->setText(q(rate.value_or("")));
        });
    });
}

void PackageDetailsViewController::fetchAuthorAvatar() {
    QPointer<PackageDetailsViewController> weak(this);
    auto defaultAvatar = [weak] {
        Dispatch::main([weak] {
            if (weak) weak->authorAvatar_ = QIcon(":/Images/Developers/iTunesArtwork.svg").pixmap(120, 120).toImage();
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
                                                   weak->authorAvatar_ = image.isNull()
                                                       ? QIcon(":/Images/Developers/iTunesArtwork.svg").pixmap(120, 120).toImage()
                                                       : image;
                                               });
                                           });
                                       });
        }
    });
}

void PackageDetailsViewController::fetchPurchaseInformation() {
    if (!hasRecord_ || boolValue(packageDictionary_, "isFree")) return;
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

void PackageDetailsViewController::runDepictionChoice() {
    ++depictionChoiceCount_;
    ZMDepictionChoice::Inputs in;
    in.sourceUsesInfoJson = sourceUsesInfoJson();
    in.fetchWhateverTheNetwork =
        VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::GetCydiaPackageInfoFromDepiction);
    in.reach = reach_;
    in.sileoDepiction = text("sileoDepiction");
    in.sourceLocation = text("sourceLocation");
    switch (ZMDepictionChoice::decide(in, settings_)) {
        case ZMDepictionChoice::Reader::Native: getSileoDepiction(); break;
        case ZMDepictionChoice::Reader::ClassicPage: getHtmlPageForCydiaPackage(); break;
        case ZMDepictionChoice::Reader::None: break;
    }
}

// ---- the native depiction -------------------------------------------------------------------

void PackageDetailsViewController::getSileoDepiction() {
    QPointer<PackageDetailsViewController> weak(this);
    ZMDepictionRequests::fetch(
        noCacheSession(), text("sileoDepiction"), ZMDepictionRequests::kMaximumDocumentSize,
        [weak](std::string data, std::optional<URLResponse>, std::optional<ZMError> error) {
            if (error) {
                ZMLOG("Error : {}", error->localizedDescription());
                Dispatch::main([weak] {
                    if (weak) weak->getHtmlPageForCydiaPackage();
                });
                return;
            }
            Dispatch::defaultQueue([weak, data = std::move(data)] {
                auto depiction = ZMNativeDepiction::parse(data);
                Dispatch::main([weak, depiction = std::move(depiction)]() mutable {
                    if (weak) weak->applyNativeDepiction(std::move(depiction));
                });
            });
        });
}

void PackageDetailsViewController::applyNativeDepiction(ZMNativeDepiction depiction) {
    hideBannerPlaceholder_ = !depiction.headerImage;
    if (depiction.headerImage) fetchBanner(*depiction.headerImage);
    for (const auto& page : depiction.changelogPages) fetchChangelogPage(page);
    // What the walk found is shown whatever its screenshots: the description
    // and the changelog tab's headings.
    if (depiction.hasChangelogTab) {
        changelogFromTab_ = depiction.changelog.has_value();
        cydiaPackageHaveChangelog_ = changelogFromTab_;
        if (depiction.changelog) {
            showMarkdown(changelogContentLbl_, *depiction.changelog, true);
            changelogVersionLbl_->setText(q(text("version")));
        }
    } else if (depiction.changelogPages.empty()) {
        cydiaPackageHaveChangelog_ = false;
    }
    updateGetButtonTitle();
    if (depiction.description) showMarkdown(descriptionLbl_, *depiction.description, false);
    const auto& urls = depiction.screenshots;
    if (!urls.empty() && screenshotsDictionary_.empty() && urls != listValue(packageDictionary_, "screenshots") &&
        listValue(packageDictionary_, "screenshotsLocalPaths").empty()) {
        setPackageScreenshotsFromArray(urls);
        setContent();
        return;
    }
    refreshForCydiaPackages_ = true;
    screenshotRetrievingFail_ = false;
    setContent();
}

void PackageDetailsViewController::fetchBanner(const std::string& url) {
    QPointer<PackageDetailsViewController> weak(this);
    ZMDepictionRequests::fetch(URLSession::sharedSession(), url, ZMDepictionRequests::kMaximumImageSize,
                               [weak](std::string data, std::optional<URLResponse> response, std::optional<ZMError> error) {
                                   if (error || !response || !response->isSuccess() || data.empty()) return;
                                   Dispatch::defaultQueue([weak, data = std::move(data)] {
                                       QImage image = ZMScreenshotQtCodec::decodeImage(data, ZMScreenshotQtCodec::cacheBox());
                                       Dispatch::main([weak, image] {
                                           if (!weak) return;
                                           if (image.isNull()) return;
                                           weak->hasBannerImage_ = true;
                                           weak->bannerImage_ = image;
                                           weak->updateBannerPixmap();
                                           weak->colorNavigationBarForBanner();
                                       });
                                   });
                               });
}

void PackageDetailsViewController::fetchChangelogPage(const std::string& url) {
    QPointer<PackageDetailsViewController> weak(this);
    ZMDepictionRequests::fetch(
        noCacheSession(), url, ZMDepictionRequests::kMaximumDocumentSize,
        [weak](std::string data, std::optional<URLResponse>, std::optional<ZMError> error) {
            if (error) {
                // What the depiction already showed stays: only the changelog is missing.
                ZMLOG("Error : {}", error->localizedDescription());
                Dispatch::main([weak] {
                    if (weak) weak->setContent();
                });
                return;
            }
            Dispatch::defaultQueue([weak, data = std::move(data)] {
                auto changelog = ZMNativeDepiction::changelogFromPage(data);
                Dispatch::main([weak, changelog] {
                    if (!weak) return;
                    // A page without a changelog hides none that another source gave.
                    if (changelog && !weak->changelogFromTab_) weak->showChangelog(q(*changelog));
                    weak->setContent();
                });
            });
        });
}

void PackageDetailsViewController::showChangelog(const QString& plainText) {
    cydiaPackageHaveChangelog_ = true;
    changelogContentLbl_->setPlainText(plainText);
    changelogVersionLbl_->setText(q(text("version")));
}

void PackageDetailsViewController::showMarkdown(UITextView* view, const std::string& markdown, bool forChangelog) {
    view->setAttributedText(attributedTextFromMarkdown(markdown, forChangelog, isDarkMode()));
}

// ---- classic information pages ---------------------------------------------------------------

void PackageDetailsViewController::getHtmlPageForCydiaPackage() {
    using Family = ZMDepictionSettings::Family;
    const Family family = settings_.familyForSource(text("sourceLocation"));
    if (family == Family::None) return;
    std::string pageURL = family == Family::Orvane ? settings_.storeInformationPage(packageIdentifier_).value_or("")
                                                   : text("website");
    QPointer<PackageDetailsViewController> weak(this);
    auto noData = [weak] {
        Dispatch::main([weak] {
            if (weak) weak->getPackageInformation();
        });
    };
    auto request = ZMDepictionRequests::request(pageURL, ZMDepictionRequests::kMaximumDocumentSize);
    if (!request) {
        noData();
        return;
    }
    request->setValue(kClassicUserAgent, "User-Agent");
    request->setValue(ZMPlatform::deviceModelID(), "X-Machine");
    request->setValue(ZMPlatform::firmwareVersion(), "X-Firmware");
    request->setValue(ZMPlatform::deviceUDID(), "X-Unique-ID");
    const ZMDepictionSettings settings = settings_;
    const std::string identifier = packageIdentifier_;
    ZMDepictionRequests::fetchGuarded(
        URLSession::sharedSession(), *request, {"X-Unique-ID"},
        [settings](const std::string& host) { return settings.isClassicHost(host); },
        [weak, family, pageURL, identifier, settings, noData](std::string data, std::optional<URLResponse>,
                                                              std::optional<ZMError>) {
            if (data.empty()) {
                noData();
                return;
            }
            Dispatch::defaultQueue([=, data = std::move(data)] {
                auto parser = ZMDepictionsParser::depictionsParserWithData(data, pageURL);
                auto onMain = [weak](auto apply) {
                    return [weak, apply](auto value) {
                        Dispatch::main([weak, apply, value] {
                            if (weak) apply(*weak, value);
                        });
                    };
                };
                auto name = onMain([](PackageDetailsViewController& page, std::optional<std::string> v) {
                    if (v) page.nameLbl_->setText(q(*v));
                });
                auto description = onMain([](PackageDetailsViewController& page, std::optional<std::string> v) {
                    if (v) page.showMarkdown(page.descriptionLbl_, *v, false);
                });
                auto changelog = onMain([](PackageDetailsViewController& page, std::optional<std::string> v) {
                    if (v) page.showChangelog(q(*v));
                    else page.cydiaPackageHaveChangelog_ = false;
                    page.setContent();
                });
                auto screenshots = onMain([](PackageDetailsViewController& page, std::optional<std::vector<std::string>> v) {
                    if (v && !v->empty() && page.screenshotsDictionary_.empty() &&
                        listValue(page.packageDictionary_, "screenshotsLocalPaths").empty()) {
                        page.setPackageScreenshotsFromArray(*v);
                        return;
                    }
                    page.refreshForCydiaPackages_ = true;
                    page.screenshotRetrievingFail_ = false;
                    page.setContent();
                });
                switch (family) {
                    case ZMDepictionSettings::Family::Marlgate:
                        parser->retrieveNameFromMarlgateDepictionWithCompletionHandler(settings.marlgateSiteName, name);
                        parser->retrieveDescriptionFromMarlgateDepictionWithCompletionHandler(description);
                        parser->retrieveChangelogFromMarlgateDepictionWithCompletionHandler(changelog);
                        parser->retrieveScreenshotsFromMarlgateDepictionForPackageWithURL(pageURL, screenshots);
                        break;
                    case ZMDepictionSettings::Family::Orvane:
                        parser->retrieveNameFromOrvaneTypeDepictionWithCompletionHandler(name);
                        parser->retrieveDescriptionFromOrvaneTypeDepictionWithCompletionHandler(description);
                        parser->retrieveChangelogFromOrvaneTypeDepictionForPackageWithIdentifier(identifier, changelog);
                        parser->retrieveScreenshotsFromOrvaneTypeDepictionWithCompletionHandler(screenshots);
                        break;
                    case ZMDepictionSettings::Family::Kestrum:
                        parser->retrieveDescriptionFromKestrumDepictionWithCompletionHandler(description);
                        parser->retrieveChangelogFromKestrumDepictionForPackageWithURL(pageURL, changelog);
                        parser->retrieveScreenshotsFromKestrumDepictionForPackageWithURL(pageURL, screenshots);
                        break;
                    case ZMDepictionSettings::Family::None: break;
                }
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
    request.cachedPaths = listValue(packageDictionary_, "screenshotsLocalPaths");
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
    if (count == 0) return;
    screenshotsCollectionViewPage_ = (screenshotsCollectionViewPage_ + 1) % count;
    screenshotsCollectionView_->scrollToItem(screenshotsCollectionViewPage_, true);
}

int PackageDetailsViewController::numberOfItems(UICollectionView*) { return static_cast<int>(screenshotsDictionary_.size()); }

QWidget* PackageDetailsViewController::cellForItem(UICollectionView*, int index) {
    auto* cell = new ScreenshotsCell;
    auto it = screenshotsDictionary_.find(index + 1);
    if (it != screenshotsDictionary_.end()) cell->setImage(it->second);
    return cell;
}

QSize PackageDetailsViewController::sizeForItem(UICollectionView*, int index) {
    auto it = screenshotsDictionary_.find(index + 1);
    const int maxWidth = std::max(120, static_cast<int>(width() * 0.8));
    if (it == screenshotsDictionary_.end() || it->second.isNull()) return {maxWidth / 2, kScreenshotHeight};
    // As tall as a screenshot may be, unless the width runs out first.
    const QSize s = it->second.size().expandedTo(QSize(1, 1));
    const int w = s.width() * kScreenshotHeight / s.height();
    if (w <= maxWidth) return {std::max(1, w), kScreenshotHeight};
    return {maxWidth, std::max(1, maxWidth * s.height() / s.width())};
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

void PackageDetailsViewController::setContent() {
    if (!isViewLoaded()) return;
    const bool usesInfoJson = sourceUsesInfoJson();
    const bool mayFetch = mayFetchDepictions();
    layoutBanner();
    layoutChangelog(usesInfoJson, mayFetch);
    layoutScreenshots(usesInfoJson);
}

void PackageDetailsViewController::layoutBanner() {
    // A package with a native depiction shows its banner, unless the depiction has none.
    const bool shown = !text("sileoDepiction").empty() && !hideBannerPlaceholder_;
    bannerImageView_->setVisible(shown);
    if (!shown) navigationItem()->setBarBackgroundColor(QColor());
}

void PackageDetailsViewController::layoutChangelog(bool usesInfoJson, bool mayFetch) {
    changelogSection_->setVisible(!usesInfoJson && mayFetch && cydiaPackageHaveChangelog_);
}

void PackageDetailsViewController::showScreenshotsGallery(bool shown, const QString& message) {
    screenshotsCollectionView_->setVisible(shown);
    screenshotsLbl_->setVisible(!shown);
    if (!shown) screenshotsLbl_->setText(message);
}

void PackageDetailsViewController::layoutScreenshots(bool usesInfoJson) {
    const QString name = q(text("name"));
    const QString failure = q(ZMLocalization::fill(
        ZMLocalizedString("There was an error retrieving screenshots for \"%@\""), {name.toStdString()}));
    if (usesInfoJson) {
        const bool has = !listValue(packageDictionary_, "screenshots").empty() || !listValue(packageDictionary_, "iPadScreenshots").empty();
        showScreenshotsGallery(has && !screenshotRetrievingFail_, screenshotRetrievingFail_ ? failure : screenshotsLblDefaultText_);
    } else {
        const std::string location = text("sourceLocation");
        const bool classic = std::find(classicSources_.begin(), classicSources_.end(), location) != classicSources_.end();
        const bool galleryPath =
            (VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::GetCydiaPackageInfoFromDepiction) &&
             classic && (reach_ == 1 || reach_ == 2)) ||
            !text("sileoDepiction").empty();
        if (!galleryPath) {
            showScreenshotsGallery(false, q(ZMLocalization::fill(
                                              ZMLocalizedString("Unable to retrieve screenshots for %@ as its source is "
                                                                "incompatible with the native depiction feature of Vostrelle"),
                                              {name.toStdString()})));
        } else if (refreshForCydiaPackages_) {
            const bool shown = !screenshotsDictionary_.empty() && !screenshotRetrievingFail_;
            showScreenshotsGallery(shown, screenshotRetrievingFail_ ? failure : screenshotsLblDefaultText_);
            refreshForCydiaPackages_ = false;
        } else {
            showScreenshotsGallery(true, {});
        }
    }
    setTopGap(screenshotsSection_, 20);
}

// ---- buttons ----------------------------------------------------------------------------------

void PackageDetailsViewController::updateGetButtonTitle() {
    if (!Dispatch::isMainThread()) {
        QPointer<PackageDetailsViewController> weak(this);
        Dispatch::main([weak] {
            if (weak) weak->updateGetButtonTitle();
        });
        return;
    }
    if (!getBtn_ || !getBarBtn_) return;
    // A package the database does not know cannot be queued, optioned or shared.
    getBtn_->setVisible(hasRecord_);
    if (!hasRecord_) return;
    const std::string title = ZMRPackageManager::sharedPackageManager().packages().getButtonTitleForPackageIdentifier(
        packageIdentifier_, true, packageInfoWasFetched_ ? packageAvailable_ : true, packageInfoWasFetched_ && packageOwned_,
        packageInfoWasFetched_ ? packagePrice_ : std::nullopt);
    for (QPushButton* b : {getBtn_, getBarBtn_}) {
        b->setText(q(title));
        b->setEnabled(!(packageInfoWasFetched_ && !packageAvailable_));
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(b->graphicsEffect());
        if (!effect) {
            effect = new QGraphicsOpacityEffect(b);
            b->setGraphicsEffect(effect);
        }
        effect->setOpacity(std::clamp(buttonAlpha_, 0.0, 1.0));
    }
    GetButton::setTitleFittingWidth(getBtn_, q(title));
}

void PackageDetailsViewController::getPackage(QPushButton* sender) {
    if (!hasRecord_) return;
    GetButton::animateButton(sender);
    ZMVostrelle::sharedVostrelle().queuePackageWithIdentifier(packageIdentifier_, std::nullopt, sender);
}

void PackageDetailsViewController::presentOptions(QWidget* sender) {
    if (!hasRecord_) return;
    ZMVostrelle::sharedVostrelle().presentOptions(packageIdentifier_, sender);
}

void PackageDetailsViewController::dismissVC() {
    if (auto* nav = navigationController(); nav && nav->presentingViewController()) nav->dismissViewController(true);
    else dismissViewController(true);
}

// ---- life cycle ---------------------------------------------------------------------------------

void PackageDetailsViewController::colorNavigationBarForBanner() {
    if (text("sileoDepiction").empty()) return;
    const int y = scrollView_ ? scrollView_->verticalScrollBar()->value() : 0;
    if (y > 0) {
        // The bar fades in over the banner; its alpha never leaves 0...1.
        const double alpha = y >= 100 ? 1.0 : std::clamp(y / 49.0, 0.0, 1.0);
        QColor bar = palette().foregroundColor();
        bar.setAlphaF(static_cast<float>(alpha));
        navigationItem()->setBarTintColor(palette().tintColor());
        navigationItem()->setBarBackgroundColor(bar);
    } else if (hasBannerImage_) {
        // The bar sits above the page here, not over the banner: it takes the
        // banner's colour so that the two read as one, with a readable tint.
        const QColor dominant = getDominantColor(bannerImage_);
        colorForNavBarTintColor_ = readableForegroundColorForBackgroundColor(dominant);
        navigationItem()->setBarBackgroundColor(dominant);
        navigationItem()->setBarTintColor(colorForNavBarTintColor_);
    }
}

void PackageDetailsViewController::viewWillAppear(bool) {
    colorNavigationBarForBanner();
    // The maintainer's other packages.
    devPackages_.clear();
    const std::string maintainer = text("maintainer");
    if (!maintainer.empty()) {
        const bool showIncompatible =
            VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::ShowIncompatiblePackages);
        auto results = showIncompatible
            ? ZMRPackage::objectsWhere("maintainer = %@ AND identifier != %@", maintainer, packageIdentifier_)
            : ZMRPackage::objectsWhere("maintainer = %@ AND tweakCompatibleStatus != %i AND identifier != %@", maintainer,
                                       1, packageIdentifier_);
        for (const auto& p : results.sortedResultsUsingKeyPath("name", true).toVector()) devPackages_.push_back(p.identifier);
    }
    QPointer<PackageDetailsViewController> weak(this);
    ZMDetailsServices::shared()->getReviews(packageIdentifier_, [weak](std::vector<ZMDetailsServices::Review> reviews) {
        Dispatch::main([weak, reviews = std::move(reviews)] {
            if (weak) weak->packageReviews_ = reviews;
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
        : QIcon(":/Images/Details/default-banner.svg").pixmap(QSize(640, kBannerHeight)).toImage();
    bannerImageView_->setPixmap(QPixmap::fromImage(source.scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation)));
}

void PackageDetailsViewController::resizeEvent(QResizeEvent* e) {
    ZMPalettedViewController::resizeEvent(e);
    if (isViewLoaded() && e->size().width() != e->oldSize().width()) updateBannerPixmap();
    if (isViewLoaded() && e->size().width() != e->oldSize().width() && !screenshotsDictionary_.empty())
        screenshotsCollectionView_->reloadData();
}

void PackageDetailsViewController::paletteDidChange(const ZMPalette& p) {
    if (!content_) return;
    QPalette qp = p.qPalette();
    setPalette(qp);
    content_->setPalette(qp);
    setAutoFillBackground(true);
    for (QWidget* line : content_->findChildren<QWidget*>("separator")) {
        QPalette lp = line->palette();
        lp.setColor(QPalette::Window, p.separatorColor());
        line->setPalette(lp);
    }
    const QString button = QStringLiteral("QPushButton { color: %1; background: %2; border: none; border-radius: %3px; "
                                          "padding: 0 12px; font-weight: 700; } QPushButton:disabled { color: %1; }");
    getBtn_->setStyleSheet(button.arg(p.getButtonTextColor().name(), p.getButtonBackgoundColor().name()).arg(15));
    if (getBarBtn_)
        getBarBtn_->setStyleSheet(button.arg(p.getButtonTextColor().name(), p.tintColor().name()).arg(12));
    for (QLabel* secondary : {authorLbl_, versionLbl_, categoryLbl_, changelogVersionLbl_, screenshotsLbl_})
        PackageRow::setTextColor(secondary, p.secondaryTextColor());
}
