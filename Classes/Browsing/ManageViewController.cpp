#include "Browsing/ManageViewController.h"

#include "ZMThemedIcon.h"
#include "Categories/String+LocalizedCompare.h"

#include <QClipboard>
#include <set>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "Browsing/BrowsingImages.h"
#include "Browsing/BrowsingText.h"
#include "Browsing/PackageOpening.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SourceAddition.h"
#include "Browsing/SourceViewController.h"
#include "Browsing/SourcesCell.h"
#include "Browsing/SubcategoriesViewController.h"
#include "ErrorViewController.h"
#include "WebViewViewController.h"
#include "Categories/String+LocalizedCompare.h"
#include "Categories/String+URLsFromString.h"
#include "Categories/String+ZemtrixExtensions.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackageManager.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLog.h"
#include "PackageCell.h"
#include "SegmentedViewController.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UINavigationController.h"
#include "VostrellePersistentPreferences.h"
#include "ZMDeviceOwnerAuthentication.h"
#include "ZMPipelineManager.h"
#include "ZMStoreGuard.h"
#include "ZMVostrelle.h"

using BrowsingText::q;

ManageViewController::ManageViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

ManageViewController::~ManageViewController() {
    if (timeSinceTimer_) timeSinceTimer_->invalidate();
    sourceNotification_.invalidate();
    packageNotification_.invalidate();
    observers_.clear();
    for (auto* table : {installedPackagesTableView_, sourcesTableView_}) {
        if (!table) continue;
        table->setDataSource(nullptr);
        table->setDelegate(nullptr);
    }
}

// ---- loading -------------------------------------------------------------------------------------

void ManageViewController::buildView() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scrollView_ = new QScrollArea;
    scrollView_->setObjectName("scrollView");
    scrollView_->setWidgetResizable(true);
    scrollView_->setFrameShape(QFrame::NoFrame);
    scrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scrollView_);

    auto* page = new QWidget;
    page->setObjectName("managePage");
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(16, 8, 16, 24);
    column->setSpacing(20);

    refreshController_ = new UIRefreshControl;
    refreshController_->setObjectName("refreshController");
    refreshController_->setFixedHeight(UIRefreshControl::kHeight);
    refreshController_->hide();
    connect(refreshController_, &UIRefreshControl::refreshingChanged, refreshController_, &QWidget::setVisible);
    connect(refreshController_, &UIRefreshControl::valueChanged, this, [this] { handleRefresh(); });
    column->addWidget(refreshController_);

    loadingIndicator_ = new QProgressBar;
    loadingIndicator_->setObjectName("loadingIndicator");
    loadingIndicator_->setRange(0, 0);
    loadingIndicator_->setTextVisible(false);
    loadingIndicator_->setFixedHeight(4);
    column->addWidget(loadingIndicator_);

    auto makeCard = [&](CardView*& card, QLabel*& title, const char* titleText, const char* name) {
        card = new CardView;
        card->setObjectName(QString(name) + "Card");
        auto* inner = new QVBoxLayout(card);
        inner->setContentsMargins(0, 14, 0, 10);
        inner->setSpacing(6);
        auto* head = new QHBoxLayout;
        head->setContentsMargins(16, 0, 16, 0);
        title = new QLabel(q(titleText));
        title->setObjectName(QString(name) + "Title");
        QFont f = title->font();
        f.setPointSizeF(f.pointSizeF() * 1.35);
        f.setWeight(QFont::Bold);
        title->setFont(f);
        head->addWidget(title, 1);
        inner->addLayout(head);
        column->addWidget(card);
        return std::make_pair(inner, head);
    };

    auto [installedInner, installedHead] = makeCard(installedPackagesCard_, installedPackagesTitle_, "Recently Installed", "installedPackages");
    seeAllInstalledPackagesBtn_ = new QPushButton(q("See All"));
    seeAllInstalledPackagesBtn_->setObjectName("seeAllInstalledPackagesBtn");
    seeAllInstalledPackagesBtn_->setFlat(true);
    seeAllInstalledPackagesBtn_->setCursor(Qt::PointingHandCursor);
    installedHead->addWidget(seeAllInstalledPackagesBtn_);
    connect(seeAllInstalledPackagesBtn_, &QPushButton::clicked, this, [this] { seeAllInstalledPackages(); });
    installedPackagesTableView_ = new UITableView(UITableView::Style::Plain);
    installedPackagesTableView_->setObjectName("installedPackagesTableView");
    installedPackagesTableView_->setSizesToContent(true);
    installedPackagesTableView_->setFixedHeight(0);
    installedInner->addWidget(installedPackagesTableView_);

    auto [sourcesInner, sourcesHead] = makeCard(sourcesCard_, sourcesTitle_, "Sources", "sources");
    (void)sourcesHead;
    sourcesTableView_ = new UITableView(UITableView::Style::Plain);
    sourcesTableView_->setObjectName("sourcesTableView");
    sourcesTableView_->setSizesToContent(true);
    sourcesTableView_->setFixedHeight(0);
    sourcesInner->addWidget(sourcesTableView_);
    column->addStretch(1);
    scrollView_->setWidget(page);
    // Pulling past the top with the wheel starts a refresh, as on the lists.
    scrollView_->viewport()->installEventFilter(this);
    for (auto* table : {installedPackagesTableView_, sourcesTableView_}) table->viewport()->installEventFilter(this);

    // Copy: the location of the source row under the pointer.
    auto* copy = new QShortcut(QKeySequence::Copy, sourcesTableView_);
    copy->setContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QShortcut::activated, this, [this] {
        auto ip = sourcesTableView_->indexPathForRowAt(sourcesTableView_->viewport()->mapFromGlobal(QCursor::pos()));
        if (ip) copySourceAtRow(ip->row);
    });
}

