#include "Browsing/SearchViewController.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Browsing/OnlineScreens.h"
#include "Browsing/PackageOpening.h"
#include "Browsing/PackageRows.h"
#include "Browsing/PackagesTableViewController.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackageManager.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLog.h"
#include "PackageCell.h"
#include "RemoteImage.h"
#include "UIKit/UINavigationController.h"
#include "VostrellePersistentPreferences.h"
#include "ZMStoreGuard.h"

using BrowsingText::q;
namespace K = VostrellePreferenceKey;

namespace {
const QColor kHistoryTextColor = QColor::fromRgbF(0.0, 0.67, 0.88);
const QColor kFollowedNameColor = QColor::fromRgbF(0.0, 0.82, 0.88);

std::string fillCount(const std::string& key, size_t count) {
    std::string text = ZMLocalizedString(key);
    if (auto at = text.find("%lu"); at != std::string::npos) text.replace(at, 3, std::to_string(count));
    return text;
}

PersistentDictionary& prefs() { return VostrellePersistentPreferences::sharedInstance(); }
}  // namespace

SearchViewController::SearchViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

SearchViewController::~SearchViewController() {
    typingPause_.cancel();
    observers_.clear();
    for (const BrowsingCard* card : {&historyCard_, &trendingCard_, &packagesCard_, &developersCard_, &repositoriesCard_}) {
        if (!card->table) continue;
        card->table->setDataSource(nullptr);
        card->table->setDelegate(nullptr);
    }
}

void SearchViewController::buildView() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(16, 8, 16, 8);
    searchBar_ = new QLineEdit;
    searchBar_->setObjectName("searchBar");
    searchBar_->setPlaceholderText(q("Search"));
    searchBar_->setClearButtonEnabled(true);
    bar->addWidget(searchBar_, 1);
    cancelBtn_ = new QPushButton(q("Cancel"));
    cancelBtn_->setObjectName("searchCancelButton");
    cancelBtn_->setFlat(true);
    cancelBtn_->setFocusPolicy(Qt::NoFocus);
    cancelBtn_->hide();
    bar->addWidget(cancelBtn_);
    outer->addLayout(bar);
    // Said once above both lists: developers, repositories and trending
    // searches come from the online service only.
    onlineServiceNotice_ = new QLabel;
    onlineServiceNotice_->setObjectName("onlineServiceNotice");
    onlineServiceNotice_->setTextFormat(Qt::PlainText);
    onlineServiceNotice_->setWordWrap(true);
    onlineServiceNotice_->setAlignment(Qt::AlignCenter);
    onlineServiceNotice_->setContentsMargins(16, 0, 16, 8);
    onlineServiceNotice_->setForegroundRole(QPalette::PlaceholderText);
    onlineServiceNotice_->hide();
    outer->addWidget(onlineServiceNotice_);

    auto* stats = BrowsingCard::makeColumn(this, statsScrollView_, "statsScrollView");
    historyCard_ = BrowsingCard::make(stats, q("Recent Searches"), "history");
    trendingCard_ = BrowsingCard::make(stats, q("Trending Searches"), "trending");
    stats->addStretch(1);
    auto* column = BrowsingCard::makeColumn(this, searchScrollView_, "searchScrollView");
    packagesCard_ = BrowsingCard::make(column, q("Packages"), "packages");
    seeAllBtn_ = new QPushButton(q("See All"));
    seeAllBtn_->setObjectName("seeAllPackagesBtn");
    seeAllBtn_->setFlat(true);
    seeAllBtn_->setCursor(Qt::PointingHandCursor);
    packagesCard_.head->addWidget(seeAllBtn_);
    developersCard_ = BrowsingCard::make(column, q("Developers"), "developers");
    repositoriesCard_ = BrowsingCard::make(column, q("Repositories"), "repositories");
    column->addStretch(1);
    // A column takes no keys of its own: Tab goes from the field to its lists.
    for (QScrollArea* scroll : {statsScrollView_, searchScrollView_}) scroll->setFocusPolicy(Qt::NoFocus);

    searchQueryControl_ = new UISegmentedControl({q("Exact"), q("Fuzzy")}, this);
    searchQueryControl_->setObjectName("searchQueryControl");
    // Choosing a mode must not take the focus from the search bar (that would
    // end editing): a click on a segment leaves it where it is, and Qt does not
    // hand it to a focusable container behind the segment either, since the
    // segment's proxy, the bar, has it.
    for (int i = 0; i < searchQueryControl_->numberOfSegments(); ++i) {
        searchQueryControl_->segment(i)->setFocusPolicy(Qt::NoFocus);
        searchQueryControl_->segment(i)->setFocusProxy(searchBar_);
    }
    searchQueryControl_->hide();
}

