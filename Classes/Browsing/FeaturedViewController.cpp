#include "Browsing/FeaturedViewController.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QHBoxLayout>
#include <QImageReader>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>

#include "Browsing/BigFeaturedCell.h"
#include "Browsing/BrowsingText.h"
#include "Browsing/FeaturedPackageViewController.h"
#include "Browsing/PackageOpening.h"
#include "Browsing/PackageRows.h"
#include "Browsing/SourceAddition.h"
#include "Categories/String+VersionCompare.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Details/PackageDetailsViewController.h"
#include "Dispatch/Dispatch.h"
#include "Foundation/AtomicFile.h"
#include "GetPackageCell.h"
#include "InitViewController.h"
#include "OnlineServiceNotice.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPlatform.h"
#include "Miscellaneous/ZMShareTexts.h"
#include "Online/Screens/AccountPlistViewController.h"
#include "Online/Screens/NewsViewController.h"
#include "Online/Screens/OnlineImages.h"
#include "PackageCell.h"
#include "RemoteImage.h"
#include "Services/ZMAccount.h"
#include "Services/ZMFeaturedPackagesMethods.h"
#include "SettingsPlistViewController.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UILongPressGestureRecognizer.h"
#include "UIKit/UINavigationController.h"
#include "VostrellePersistentPreferences.h"
#include "ZMPipelineManager.h"

using BrowsingText::q;
namespace K = VostrellePreferenceKey;

