#include "GetPackageCell.h"

#include <QPointer>

#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackageManager.h"
#include "PackageCell.h"
#include "UIKit/GetButton.h"
#include "ZMVostrelle.h"
#include "ui_GetPackageCell.h"
#include "ZMStoreGuard.h"

GetPackageCell::GetPackageCell(const QString& reuseIdentifier, QWidget* parent)
    : UITableViewCell(reuseIdentifier, parent), ui_(std::make_unique<Ui::GetPackageCell>()) {
    ui_->setupUi(contentView());
    setSeparatorInset(16 + 52 + 12);
    // The style sheet dresses every Get button by this name.
    ui_->getBtn->setObjectName("getButton");
    QFont bold = ui_->nameLbl->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.05);
    ui_->nameLbl->setFont(bold);
    QFont small = ui_->subinfoLbl->font();
    small.setPointSizeF(small.pointSizeF() * 0.88);
    ui_->subinfoLbl->setFont(small);
    ui_->subinfoLbl->setForegroundRole(QPalette::PlaceholderText);
    ui_->nameLbl->setTextFormat(Qt::PlainText);
    ui_->subinfoLbl->setTextFormat(Qt::PlainText);
    ui_->nameLbl->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ui_->subinfoLbl->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    connect(ui_->getBtn, &QPushButton::clicked, this, &GetPackageCell::getTapped);
}

GetPackageCell::~GetPackageCell() = default;

QLabel* GetPackageCell::iconView() const { return ui_->iconView; }
QLabel* GetPackageCell::nameLbl() const { return ui_->nameLbl; }
QLabel* GetPackageCell::subinfoLbl() const { return ui_->subinfoLbl; }
QPushButton* GetPackageCell::getBtn() const { return ui_->getBtn; }

void GetPackageCell::setPackageIdentifier(const std::string& identifier) {
    packageIdentifier_ = identifier;
    observer_.observe(
        identifier, [this] { return packageIdentifier_; }, [this] { redrawFromDatabase(); }, [this] { updatePackageIcon(); });
}

void GetPackageCell::redrawFromDatabase() {
    auto package = ZMStoreGuard::record<ZMRPackage>("reading a package", packageIdentifier_);
    if (package) updateWithPackage(*package);
}

void GetPackageCell::updateWithPackage(const ZMRPackage& package) {
    setPackageIdentifier(package.identifier);
    ui_->nameLbl->setText(QString::fromStdString(package.name.empty() ? package.identifier : package.name));
    PackageRow::setTextColor(ui_->nameLbl, PackageRow::nameColor(package));
    ui_->subinfoLbl->setText(QString::fromStdString(PackageRow::subinfoText(package)));
    updateButtonTitleWithPackage(package, showsPaidLabel_);
    updatePackageIcon();
}

void GetPackageCell::updateButtonTitleWithPackage(const ZMRPackage& package, bool showsPaidLabel) {
    showsPaidLabel_ = showsPaidLabel;
    auto title = ZMStoreGuard::value("drawing a Get button", [&] {
        return ZMRPackageManager::sharedPackageManager().packages().getButtonTitleForPackageIdentifier(
            package.identifier, showsPaidLabel, true, false, std::nullopt);
    });
    if (title) ui_->getBtn->setText(QString::fromStdString(*title));
}

void GetPackageCell::updatePackageIcon() {
    ui_->iconView->setPixmap(PackageRow::iconForPackage(packageIdentifier_, ui_->iconView->maximumHeight()));
}

void GetPackageCell::getTapped() {
    if (packageIdentifier_.empty()) return;
    GetButton::animateButton(ui_->getBtn);
    ZMVostrelle::sharedVostrelle().queuePackageWithIdentifier(packageIdentifier_, std::nullopt, ui_->getBtn);
}