void SearchViewController::viewDidLoad() {
    buildView();
    setTitle(q("Search"));
    searchQuery_ = prefs().integerForKey(K::SearchQueryOption);
    showResults(false);

    historyCard_.table->registerCell("genericCell", [] { return new UITableViewCell("genericCell"); });
    trendingCard_.table->registerCell("genericCell", [] { return new UITableViewCell("genericCell"); });
    packagesCard_.table->registerCell("cell", [this] {
        auto* cell = new PackageCell("cell");
        cell->installEventFilter(this);  // the card's press starts on its rows too
        return cell;
    });
    for (auto* table : {developersCard_.table, repositoriesCard_.table})
        table->registerCell(SearchCell::kReuseIdentifier, [] { return new SearchCell; });
    for (const BrowsingCard* card : {&historyCard_, &trendingCard_, &packagesCard_, &developersCard_, &repositoriesCard_}) {
        card->table->setDataSource(this);
        card->table->setDelegate(this);
    }
    observers_.add(NotificationCenter::defaultCenter().addObserver(
        ZMRPackageInfoIconChangedNotification, NotificationCenter::Queue::Main,
        [this](const Notification& n) { iconChanged(n); }));

    packagesCard_.card->installEventFilter(this);
    pressTimer_ = new QTimer(this);
    pressTimer_->setSingleShot(true);
    pressTimer_->setInterval(kPressMilliseconds);
    connect(pressTimer_, &QTimer::timeout, this, [this] { handlePackagesLongPress(PressState::Began); });
    seeAllBtn_->hide();
    connect(seeAllBtn_, &QPushButton::clicked, this, [this] { seeAllPackages(); });

    searchQueryControl_->setSelectedSegmentIndex(static_cast<int>(searchQuery_));
    connect(searchQueryControl_, &UISegmentedControl::valueChanged, this, [this](int index) { segmentClicked(index); });
    connect(searchBar_, &QLineEdit::textEdited, this, [this](const QString& text) { searchBarTextDidChange(text); });
    connect(searchBar_, &QLineEdit::returnPressed, this, [this] { searchBarSearchButtonClicked(); });
    connect(cancelBtn_, &QPushButton::clicked, this, [this] { searchBarCancelButtonClicked(); });
    searchBar_->installEventFilter(this);
}

void SearchViewController::viewWillAppear(bool) {
    // The results do not change while a page opened from them is shown: the
    // keys go on from the row that opened it.
    std::vector<std::pair<UITableView*, std::optional<IndexPath>>> highlighted;
    for (UITableView* table : {packagesCard_.table, developersCard_.table, repositoriesCard_.table})
        highlighted.emplace_back(table, table->indexPathForHighlightedRow());
    updateUI();
    for (const BrowsingCard* card : {&historyCard_, &trendingCard_, &packagesCard_, &developersCard_, &repositoriesCard_}) {
        card->table->setBackgroundColor(Qt::transparent);
        card->table->reloadData();
    }
    for (const auto& [table, row] : highlighted)
        if (row) table->setHighlightedRow(*row);
    if (searchHandedOverDeveloper()) return;
    fetchTrending();
    reloadHistory();
    setTableHeights();
    historyCard_.table->reloadData();
    updateShadows();
}

bool SearchViewController::searchHandedOverDeveloper() {
    // A developer name handed over by a link or the followed developers: searched once.
    const std::string developer = prefs().stringForKey(K::SearchDeveloper).value_or("");
    if (developer.empty()) return false;
    prefs().setValue(K::SearchDeveloper, std::string());
    showResults(true);
    setSearch(developer);
    recordSearch(developer, true);
    return true;
}

void SearchViewController::viewWillDisappear(bool) {
    if (searchBar_->hasFocus()) searchBar_->clearFocus();
}

