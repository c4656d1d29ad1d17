#include "Details/PackageInformationSection.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Details/DetailsImages.h"
#include "Details/DetailsSectionWidgets.h"
#include "Details/PackageInformationRows.h"
#include "PackageCell.h"
#include "ZMPalette.h"

using namespace DetailsSectionWidgets;
using BrowsingText::q;

namespace {

constexpr int kRepositoryIconSide = 40;

// A block of the column: its views one under the other, the gap above it its top margin.
QWidget* block(const char* name, std::initializer_list<QWidget*> views, int gap = 10) {
    auto* w = new QWidget;
    w->setObjectName(name);
    auto* column = new QVBoxLayout(w);
    column->setContentsMargins(0, gap, 0, 0);
    column->setSpacing(10);
    for (QWidget* v : views) column->addWidget(v);
    return w;
}

QLabel* caption(const char* name, const char* text) {
    auto* l = plainLabel(name);
    l->setText(q(text));
    return l;
}

// A link-style button with its image at the left.
QWidget* imageButtonRow(const char* name, QPushButton* button, const char* image) {
    auto* w = new QWidget;
    w->setObjectName(name);
    auto* line = new QHBoxLayout(w);
    line->setContentsMargins(0, 10, 0, 0);
    line->setSpacing(10);
    auto* icon = new QLabel;
    icon->setObjectName(QString::fromLatin1(name).replace("Row", "ImageView"));
    icon->setFixedSize(22, 22);
    icon->setPixmap(DetailsImages::named(image).pixmap(44, 44));
    icon->setScaledContents(true);
    line->addWidget(icon);
    line->addWidget(button);
    line->addStretch(1);
    return w;
}

}  // namespace

PackageInformationSection::PackageInformationSection(QWidget* parent)
    : QWidget(parent),
      informationsTitle_(titleLabel("informationsTitle", q("Information"))),
      installedFilesBtn_(linkButton("installedFilesBtn", q("See Installed Files"))),
      developerNameLbl_(plainLabel("developerNameLbl")),
      packageSizeLbl_(plainLabel("packageSizeLbl")),
      compatibilityLbl_(caption("compatibilityLbl", "Compatibility")),
      packageCompatibilityLbl_(plainLabel("packageCompatibilityLbl")),
      packageDependenciesLbl_(plainLabel("packageDependenciesLbl")),
      packageConflictsLbl_(plainLabel("packageConflictsLbl")),
      packagePostInstallActionLbl_(plainLabel("packagePostInstallActionLbl")),
      packageDateLbl_(plainLabel("packageDateLbl")),
      developerWebsiteBtn_(linkButton("developerWebsiteBtn", q("Developer Website"))),
      donateBtn_(linkButton("donateBtn", q("Donate"))),
      repositoryTitle_(titleLabel("repositoryTitle", q("Repository"))),
      repositoryIconImageView_(new QLabel),
      repositoryNameLbl_(plainLabel("repositoryNameLbl")),
      repositoryDescriptionLbl_(plainLabel("repositoryDescriptionLbl", true)) {
    setObjectName("informationSection");
    compatibilityTitle_ = compatibilityLbl_->text();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 0);
    column->setSpacing(0);
    column->addWidget(informationsTitle_);
    installedFilesRow_ = block("installedFilesRow", {installedFilesBtn_});
    column->addWidget(installedFilesRow_);
    developerRow_ = block("developerRow", {row("developerLine", caption("developerLbl", "Developer"), developerNameLbl_), separator()});
    column->addWidget(developerRow_);
    column->addWidget(block("sizeRow", {row("sizeLine", caption("sizeLbl", "Size"), packageSizeLbl_), separator()}));
    column->addWidget(block("compatibilityRow", {row("compatibilityLine", compatibilityLbl_, packageCompatibilityLbl_), separator()}));
    column->addWidget(block("dependenciesRow",
                            {row("dependenciesLine", caption("dependenciesLbl", "Dependencies"), packageDependenciesLbl_), separator()}));
    column->addWidget(block("conflictsRow", {row("conflictsLine", caption("conflictsLbl", "Conflicts"), packageConflictsLbl_), separator()}));
    column->addWidget(block("postInstallActionRow", {row("postInstallActionLine", caption("postInstallActionLbl", "Post-install Action"),
                                                         packagePostInstallActionLbl_),
                                                     separator("postInstallActionSeparator")}));
    dateRow_ = block("dateRow", {row("dateLine", caption("dateLbl", "Date"), packageDateLbl_), separator("dateSeparator")});
    column->addWidget(dateRow_);
    developerWebsiteRow_ = imageButtonRow("developerWebsiteRow", developerWebsiteBtn_, "Website");
    column->addWidget(developerWebsiteRow_);
    developerWebsiteSeparator_ = block("developerWebsiteSeparator", {separator()});
    column->addWidget(developerWebsiteSeparator_);
    donateRow_ = imageButtonRow("donateRow", donateBtn_, "Donate");
    column->addWidget(donateRow_);
    donateSeparator_ = block("donateSeparator", {separator()});
    column->addWidget(donateSeparator_);
    auto* beta = plainLabel("packageIsBetaLbl");
    betaRow_ = block("betaRow", {row("betaLine", caption("isBetaLbl", "Beta"), beta)});
    column->addWidget(betaRow_);
    informationsSeparator_ = block("informationsSeparator", {separator()}, 20);
    column->addWidget(informationsSeparator_);

    column->addSpacing(20);
    column->addWidget(repositoryTitle_);
    auto* card = new QWidget;
    card->setObjectName("repositoryCard");
    auto* line = new QHBoxLayout(card);
    line->setContentsMargins(0, 10, 0, 0);
    line->setSpacing(12);
    repositoryIconImageView_->setObjectName("repositoryIconImageView");
    repositoryIconImageView_->setFixedSize(kRepositoryIconSide, kRepositoryIconSide);
    line->addWidget(repositoryIconImageView_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    QFont bold = repositoryNameLbl_->font();
    bold.setBold(true);
    repositoryNameLbl_->setFont(bold);
    texts->addWidget(repositoryNameLbl_);
    texts->addWidget(repositoryDescriptionLbl_);
    line->addLayout(texts, 1);
    column->addWidget(card);

    connect(installedFilesBtn_, &QPushButton::clicked, this, &PackageInformationSection::installedFilesTapped);
    connect(developerWebsiteBtn_, &QPushButton::clicked, this, &PackageInformationSection::websiteTapped);
    connect(donateBtn_, &QPushButton::clicked, this, &PackageInformationSection::donateTapped);
}

