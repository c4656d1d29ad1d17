#include "Browsing/PackagePlaceholderViewController.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "PackageCell.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"
#include "ZMVostrelle.h"

PackagePlaceholderViewController::PackagePlaceholderViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

void PackagePlaceholderViewController::viewDidLoad() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(10);
    auto* header = new QHBoxLayout;
    header->setSpacing(16);
    icon_ = new QLabel;
    icon_->setFixedSize(84, 84);
    header->addWidget(icon_, 0, Qt::AlignTop);
    auto* titles = new QVBoxLayout;
    name_ = new QLabel;
    name_->setObjectName("nameLbl");
    name_->setTextFormat(Qt::PlainText);
    name_->setWordWrap(true);
    QFont big = name_->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    name_->setFont(big);
    details_ = new QLabel;
    details_->setTextFormat(Qt::PlainText);
    details_->setWordWrap(true);
    get_ = new QPushButton;
    get_->setObjectName("getBtn");
    get_->setMinimumHeight(30);
    get_->setMaximumWidth(140);
    titles->addWidget(name_);
    titles->addWidget(details_);
    titles->addWidget(get_);
    header->addLayout(titles, 1);
    column->addLayout(header);
    description_ = new QLabel;
    description_->setTextFormat(Qt::PlainText);
    description_->setWordWrap(true);
    column->addWidget(description_);
    column->addStretch(1);
    connect(get_, &QPushButton::clicked, this, [this] {
        ZMVostrelle::sharedVostrelle().queuePackageWithIdentifier(packageIdentifier_, std::nullopt, get_);
    });
    queueObserver_ = NotificationCenter::defaultCenter().addObserver(
        PackageRow::queueStateNotificationName(packageIdentifier_), NotificationCenter::Queue::Main,
        [this](const Notification&) { redraw(); });
    UISwipeGesture::addRightSwipe(this, [this] {
        if (auto* nav = navigationController()) nav->popViewController(true);
    });
}

void PackagePlaceholderViewController::viewWillAppear(bool) { redraw(); }

void PackagePlaceholderViewController::redraw() {
    auto package = ZMRPackage::objectForPrimaryKey(packageIdentifier_);
    if (!package) {
        name_->setText(QString::fromStdString(packageIdentifier_));
        details_->setText(BrowsingText::q("This package is no longer available."));
        get_->hide();
        return;
    }
    icon_->setPixmap(PackageRow::iconForPackage(package->identifier, 84));
    name_->setText(QString::fromStdString(package->name.empty() ? package->identifier : package->name));
    std::string source = package->sourceLocation;
    if (auto record = ZMRSource::objectForPrimaryKey(package->sourceLocation); record && !record->name.empty()) source = record->name;
    details_->setText(QString::fromStdString(package->identifier + "  ·  " + package->version +
                                             (source.empty() ? std::string() : "  ·  " + source)));
    description_->setText(QString::fromStdString(package->Description));
    get_->setText(QString::fromStdString(ZMRPackageManager::sharedPackageManager().packages().getButtonTitleForPackageIdentifier(
        package->identifier, true, true, false, std::nullopt)));
    get_->show();
}

void PackagePlaceholderViewController::paletteDidChange(const ZMPalette& palette) {
    if (!name_) return;
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    get_->setStyleSheet(QStringLiteral("QPushButton { color: %1; background: %2; border: none; border-radius: 15px; "
                                       "padding: 4px 16px; font-weight: 700; }")
                            .arg(palette.getButtonTextColor().name(), palette.getButtonBackgoundColor().name()));
}