void SearchViewController::resizeEvent(QResizeEvent* e) {
    ZMPalettedViewController::resizeEvent(e);
    updateShadows();
}

bool SearchViewController::isShowingResults() const { return searchScrollView_ && !searchScrollView_->isHidden(); }

void SearchViewController::showResults(bool results) {
    searchScrollView_->setVisible(results);
    statsScrollView_->setVisible(!results);
}

void SearchViewController::setTextSilently(const std::string& text) {
    // setText() does not send textEdited: the typing rules do not run.
    searchBar_->setText(QString::fromStdString(text));
}

// ---- searching ---------------------------------------------------------------------------------

void SearchViewController::searchBarTextDidChange(const QString& qtext) {
    const std::string text = qtext.toStdString();
    if (static_cast<size_t>(qtext.size()) < kMinimumSearchLength) {
        clearResults();
        return;
    }
    searchText_ = text;
    typingPause_.cancel();
    std::weak_ptr<void> owner = alive_;
    typingPause_ = DelayedCall::after(kTypingPause, [this, owner] {
        if (owner.lock()) updatePackagesSearch();
    });
    startLookups(text);
}

void SearchViewController::clearResults() {
    typingPause_.cancel();
    ++packageGeneration_;  // a query still running is dropped
    packages_.reset();
    searchText_.reset();
    developers_.clear();
    repositories_.clear();
    for (auto* table : {packagesCard_.table, developersCard_.table, repositoriesCard_.table}) table->reloadData();
    packagesCard_.title->setText(q("Packages"));
    seeAllBtn_->hide();
    setTableHeights();
    updateShadows();
}

bool SearchViewController::onlineLookupsAvailable() {
    const auto reason = SearchServices::shared()->unavailableReason();
    if (onlineServiceNotice_) {
        onlineServiceNotice_->setText(QString::fromStdString(reason.value_or("")));
        onlineServiceNotice_->setVisible(reason.has_value());
    }
    // Cards that could only stay empty take no space.
    for (const BrowsingCard* card : {&trendingCard_, &developersCard_, &repositoriesCard_})
        if (card->card) card->card->setVisible(!reason);
    return !reason;
}

void SearchViewController::startLookups(const std::string& text) {
    if (!onlineLookupsAvailable()) return;
    std::weak_ptr<void> owner = alive_;
    SearchServices::shared()->searchDevelopers(text, [this, owner, text](std::optional<std::vector<SearchServices::Developer>> list) {
        // A failure keeps the list; a reply for another text than the one searched now is dropped.
        if (!owner.lock() || !list || searchText_ != text) return;
        developers_ = std::move(*list);
        developersCard_.table->reloadData();
        setTableHeights();
        updateShadows();
    });
    SearchServices::shared()->searchRepositories(text, [this, owner, text](std::optional<std::vector<SearchServices::Repository>> list) {
        if (!owner.lock() || !list || searchText_ != text) return;
        repositories_ = std::move(*list);
        repositoriesCard_.table->reloadData();
        setTableHeights();
        updateShadows();
    });
}

void SearchViewController::updatePackagesSearch() {
    typingPause_.cancel();
    if (!searchText_) return;
    runPackageQuery(*searchText_);
}

void SearchViewController::runPackageQuery(const std::string& text) {
    const uint64_t generation = ++packageGeneration_;
    const int64_t mode = searchQuery_;
    ++queriesStarted_;
    std::weak_ptr<void> owner = alive_;
    Dispatch::defaultQueue([this, owner, generation, text, mode] {
        auto summary = std::make_shared<PackageSearch::Summary>(PackageSearch::summarize(text, mode, kShownPackages));
        Dispatch::main([this, owner, generation, summary] {
            // Typing, a mode switch or Cancel since: this answer is for another search.
            if (!owner.lock() || generation != packageGeneration_) return;
            applyPackages(std::move(*summary));
        });
    });
}

void SearchViewController::applyPackages(PackageSearch::Summary summary) {
    ++resultsApplied_;
    packages_ = std::move(summary);
    packagesCard_.title->setText(QString::fromStdString(fillCount(packages_->total == 1 ? "%lu Package" : "%lu Packages", packages_->total)));
    seeAllBtn_->setVisible(packages_->total > 0);
    packagesCard_.table->reloadData();
    setTableHeights();
    updateShadows();
}

