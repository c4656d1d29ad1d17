#include "Online/Screens/OnlineRepositoriesViewController.h"

#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Browsing/PackageOpening.h"
#include "Dispatch/Dispatch.h"
#include "Online/Screens/SearchedRepoViewController.h"
#include "OnlineServiceNotice.h"
#include "PackageCell.h"
#include "SearchCell.h"
#include "Services/ZMSearchRepositories.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"
#include "UIKit/UITabBarController.h"
#include "ZMVostrelle.h"

using BrowsingText::q;

OnlineRepositoriesViewController::OnlineRepositoriesViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("OnlineRepositoriesViewController");
    icons_.setLoadedHandler([this](const std::string& name) {
        // Every row of that name shows the icon now.
        for (int row = 0; row < static_cast<int>(repositories_.size()); ++row)
            if (repositories_[row].name == name) table_->reloadRows({{0, row}});
    });
}

OnlineRepositoriesViewController::~OnlineRepositoriesViewController() {
    if (table_) {
        table_->setDataSource(nullptr);
        table_->setDelegate(nullptr);
    }
}

void OnlineRepositoriesViewController::viewDidLoad() {
    if (title().isEmpty()) setTitle(q("Browse Repositories"));
    QPointer<OnlineRepositoriesViewController> self(this);
    auto* search = new UIBarButtonItem(QIcon(QStringLiteral(":/Images/Tabs/Search.svg")), [self](UIBarButtonItem*) {
        if (self) self->showSearchTab();
    }, this);
    navigationItem()->setRightBarButtonItem(search);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    table_ = new UITableView(UITableView::Style::Plain);
    table_->setObjectName("repositoriesTableView");
    table_->setRowHeight(SearchCell::kRowHeight);
    table_->registerCell("cell", [] { return new SearchCell("cell"); });
    table_->setDataSource(this);
    table_->setDelegate(this);
    onlineServiceNotice_ = OnlineServiceNotice::make();
    layout->addWidget(onlineServiceNotice_);
    layout->addWidget(table_);
    UISwipeGesture::addBackSwipe(this);
    // Without the service the directory says so and asks nothing.
    if (OnlineServiceNotice::update(onlineServiceNotice_)) {
        listed_ = true;
        return;
    }
    ZMSearchRepositories::instance().listOnlineRepositories([self](std::optional<std::string>, std::vector<ZMSearchedRepo>) {
        Dispatch::main([self] {
            if (!self) return;
            // Whatever the outcome: what the client holds now.
            self->repositories_ = ZMSearchRepositories::instance().repositories();
            self->listed_ = true;
            self->table_->reloadData();
        });
    });
}

void OnlineRepositoriesViewController::viewWillAppear(bool) { table_->setBackgroundColor(Qt::transparent); }

double OnlineRepositoriesViewController::heightForRow(UITableView*, IndexPath) { return SearchCell::kRowHeight; }

UITableViewCell* OnlineRepositoriesViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = table->dequeueReusableCell<SearchCell>("cell");
    if (ip.row < 0 || ip.row >= static_cast<int>(repositories_.size())) return cell;
    const auto& repo = repositories_[ip.row];
    // While the icon loads the row keeps the picture it has.
    cell->showEntry(table, ip, icons_.iconFor(repo.name, repo.icon).value_or(QPixmap()), repo.name, repo.desc,
                    palette().primaryTextColor());
    cell->subinfoLbl()->setWordWrap(true);
    return cell;
}

void OnlineRepositoriesViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, false);
    if (ip.row < 0 || ip.row >= static_cast<int>(repositories_.size())) return;
    const auto& repo = repositories_[ip.row];
    auto* page = new SearchedRepoViewController;
    page->setSearchedRepo(repo);
    if (auto icon = icons_.iconFor(repo.name, repo.icon)) page->setRepoIcon(icon->toImage());
    lastPushed_ = page;
    PackageOpening::show(this, page);
}

void OnlineRepositoriesViewController::showSearchTab() {
    UITabBarController* tabs = tabBarController();
    if (!tabs) tabs = ZMVostrelle::sharedVostrelle().tabBarController();
    if (tabs) tabs->setSelectedIndex(ZMVostrelle::SearchTab);
}


void OnlineRepositoriesViewController::paletteDidChange(const ZMPalette& p) {
    QPalette pal = QWidget::palette();
    pal.setColor(QPalette::Window, p.backgroundColor());
    setPalette(pal);
    setAutoFillBackground(true);
    if (table_) {
        table_->setSeparatorColor(p.separatorColor());
        table_->reloadData();
    }
}
