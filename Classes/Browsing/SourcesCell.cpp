#include "Browsing/SourcesCell.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "Browsing/BrowsingImages.h"
#include "UIKit/UITableView.h"
#include "UIKit/UILabelElision.h"

SourcesCell::SourcesCell(QWidget* parent) : UITableViewCell("sourcesCell", parent) {
    setFixedHeight(kHeight);
    auto* row = new QHBoxLayout(contentView());
    row->setContentsMargins(16, 8, 8, 8);
    row->setSpacing(12);

    iconView = new QLabel;
    iconView->setObjectName("iconView");
    iconView->setFixedSize(kIconSize, kIconSize);
    row->addWidget(iconView, 0, Qt::AlignVCenter);

    containerView = new QWidget;
    containerView->setObjectName("containerView");
    auto* column = new QVBoxLayout(containerView);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    nameLbl = new QLabel;
    nameLbl->setObjectName("nameLbl");
    QFont nameFont = nameLbl->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.1);
    nameFont.setWeight(QFont::DemiBold);
    nameLbl->setFont(nameFont);
    descriptionLbl = new QLabel;
    descriptionLbl->setObjectName("descriptionLbl");
    QFont small = descriptionLbl->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    descriptionLbl->setFont(small);
    for (auto* l : {nameLbl, descriptionLbl}) {
        l->setTextFormat(Qt::PlainText);
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        UILabelElision::install(l);
    }
    column->addWidget(nameLbl);
    column->addWidget(descriptionLbl);

    auto* facts = new QHBoxLayout;
    facts->setSpacing(4);
    auto fact = [&](QLabel*& image, QLabel*& label, const char* imageName, const char* name) {
        image = new QLabel;
        image->setObjectName(QString(name) + "ImgView");
        image->setFixedSize(14, 14);
        image->setPixmap(BrowsingImages::named(imageName, 14));
        label = new QLabel;
        label->setObjectName(QString(name) + "Lbl");
        label->setFont(small);
        label->setTextFormat(Qt::PlainText);
        facts->addWidget(image);
        facts->addWidget(label);
        facts->addSpacing(10);
    };
    fact(installedPackagesImgView, installedPackagesLbl, "Installed", "installedPackages");
    fact(totalPackagesImgView, totalPackagesLbl, "Packages", "totalPackages");
    fact(lastRepoRegenImgView, lastRepoRegenLbl, "Regenerated", "lastRepoRegen");
    facts->addStretch(1);
    column->addLayout(facts);
    row->addWidget(containerView, 1);
    setAccessoryType(Accessory::DisclosureIndicator);
    setSeparatorInset(16 + kIconSize + 12);
}

void SourcesCell::setIcon(const QPixmap& picture) {
    iconView->setPixmap(BrowsingImages::rounded(picture, kIconSize, 0.25));
}

void SourcesCell::setSecondaryColor(const QColor& color) {
    for (auto* l : {installedPackagesLbl, totalPackagesLbl, lastRepoRegenLbl}) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, color);
        l->setPalette(p);
    }
}

void SourcesCell::prepareForReuse() {
    regenDate.clear();
    sourceLocation.clear();
    for (auto* l : {nameLbl, descriptionLbl, installedPackagesLbl, totalPackagesLbl, lastRepoRegenLbl}) l->clear();
    iconView->clear();
}