namespace {
constexpr int kAccountButtonSide = 36;
std::atomic<bool> gLaunchScreens{true};
PersistentDictionary& preferences() { return VostrellePersistentPreferences::sharedInstance(); }
QString qs(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

// What the background build hands to the main thread in one piece.
struct FeaturedViewController::Built {
    std::vector<ZMFeaturedPackagesTop> banners;
    std::vector<QImage> images;        // null where the banner is still to be downloaded
    FeaturedModel::Lists lists;
};

FeaturedViewController::FeaturedViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("FeaturedViewController");
}

FeaturedViewController::~FeaturedViewController() {
    stopTimer();
    observers_.clear();
    for (auto& card : cards_)
        if (card.table) {
            card.table->setDataSource(nullptr);
            card.table->setDelegate(nullptr);
        }
    if (carousel_) carousel_->setDataSource(nullptr);
}

// ---- loading ------------------------------------------------------------------------------

void FeaturedViewController::viewDidLoad() {
    navigationItem()->setNavigationBarHidden(true);
    QVBoxLayout* column = BrowsingCard::makeColumn(this, scrollView_, "scrollView");
    // The carousel runs from edge to edge; the header and cards keep their own margins.
    column->setContentsMargins(0, 12, 0, 24);
    column->setSpacing(18);

    // The top bar: prompt, title, news and account buttons.
    navigationBar_ = new QWidget;
    navigationBar_->setObjectName("navigationBar");
    auto* bar = new QGridLayout(navigationBar_);
    bar->setContentsMargins(16, 0, 16, 0);
    bar->setHorizontalSpacing(10);
    navBarPrompt_ = new QLabel(q("Zemtrix Vostrelle %@", VOSTRELLE_VERSION));
    navBarPrompt_->setObjectName("navBarPrompt");
    navBarPrompt_->setTextFormat(Qt::PlainText);
    navBarFeatured_ = new QLabel(q("Featured"));
    navBarFeatured_->setObjectName("navBarFeatured");
    newsButton_ = new QToolButton;
    newsButton_->setObjectName("newsButton");
    newsButton_->setAutoRaise(true);
    newsButton_->setIcon(QPixmap::fromImage(OnlineImages::named("News", 64)));
    newsButton_->setIconSize(QSize(30, 30));
    newsButton_->setToolTip(q("News"));
    connect(newsButton_, &QToolButton::clicked, this, [this] { goToNews(); });
    infoBtn_ = new QToolButton;
    infoBtn_->setObjectName("infoBtn");
    infoBtn_->setAutoRaise(true);
    infoBtn_->setFixedSize(kAccountButtonSide + 4, kAccountButtonSide + 4);
    infoBtn_->setIconSize(QSize(kAccountButtonSide, kAccountButtonSide));
    infoBtn_->setToolTip(q("Account"));
    connect(infoBtn_, &QToolButton::clicked, this, [this] { accountInformations(); });
    bar->addWidget(navBarPrompt_, 0, 0, 1, 3);
    bar->addWidget(navBarFeatured_, 1, 0);
    bar->setColumnStretch(0, 1);
    bar->addWidget(newsButton_, 1, 1, Qt::AlignVCenter);
    bar->addWidget(infoBtn_, 1, 2, Qt::AlignVCenter);
    column->addWidget(navigationBar_);
    onlineServiceNotice_ = OnlineServiceNotice::make();
    column->addWidget(onlineServiceNotice_);

    carousel_ = new UICollectionView;
    carousel_->setObjectName("topFeaturedCollectionView");
    carousel_->setDataSource(this);
    carousel_->setSpacing(10);
    carousel_->setStyleSheet("background: transparent");
    connect(carousel_, &UICollectionView::willBeginDragging, this, [this] {
        stopTimer();
        carousel_->setPagingEnabled(false);
    });
    connect(carousel_, &UICollectionView::didEndDecelerating, this, [this] { centreNearestBanner(); });
    column->addWidget(carousel_);

    auto* cardsBox = new QWidget;
    auto* cardsColumn = new QVBoxLayout(cardsBox);
    cardsColumn->setContentsMargins(16, 6, 16, 0);
    cardsColumn->setSpacing(30);
    const char* titles[FeaturedModel::ListCount] = {"Most Downloaded", "Must Have Tweaks", "Must Have Themes",
                                                    "Extend Your Apps"};
    const char* names[FeaturedModel::ListCount] = {"mostDownloaded", "mustHaveTweaks", "mustHaveThemes", "extendYourApps"};
    for (int i = 0; i < FeaturedModel::ListCount; ++i) {
        cards_[i] = BrowsingCard::make(cardsColumn, q(titles[i]), names[i]);
        cards_[i].table->setDataSource(this);
        cards_[i].table->setDelegate(this);
        cards_[i].table->setRowHeight(kRowHeight);
        cards_[i].table->registerCell("getPackageCell", [] { return new GetPackageCell("getPackageCell"); });
        cards_[i].card->hide();
    }
    column->addWidget(cardsBox);

    deviceSpecs_ = new QLabel(qs(ZMShareTexts::fillFormat(
        ZMLocalizedString("%@; %@ \nUDID: %@"),
        {ZMPlatform::deviceModelID(), ZMPlatform::systemDescription(), ZMPlatform::deviceUDID()})));
    deviceSpecs_->setObjectName("deviceSpecs");
    deviceSpecs_->setTextFormat(Qt::PlainText);
    deviceSpecs_->setAlignment(Qt::AlignCenter);
    deviceSpecs_->setWordWrap(true);
    QFont small = deviceSpecs_->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    deviceSpecs_->setFont(small);
    UILongPressGestureRecognizer::add(deviceSpecs_, 0.2, [this](UILongPressGestureRecognizer::State state) {
        if (state == UILongPressGestureRecognizer::State::Began) copyDeviceSpecs();
    });
    column->addWidget(deviceSpecs_);
    column->addStretch(1);

    // The page's own scrolling postpones rebuilds until it rests.
    scrollIdle_.setSingleShot(true);
    scrollIdle_.setInterval(200);
    connect(&scrollIdle_, &QTimer::timeout, this, [this] { scrollingEnded(); });
    connect(scrollView_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        scrollingBegan();
        scrollIdle_.start();
    });

