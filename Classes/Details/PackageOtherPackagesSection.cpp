#include "Details/PackageOtherPackagesSection.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Browsing/PackageRows.h"
#include "Details/DetailsSectionWidgets.h"
#include "GetPackageCell.h"
#include "PackageCell.h"
#include "ZMPalette.h"

using namespace DetailsSectionWidgets;
using BrowsingText::q;

PackageOtherPackagesSection::PackageOtherPackagesSection(QWidget* parent)
    : QWidget(parent),
      moreDevPackagesTitle_(titleLabel("moreDevPackagesTitle", QString())),
      seeAllDevPackagesBtn_(linkButton("seeAllDevPackagesBtn", q("See All"))),
      otherDevPackagesTableView_(new UITableView(UITableView::Style::Plain)),
      otherDevPackagesLbl_(plainLabel("otherDevPackagesLbl", true)),
      separatorRow_(new QWidget),
      copyrightLbl_(plainLabel("copyrightLbl", true)) {
    setObjectName("otherPackagesSection");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 0);
    column->setSpacing(8);
    auto* top = new QHBoxLayout;
    moreDevPackagesTitle_->setWordWrap(true);
    top->addWidget(moreDevPackagesTitle_, 1);
    top->addWidget(seeAllDevPackagesBtn_);
    column->addLayout(top);
    otherDevPackagesLbl_->setText(q("There are no other packages by this developer."));
    column->addWidget(otherDevPackagesLbl_);
    otherDevPackagesTableView_->setObjectName("otherDevPackagesTableView");
    otherDevPackagesTableView_->setRowHeight(kRowHeight);
    otherDevPackagesTableView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    otherDevPackagesTableView_->registerCell("getPackageCell", [] { return new GetPackageCell("getPackageCell"); });
    otherDevPackagesTableView_->setDataSource(this);
    otherDevPackagesTableView_->setDelegate(this);
    otherDevPackagesTableView_->setBackgroundColor(Qt::transparent);
    otherDevPackagesTableView_->setSeparatorColor(Qt::transparent);
    column->addWidget(otherDevPackagesTableView_);
    auto* line = new QVBoxLayout(separatorRow_);
    line->setContentsMargins(0, 20, 0, 0);
    line->addWidget(separator("devPackagesSeparator"));
    column->addWidget(separatorRow_);
    copyrightLbl_->setAlignment(Qt::AlignHCenter);
    column->addSpacing(20);
    column->addWidget(copyrightLbl_);
    connect(seeAllDevPackagesBtn_, &QPushButton::clicked, this, &PackageOtherPackagesSection::seeAllTapped);
    layoutForPackages();
}

PackageOtherPackagesSection::~PackageOtherPackagesSection() {
    otherDevPackagesTableView_->setDataSource(nullptr);
    otherDevPackagesTableView_->setDelegate(nullptr);
}

int PackageOtherPackagesSection::separatorTopGap() const { return topGap(separatorRow_); }

void PackageOtherPackagesSection::setPackages(const std::vector<std::string>& identifiers) {
    identifiers_ = identifiers;
    otherDevPackagesTableView_->reloadData();
}

void PackageOtherPackagesSection::setSeeAllAvailable(bool available) {
    seeAllAvailable_ = available;
    layoutForPackages();
}

void PackageOtherPackagesSection::layoutForPackages() {
    const bool any = !identifiers_.empty();
    otherDevPackagesLbl_->setVisible(!any);
    seeAllDevPackagesBtn_->setVisible(any && seeAllAvailable_);
    otherDevPackagesTableView_->setVisible(any);
    otherDevPackagesTableView_->setFixedHeight(static_cast<int>(kRowHeight * numberOfRows(otherDevPackagesTableView_, 0)));
    setTopGap(separatorRow_, 20);
}

int PackageOtherPackagesSection::numberOfRows(UITableView*, int) {
    return std::min<int>(kMaximumRows, static_cast<int>(identifiers_.size()));
}

UITableViewCell* PackageOtherPackagesSection::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = table->dequeueReusableCell<GetPackageCell>("getPackageCell");
    cell->setBackgroundColor(Qt::transparent);
    std::optional<std::string> identifier;
    if (ip.row >= 0 && ip.row < static_cast<int>(identifiers_.size())) identifier = identifiers_[ip.row];
    auto package = PackageRows::fillGetCell(cell, identifier);
    if (package) {
        cell->updateButtonTitleWithPackage(*package, false);
        PackageRow::setTextColor(cell->nameLbl(), package->isFree() ? nameColor_ : paidColor_);
        cell->getBtn()->setStyleSheet(QStringLiteral("QPushButton { color: %1; background: %2; border: none; border-radius: 14px; "
                                                     "padding: 0 12px; font-weight: 700; }")
                                          .arg(buttonText_.name(), buttonFill_.name()));
    }
    cell->setSeparatorHidden(ip.row == numberOfRows(table, 0) - 1);
    return cell;
}

void PackageOtherPackagesSection::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    std::optional<std::string> identifier;
    if (ip.row >= 0 && ip.row < static_cast<int>(identifiers_.size())) identifier = identifiers_[ip.row];
    if (auto package = PackageRows::lookUp(identifier)) emit packageSelected(package->identifier);
}

void PackageOtherPackagesSection::applyPalette(const ZMPalette& palette, bool darkMode) {
    darkMode_ = darkMode;
    nameColor_ = palette.primaryTextColor();
    paidColor_ = palette.paidTextColor();
    buttonFill_ = darkMode ? palette.getButtonBackgoundColor() : palette.tintPillColor();
    buttonText_ = darkMode ? palette.getButtonTextColor() : QColor(Qt::white);
    seeAllDevPackagesBtn_->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; }").arg(palette.tintColor().name()));
    PackageRow::setTextColor(moreDevPackagesTitle_, palette.primaryTextColor());
    PackageRow::setTextColor(copyrightLbl_, palette.secondaryTextColor());
    colorSeparators(this, palette.separatorColor());
    otherDevPackagesTableView_->reloadData();
}