void ManageViewController::viewDidLoad() {
    buildView();
    setTitle(q("Manage"));
    for (auto* table : {installedPackagesTableView_, sourcesTableView_}) {
        table->setDataSource(this);
        table->setDelegate(this);
    }
    installedPackagesTableView_->registerCell("cell", [this] {
        auto* cell = new PackageCell("cell");
        cell->installEventFilter(this);  // the card's long press starts on its rows too
        return cell;
    });
    installedPackagesCard_->installEventFilter(this);
    longPressTimer_ = new QTimer(this);
    longPressTimer_->setSingleShot(true);
    longPressTimer_->setInterval(200);
    connect(longPressTimer_, &QTimer::timeout, this, [this] { handleLongPressGesture(LongPressState::Began, QCursor::pos()); });
    sourcesTableView_->registerCell("sourcesCell", [] { return new SourcesCell; });

    auto& center = NotificationCenter::defaultCenter();
    observers_.add(center.addObserver(ZMRPackageInfoIconChangedNotification, NotificationCenter::Queue::Main,
                                      [this](const Notification& n) { iconChanged(n); }));
    observers_.add(center.addObserver(ZMRSourceInfoIconChangedNotification, NotificationCenter::Queue::Main,
                                      [this](const Notification& n) { sourceIconChanged(n); }));
    observers_.add(center.addObserver(ZMPipelineSourceRefreshComplete, NotificationCenter::Queue::Main,
                                      [this](const Notification&) { sourcesChanged(); }));

    std::weak_ptr<void> owner = alive_;
    try {
        allSources_ = ZMRSource::allObjects().sortedResultsUsingKeyPath("name", true);
        sourceNotification_ = allSources_->addNotificationBlock(owner, [this](const Results<ZMRSource>&) { sourcesChanged(); });
        allPackages_ = ZMRPackage::objectsWhere("isInstalled = 1").sortedResultsUsingKeyPath("installDate", false);
        packageNotification_ = allPackages_->addNotificationBlock(owner, [this](const Results<ZMRPackage>&) { packagesChanged(); });
    } catch (const std::exception& e) {
        // Without a database the tab stays empty; the shell reports the database itself.
        ZMLOG("the Manage tab has no database: {}", e.what());
        allSources_.reset();
        allPackages_.reset();
    }

    // The first delivery: the tables as the database stands now.
    updateSourceOrder();
    sourcesTableView_->reloadData();
    installedPackagesTableView_->reloadData();
    animateContentForTable(true);
    animateContentForTable(false);
    loadingIndicator_->hide();
    rebuildSourcesCache();
}