    using Q = NotificationCenter::Queue;
    auto& center = NotificationCenter::defaultCenter();
    QPointer<FeaturedViewController> self(this);
    observers_.add(center.addObserver(ZMRPackageInfoIconChangedNotification, Q::Main, [self](const Notification& n) {
        if (!self) return;
        const std::string identifier = n.objectString();
        for (int i = 0; i < self->carousel_->numberOfItems(); ++i)
            if (auto* cell = self->bannerCell(i); cell && cell->packageIdentifier() == identifier) {
                cell->updatePackageIcon();
                break;
            }
        for (auto& card : self->cards_)
            for (auto* row : card.table->visibleCells())
                if (auto* cell = qobject_cast<GetPackageCell*>(row); cell && cell->packageIdentifier() == identifier) {
                    cell->updatePackageIcon();
                    break;
                }
    }));
    observers_.add(center.addObserver(ZMPipelineSourceRefreshComplete, Q::Main, [self](const Notification&) {
        if (!self || !self->isOnScreen()) return;
        self->needCacheRebuild_ = true;
        self->retrieveFeaturedPackages();
    }));
    observers_.add(center.addObserver(kLongPressBeganNotification, Q::Main, [self](const Notification&) {
        if (self) self->stopTimer();
    }));
    observers_.add(center.addObserver(kLongPressEndedNotification, Q::Main, [self](const Notification& n) {
        if (!self || !self->isOnScreen() || !n.userInfo.is_object()) return;
        const std::string identifier = n.userInfo.value("identifier", "");
        if (!identifier.empty()) self->openPackageDepictionForIdentifier(identifier);
    }));

    setContent();
    // Without the service the page says so and asks nothing: the lists stay empty.
    if (!OnlineServiceNotice::serviceConfigured()) {
        carousel_->hide();
        isScrolling_ = false;
        needCacheRebuild_ = true;
        return;
    }
    ZMFeaturedPackagesMethods::instance().fetchFeaturedPackages([self](std::optional<std::string> status) {
        // Whatever the status: the page shows what the client holds.
        if (status && *status != kZMStatusSuccess) ZMLOG("featured feed: {}", *status);
        Dispatch::main([self] {
            if (self) self->loadInformationsFromBackground();
        });
    });
    isScrolling_ = false;
    needCacheRebuild_ = true;
}

void FeaturedViewController::loadInformationsFromBackground() {
    const uint64_t generation = ++bannerGeneration_;
    ++listsGeneration_;
    const uint64_t listsGeneration = listsGeneration_;
    QPointer<FeaturedViewController> self(this);
    Dispatch::defaultQueue([self, generation, listsGeneration] {
        Built built;
        auto feed = ZMFeaturedPackagesMethods::instance().featuredLists();
        try {
            built.lists = FeaturedModel::listsFromFeed(feed.get());
        } catch (const std::exception& e) {
            ZMLOG("Exception = {}", e.what());
        }
        if (feed) built.banners = feed->packagesTop;
        for (const auto& banner : built.banners) {
            QImage image;
            if (auto path = FeaturedModel::homeCachePath(banner.background)) image = QImage(qs(*path));
            built.images.push_back(image);
        }
        Dispatch::main([self, generation, listsGeneration, built = std::move(built)]() mutable {
            if (!self || generation != self->bannerGeneration_) return;
            if (listsGeneration != self->listsGeneration_) built.lists = self->lists_;  // a newer rebuild has them
            self->display(std::move(built));
        });
    });
}

void FeaturedViewController::display(Built built) {
    stopTimer();
    page_ = 0;
    banners_ = std::move(built.banners);
    images_ = std::move(built.images);
    lists_ = std::move(built.lists);
    std::vector<int> missing;
    for (size_t i = 0; i < images_.size(); ++i)
        if (images_[i].isNull()) {
            images_[i] = OnlineImages::named("default-banner.jpeg");
            missing.push_back(static_cast<int>(i));
        }
    ++displayCount_;
    // Stop the page where it is, then show everything at once.
    scrollView_->verticalScrollBar()->setValue(scrollView_->verticalScrollBar()->value());
    carousel_->reloadData();
    for (auto& card : cards_) card.table->reloadData();
    applyTableHeights();
    setContent();
    updateShadows();
    startTimer();
    for (int i : missing) downloadBanner(i, bannerGeneration_);
}