void SearchViewController::setSearch(const std::string& text) {
    setTextSilently(text);
    // The text shown is the text searched: a mode switch searches it again.
    searchText_ = text;
    typingPause_.cancel();
    runPackageQuery(text);
    startLookups(text);
}

void SearchViewController::segmentClicked(int index) {
    prefs().setValue(K::SearchQueryOption, static_cast<int64_t>(index));
    searchQuery_ = index;
    updatePackagesSearch();
}

void SearchViewController::recordSearch(const std::string& text, bool onMainThread) {
    if (onlineLookupsAvailable()) SearchServices::shared()->postSearchStatistic(text);
    auto write = [text] {
        try {
            ZMRPackageManager::sharedPackageManager().searchHistories().addSearch(text);
        } catch (const std::exception& e) {
            ZMLOG("could not record the search: {}", e.what());
        }
    };
    if (onMainThread) write();
    else Dispatch::defaultQueue(write);
}

void SearchViewController::reloadHistory() {
    history_.clear();
    try {
        auto records = ZMRPackageManager::sharedPackageManager().searchHistories().allSearches(false);
        for (const auto& v : records.valueForKey("search")) {
            if (history_.size() == kShownHistory) break;
            if (v.is_string()) history_.push_back(v.get<std::string>());
        }
    } catch (const std::exception& e) {
        ZMLOG("reading the search history failed: {}", e.what());
    }
}

void SearchViewController::fetchTrending() {
    if (!onlineLookupsAvailable()) return;
    std::weak_ptr<void> owner = alive_;
    SearchServices::shared()->retrieveSearchesTrending([this, owner](std::optional<std::vector<std::string>> list) {
        if (!owner.lock() || !list) return;
        trending_ = std::move(*list);
        setTableHeights();
        trendingCard_.table->reloadData();
        updateShadows();
    });
}

bool SearchViewController::moveToFirstResult() {
    if (!isShowingResults()) return false;
    for (const BrowsingCard* card : {&packagesCard_, &developersCard_, &repositoriesCard_}) {
        UITableView* table = card->table;
        if (!table->isVisible() || table->numberOfSections() == 0 || table->numberOfRows(0) == 0) continue;
        table->setHighlightedRow({0, 0});
        table->setFocus(Qt::OtherFocusReason);
        if (UITableViewCell* first = table->cellForRow({0, 0})) searchScrollView_->ensureWidgetVisible(first);
        return true;
    }
    return false;
}

void SearchViewController::setTableHeights() {
    historyCard_.table->setFixedHeight(static_cast<int>(history_.size()) * kGenericRowHeight);
    trendingCard_.table->setFixedHeight(static_cast<int>(trending_.size()) * kGenericRowHeight);
    const size_t shown = packages_ ? std::min(packages_->total, kShownPackages) : 0;
    packagesCard_.table->setFixedHeight(static_cast<int>(shown) * kPackageRowHeight);
    developersCard_.table->setFixedHeight(static_cast<int>(developers_.size()) * SearchCell::kRowHeight);
    repositoriesCard_.table->setFixedHeight(static_cast<int>(repositories_.size()) * SearchCell::kRowHeight);
}

void SearchViewController::updateShadows() {
    if (!historyCard_.card) return;
    for (const BrowsingCard* card : {&historyCard_, &trendingCard_, &packagesCard_, &developersCard_, &repositoriesCard_})
        card->card->setShadowColor(palette().shadowColor());
}

// ---- the search bar ----------------------------------------------------------------------------

void SearchViewController::searchBarSearchButtonClicked() {
    const QString text = searchBar_->text();
    searchBar_->clearFocus();
    if (static_cast<size_t>(text.size()) >= kMinimumSearchLength) recordSearch(text.toStdString(), false);
}

void SearchViewController::searchBarCancelButtonClicked() {
    searchBar_->clear();
    clearResults();
    if (searchBar_->hasFocus()) searchBar_->clearFocus();
    // The focus-out ends the editing, but an inactive window gets none; and an
    // editing that ended over a text left the results up. Either way Cancel
    // comes back to the history.
    if (editing_) searchBarShouldEndEditing();
    else if (isShowingResults()) showHistory();
}