void ManageViewController::viewWillAppear(bool) {
    setBarButtons();
    startTimer();
    // Counts may have moved while another tab was shown.
    rebuildSourcesCache();
}

void ManageViewController::viewDidDisappear(bool) {
    // Nothing to redraw while another tab is shown.
    if (timeSinceTimer_) timeSinceTimer_->invalidate();
    timeSinceTimer_.reset();
}

void ManageViewController::setBarButtons() {
    auto* add = new UIBarButtonItem(ZMThemedIcon::named("list-add"), [this](UIBarButtonItem*) { addSource(); }, navigationItem());
    add->setTitle(q("Add"));
    auto* refresh = new UIBarButtonItem(ZMThemedIcon::named("view-refresh"), [this](UIBarButtonItem*) { handleRefresh(); },
                                        navigationItem());
    refresh->setTitle(q("Refresh"));
    navigationItem()->setRightBarButtonItems({add, refresh});
    auto* share = new UIBarButtonItem(ZMThemedIcon::named("document-send"), [this](UIBarButtonItem*) { shareAllSources(); },
                                      navigationItem());
    share->setTitle(q("Share"));
    navigationItem()->setLeftBarButtonItems({share});
}

void ManageViewController::startTimer() {
    if (isTimerRunning()) return;
    std::weak_ptr<void> owner = alive_;
    timeSinceTimer_ = UITimer::scheduledTimer(1.0, true, [this, owner] {
        if (!owner.lock()) return;
        if (isViewLoaded() && isOnScreen()) redrawRegenerationLabels();
    });
}

void ManageViewController::redrawRegenerationLabels() {
    for (auto* cell : sourcesTableView_->visibleCells()) {
        auto* row = qobject_cast<SourcesCell*>(cell);
        if (!row) continue;
        auto text = ZemtrixExtensions::timeSince(row->regenDate);
        row->lastRepoRegenLbl->setText(QString::fromStdString(text.value_or(ZMLocalizedString("never"))));
    }
}

// ---- change blocks -----------------------------------------------------------------------------

void ManageViewController::sourcesChanged() {
    updateSourceOrder();
    if (isOnScreen()) rebuildSourcesCache();
    sourcesTableView_->reloadData();
    animateContentForTable(true);
    loadingIndicator_->hide();
}

void ManageViewController::packagesChanged() {
    // The installed counts per source follow the installed packages.
    if (isOnScreen()) rebuildSourcesCache();
    installedPackagesTableView_->reloadData();
    animateContentForTable(false);
    loadingIndicator_->hide();
}

void ManageViewController::animateContentForTable(bool sourcesTable) {
    if (sourcesTable) {
        sourcesTableView_->setFixedHeight(static_cast<int>(sourceOrder_.size()) * kSourceRowHeight);
    } else {
        const size_t count = installedCount();
        installedPackagesTableView_->setFixedHeight(static_cast<int>(std::min<size_t>(count, kMaxInstalledRows)) * kPackageRowHeight);
    }
    updateShadows();
}

void ManageViewController::updateShadows() {
    auto apply = [this] {
        for (CardView* card : {installedPackagesCard_, sourcesCard_})
            if (card) card->setShadowColor(palette().shadowColor());
    };
    if (Dispatch::isMainThread()) apply();
    else {
        std::weak_ptr<void> owner = alive_;
        Dispatch::main([owner, apply] {
            if (owner.lock()) apply();
        });
    }
}

void ManageViewController::resizeEvent(QResizeEvent* e) {
    ZMPalettedViewController::resizeEvent(e);
    updateShadows();
}

void ManageViewController::rebuildSourcesCache() {
    const int request = ++installedCountRequests_;
    std::weak_ptr<void> owner = alive_;
    // A new map is built off the main thread and handed over whole; the table
    // only ever reads the map the main thread installed.
    Dispatch::backgroundQueue([this, owner, request] {
        auto counts = std::make_shared<std::map<std::string, std::string>>();
        try {
            auto& packages = ZMRPackageManager::sharedPackageManager().packages();
            for (const auto& source : ZMRSource::allObjects().toVector())
                (*counts)[source.location] = std::to_string(packages.countOfInstalledPackagesForSource(source.location));
        } catch (const std::exception& e) {
            ZMLOG("counting installed packages failed: {}", e.what());
            return;
        }
        Dispatch::main([this, owner, request, counts] {
            if (!owner.lock()) return;
            // An older count finishing after a newer one is dropped.
            if (request < installedCountGeneration_) return;
            installedCounts_ = std::move(*counts);
            installedCountGeneration_ = request;
            sourcesTableView_->reloadData();
        });
    });
}