void FeaturedViewController::downloadBanner(int index, uint64_t generation) {
    const std::string url = banners_[index].background;
    const auto path = FeaturedModel::homeCachePath(url);
    QPointer<FeaturedViewController> self(this);
    RemoteImage::fetch(url, kMaximumBannerBytes, [self, index, generation, path](const QImage& image) {
        // Off the main thread: the cache keeps the PNG encoding, whatever came.
        if (!image.isNull() && path) {
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            std::string error;
            if (!image.save(&buffer, "PNG") ||
                !AtomicFile::write(*path, std::string_view(png.constData(), static_cast<size_t>(png.size())), 0644, &error))
                ZMLOG("banner cache {} not written: {}", *path, error);
        }
        Dispatch::main([self, index, generation, image] {
            if (!self || generation != self->bannerGeneration_) return;
            if (image.isNull() || index >= static_cast<int>(self->images_.size())) return;  // the placeholder stays
            self->images_[index] = image;
            if (auto* cell = self->bannerCell(index)) cell->setBannerImage(image);
        });
    });
}

// ---- layout -------------------------------------------------------------------------------

void FeaturedViewController::setContent() {
    if (!carousel_) return;
    const int width = std::max(320, scrollView_->viewport()->width());
    const bool wide = width >= 768;  // a tablet's layout on a wide window
    const int cardSide = wide ? 384 : width - 40;
    carousel_->setFixedHeight(wide ? 404 : width - 20);
    const int inset = navBarFeatured_->geometry().x() > 0 ? navBarFeatured_->geometry().x() : 16;
    carousel_->setContentInsets(inset, inset);
    if (cardSide != lastWidth_) {
        lastWidth_ = cardSide;
        // Also while a card is pressed: the page's scroll bar comes as its lists fill.
        carousel_->layoutItems();
    }
}

void FeaturedViewController::resizeEvent(QResizeEvent* e) {
    ZMPalettedViewController::resizeEvent(e);
    if (isViewLoaded()) {
        setContent();
        updateShadows();
    }
}

QSize FeaturedViewController::sizeForItem(UICollectionView*, int) {
    const int width = std::max(320, scrollView_->viewport()->width());
    const int side = width >= 768 ? 384 : width - 40;
    return {side, side};
}

void FeaturedViewController::applyTableHeights() {
    for (int i = 0; i < FeaturedModel::ListCount; ++i) {
        const int rows = static_cast<int>(lists_[i].size());
        cards_[i].table->setFixedHeight(kRowHeight * rows);
        // A list without a known package shows no empty card.
        cards_[i].card->setVisible(rows > 0);
    }
}

void FeaturedViewController::updateShadows() {
    const ZMPalette p = palette();
    for (auto& card : cards_)
        if (card.card) card.applyPalette(p);
}

// ---- rebuilds -----------------------------------------------------------------------------

void FeaturedViewController::retrieveFeaturedPackages() {
    if (isScrolling_) return;  // runs when the scrolling stops
    needCacheRebuild_ = false;
    const uint64_t generation = ++listsGeneration_;
    QPointer<FeaturedViewController> self(this);
    Dispatch::defaultQueue([self, generation] {
        FeaturedModel::Lists rebuilt;
        try {
            auto feed = ZMFeaturedPackagesMethods::instance().featuredLists();
            rebuilt = FeaturedModel::listsFromFeed(feed.get());
        } catch (const std::exception& e) {
            ZMLOG("Exception = {}", e.what());
            return;
        }
        Dispatch::main([self, generation, rebuilt = std::move(rebuilt)]() mutable {
            if (!self || generation != self->listsGeneration_) return;
            const auto changed = FeaturedModel::changedLists(self->lists_, rebuilt);
            for (int i : changed) {
                self->lists_[i] = std::move(rebuilt[i]);
                self->cards_[i].table->reloadData();
            }
            ++self->rebuildCount_;
            self->applyTableHeights();
            self->updateShadows();
        });
    });
}

void FeaturedViewController::scrollingBegan() { isScrolling_ = true; }