void PackageInformationSection::fill(const PackageInformationRows& rows, const QPixmap& repositoryIcon) {
    developerNameLbl_->setText(rows.developerName);
    packageSizeLbl_->setText(rows.size);
    compatibilityLbl_->setText(rows.compatibilityTitle.value_or(compatibilityTitle_));
    packageCompatibilityLbl_->setText(rows.compatibility);
    packageDependenciesLbl_->setText(rows.dependencies);
    packageConflictsLbl_->setText(rows.conflicts);
    packagePostInstallActionLbl_->setText(rows.postInstallAction);
    packageDateLbl_->setText(rows.date);
    repositoryNameLbl_->setText(rows.repositoryName);
    repositoryDescriptionLbl_->setText(rows.repositoryDescription);
    // Clipped with corners of 0.2237 of its height.
    repositoryIconImageView_->setPixmap(PackageRow::roundedIcon(repositoryIcon, kRepositoryIconSide * 2));
    repositoryIconImageView_->setScaledContents(true);
}

void PackageInformationSection::layoutFor(bool installed, bool infoJsonSource) {
    installedFilesRow_->setVisible(installed);
    setTopGap(developerRow_, installed ? 10 : 30);
    dateRow_->setVisible(infoJsonSource);
    developerWebsiteSeparator_->setVisible(infoJsonSource);
    setTopGap(developerWebsiteRow_, 10);
    donateRow_->setVisible(infoJsonSource);
    betaRow_->hide();
    donateSeparator_->hide();
    setTopGap(informationsSeparator_, 20);
}

void PackageInformationSection::applyPalette(const ZMPalette& palette) {
    for (QLabel* l : findChildren<QLabel*>()) PackageRow::setTextColor(l, palette.primaryTextColor());
    for (QPushButton* b : {installedFilesBtn_, developerWebsiteBtn_, donateBtn_})
        b->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; text-align: left; }").arg(palette.tintColor().name()));
    colorSeparators(this, palette.separatorColor());
}