void SearchViewController::searchBarShouldBeginEditing() {
    if (editing_) return;
    editing_ = true;
    savedLeftItems_ = navigationItem()->leftBarButtonItems();
    savedRightItems_ = navigationItem()->rightBarButtonItems();
    navigationItem()->setLeftBarButtonItems({});
    navigationItem()->setRightBarButtonItems({});
    for (int i = 0; i < searchQueryControl_->numberOfSegments(); ++i)
        searchQueryControl_->segment(i)->setFixedWidth(static_cast<int>(0.475 * width()));
    navigationItem()->setTitleView(searchQueryControl_);
    cancelBtn_->show();
    showResults(true);
}

void SearchViewController::searchBarShouldEndEditing() {
    if (!editing_) return;
    editing_ = false;
    navigationItem()->setTitleView(nullptr);
    navigationItem()->setLeftBarButtonItems(savedLeftItems_);
    navigationItem()->setRightBarButtonItems(savedRightItems_);
    cancelBtn_->hide();
    if (!searchBar_->text().isEmpty()) return;
    showHistory();
}

void SearchViewController::showHistory() {
    showResults(false);
    reloadHistory();
    setTableHeights();
    historyCard_.table->reloadData();
    updateShadows();
    fetchTrending();
}

// ---- the package card --------------------------------------------------------------------------

void SearchViewController::seeAllPackages() {
    auto* list = new PackagesTableViewController;
    list->setCategory(kCategorySpecial_Search);
    list->setSearch(searchBar_->text().toStdString());
    list->setSearchQuery(searchQuery_);
    list->setTitle(q("Search"));
    push(list);
}

void SearchViewController::handlePackagesLongPress(PressState state) {
    auto setPressed = [this](bool pressed) {
        // Pressed in: the card's margins grow by 2.5 % on each side (scale 0.95), and spring back.
        CardView* card = packagesCard_.card;
        const int dx = pressed ? card->width() / 40 : 0;
        const int dy = pressed ? card->height() / 40 : 0;
        card->setContentsMargins(dx, dy, dx, dy);
        card->update();
    };
    if (state == PressState::Began) {
        if (isPressed_) return;
        isPressed_ = true;
        setPressed(true);
        return;
    }
    if (!isPressed_) return;
    setPressed(false);
    isPressed_ = false;
    // Only a press released on the card opens the list; a cancelled one opens nothing.
    if (state == PressState::Ended && packages_ && packages_->total > 0) seeAllPackages();
}

void SearchViewController::keyPressEvent(QKeyEvent* e) {
    // Typing in one of the lists, which leave text to the screen, goes on in
    // the field: it refines the search shown.
    const bool typing = !e->text().isEmpty() && e->text().front().isPrint() &&
                        !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (typing && searchBar_ && searchBar_->isVisible() && !searchBar_->hasFocus()) {
        searchBar_->setFocus(Qt::OtherFocusReason);
        searchBar_->deselect();
        searchBar_->end(false);
        QApplication::sendEvent(searchBar_, e);
        return;
    }
    ZMPalettedViewController::keyPressEvent(e);
}

bool SearchViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == searchBar_) {
        if (event->type() == QEvent::FocusIn) searchBarShouldBeginEditing();
        else if (event->type() == QEvent::FocusOut) searchBarShouldEndEditing();
        else if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            searchBarCancelButtonClicked();
            return true;
        } else if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down &&
                   static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier && moveToFirstResult()) {
            return true;
        }
        return ZMPalettedViewController::eventFilter(watched, event);
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    const bool onCard = pressTimer_ && widget && packagesCard_.card &&
                        (widget == packagesCard_.card || packagesCard_.card->isAncestorOf(widget));
    if (onCard) {
        if (event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            pressTimer_->start();
        } else if (event->type() == QEvent::MouseButtonRelease) {
            pressTimer_->stop();
            if (isPressed_) {
                if (auto* row = qobject_cast<UITableViewCell*>(watched)) row->setHighlighted(false);
                const QPoint at = packagesCard_.card->mapFromGlobal(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
                handlePackagesLongPress(packagesCard_.card->rect().contains(at) ? PressState::Ended : PressState::Cancelled);
                return true;  // the press replaces the row's tap
            }
        }
    }
    return ZMPalettedViewController::eventFilter(watched, event);
}