void FeaturedViewController::scrollingEnded() {
    isScrolling_ = false;
    if (needCacheRebuild_) retrieveFeaturedPackages();
}

// ---- carousel -----------------------------------------------------------------------------

QWidget* FeaturedViewController::cellForItem(UICollectionView*, int index) {
    auto* cell = new BigFeaturedCell;
    configureBannerCell(cell, index);
    QPointer<FeaturedViewController> self(this);
    connect(cell, &BigFeaturedCell::contextMenuRequested, this, [self, index](QPoint pos) {
        if (self) self->showBannerMenu(index, pos);
    });
    return cell;
}

void FeaturedViewController::configureBannerCell(BigFeaturedCell* cell, int index) {
    const auto& banner = banners_[index];
    cell->setPackageIdentifier(banner.bundle_id);
    cell->applyPalette(palette());
    if (index < static_cast<int>(images_.size())) cell->setBannerImage(images_[index]);
    std::optional<ZMRPackage> package;
    std::optional<ZMRSource> source;
    try {
        if (!banner.bundle_id.empty()) package = ZMRPackage::objectForPrimaryKey(banner.bundle_id);
        const std::string location = FeaturedModel::sourceLocationForRepo(banner.repo);
        if (!location.empty()) source = ZMRSource::objectForPrimaryKey(location);
    } catch (const std::exception& e) {
        ZMLOG("banner {}: {}", banner.bundle_id, e.what());
    }
    if (!banner.bundle_id.empty()) {
        // Starts the download of the logo (or the package's icon) when none is cached.
        ZMRPackageManager::sharedPackageManager().packages().iconForIdentifier(banner.bundle_id,
                                                                               FeaturedModel::logoOverride(banner));
        cell->updatePackageIcon();
    } else {
        cell->setIcon(QPixmap::fromImage(OnlineImages::named("iTunesArtwork.png")));
    }
    const std::string description = package ? package->Description : ZMLocalizedString("Loading description");
    const std::string maintainerSource =
        source ? ZMShareTexts::fillFormat("%@ - %@", {banner.developer, source->name}) : banner.repo;
    cell->setTexts(banner.title, description, maintainerSource);
}

void FeaturedViewController::updateBannerCells() {
    if (!carousel_) return;
    if (carousel_->numberOfItems() != static_cast<int>(banners_.size())) {
        carousel_->reloadData();
        return;
    }
    // The cards stay: a new one would drop the press the user holds on the old.
    for (int i = 0; i < carousel_->numberOfItems(); ++i)
        if (auto* cell = bannerCell(i)) configureBannerCell(cell, i);
}

BigFeaturedCell* FeaturedViewController::bannerCell(int index) const {
    return carousel_ ? qobject_cast<BigFeaturedCell*>(carousel_->cellForItem(index)) : nullptr;
}

QImage FeaturedViewController::bannerImage(int index) const {
    return index >= 0 && index < static_cast<int>(images_.size()) ? images_[index] : QImage();
}

bool FeaturedViewController::shouldSelectItem(UICollectionView*, int index) {
    // A long press opens the package itself when it is released.
    auto* cell = bannerCell(index);
    return !(cell && (cell->isPressed() || cell->longPressRecognizer()->isActive()));
}

void FeaturedViewController::didSelectItem(UICollectionView*, int index) {
    if (index < 0 || index >= static_cast<int>(banners_.size())) return;
    openPackageDepictionForIdentifier(banners_[index].bundle_id);
}

void FeaturedViewController::startTimer() {
    stopTimer();
    if (banners_.size() != FeaturedModel::kAdvancingBannerCount) return;  // its ticks would move nothing
    QPointer<FeaturedViewController> self(this);
    timer_ = UITimer::scheduledTimer(kCarouselSeconds, true, [self] {
        if (self) self->autoScrollFeaturedCollectionView();
    });
}

void FeaturedViewController::stopTimer() {
    if (timer_) timer_->invalidate();
    timer_.reset();
}

