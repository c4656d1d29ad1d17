#include "Browsing/AllDevPackagesViewController.h"

#include <QVBoxLayout>

#include "Browsing/PackageOpening.h"
#include "Browsing/PackageRows.h"
#include "Database/ZMRPackage.h"
#include "GetPackageCell.h"
#include "Miscellaneous/ZMLog.h"
#include "PackageCell.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"
#include "VostrellePersistentPreferences.h"

AllDevPackagesViewController::AllDevPackagesViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

AllDevPackagesViewController::~AllDevPackagesViewController() {
    if (table_) {
        table_->setDataSource(nullptr);
        table_->setDelegate(nullptr);
    }
}

std::vector<std::string> AllDevPackagesViewController::identifiersOfMaintainer(const std::string& maintainer,
                                                                              bool byName) {
    std::vector<std::string> out;
    try {
        const bool showIncompatible =
            VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::ShowIncompatiblePackages);
        // Exact and case-sensitive: the maintainer text as stored, never a
        // prefix ("Jane Doe" is not "Jane Doe <jane@example.org>").
        auto results = showIncompatible
                           ? ZMRPackage::objectsWhere("maintainer = %@", maintainer)
                           : ZMRPackage::objectsWhere("maintainer = %@ AND tweakCompatibleStatus != %i", maintainer, 1);
        if (byName) results = results.sortedResultsUsingKeyPath("name", true);
        for (const auto& v : results.valueForKey("identifier"))
            if (v.is_string()) out.push_back(v.get<std::string>());
    } catch (const std::exception& e) {
        ZMLOG("reading the packages of {} failed: {}", maintainer, e.what());
    }
    return out;
}

void AllDevPackagesViewController::viewDidLoad() {
    setTitle(QString::fromStdString(titleString_));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    table_ = new UITableView(UITableView::Style::Plain);
    table_->setObjectName("devPackagesTableView");
    layout->addWidget(table_);
    table_->setDataSource(this);
    table_->setDelegate(this);
    table_->setRowHeight(kRowHeight);
    table_->registerCell("getPackageCell", [] { return new GetPackageCell("getPackageCell"); });
    // Rows drawn while scrolling keep the icons they have; the resting rows load theirs.
    connect(table_, &UITableView::didEndDecelerating, this, [this] {
        for (auto* cell : table_->visibleCells())
            if (auto* row = qobject_cast<GetPackageCell*>(cell)) row->updatePackageIcon();
    });
    UISwipeGesture::addRightSwipe(this, [this] { backSwipe(); });
    identifiers_ = identifiersOfMaintainer(maintainer_);
}

void AllDevPackagesViewController::reloadPackages() {
    identifiers_ = identifiersOfMaintainer(maintainer_);
    if (table_) table_->reloadData();
}

void AllDevPackagesViewController::backSwipe() {
    if (auto* nav = navigationController(); nav && nav->topViewController() == this && nav->viewControllers().size() > 1)
        nav->popViewController(true);
}

UITableViewCell* AllDevPackagesViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = table->dequeueReusableCell<GetPackageCell>("getPackageCell");
    cell->setBackgroundColor(Qt::transparent);
    std::optional<std::string> identifier;
    if (ip.row >= 0 && ip.row < static_cast<int>(identifiers_.size())) identifier = identifiers_[ip.row];
    PackageRows::fillGetCell(cell, identifier);
    PackageRow::hideSeparatorIfLast(cell, table, ip);
    return cell;
}

void AllDevPackagesViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    std::optional<std::string> identifier;
    if (ip.row >= 0 && ip.row < static_cast<int>(identifiers_.size())) identifier = identifiers_[ip.row];
    auto package = PackageRows::lookUp(identifier);
    if (!package) return;
    UIViewController* details = PackageOpening::detailsViewControllerForPackage(*package);
    lastPushed_ = details;
    PackageOpening::show(this, details);
}

void AllDevPackagesViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    if (!table_) return;
    table_->setBackgroundColor(Qt::transparent);
    table_->setSeparatorColor(Qt::transparent);
    reloadPackages();
}