// ---- actions ------------------------------------------------------------------------------------

void ManageViewController::push(UIViewController* vc) {
    lastPushed_ = vc;
    if (auto* nav = navigationController()) nav->pushViewController(vc, true);
    else present(new UINavigationController(vc));
}

void ManageViewController::present(UIViewController* vc) {
    lastPresented_ = vc;
    UIViewController* from = navigationController() ? static_cast<UIViewController*>(navigationController()) : this;
    SourceAddition::topPresenter(from)->presentViewController(vc, true);
}

void ManageViewController::presentAddForm() {
    auto* form = new SourceViewController;
    form->setIsPresented(true);
    form->setTitle(q("Add Source"));
    auto* nav = new UINavigationController(form);
    nav->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    present(nav);
}

void ManageViewController::addSource() {
    const std::string text = QGuiApplication::clipboard()->text().toStdString();
    std::vector<std::string> offered;
    for (const auto& url : StringURLsFromString::URLs(text)) {
        const std::string address = url.string();
        // Configured under either scheme, with or without the trailing "/": not offered.
        auto normalized = ZMRSources::normalizeSourceLocation(address);
        if (!normalized.ok() || ZMRSources::isLocationConfigured(normalized.location)) continue;
        if (std::find(offered.begin(), offered.end(), address) == offered.end()) offered.push_back(address);
    }
    if (offered.empty()) {
        presentAddForm();
        return;
    }
    std::string joined;
    for (const auto& a : offered) joined += (joined.empty() ? "" : "\r") + a;
    auto* alert = UIAlertController::alertControllerWithTitle(q("Repositories Detected"),
                                                              q("Would you like to add: \r\n%@", joined),
                                                              UIAlertController::Style::Alert);
    std::weak_ptr<void> owner = alive_;
    alert->addAction(q("No"), UIAlertController::ActionStyle::Cancel, [this, owner] {
        Dispatch::main([this, owner] {
            if (owner.lock()) presentAddForm();
        });
    });
    alert->addAction(q("Yes"), UIAlertController::ActionStyle::Default, [this, owner, offered] {
        if (!owner.lock()) return;
        for (const auto& a : offered) addSourceWithString(a, true);
    });
    present(alert);
}

ZMRAddSourceResult ManageViewController::addSourceWithString(const std::string& text, bool httpApproval) {
    return SourceAddition::add(this, text, httpApproval, false);
}

void ManageViewController::handleRefresh() {
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    // A refresh already runs: nothing to start, and the spinner must not keep turning.
    if (!sources.isRefreshInProgress()) sources.refreshAllSources();
    if (refreshController_->isRefreshing()) refreshController_->endRefreshing();
}

void ManageViewController::seeAllInstalledPackages() {
    auto* list = new PackagesTableViewController;
    list->setCategory(kCategorySpecial_InstalledPackages);
    list->setTitle(q(kCategorySpecial_InstalledPackages));
    push(list);
}

void ManageViewController::shareAllSources() { ZMVostrelle::sharedVostrelle().shareAllSources(); }

void ManageViewController::copySourceAtRow(int row) {
    if (auto source = sourceAtRow(row)) copySourceWithLocation(source->location);
}

void ManageViewController::copySourceWithLocation(const std::string& location) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(location));
}

void ManageViewController::removeSourceAtRow(int row) {
    if (auto source = sourceAtRow(row)) removeSourceWithLocation(source->location);
}