void FeaturedViewController::autoScrollFeaturedCollectionView() {
    auto next = FeaturedModel::nextCarouselPage(page_, banners_.size());
    if (!next || carousel_->numberOfItems() != static_cast<int>(banners_.size())) return;
    page_ = *next;
    carousel_->scrollToItem(static_cast<int>(page_), true, UICollectionView::ScrollPosition::CenteredHorizontally);
}

void FeaturedViewController::centreNearestBanner() {
    const int count = carousel_->numberOfItems();
    if (count == 0) return;
    const double centre = carousel_->contentOffset() + carousel_->viewport()->width() / 2.0;
    int nearest = 0;
    double best = -1;
    for (int i = 0; i < count; ++i) {
        QWidget* cell = carousel_->cellForItem(i);
        const double distance = std::abs(cell->x() + cell->width() / 2.0 - centre);
        if (best < 0 || distance < best) {
            best = distance;
            nearest = i;
        }
    }
    using P = UICollectionView::ScrollPosition;
    // Centred already (or as near as the ends allow): nothing to do, which
    // also ends the chain of scrolls that each report their end.
    if (carousel_->offsetForItem(nearest, P::CenteredHorizontally) == carousel_->contentOffset()) return;
    carousel_->scrollToItem(nearest, true, P::CenteredHorizontally);
}

// ---- tables -------------------------------------------------------------------------------

std::optional<FeaturedModel::List> FeaturedViewController::listOf(UITableView* table) const {
    for (int i = 0; i < FeaturedModel::ListCount; ++i)
        if (cards_[i].table == table) return static_cast<FeaturedModel::List>(i);
    return std::nullopt;
}

int FeaturedViewController::numberOfRows(UITableView* table, int) {
    auto list = listOf(table);
    return list ? static_cast<int>(lists_[*list].size()) : 0;
}

UITableViewCell* FeaturedViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = table->dequeueReusableCell<GetPackageCell>("getPackageCell");
    cell->setBackgroundColor(Qt::transparent);
    std::optional<std::string> identifier;
    if (auto list = listOf(table); list && ip.row >= 0 && ip.row < static_cast<int>(lists_[*list].size()))
        identifier = lists_[*list][ip.row];
    PackageRows::fillGetCell(cell, identifier);
    const ZMPalette p = palette();
    cell->getBtn()->setStyleSheet(QString("QPushButton#getButton { background: %1; color: %2; }")
                                      .arg(p.getButtonBackgoundColor().name(), p.getButtonTextColor().name()));
    PackageRow::hideSeparatorIfLast(cell, table, ip);
    return cell;
}

void FeaturedViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    auto list = listOf(table);
    if (!list || ip.row < 0 || ip.row >= static_cast<int>(lists_[*list].size())) return;
    // The record is looked up now: one gone since the list was built opens nothing.
    if (auto package = PackageRows::lookUp(lists_[*list][ip.row])) openPackageDepictionForIdentifier(package->identifier);
}

// ---- opening ------------------------------------------------------------------------------

const ZMFeaturedPackagesTop* FeaturedViewController::bannerFor(const std::string& identifier) const {
    for (const auto& banner : banners_)
        if (banner.bundle_id == identifier) return &banner;
    return nullptr;
}

void FeaturedViewController::open(UIViewController* vc) {
    lastOpened_ = vc;
    PackageOpening::show(this, vc);
}

void FeaturedViewController::openPackageDepictionForIdentifier(const std::string& identifier) {
    if (identifier.empty()) return;
    if (auto package = PackageRows::lookUp(identifier)) {
        UIViewController* vc = PackageOpening::viewControllerForPackage(*package);
        // The details show their navigation bar over this page, which has none.
        if (auto* details = qobject_cast<PackageDetailsViewController*>(vc)) details->setIsComingFromFeatured(true);
        open(vc);
        return;
    }
    const ZMFeaturedPackagesTop* banner = bannerFor(identifier);
    if (!banner) {
        ZMLOG("featured package {} is not in the database", identifier);
        return;
    }
    auto* alert = UIAlertController::alertControllerWithTitle(
        q("Add Source"),
        qs(ZMShareTexts::fillFormat(
            ZMLocalizedString("Before you can install %@, you need to add the %@ source. Would you like to add it now"),
            {banner->title, banner->repo})),
        UIAlertController::Style::Alert);
    const std::string repo = banner->repo;
    QPointer<FeaturedViewController> self(this);
    // The normal way of adding: normalised, a plain-http address asks first.
    alert->addAction(q("Add"), UIAlertController::ActionStyle::Default, [self, repo] {
        if (self) SourceAddition::add(self, repo, false, false);
    });
    alert->addAction(q("Cancel"), UIAlertController::ActionStyle::Cancel);
    SourceAddition::topPresenter(this)->presentViewController(alert, true);
}

