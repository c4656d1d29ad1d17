#include "Online/Screens/CreditsViewController.h"

#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Browsing/OnlineScreens.h"
#include "Browsing/PackageOpening.h"
#include "Dispatch/Dispatch.h"
#include "Online/Screens/OnlineImages.h"
#include "PackageCell.h"
#include "SearchCell.h"
#include "Services/ZMSearchDeveloper.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"

using BrowsingText::q;

CreditsViewController::CreditsViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("CreditsViewController");
    avatars_.setLoadedHandler([this](const std::string&) { table_->reloadData(); });
}

CreditsViewController::~CreditsViewController() {
    if (table_) {
        table_->setDataSource(nullptr);
        table_->setDelegate(nullptr);
    }
}

void CreditsViewController::viewDidLoad() {
    setTitle(q("Credits"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    table_ = new UITableView(UITableView::Style::Plain);
    table_->setObjectName("creditsTableView");
    table_->setRowHeight(SearchCell::kRowHeight);
    table_->registerCell("cell", [] { return new SearchCell("cell"); });
    table_->setDataSource(this);
    table_->setDelegate(this);
    layout->addWidget(table_);
    UISwipeGesture::addBackSwipe(this);
    QPointer<CreditsViewController> self(this);
    ZMCredits::fetchCredits([self](std::optional<std::vector<ZMCreditEntry>> entries) {
        // The list is the main thread's: the entries are handed over there.
        Dispatch::main([self, entries = std::move(entries)] {
            if (!self) return;
            self->loaded_ = true;
            if (!entries) return;  // logged by the client; the list stays empty
            self->credits_ = *entries;
            self->table_->reloadData();
        });
    });
}

void CreditsViewController::viewWillAppear(bool) { table_->setBackgroundColor(Qt::transparent); }

double CreditsViewController::heightForRow(UITableView*, IndexPath) { return SearchCell::kRowHeight; }

UITableViewCell* CreditsViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = table->dequeueReusableCell<SearchCell>("cell");
    if (ip.row < 0 || ip.row >= static_cast<int>(credits_.size())) return cell;
    const auto& entry = credits_[ip.row];
    auto avatar = avatars_.iconFor(entry.name, entry.avatarURL);
    cell->showEntry(table, ip, avatar ? *avatar : QPixmap::fromImage(OnlineImages::named("iTunesArtwork.png")), entry.name,
                    entry.description, palette().primaryTextColor());
    return cell;
}

void CreditsViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, false);
    if (ip.row < 0 || ip.row >= static_cast<int>(credits_.size())) return;
    const ZMCreditEntry entry = credits_[ip.row];
    const uint64_t lookup = ++lookup_;
    QPointer<CreditsViewController> self(this);
    // The name goes as it is: the client writes its blanks as "+".
    ZMSearchDeveloper::instance().searchDeveloper(
        entry.username, [self, lookup, entry](std::optional<std::string> status, std::vector<ZMDeveloperProfile> profiles) {
            Dispatch::main([self, lookup, entry, status, profiles = std::move(profiles)] {
                if (!self) return;
                ++self->lookupsAnswered_;
                // A tap made since supersedes this one; a failed or empty lookup opens nothing.
                if (lookup != self->lookup_ || !status || profiles.empty()) return;
                const ZMDeveloperProfile& profile = profiles.front();
                SearchServices::Developer developer{profile.fullName, profile.avatarURL, profile.twitter, profile};
                auto avatar = self->avatars_.iconFor(entry.name, entry.avatarURL);
                UIViewController* page = OnlineScreens::developerPage(developer, avatar ? *avatar : QPixmap());
                self->lastPushed_ = page;
                PackageOpening::show(self, page);
            });
        });
}


void CreditsViewController::paletteDidChange(const ZMPalette& p) {
    QPalette pal = QWidget::palette();
    pal.setColor(QPalette::Window, p.backgroundColor());
    setPalette(pal);
    setAutoFillBackground(true);
    if (table_) table_->reloadData();
}