void ManageViewController::removeSourceWithLocation(const std::string& location) {
    if (location == SourceAddition::kMakersRepositoryLocation) return;
    auto source = ZMStoreGuard::record<ZMRSource>("removing a source", location);
    if (!source) return;
    const std::string name = source->name.empty() ? location : source->name;
    // "Remove" is the user's explicit choice: it runs at once, behind the
    // device-owner check only when the preference asks for one.
    if (!VostrellePersistentPreferences::sharedInstance().boolForKey(
            VostrellePreferenceKey::AuthenticationForPackagesManagementTasks)) {
        removeSource(location, name);
        return;
    }
    std::weak_ptr<void> owner = alive_;
    ZMDeviceOwnerAuthentication::authenticate(BrowsingText::format("Please authenticate yourself to remove %@", name),
                                              [this, owner, location, name](bool success) {
                                                  if (success && owner.lock()) removeSource(location, name);
                                              });
}

void ManageViewController::removeSource(const std::string& location, const std::string& name) {
    std::weak_ptr<void> owner = alive_;
    // The root commands run on a background queue; the outcome comes back here.
    ZMRPackageManager::sharedPackageManager().sources().removeSourceWithLocation(
        location, [this, owner, location, name](std::optional<ZMError> error) {
            // The database kept the source: told like every failure of the database.
            if (error && error->isStoreFailure()) ZMStoreGuard::tell("removing a source", *error);
            if (!owner.lock()) return;
            if (error && !error->isStoreFailure()) {
                ZMLOG("removing {} failed: {}", location, error->detail);
                ZMVostrelle::sharedVostrelle().showAlert(BrowsingText::format("Could not remove %@", name),
                                                         error->localizedDescription());
            }
            if (removalObserver_) removalObserver_(location, !error.has_value());
        });
}

// ---- icons ----------------------------------------------------------------------------------------

void ManageViewController::iconChanged(const Notification& note) {
    const std::string identifier = note.objectString();
    std::weak_ptr<void> owner = alive_;
    Dispatch::main([this, owner, identifier] {
        if (!owner.lock()) return;
        for (auto* cell : installedPackagesTableView_->visibleCells()) {
            auto* row = qobject_cast<PackageCell*>(cell);
            if (row && row->packageIdentifier() == identifier) {
                row->updatePackageIcon();
                return;
            }
        }
    });
}

void ManageViewController::sourceIconChanged(const Notification& note) {
    const std::string location = note.objectString();
    for (auto* cell : sourcesTableView_->visibleCells()) {
        auto* row = qobject_cast<SourcesCell*>(cell);
        if (!row || row->sourceLocation != location) continue;
        if (auto path = BrowsingImages::iconFilePath(ZMRPackageManager::sharedPackageManager().sources().iconForLocation(location)))
            if (auto picture = BrowsingImages::fromFile(*path, SourcesCell::kIconSize * 2)) row->setIcon(*picture);
    }
}

void ManageViewController::handleLongPressGesture(LongPressState state, QPoint globalPosition) {
    auto setPressed = [this](bool pressed) {
        cardPressed_ = pressed;
        // Pressed in: the card's margins grow by 2.5 % on each side (scale 0.95), and spring back.
        const int dx = pressed ? installedPackagesCard_->width() / 40 : 0;
        const int dy = pressed ? installedPackagesCard_->height() / 40 : 0;
        installedPackagesCard_->setContentsMargins(dx, dy, dx, dy);
        installedPackagesCard_->update();
    };
    if (state == LongPressState::Began) {
        setPressed(true);
        return;
    }
    if (!cardPressed_) return;
    setPressed(false);
    if (state != LongPressState::Ended) return;
    const QPoint inCard = installedPackagesCard_->mapFromGlobal(globalPosition);
    if (installedPackagesCard_->rect().contains(inCard)) seeAllInstalledPackages();
}