QMenu* FeaturedViewController::showBannerMenu(int index, QPoint globalPos) {
    if (index < 0 || index >= static_cast<int>(banners_.size())) return nullptr;
    if (bannerMenu_) bannerMenu_->deleteLater();
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<FeaturedViewController> self(this);
    menu->addAction(q("Featured Page"), this, [self, index] {
        if (self) self->presentFeaturedPage(index);
    });
    bannerMenu_ = menu;
    menu->popup(globalPos);
    return menu;
}

void FeaturedViewController::presentFeaturedPage(int index) {
    if (index < 0 || index >= static_cast<int>(banners_.size())) return;
    auto* page = new FeaturedPackageViewController;
    page->setPackage(banners_[index]);
    page->setBannerImage(bannerImage(index));
    page->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    lastOpened_ = page;
    SourceAddition::topPresenter(this)->presentViewController(page, true);
}

void FeaturedViewController::goToNews() {
    auto* news = new NewsViewController;
    open(news);
}

void FeaturedViewController::accountInformations() {
    auto* account = new AccountPlistViewController;
    account->setAvatarImage(avatarImage_);
    open(account);
}

void FeaturedViewController::copyDeviceSpecs() {
    auto* sheet = UIAlertController::alertControllerWithTitle(q("Copy Device Details"), {},
                                                              UIAlertController::Style::ActionSheet);
    const QString model = qs(ZMPlatform::deviceModelID());
    const QString udid = qs(ZMPlatform::deviceUDID());
    auto copy = [](const QString& text) { QGuiApplication::clipboard()->setText(text); };
    sheet->addAction(q("Device Model"), UIAlertController::ActionStyle::Default, [copy, model] { copy(model); });
    sheet->addAction(q("Device Identifier"), UIAlertController::ActionStyle::Default, [copy, udid] { copy(udid); });
    sheet->addAction(q("Device Model & Identifier"), UIAlertController::ActionStyle::Default, [copy, model, udid] {
        copy(qs(ZMShareTexts::fillFormat(ZMLocalizedString("Device Model: %@\nDevice Identifier: %@"),
                                         {model.toStdString(), udid.toStdString()})));
    });
    sheet->addAction(q("Cancel"), UIAlertController::ActionStyle::Cancel);
    SourceAddition::topPresenter(this)->presentViewController(sheet, true);
}

// ---- appearing ----------------------------------------------------------------------------

void FeaturedViewController::viewWillAppear(bool animated) {
    navigationItem()->setNavigationBarHidden(true);
    QFont title = navBarFeatured_->font();
    title.setPointSize(preferences().boolForKey(K::PrefersLargeTitles) ? 35 : 25);
    title.setBold(true);
    navBarFeatured_->setFont(title);
    updateAccountButton();
    QPointer<FeaturedViewController> self(this);
    Dispatch::main([self] {
        if (!self) return;
        self->scrollView_->verticalScrollBar()->setValue(self->scrollView_->verticalScrollBar()->value());
        self->updateShadows();
    });
    if (firstAppearance_) {
        firstAppearance_ = false;
    } else {
        retrieveFeaturedPackages();
    }
    updateBannerCells();  // descriptions and icons that came meanwhile
    for (auto& card : cards_) card.table->reloadData();
}

void FeaturedViewController::setLaunchScreensEnabled(bool enabled) { gLaunchScreens = enabled; }
bool FeaturedViewController::launchScreensEnabled() { return gLaunchScreens; }