// ---- actions -----------------------------------------------------------------------------------

void SearchViewController::updateUI() {
    if (packagesCard_.table) packagesCard_.table->reloadData();
}

void SearchViewController::followStateChanged() {
    if (developersCard_.table) developersCard_.table->reloadData();
}

void SearchViewController::iconChanged(const Notification& note) {
    const std::string identifier = note.objectString();
    std::weak_ptr<void> owner = alive_;
    Dispatch::main([this, owner, identifier] {
        if (!owner.lock()) return;
        for (auto* cell : packagesCard_.table->visibleCells())
            if (auto* row = qobject_cast<PackageCell*>(cell); row && row->packageIdentifier() == identifier) {
                row->updatePackageIcon();
                return;
            }
    });
}

void SearchViewController::push(UIViewController* vc) {
    lastPushed_ = vc;
    PackageOpening::show(this, vc);
}

void SearchViewController::loadPicture(const std::string& key, const std::string& url, bool developer) {
    auto& pictures = developer ? avatars_ : repositoryIcons_;
    const std::string loadingKey = (developer ? "d:" : "r:") + key;
    if (pictures.count(key) || picturesLoading_.count(loadingKey)) return;
    picturesLoading_.insert(loadingKey);
    std::weak_ptr<void> owner = alive_;
    RemoteImage::load(url, [this, owner, key, loadingKey, developer](const QImage& image, bool) {
        if (!owner.lock()) return;
        picturesLoading_.erase(loadingKey);
        (developer ? avatars_ : repositoryIcons_)[key] = QPixmap::fromImage(image);
        (developer ? developersCard_ : repositoriesCard_).table->reloadData();
    });
}

// ---- tables ------------------------------------------------------------------------------------

int SearchViewController::numberOfRows(UITableView* table, int) {
    if (table == historyCard_.table) return static_cast<int>(history_.size());
    if (table == trendingCard_.table) return static_cast<int>(trending_.size());
    if (table == packagesCard_.table) return packages_ ? static_cast<int>(packages_->identifiers.size()) : 0;
    if (table == developersCard_.table) return static_cast<int>(developers_.size());
    if (table == repositoriesCard_.table) return static_cast<int>(repositories_.size());
    return 0;
}

double SearchViewController::heightForRow(UITableView* table, IndexPath) {
    if (table == packagesCard_.table) return kPackageRowHeight;
    if (table == developersCard_.table || table == repositoriesCard_.table) return SearchCell::kRowHeight;
    return kGenericRowHeight;
}

