#include "Browsing/ChangesViewController.h"

#include <QLabel>

#include "Browsing/BrowsingText.h"
#include "Browsing/PackageOpening.h"
#include "Browsing/PackageRows.h"
#include "Browsing/PackageSearch.h"
#include "Browsing/PackagesTableViewController.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackageManager.h"
#include "Dispatch/Dispatch.h"
#include "GetPackageCell.h"
#include "Miscellaneous/ZMLog.h"
#include "UIKit/UINavigationController.h"
#include "ZMStoreGuard.h"
#include "ZMVostrelle.h"

using BrowsingText::q;

namespace {

std::string fillCount(const std::string& key, size_t count) {
    std::string text = ZMLocalizedString(key);
    if (auto at = text.find("%lu"); at != std::string::npos) text.replace(at, 3, std::to_string(count));
    return text;
}

// The rows without a package: "Older Changes" and "Show All Changes".
UITableViewCell* textRow(UITableView* table, const QString& identifier, const QString& text, const QFont& font,
                         const QColor& color, Qt::Alignment alignment) {
    auto* cell = table->dequeueReusableCell(identifier);
    cell->setBackgroundColor(Qt::transparent);
    cell->setSelectionStyle(UITableViewCell::SelectionStyle::None);
    QLabel* label = cell->textLabel();
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font);
    label->setAlignment(alignment | Qt::AlignVCenter);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(color.name(QColor::HexArgb)));
    return cell;
}

}  // namespace

ChangesViewController::ChangesViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

ChangesViewController::~ChangesViewController() {
    observers_.clear();
    packagesNotification_.invalidate();
    for (auto* table : {updatesCard_.table, newCard_.table}) {
        if (!table) continue;
        table->setDataSource(nullptr);
        table->setDelegate(nullptr);
    }
}

void ChangesViewController::viewDidLoad() {
    setTitle(q("Changes"));
    auto* column = BrowsingCard::makeColumn(this, scrollView_, "scrollView");
    updatesCard_ = BrowsingCard::make(column, q("Available Updates"), "updatedPackages");
    updateAllBtn_ = new QPushButton(q("Update All"));
    updateAllBtn_->setObjectName("updateAllBtn");
    updateAllBtn_->setFlat(true);
    updateAllBtn_->setCursor(Qt::PointingHandCursor);
    updatesCard_.head->addWidget(updateAllBtn_);
    connect(updateAllBtn_, &QPushButton::clicked, this, [this] { updateAllPackages(); });
    newCard_ = BrowsingCard::make(column, q("New Packages"), "NewPackages");
    seeAllBtn_ = new QPushButton(q("See All"));
    seeAllBtn_->setObjectName("seeAllNewPackagesBtn");
    seeAllBtn_->setFlat(true);
    seeAllBtn_->setCursor(Qt::PointingHandCursor);
    newCard_.head->addWidget(seeAllBtn_);
    connect(seeAllBtn_, &QPushButton::clicked, this, [this] { showPackagesTableView(); });
    column->addStretch(1);

    for (auto* table : {updatesCard_.table, newCard_.table}) {
        table->registerCell(GetPackageCell::kReuseIdentifier, [] { return new GetPackageCell; });
        table->setDataSource(this);
        table->setDelegate(this);
    }
    newCard_.table->registerCell("headerCell", [] { return new UITableViewCell("headerCell"); });
    newCard_.table->registerCell("buttonCell", [] { return new UITableViewCell("buttonCell"); });
    observers_.add(NotificationCenter::defaultCenter().addObserver(
        ZMRPackageInfoIconChangedNotification, NotificationCenter::Queue::Main,
        [this](const Notification& n) { iconChanged(n); }));
    registerForRealmUpdates();
}

void ChangesViewController::viewWillAppear(bool) {
    for (auto* table : {updatesCard_.table, newCard_.table}) table->setBackgroundColor(Qt::transparent);
    updatesCard_.table->reloadData();
    newCard_.table->reloadData();
    animateContentForTable(3);
    // Both counts again, from one reading.
    requestReading();
}