bool ManageViewController::eventFilter(QObject* watched, QEvent* event) {
    const bool onCard = watched == installedPackagesCard_ ||
                        (qobject_cast<PackageCell*>(watched) && static_cast<QWidget*>(watched)->parentWidget() &&
                         installedPackagesCard_->isAncestorOf(static_cast<QWidget*>(watched)));
    if (onCard && longPressTimer_) {
        if (event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            longPressTimer_->start();
        } else if (event->type() == QEvent::MouseButtonRelease) {
            longPressTimer_->stop();
            if (cardPressed_) {
                if (auto* row = qobject_cast<UITableViewCell*>(watched)) row->setHighlighted(false);
                handleLongPressGesture(LongPressState::Ended, static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
                return true;  // the long press replaces the row's tap
            }
        }
    }
    if (event->type() == QEvent::Wheel && scrollView_) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        auto* bar = scrollView_->verticalScrollBar();
        if (wheel->angleDelta().y() > 0 && bar->value() == bar->minimum()) {
            pullAccumulated_ += wheel->angleDelta().y();
            if (pullAccumulated_ >= 360 && !refreshController_->isRefreshing()) {
                pullAccumulated_ = 0;
                refreshController_->triggerByUser();
            }
        } else {
            pullAccumulated_ = 0;
        }
        // The cards' tables never scroll themselves: the page does.
        if (watched != scrollView_->viewport()) {
            QCoreApplication::sendEvent(scrollView_->viewport(), event);
            return true;
        }
    }
    return ZMPalettedViewController::eventFilter(watched, event);
}

// ---- tables ------------------------------------------------------------------------------------

void ManageViewController::updateSourceOrder() {
    std::vector<std::pair<std::string, std::string>> sorted;  // (sort key of the name, location)
    std::vector<nlohmann::json> names, locations;
    if (allSources_ && !ZMStoreGuard::run("listing the sources", [&] {
            names = allSources_->valueForKey("name");
            locations = allSources_->valueForKey("location");
        }))
        return;  // the rows stay as they were
    for (size_t i = 0; i < std::min(names.size(), locations.size()); ++i)
        if (locations[i].is_string())
            sorted.emplace_back(LocalizedCompare::sortKey(names[i].is_string() ? names[i].get<std::string>() : ""),
                                locations[i].get<std::string>());
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> order;
    const bool keep = ZMRPackageManager::sharedPackageManager().sources().isRefreshInProgress();
    if (keep) {
        std::set<std::string> present;
        for (const auto& [key, location] : sorted) present.insert(location);
        for (const auto& location : sourceOrder_)
            if (present.erase(location)) order.push_back(location);
        for (const auto& [key, location] : sorted)
            if (present.count(location)) order.push_back(location);
    } else {
        for (auto& [key, location] : sorted) order.push_back(std::move(location));
    }
    sourceOrder_ = std::move(order);
}

std::optional<ZMRSource> ManageViewController::sourceAtRow(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= sourceOrder_.size()) return std::nullopt;
    const std::string& location = sourceOrder_[static_cast<size_t>(row)];
    return ZMStoreGuard::record<ZMRSource>("reading a source", location);
}

size_t ManageViewController::installedCount() const {
    if (!allPackages_) return 0;
    return ZMStoreGuard::value("counting the installed packages", [&] { return allPackages_->count(); }).value_or(0);
}

std::optional<ZMRPackage> ManageViewController::installedPackageAtRow(int row) const {
    if (!allPackages_ || row < 0) return std::nullopt;
    return ZMStoreGuard::value("reading an installed package", [&]() -> std::optional<ZMRPackage> {
               if (static_cast<size_t>(row) >= allPackages_->count()) return std::nullopt;
               return (*allPackages_)[static_cast<size_t>(row)];
           })
        .value_or(std::nullopt);
}

int ManageViewController::numberOfRows(UITableView* table, int) {
    if (table == sourcesTableView_) return static_cast<int>(sourceOrder_.size());
    const size_t count = installedCount();
    return static_cast<int>(std::min<size_t>(count, kMaxInstalledRows));
}

double ManageViewController::heightForRow(UITableView* table, IndexPath) {
    return table == sourcesTableView_ ? kSourceRowHeight : kPackageRowHeight;
}

