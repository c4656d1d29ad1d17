#include "Online/Screens/SearchedRepoViewController.h"

#include <QGridLayout>
#include <QPointer>
#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Browsing/SourceAddition.h"
#include "Database/ZMRSources.h"
#include "ErrorViewController.h"
#include "Online/Screens/OnlineImages.h"
#include "PackageCell.h"
#include "RemoteImage.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"

using BrowsingText::q;

namespace {
constexpr int kIconSide = 96;
QLabel* plainLabel(const std::string& text, bool wrap = false) {
    auto* l = new QLabel(QString::fromStdString(text));
    l->setTextFormat(Qt::PlainText);  // directory entries come from the server
    l->setWordWrap(wrap);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}
}  // namespace

SearchedRepoViewController::SearchedRepoViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("SearchedRepoViewController");
}

SearchedRepoViewController::~SearchedRepoViewController() {
    if (addTable_) {
        addTable_->setDataSource(nullptr);
        addTable_->setDelegate(nullptr);
    }
}

void SearchedRepoViewController::viewDidLoad() {
    setTitle(q("Source Page"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(10);
    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    iconView_ = new QLabel;
    iconView_->setObjectName("iconView");
    iconView_->setFixedSize(kIconSide, kIconSide);
    top->addWidget(iconView_, 0, Qt::AlignTop);
    auto* names = new QVBoxLayout;
    nameLbl_ = plainLabel(repo_.name, true);
    nameLbl_->setObjectName("nameLbl");
    QFont big = nameLbl_->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.5);
    nameLbl_->setFont(big);
    descriptionLbl_ = plainLabel(repo_.desc, true);
    descriptionLbl_->setObjectName("descriptionLbl");
    names->addWidget(nameLbl_);
    names->addWidget(descriptionLbl_);
    names->addStretch(1);
    top->addLayout(names, 1);
    column->addLayout(top);
    column->addSpacing(12);
    infoTitle_ = new QLabel(q("Information"));
    QFont bold = infoTitle_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    infoTitle_->setFont(bold);
    column->addWidget(infoTitle_);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    maintainerLbl_ = plainLabel(repo_.maintainer, true);
    maintainerLbl_->setObjectName("sourceMaintainerLbl");
    urlLbl_ = plainLabel(repo_.url, true);
    urlLbl_->setObjectName("sourceURLLbl");
    int row = 0;
    for (auto [caption, value] : {std::pair{"Maintainer", maintainerLbl_}, std::pair{"URL", urlLbl_}}) {
        auto* c = new QLabel(q(caption));
        captions_.push_back(c);
        grid->addWidget(c, row, 0, Qt::AlignTop);
        grid->addWidget(value, row++, 1);
    }
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);
    column->addSpacing(12);
    addTable_ = new UITableView(UITableView::Style::Plain);
    addTable_->setObjectName("addSourceTableView");
    addTable_->setSizesToContent(true);
    addTable_->setFixedHeight(44);
    addTable_->registerCell("genericCell", [] { return new UITableViewCell("genericCell"); });
    addTable_->setDataSource(this);
    addTable_->setDelegate(this);
    addTable_->setBackgroundColor(Qt::transparent);
    addTable_->setSeparatorStyle(UITableView::SeparatorStyle::None);
    column->addWidget(addTable_);
    column->addStretch(1);
    UISwipeGesture::addBackSwipe(this);

    if (!repoIcon_.isNull()) {
        showIcon(repoIcon_);
    } else if (!repo_.icon.empty()) {
        // In the background; a failed download shows the placeholder.
        QPointer<SearchedRepoViewController> self(this);
        RemoteImage::load(repo_.icon, [self](const QImage& image, bool placeholder) {
            if (self) self->showIcon(placeholder ? OnlineImages::named("iTunesArtwork.png") : image);
        });
    } else {
        showIcon(OnlineImages::named("iTunesArtwork.png"));
    }
}

void SearchedRepoViewController::showIcon(const QImage& icon) {
    shownIcon_ = icon;
    iconView_->setPixmap(OnlineImages::rounded(icon, kIconSide, kIconCornerRadius));
}

UITableViewCell* SearchedRepoViewController::cellForRow(UITableView* table, IndexPath) {
    auto* cell = table->dequeueReusableCell("genericCell");
    cell->textLabel()->setText(q("Add this source"));
    QFont f = cell->textLabel()->font();
    f.setPixelSize(17);
    cell->textLabel()->setFont(f);
    PackageRow::setTextColor(cell->textLabel(), QColor::fromRgbF(0, 0.67f, 0.88f, 1));
    cell->setBackgroundColor(palette().cellBackgroundColor());
    return cell;
}

void SearchedRepoViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    addSource();
}

void SearchedRepoViewController::addSource() {
    const auto normalized = ZMRSources::normalizeSourceLocation(repo_.url);
    // Configured under the other scheme or without the final "/" counts too.
    if (normalized.ok() && ZMRSources::isLocationConfigured(normalized.location)) {
        auto* popup = new ErrorViewController;
        popup->setDelegate(this);
        popup->showWithTitle(ZMLocalizedString("Source Error"), ZMLocalizedString("This source is already added to Vostrelle."),
                             1, ZMLocalizedString("Close"));
        SourceAddition::topPresenter(this)->presentViewController(popup, true);
        return;
    }
    SourceAddition::add(this, repo_.url, false, false);
}


void SearchedRepoViewController::paletteDidChange(const ZMPalette& p) {
    QPalette pal = QWidget::palette();
    pal.setColor(QPalette::Window, p.backgroundColor());
    setPalette(pal);
    setAutoFillBackground(true);
    if (!nameLbl_) return;
    for (QLabel* l : {nameLbl_, infoTitle_, maintainerLbl_, urlLbl_}) PackageRow::setTextColor(l, p.primaryTextColor());
    PackageRow::setTextColor(descriptionLbl_, p.secondaryTextColor());
    for (QLabel* c : captions_) PackageRow::setTextColor(c, p.secondaryTextColor());
    addTable_->reloadData();
}