void ChangesViewController::resizeEvent(QResizeEvent* e) {
    ZMPalettedViewController::resizeEvent(e);
    updateShadows();
}

void ChangesViewController::registerForRealmUpdates() {
    showIncompatible_ = PackageSearch::showsIncompatible();
    std::weak_ptr<void> owner = alive_;
    try {
        packages_ = ZMRPackage::allObjects();
        packagesNotification_ =
            packages_->addNotificationBlock(owner, [this](const Results<ZMRPackage>&) { packagesChanged(); });
    } catch (const std::exception& e) {
        ZMLOG("the Changes tab has no database: {}", e.what());
    }
    requestReading();
}

void ChangesViewController::packagesChanged() {
    // Hidden, the tab reads both lists when it next appears.
    if (isOnScreen()) requestReading();
}

void ChangesViewController::requestReading() {
    if (reading_) {
        readAgain_ = true;
        return;
    }
    reading_ = true;
    readAgain_ = false;
    ++startedReadings_;
    const bool incompatible = showIncompatible_;
    std::weak_ptr<void> owner = alive_;
    // Sorting every package by date is too slow for the main thread.
    Dispatch::defaultQueue([this, owner, incompatible] {
        std::shared_ptr<ChangesModel::Reading> reading;
        try {
            reading = std::make_shared<ChangesModel::Reading>(ChangesModel::read(incompatible));
        } catch (const std::exception& e) {
            ZMLOG("reading the changes failed: {}", e.what());
        }
        Dispatch::main([this, owner, reading] {
            if (!owner.lock()) return;
            reading_ = false;
            if (reading) {
                model_.apply(std::move(*reading));
                ++appliedReadings_;
                if (newCard_.table) {
                    newCard_.table->reloadData();
                    updatesCard_.table->reloadData();
                    animateContentForTable(3);
                }
            }
            if (readAgain_) requestReading();
        });
    });
}

void ChangesViewController::animateContentForTable(int which) {
    if (!newCard_.table) return;
    const auto& r = model_.reading();
    if (which & 1) {
        newCard_.title->setText(
            QString::fromStdString(fillCount(r.newCount == 1 ? "%lu New Package" : "%lu New Packages", r.newCount)));
        newCard_.table->setFixedHeight(heightForNewPackagesTableView());
    }
    if (which & 2) {
        const size_t updates = r.updates.size();
        updatesCard_.title->setText(
            QString::fromStdString(fillCount(updates == 1 ? "%lu Available Update" : "%lu Available Updates", updates)));
        updatesCard_.table->setFixedHeight(model_.heightForUpdatesTableView());
    }
    updateConstraints();
    updateShadows();
}

void ChangesViewController::updateConstraints() {
    // Hidden, the updates card takes no room: the new-packages card moves up to the column's top.
    updatesCard_.card->setVisible(!model_.reading().updates.empty());
}

int ChangesViewController::newPackagesCardTopConstraint() const {
    if (!newCard_.card) return 0;
    if (auto* page = newCard_.card->parentWidget(); page && page->layout()) page->layout()->activate();
    return newCard_.card->y();
}

void ChangesViewController::updateShadows() {
    auto apply = [this] {
        for (const BrowsingCard* card : {&updatesCard_, &newCard_})
            if (card->card) card->card->setShadowColor(palette().shadowColor());
    };
    if (Dispatch::isMainThread()) {
        apply();
        return;
    }
    std::weak_ptr<void> owner = alive_;
    Dispatch::main([owner, apply] {
        if (owner.lock()) apply();
    });
}

void ChangesViewController::updateAllPackages() {
    // Nothing is queued when the write fails: the queue screen would show an empty queue.
    if (!ZMStoreGuard::run("queueing the updates", [] {
            ZMRPackageManager::sharedPackageManager().packages().setPackagesWhere("isUpdated = 1 AND isHeld = 0", true,
                                                                                  std::nullopt, 0);
        }))
        return;
    // Rows of these packages elsewhere show their queued state.
    for (const auto& id : model_.reading().updates)
        NotificationCenter::defaultCenter().post(PackageRow::queueStateNotificationName(id));
    ZMVostrelle::sharedVostrelle().presentQueue();
}