void ManageViewController::fillSourceCell(SourcesCell* cell, const ZMRSource& source, int row) {
    const ZMPalette p = palette();
    cell->regenDate = source.regenDate;
    cell->sourceLocation = source.location;
    cell->setBackgroundColor(p.cellBackgroundColor());
    QPalette namePalette = cell->nameLbl->palette();
    namePalette.setColor(QPalette::WindowText, p.primaryTextColor());
    const bool errors = source.hasErrors.value_or(false);
    if (!source.name.empty()) {
        cell->nameLbl->setText(QString::fromStdString(source.name));
    } else if (errors) {
        cell->nameLbl->setText(q("Invalid Source"));
        namePalette.setColor(QPalette::WindowText, QColor(255, 59, 48));
    } else {
        cell->nameLbl->setText(q("New Source"));
    }
    cell->nameLbl->setPalette(namePalette);
    // The colour also as a style sheet: the application's style sheet would otherwise draw the default text colour.
    cell->nameLbl->setStyleSheet(QStringLiteral("color: %1;").arg(namePalette.color(QPalette::WindowText).name()));

    QPixmap icon;
    if (auto path = BrowsingImages::iconFilePath(ZMRPackageManager::sharedPackageManager().sources().iconForLocation(source.location)))
        if (auto picture = BrowsingImages::fromFile(*path, SourcesCell::kIconSize * 2)) icon = *picture;
    if (icon.isNull()) icon = BrowsingImages::named("ZMCydiaSource.png", SourcesCell::kIconSize * 2);
    cell->setIcon(icon);

    const std::string description = source.Description == " " ? std::string() : source.Description;
    QPalette descriptionPalette = cell->descriptionLbl->palette();
    descriptionPalette.setColor(QPalette::WindowText, errors ? QColor(255, 59, 48) : p.secondaryTextColor());
    cell->descriptionLbl->setPalette(descriptionPalette);
    cell->descriptionLbl->setStyleSheet(QStringLiteral("color: %1;").arg(descriptionPalette.color(QPalette::WindowText).name()));
    cell->descriptionLbl->setText(QString::fromStdString(description.empty() ? source.location : description));

    auto count = installedCounts_.find(source.location);
    cell->installedPackagesLbl->setText(count == installedCounts_.end() ? QString() : QString::fromStdString(count->second));
    cell->totalPackagesLbl->setText(QString::fromStdString(source.totalPackages));
    if (!source.regenDate.empty()) {
        auto text = ZemtrixExtensions::timeSince(source.regenDate);
        cell->lastRepoRegenLbl->setText(QString::fromStdString(text.value_or(ZMLocalizedString("never"))));
    } else {
        cell->lastRepoRegenLbl->setText(q("never"));
    }
    cell->setSecondaryColor(p.secondaryTextColor());
    cell->setAccessoryType(UITableViewCell::Accessory::DisclosureIndicator);
    cell->setSeparatorHidden(row + 1 == numberOfRows(sourcesTableView_, 0));
}

UITableViewCell* ManageViewController::cellForRow(UITableView* table, IndexPath ip) {
    if (table == sourcesTableView_) {
        auto* cell = table->dequeueReusableCell<SourcesCell>("sourcesCell");
        if (auto source = sourceAtRow(ip.row)) fillSourceCell(cell, *source, ip.row);
        return cell;
    }
    auto* cell = table->dequeueReusableCell<PackageCell>("cell");
    cell->setBackgroundColor(palette().cellBackgroundColor());
    cell->setAccessoryType(UITableViewCell::Accessory::DisclosureIndicator);
    if (auto package = installedPackageAtRow(ip.row)) {
        cell->updateWithPackage(*package);
        cell->updateQueuingIconWithPackage(*package);
        cell->updateConpatibilityIndicatorWithPackageIdentifier(package->identifier, package->version);
    }
    cell->setSeparatorHidden(ip.row + 1 == numberOfRows(table, 0));
    return cell;
}

void ManageViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, false);
    if (table == installedPackagesTableView_) {
        if (auto package = installedPackageAtRow(ip.row)) push(PackageOpening::viewControllerForPackage(*package));
        return;
    }
    auto source = sourceAtRow(ip.row);
    if (!source) return;
    auto page = [&] {
        auto* vc = new SourceViewController;
        vc->setSourceLocation(source->location);
        vc->setTitle(QString::fromStdString(source->name.empty() ? source->location : source->name));
        return vc;
    };
    auto empty = ZMStoreGuard::value("opening a source",
                                     [&] { return ZMRPackage::objectsWhere("sourceLocation = %@", source->location).empty(); });
    if (!empty) return;
    if (source->hasErrors.value_or(false) || *empty) {
        push(page());
        return;
    }
    const std::string name = source->name.empty() ? source->location : source->name;
    // The source's sections and packages, and its page.
    auto* packages = new SubcategoriesViewController;
    packages->setCategory(kCategorySpecial_SourcePackages);
    packages->setSourceLocation(source->location);
    packages->setTitle(q("%@ Packages", name));
    auto* segmented = new SegmentedViewController({packages, page()}, {q("Categories"), q("Source Info")}, 0);
    segmented->setTitle(QString::fromStdString(name));
    push(segmented);
}

