#include "Browsing/PackagesWishlistViewController.h"

#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Browsing/PackageOpening.h"
#include "Browsing/PackageRows.h"
#include "Database/ZMRPackage.h"
#include "Miscellaneous/ZMLog.h"
#include "PackageCell.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"

using BrowsingText::q;

PackagesWishlistViewController::PackagesWishlistViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

PackagesWishlistViewController::~PackagesWishlistViewController() {
    if (table_) {
        table_->setDataSource(nullptr);
        table_->setDelegate(nullptr);
    }
}

void PackagesWishlistViewController::viewDidLoad() {
    setTitle(q("Wishlist"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    table_ = new UITableView(UITableView::Style::Plain);
    table_->setObjectName("wishlistTableView");
    layout->addWidget(table_);
    table_->setDataSource(this);
    table_->setDelegate(this);
    table_->setRowHeight(kRowHeight);
    table_->registerCell("cell", [] { return new PackageCell("cell"); });
    UISwipeGesture::addRightSwipe(this, [this] { backSwipe(); });
}

void PackagesWishlistViewController::viewWillAppear(bool) {
    table_->setBackgroundColor(Qt::transparent);
    identifiers_.clear();
    try {
        for (const auto& v : ZMRPackage::objectsWhere("isInWishlist = %@", true).valueForKey("identifier"))
            if (v.is_string()) identifiers_.push_back(v.get<std::string>());
    } catch (const std::exception& e) {
        ZMLOG("reading the wishlist failed: {}", e.what());
    }
    table_->reloadData();
    if (identifiers_.empty()) showEmptyAlert();
}

void PackagesWishlistViewController::showEmptyAlert() {
    auto* alert = UIAlertController::alertControllerWithTitle(
        q("Packages Wishlist"), q("There are no packages in your wishlist."), UIAlertController::Style::Alert);
    QPointer<PackagesWishlistViewController> self(this);
    alert->addAction(q("Close"), UIAlertController::ActionStyle::Default, [self] {
        if (self && self->navigationController()) self->navigationController()->popToRootViewController(true);
    });
    UIViewController* from = navigationController() ? static_cast<UIViewController*>(navigationController()) : this;
    from->presentViewController(alert, true);
}

void PackagesWishlistViewController::backSwipe() {
    if (auto* nav = navigationController(); nav && nav->topViewController() == this && nav->viewControllers().size() > 1)
        nav->popViewController(true);
}

UITableViewCell* PackagesWishlistViewController::cellForRow(UITableView* table, IndexPath ip) {
    std::optional<std::string> identifier;
    if (ip.row >= 0 && ip.row < static_cast<int>(identifiers_.size())) identifier = identifiers_[ip.row];
    return PackageRows::dequeueCell(table, ip, identifier);
}

void PackagesWishlistViewController::didSelectRow(UITableView* table, IndexPath ip) {
    std::optional<std::string> identifier;
    if (ip.row >= 0 && ip.row < static_cast<int>(identifiers_.size())) identifier = identifiers_[ip.row];
    table->deselectRow(ip, true);
    auto package = PackageRows::lookUp(identifier);
    if (!package) return;
    // Always the details screen here, whatever the source's depiction switch says.
    UIViewController* details = PackageOpening::detailsViewControllerForPackage(*package);
    lastPushed_ = details;
    PackageOpening::show(this, details);
}

void PackagesWishlistViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    if (table_) table_->setSeparatorColor(palette.separatorColor());
}
