#include "Online/Screens/FollowedDevelopersViewController.h"

#include <QIcon>
#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Browsing/SourceAddition.h"
#include "Database/ZMRPackageManager.h"
#include "Details/DeveloperDetailsViewController.h"
#include "Dispatch/Dispatch.h"
#include "PackageCell.h"
#include "RemoteImage.h"
#include "Services/ZMSearchDeveloper.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"
#include "VostrellePersistentPreferences.h"
#include "ZMURLRouter.h"
#include "ZMStoreGuard.h"

FollowedDevelopersViewController::FollowedDevelopersViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

FollowedDevelopersViewController::~FollowedDevelopersViewController() {
    if (table_) {
        table_->setDataSource(nullptr);
        table_->setDelegate(nullptr);
    }
}

void FollowedDevelopersViewController::viewDidLoad() {
    setTitle(BrowsingText::q("Followed Developers"));
    QPointer<FollowedDevelopersViewController> self(this);
    navigationItem()->setRightBarButtonItem(new UIBarButtonItem(
        QIcon(QStringLiteral(":/Images/Tabs/Search.svg")), [self](UIBarButtonItem*) { if (self) self->showSearchVC(); },
        navigationItem()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    table_ = new UITableView(UITableView::Style::Plain);
    table_->setObjectName("followedDevelopersTableView");
    layout->addWidget(table_);
    table_->setDataSource(this);
    table_->setDelegate(this);
    table_->setRowHeight(SearchCell::kRowHeight);
    table_->registerCell("cell", [] { return new SearchCell("cell"); });
    UISwipeGesture::addRightSwipe(this, [this] { backSwipe(); });
}

void FollowedDevelopersViewController::viewWillAppear(bool) {
    VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::NewPackagesByFollowedDevelopers,
                                                             false);
    table_->setBackgroundColor(Qt::transparent);
    setContent();
}

void FollowedDevelopersViewController::setContent() {
    const int generation = ++generation_;
    rows_.clear();
    table_->reloadData();
    const auto names = ZMStoreGuard::value("listing the followed developers", [] {
                           return ZMRPackageManager::sharedPackageManager().developers().arrayOfFollowedDevelopers();
                       }).value_or(std::vector<std::string>{});
    if (names.empty()) {
        if (auto* nav = navigationController(); nav && nav->viewControllers().size() > 1) nav->popToRootViewController(true);
        return;
    }
    QPointer<FollowedDevelopersViewController> self(this);
    for (const std::string& name : names) {
        ZMSearchDeveloper::instance().searchDeveloper(
            name, [self, generation, name](std::optional<std::string> status, std::vector<ZMDeveloperProfile> profiles) {
                Dispatch::main([self, generation, name, found = status && !profiles.empty(),
                                profile = profiles.empty() ? ZMDeveloperProfile{} : profiles.front()] {
                    // A reply for an earlier rebuild would add its row twice.
                    if (!self || generation != self->generation_) return;
                    if (found) {
                        self->addRow(profile, true);
                        return;
                    }
                    // Unknown, not looked up or not answered: the name alone, still unfollowable.
                    ZMDeveloperProfile nameOnly;
                    nameOnly.fullName = name;
                    self->addRow(nameOnly, false);
                });
            });
    }
}

void FollowedDevelopersViewController::addRow(const ZMDeveloperProfile& profile, bool looked) {
    rows_.push_back(profile);
    if (!looked || avatars_.count(profile.fullName)) {
        avatars_.try_emplace(profile.fullName, QPixmap::fromImage(RemoteImage::placeholder()));
        table_->reloadData();
        return;
    }
    table_->reloadData();
    QPointer<FollowedDevelopersViewController> self(this);
    const std::string name = profile.fullName;
    RemoteImage::load(profile.avatarURL, [self, name](const QImage& image, bool) {
        if (!self) return;
        self->avatars_[name] = QPixmap::fromImage(image);
        self->table_->reloadData();
    });
}

UITableViewCell* FollowedDevelopersViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = table->dequeueReusableCell<SearchCell>("cell");
    cell->setDelegate(this);
    cell->setBackgroundColor(Qt::transparent);
    cell->setAccessoryType(UITableViewCell::Accessory::DisclosureIndicator);
    if (ip.row < 0 || ip.row >= static_cast<int>(rows_.size())) return cell;
    const ZMDeveloperProfile& profile = rows_[ip.row];
    cell->setDeveloperName(profile.fullName);
    cell->nameLbl()->setText(QString::fromStdString(profile.fullName));
    PackageRow::setTextColor(cell->nameLbl(), palette().primaryTextColor());
    auto avatar = avatars_.find(profile.fullName);
    cell->setIcon(avatar != avatars_.end() ? avatar->second : QPixmap());
    const std::string handle = profile.twitterHandle();
    cell->subinfoLbl()->setText(handle.empty() ? QString() : QStringLiteral("@%1").arg(QString::fromStdString(handle)));
    cell->setFollowButtonFollowed(true);
    PackageRow::hideSeparatorIfLast(cell, table, ip);
    return cell;
}

void FollowedDevelopersViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, false);
    if (ip.row < 0 || ip.row >= static_cast<int>(rows_.size())) return;
    const ZMDeveloperProfile row = rows_[ip.row];
    const int tap = ++tap_;
    QPointer<FollowedDevelopersViewController> self(this);
    ZMSearchDeveloper::instance().searchDeveloper(
        row.fullName, [self, tap, row](std::optional<std::string> status, std::vector<ZMDeveloperProfile> profiles) {
            Dispatch::main([self, tap, row, found = status && !profiles.empty()] {
                // Only the latest tap opens something.
                if (!self || tap != self->tap_) return;
                if (!found) {
                    ZMURLRouter::showSearchTabForDeveloper(row.fullName);
                    return;
                }
                auto* page = new DeveloperDetailsViewController;
                page->setDeveloperProfile(row);
                if (auto avatar = self->avatars_.find(row.fullName); avatar != self->avatars_.end())
                    page->setImg(avatar->second.toImage());
                self->lastPushed_ = page;
                if (auto* nav = self->navigationController()) nav->pushViewController(page, true);
                else SourceAddition::topPresenter(self)->presentViewController(new UINavigationController(page), true);
            });
        });
}

void FollowedDevelopersViewController::followStateChanged() { setContent(); }

void FollowedDevelopersViewController::showSearchVC() {
    if (auto hooks = ZMURLRouter::hooks(); hooks.showSearchTab) hooks.showSearchTab();
}

void FollowedDevelopersViewController::backSwipe() {
    if (auto* nav = navigationController(); nav && nav->topViewController() == this && nav->viewControllers().size() > 1)
        nav->popViewController(true);
}

void FollowedDevelopersViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
}