void ChangesViewController::push(UIViewController* vc) {
    lastPushed_ = vc;
    PackageOpening::show(this, vc);
}

void ChangesViewController::showPackagesTableView() {
    auto* list = new PackagesTableViewController;
    list->setCategory(kCategorySpecial_NewPackages);
    list->setTitle(q(kCategorySpecial_NewPackages));
    push(list);
}

void ChangesViewController::iconChanged(const Notification& note) {
    const std::string identifier = note.objectString();
    for (auto* table : {updatesCard_.table, newCard_.table}) {
        if (!table) continue;
        for (auto* cell : table->visibleCells()) {
            auto* row = qobject_cast<GetPackageCell*>(cell);
            if (row && row->packageIdentifier() == identifier) {
                row->updatePackageIcon();
                return;
            }
        }
    }
}

// ---- tables ------------------------------------------------------------------------------------

std::optional<std::string> ChangesViewController::identifierAt(UITableView* table, IndexPath ip) const {
    if (table == newCard_.table) return model_.identifierAt(ip.section, ip.row);
    const auto& updates = model_.reading().updates;
    if (ip.section != 0 || ip.row < 0 || ip.row >= static_cast<int>(updates.size())) return std::nullopt;
    return updates[ip.row];
}

int ChangesViewController::numberOfSections(UITableView* table) {
    return table == newCard_.table ? model_.numberOfSections() : 1;
}

int ChangesViewController::numberOfRows(UITableView* table, int section) {
    if (table == newCard_.table) return model_.numberOfRows(section);
    return static_cast<int>(model_.reading().updates.size());
}

double ChangesViewController::heightForRow(UITableView* table, IndexPath ip) {
    if (table == newCard_.table) return model_.rowHeight(ip.section, ip.row);
    return ChangesModel::kPackageRowHeight;
}

UITableViewCell* ChangesViewController::cellForRow(UITableView* table, IndexPath ip) {
    if (table == newCard_.table) {
        switch (model_.rowKind(ip.section, ip.row)) {
            case ChangesModel::Row::Header: {
                QFont font = this->font();
                font.setPixelSize(22);
                font.setWeight(QFont::DemiBold);
                auto* cell = textRow(table, "headerCell", q("Older Changes"), font, palette().primaryTextColor(),
                                     Qt::AlignLeft);
                cell->setSeparatorHidden(true);
                return cell;
            }
            case ChangesModel::Row::Button: {
                QFont font = this->font();
                font.setPixelSize(17);
                font.setWeight(QFont::Normal);
                auto* cell = textRow(table, "buttonCell", q("Show All Changes"), font, palette().tintColor(),
                                     Qt::AlignHCenter);
                cell->setSeparatorHidden(true);
                return cell;
            }
            default: break;
        }
    }
    auto* cell = table->dequeueReusableCell<GetPackageCell>(GetPackageCell::kReuseIdentifier);
    cell->setBackgroundColor(Qt::transparent);
    PackageRows::fillGetCell(cell, identifierAt(table, ip));
    cell->setSeparatorHidden(ip.section == 0 && ip.row + 1 == numberOfRows(table, 0));
    return cell;
}

void ChangesViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    if (table == newCard_.table) {
        const auto kind = model_.rowKind(ip.section, ip.row);
        if (kind == ChangesModel::Row::Button) {
            showPackagesTableView();
            return;
        }
        if (kind != ChangesModel::Row::Package) return;
    }
    // A record gone since the last reading opens nothing.
    auto package = PackageRows::lookUp(identifierAt(table, ip));
    if (!package) return;
    push(PackageOpening::viewControllerForPackage(*package));
}

void ChangesViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    if (!newCard_.card) return;
    for (const BrowsingCard* card : {&updatesCard_, &newCard_}) card->applyPalette(palette);
    updatesCard_.table->reloadData();
    newCard_.table->reloadData();
}