std::vector<UIContextualAction> ManageViewController::trailingSwipeActions(UITableView* table, IndexPath ip) {
    if (table != sourcesTableView_) return {};
    auto source = sourceAtRow(ip.row);
    if (!source) return {};
    // Every action holds the source's location, never the row: the rows
    // re-sort (a refresh ends, a name changes) while the menu is open.
    const std::string location = source->location;
    std::weak_ptr<void> owner = alive_;
    UIContextualAction refresh{UIContextualAction::Style::Normal, q("Refresh"), QColor(52, 199, 89),
                               [location](const UIContextualAction&, QWidget*, std::function<void(bool)> done) {
                                   ZMRPackageManager::sharedPackageManager().sources().refreshSource(location);
                                   if (done) done(true);
                               }};
    UIContextualAction info{UIContextualAction::Style::Normal, q("Info"), QColor(0, 122, 255),
                            [this, owner, location](const UIContextualAction&, QWidget*, std::function<void(bool)> done) {
                                if (owner.lock()) {
                                    auto* page = new SourceViewController;
                                    page->setSourceLocation(location);
                                    page->setIsPresented(true);
                                    auto* nav = new UINavigationController(page);
                                    nav->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
                                    present(nav);
                                }
                                if (done) done(true);
                            }};
    if (location == SourceAddition::kMakersRepositoryLocation) return {refresh, info};
    // Destructive: the Delete key on the highlighted row runs it too.
    UIContextualAction remove{UIContextualAction::Style::Destructive, q("Remove"), QColor(255, 59, 48),
                              [this, owner, location](const UIContextualAction&, QWidget*, std::function<void(bool)> done) {
                                  if (owner.lock()) removeSourceWithLocation(location);
                                  if (done) done(true);
                              }};
    return {remove, refresh, info};
}

std::vector<UIContextualAction> ManageViewController::editMenuActions(UITableView* table, IndexPath ip) {
    if (table != sourcesTableView_) return {};
    auto source = sourceAtRow(ip.row);
    if (!source) return {};
    std::weak_ptr<void> owner = alive_;
    // The source's location, not the row: the rows re-sort while a menu is open.
    const std::string location = source->location;
    return {{UIContextualAction::Style::Normal, q("Copy"), QColor(),
             [this, owner, location](const UIContextualAction&, QWidget*, std::function<void(bool)> done) {
                 if (owner.lock()) copySourceWithLocation(location);
                 if (done) done(true);
             }}};
}

void ManageViewController::paletteDidChange(const ZMPalette& palette) {
    if (!scrollView_) return;
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    scrollView_->viewport()->setAutoFillBackground(false);
    scrollView_->widget()->setAutoFillBackground(false);
    for (CardView* card : {installedPackagesCard_, sourcesCard_}) card->setCardColor(palette.cellBackgroundColor());
    for (UITableView* table : {installedPackagesTableView_, sourcesTableView_}) {
        table->setBackgroundColor(Qt::transparent);
        table->setSeparatorColor(palette.separatorColor());
    }
    for (QLabel* title : {installedPackagesTitle_, sourcesTitle_}) {
        QPalette tp = title->palette();
        tp.setColor(QPalette::WindowText, palette.primaryTextColor());
        title->setPalette(tp);
    }
    seeAllInstalledPackagesBtn_->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; border: none; font-weight: 600; }").arg(palette.tintColor().name()));
    refreshController_->setTintColor(palette.secondaryTextColor());
    updateShadows();
    installedPackagesTableView_->reloadData();
    sourcesTableView_->reloadData();
}