UITableViewCell* SearchViewController::cellForRow(UITableView* table, IndexPath ip) {
    const bool last = ip.row + 1 == numberOfRows(table, 0);
    if (table == historyCard_.table || table == trendingCard_.table) {
        auto* cell = table->dequeueReusableCell("genericCell");
        cell->setBackgroundColor(Qt::transparent);
        const auto& texts = table == historyCard_.table ? history_ : trending_;
        QLabel* label = cell->textLabel();
        label->setTextFormat(Qt::PlainText);  // trending texts come from the server
        label->setText(ip.row < static_cast<int>(texts.size()) ? QString::fromStdString(texts[ip.row]) : QString());
        PackageRow::setTextColor(label, kHistoryTextColor);
        cell->setSeparatorHidden(last);
        return cell;
    }
    if (table == packagesCard_.table) {
        std::optional<std::string> identifier;
        if (packages_ && ip.row < static_cast<int>(packages_->identifiers.size())) identifier = packages_->identifiers[ip.row];
        return PackageRows::dequeueCell(table, ip, identifier);
    }
    auto* cell = table->dequeueReusableCell<SearchCell>(SearchCell::kReuseIdentifier);
    cell->setBackgroundColor(Qt::transparent);
    cell->setAccessoryType(UITableViewCell::Accessory::DisclosureIndicator);
    cell->setSeparatorHidden(last);
    if (table == developersCard_.table) {
        if (ip.row >= static_cast<int>(developers_.size())) return cell;
        const auto& developer = developers_[ip.row];
        cell->setDelegate(this);
        cell->setDeveloperName(developer.fullName);
        cell->nameLbl()->setText(QString::fromStdString(developer.fullName));
        const bool followed = ZMStoreGuard::value("reading a developer", [&] {
                                  return ZMRPackageManager::sharedPackageManager().developers().isDeveloperFollowed(
                                      developer.fullName);
                              }).value_or(false);
        PackageRow::setTextColor(cell->nameLbl(), followed ? kFollowedNameColor : palette().primaryTextColor());
        cell->setFollowButtonFollowed(followed);
        cell->subinfoLbl()->setText(developer.twitter.empty() ? QString()
                                                              : QString::fromStdString("@" + developer.twitter));
        cell->followBtn()->show();
        auto avatar = avatars_.find(developer.fullName);
        if (avatar != avatars_.end()) cell->setIcon(avatar->second);
        else {
            cell->setIcon(QPixmap());
            loadPicture(developer.fullName, developer.avatarURL, true);
        }
        return cell;
    }
    if (ip.row >= static_cast<int>(repositories_.size())) return cell;
    const auto& repository = repositories_[ip.row];
    cell->setDelegate(nullptr);
    cell->setDeveloperName("");
    cell->nameLbl()->setText(QString::fromStdString(repository.name));
    PackageRow::setTextColor(cell->nameLbl(), palette().primaryTextColor());
    cell->subinfoLbl()->setText(QString::fromStdString(repository.desc));
    cell->followBtn()->hide();
    auto icon = repositoryIcons_.find(repository.name);
    if (icon != repositoryIcons_.end()) cell->setIcon(icon->second);
    else {
        cell->setIcon(QPixmap());
        loadPicture(repository.name, repository.icon, false);
    }
    return cell;
}

void SearchViewController::willDisplayCell(UITableView* table, UITableViewCell* cell, IndexPath) {
    if (table != packagesCard_.table) return;
    if (auto* row = qobject_cast<PackageCell*>(cell); row && !row->packageIdentifier().empty()) row->updatePackageIcon();
}

void SearchViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, false);
    const int row = ip.row;
    if (table == historyCard_.table || table == trendingCard_.table) {
        const auto& texts = table == historyCard_.table ? history_ : trending_;
        if (row < 0 || row >= static_cast<int>(texts.size())) return;
        const std::string text = texts[row];
        showResults(true);
        setSearch(text);
        recordSearch(text, false);
        return;
    }
    if (table == packagesCard_.table) {
        if (!packages_ || row < 0 || row >= static_cast<int>(packages_->identifiers.size())) return;
        auto package = PackageRows::lookUp(packages_->identifiers[row]);
        if (package) push(PackageOpening::viewControllerForPackage(*package));
        return;
    }
    if (table == developersCard_.table) {
        if (row < 0 || row >= static_cast<int>(developers_.size())) return;
        const auto developer = developers_[row];
        auto avatar = avatars_.find(developer.fullName);
        push(OnlineScreens::developerPage(developer, avatar != avatars_.end() ? avatar->second : QPixmap()));
        return;
    }
    if (table == repositoriesCard_.table) {
        if (row < 0 || row >= static_cast<int>(repositories_.size())) return;
        const auto repository = repositories_[row];
        auto icon = repositoryIcons_.find(repository.name);
        push(OnlineScreens::repositoryPage(repository, icon != repositoryIcons_.end() ? icon->second : QPixmap()));
    }
}

std::vector<UIContextualAction> SearchViewController::trailingSwipeActions(UITableView* table, IndexPath ip) {
    if (table != packagesCard_.table || !packages_ || ip.row >= static_cast<int>(packages_->identifiers.size())) return {};
    auto package = PackageRows::lookUp(packages_->identifiers[ip.row]);
    if (!package) return {};
    return PackageRows::queueActions(table, ip, *package);
}

void SearchViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    if (!historyCard_.card) return;
    QPalette bar = searchBar_->palette();
    bar.setColor(QPalette::Text, palette.primaryTextColor());
    searchBar_->setPalette(bar);
    for (const BrowsingCard* card : {&historyCard_, &trendingCard_, &packagesCard_, &developersCard_, &repositoriesCard_})
        card->applyPalette(palette);
    searchQueryControl_->setTintColor(palette.tintColor(), Qt::white);
}