void FeaturedViewController::viewDidAppear(bool) {
    if (!gLaunchScreens) return;
    auto& prefs = preferences();
    if (!prefs.boolForKey(K::SetupDone)) {
        // Stored first, so that the change log of this version does not follow the setup.
        prefs.setValue(K::WelcomeScreenVersion, std::string(VOSTRELLE_VERSION));
        goToSetupScreen();
        return;
    }
    showChangelogIfNeeded();
}

void FeaturedViewController::goToSetupScreen() { InitViewController::presentFlowIfNeeded(this); }

void FeaturedViewController::showChangelogIfNeeded() {
    auto& prefs = preferences();
    const std::string running = VOSTRELLE_VERSION;
    auto seen = prefs.stringForKey(K::WelcomeScreenVersion);
    if (seen && !seen->empty() && !lessThan(*seen, running)) return;
    prefs.setValue(K::WelcomeScreenVersion, running);
    auto* changelog = new ChangelogViewController;
    changelog->setOverrideLargeTitles(true);
    auto* nav = new UINavigationController(changelog);
    QPointer<UINavigationController> guard(nav);
    auto* close = new UIBarButtonItem(q("Close"), [guard](UIBarButtonItem*) {
        if (guard) guard->dismissViewController(true);
    }, nav);
    changelog->navigationItem()->setLeftBarButtonItem(close);
    nav->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    SourceAddition::topPresenter(this)->presentViewController(nav, true);
}

// ---- account button -----------------------------------------------------------------------

void FeaturedViewController::showAccountImage(const QImage& image, bool round) {
    const int side = kAccountButtonSide;
    QPixmap pixmap;
    if (round) {
        pixmap = OnlineImages::rounded(image, side, side / 2.0);
        // A ring while a followed developer has new packages.
        if (preferences().boolForKey(K::NewPackagesByFollowedDevelopers)) {
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(QColor(255, 59, 48), 2.0));
            p.drawEllipse(QRectF(1, 1, side - 2, side - 2));
        }
    } else {
        pixmap = QPixmap::fromImage(image.scaled(side * 2, side * 2, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        pixmap.setDevicePixelRatio(2.0);
    }
    infoBtn_->setIcon(pixmap);
    infoBtn_->setProperty("showsAvatar", round);
}

void FeaturedViewController::updateAccountButton() {
    const std::string url = ZMAccount::instance().returnAvatarURL().value_or("");
    if (url.empty()) {
        avatarImage_ = QImage();
        avatarURL_.clear();
        showAccountImage(OnlineImages::named("Info", 72), false);
        return;
    }
    if (!avatarImage_.isNull() && url == avatarURL_) {
        showAccountImage(avatarImage_, true);
        return;
    }
    avatarURL_ = url;
    QPointer<FeaturedViewController> self(this);
    RemoteImage::load(url, [self, url](const QImage& image, bool placeholder) {
        if (!self || self->avatarURL_ != url) return;
        if (placeholder) {
            self->avatarImage_ = QImage();
            self->showAccountImage(OnlineImages::named("Info", 72), false);
            return;
        }
        self->avatarImage_ = image;
        self->showAccountImage(image, true);
    });
}

// ---- palette ------------------------------------------------------------------------------

void FeaturedViewController::paletteDidChange(const ZMPalette& p) {
    QPalette pal = QWidget::palette();
    pal.setColor(QPalette::Window, p.backgroundColor());
    setPalette(pal);
    setAutoFillBackground(true);
    if (!navBarFeatured_) return;
    PackageRow::setTextColor(navBarFeatured_, p.primaryTextColor());
    PackageRow::setTextColor(navBarPrompt_, p.secondaryTextColor());
    PackageRow::setTextColor(deviceSpecs_, p.secondaryTextColor());
    for (auto& card : cards_) {
        card.applyPalette(p);
        card.table->reloadData();
    }
    // Also when the application comes to the front, as a click on a banner may bring it.
    updateBannerCells();
}
