#include "Details/DeveloperDetailsViewController.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <map>

#include "Browsing/AllDevPackagesViewController.h"
#include "Browsing/BrowsingCard.h"
#include "Browsing/BrowsingText.h"
#include "Browsing/PackageOpening.h"
#include "Browsing/PackageRows.h"
#include "Browsing/SourceAddition.h"
#include "Browsing/SourceViewController.h"
#include "Database/ZMRPackageManager.h"
#include "ErrorViewController.h"
#include "GetPackageCell.h"
#include "PackageCell.h"
#include "RemoteImage.h"
#include "SearchCell.h"
#include "Services/ZMMakerAPI.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"
#include "WebViewViewController.h"
#include "ZMMailLink.h"
#include "ZMStoreGuard.h"

using BrowsingText::q;

namespace {

const char* const kMailSubject = "Question from Vostrelle 5";

QLabel* plainLabel(const char* name) {
    auto* label = new QLabel;
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QFont sized(QFont font, int pixels, bool bold) {
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

}  // namespace

std::vector<DeveloperDetailsViewController::InformationRow> DeveloperDetailsViewController::informationRows(
    const ZMDeveloperProfile& profile) {
    std::vector<InformationRow> rows;
    if (!profile.location.empty()) rows.push_back({"location", profile.location});
    if (!profile.repository.empty()) rows.push_back({"repository", profile.repository});
    // Links open only as http(s) addresses; anything else has nothing to open.
    if (ZMMakerAPI::isHTTPURL(profile.homepage)) rows.push_back({"homepage", profile.homepage});
    if (ZMMakerAPI::isHTTPURL(profile.github)) rows.push_back({"github", profile.github});
    if (profile.twitterProfileURL()) rows.push_back({"twitter", profile.twitter});
    if (SourceViewController::mailtoURL(profile.email, kMailSubject).isValid()) rows.push_back({"email", profile.email});
    return rows;
}

DeveloperDetailsViewController::DeveloperDetailsViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

DeveloperDetailsViewController::~DeveloperDetailsViewController() {
    for (UITableView* table : {informationsTableView_, pkgByThisDevTableView_}) {
        if (!table) continue;
        table->setDataSource(nullptr);
        table->setDelegate(nullptr);
    }
}

void DeveloperDetailsViewController::buildView() {
    QVBoxLayout* column = BrowsingCard::makeColumn(this, scrollView_, "scrollView");
    column->setContentsMargins(20, 16, 20, 24);
    column->setSpacing(0);

    tasksProgressBar_ = new QProgressBar;
    tasksProgressBar_->hide();
    column->addWidget(tasksProgressBar_);
    avatar_ = new QLabel;
    avatar_->setObjectName("avatar");
    avatar_->setFixedSize(kAvatarSize, kAvatarSize);
    column->addWidget(avatar_, 0, Qt::AlignHCenter);
    column->addSpacing(12);
    nameLbl_ = plainLabel("nameLbl");
    nameLbl_->setFont(sized(nameLbl_->font(), 24, true));
    nameLbl_->setAlignment(Qt::AlignHCenter);
    nameLbl_->setWordWrap(true);
    column->addWidget(nameLbl_);
    bioLbl_ = plainLabel("bioLbl");
    bioLbl_->setWordWrap(true);
    bioLbl_->setAlignment(Qt::AlignHCenter);
    bioLbl_->setContentsMargins(0, 8, 0, 0);
    column->addWidget(bioLbl_);
    titleGap_ = new QSpacerItem(0, 16, QSizePolicy::Minimum, QSizePolicy::Fixed);
    column->addSpacerItem(titleGap_);

    informationsTitle_ = plainLabel("informationsTitle");
    informationsTitle_->setText(q("Information"));
    informationsTitle_->setFont(sized(informationsTitle_->font(), 20, true));
    column->addWidget(informationsTitle_);
    column->addSpacing(6);
    informationsTableView_ = new UITableView(UITableView::Style::Plain);
    informationsTableView_->setObjectName("informationsTableView");
    informationsTableView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    column->addWidget(informationsTableView_);
    column->addSpacing(20);

    auto* packagesHeader = new QHBoxLayout;
    pkgByThisDevTitle_ = plainLabel("pkgByThisDevTitle");
    pkgByThisDevTitle_->setFont(sized(pkgByThisDevTitle_->font(), 20, true));
    pkgByThisDevTitle_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    packagesHeader->addWidget(pkgByThisDevTitle_, 1);
    seeAllBtn_ = new QPushButton(q("See All"));
    seeAllBtn_->setObjectName("seeAllPkgByThisDevBtn");
    seeAllBtn_->setFlat(true);
    seeAllBtn_->setCursor(Qt::PointingHandCursor);
    connect(seeAllBtn_, &QPushButton::clicked, this, &DeveloperDetailsViewController::seeAllPkgFromThisDev);
    packagesHeader->addWidget(seeAllBtn_);
    column->addLayout(packagesHeader);
    column->addSpacing(6);
    pkgByThisDevTableView_ = new UITableView(UITableView::Style::Plain);
    pkgByThisDevTableView_->setObjectName("pkgByThisDevTableView");
    pkgByThisDevTableView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    column->addWidget(pkgByThisDevTableView_);
    noPackagesLbl_ = plainLabel("noPackagesLbl");
    noPackagesLbl_->setText(q("This developer has no packages in your sources."));
    noPackagesLbl_->setWordWrap(true);
    noPackagesLbl_->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(noPackagesLbl_);
    column->addStretch(1);
}

void DeveloperDetailsViewController::viewDidLoad() {
    buildView();
    if (isShownModally_) {
        QPointer<DeveloperDetailsViewController> self(this);
        navigationItem()->setLeftBarButtonItem(new UIBarButtonItem(
            q("Close"), [self](UIBarButtonItem*) { if (self) self->dismissVC(); }, navigationItem()));
    }
    UISwipeGesture::addRightSwipe(this, [this] { backSwipe(); });
    isFollowed_ = ZMStoreGuard::value("reading a developer", [&] {
                      return ZMRPackageManager::sharedPackageManager().developers().isDeveloperFollowed(profile_.fullName);
                  }).value_or(false);
    QPointer<DeveloperDetailsViewController> self(this);
    followedBtn_ = new UIBarButtonItem(
        isFollowed_ ? q("Unfollow") : q("Follow"),
        [self](UIBarButtonItem*) { if (self) self->changeIsDeveloperFollowedState(); }, navigationItem());
    navigationItem()->setRightBarButtonItem(followedBtn_);
    setTitle(q("Developer Page"));
    getDeveloperInformations();
    informationsTableView_->registerCell("genericCell", [] { return new UITableViewCell("genericCell"); });
    pkgByThisDevTableView_->registerCell("getPackageCell", [] { return new GetPackageCell("getPackageCell"); });
    for (UITableView* table : {informationsTableView_, pkgByThisDevTableView_}) {
        table->setDataSource(this);
        table->setDelegate(this);
    }
}

void DeveloperDetailsViewController::getDeveloperInformations() {
    if (!img_.isNull()) {
        setAvatar(img_);
    } else if (!profile_.avatarURL.empty()) {
        // The page shows the picture once it has arrived; none leaves the avatar empty.
        QPointer<DeveloperDetailsViewController> self(this);
        RemoteImage::load(profile_.avatarURL, [self](const QImage& image, bool placeholder) {
            if (self && !placeholder) self->setAvatar(image);
        });
    } else {
        setAvatar(RemoteImage::placeholder());
    }
    nameLbl_->setText(QString::fromStdString(profile_.fullName));
    bioLbl_->setText(QString::fromStdString(profile_.biography));
    informations_ = informationRows(profile_);
    pkgByThisDevTitle_->setText(q("Packages by %@", profile_.fullName));
}

void DeveloperDetailsViewController::setAvatar(const QImage& image) {
    QPixmap out(kAvatarSize, kAvatarSize);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, kAvatarSize, kAvatarSize), kAvatarCornerRadius, kAvatarCornerRadius);
    p.setClipPath(clip);
    p.drawImage(QRect(0, 0, kAvatarSize, kAvatarSize),
                image.scaled(kAvatarSize, kAvatarSize, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation));
    p.end();
    avatar_->setPixmap(out);
    avatarLoaded_ = true;
}

void DeveloperDetailsViewController::viewWillAppear(bool) {
    pkgByThisDevTableView_->setSeparatorColor(Qt::transparent);
    setContent();
}

void DeveloperDetailsViewController::setContent() {
    const bool biography = !profile_.biography.empty();
    bioLbl_->setVisible(biography);
    titleGap_->changeSize(0, biography ? 16 : kTitleGapWithoutBiography, QSizePolicy::Minimum, QSizePolicy::Fixed);

    const int rows = static_cast<int>(informations_.size());
    informationsTitle_->setVisible(rows > 0);
    informationsTableView_->setVisible(rows > 0);
    informationsTableView_->setFixedHeight(rows > 0 ? rows * kInformationRowHeight - 1 : 0);
    informationsTableView_->setBackgroundColor(Qt::transparent);
    informationsTableView_->setSeparatorColor(Qt::transparent);
    informationsTableView_->reloadData();

    devPackages_ = AllDevPackagesViewController::identifiersOfMaintainer(profile_.fullName, false);
    const bool packages = !devPackages_.empty();
    noPackagesLbl_->setVisible(!packages);
    seeAllBtn_->setVisible(packages);
    pkgByThisDevTableView_->setVisible(packages);
    pkgByThisDevTableView_->setFixedHeight(devPackages_.size() >= 2 ? 2 * kPackageRowHeight
                                                                    : static_cast<int>(devPackages_.size()) * kPackageRowHeight);
    pkgByThisDevTableView_->reloadData();
    if (auto* page = scrollView_->widget(); page && page->layout()) page->layout()->invalidate();
}

int DeveloperDetailsViewController::numberOfRows(UITableView* table, int) {
    if (table == informationsTableView_) return static_cast<int>(informations_.size());
    return static_cast<int>(std::min<size_t>(devPackages_.size(), 2));
}

double DeveloperDetailsViewController::heightForRow(UITableView* table, IndexPath) {
    return table == informationsTableView_ ? kInformationRowHeight : kPackageRowHeight;
}

UITableViewCell* DeveloperDetailsViewController::cellForRow(UITableView* table, IndexPath ip) {
    const ZMPalette colors = palette();
    if (table == informationsTableView_) {
        auto* cell = table->dequeueReusableCell("genericCell");
        cell->setBackgroundColor(colors.cellBackgroundColor());
        QLabel* label = cell->textLabel();
        label->setTextFormat(Qt::PlainText);
        PackageRow::setTextColor(label, colors.primaryTextColor());
        if (ip.row < 0 || ip.row >= static_cast<int>(informations_.size())) return cell;
        const InformationRow& row = informations_[ip.row];
        static const std::map<std::string, const char*> texts = {
            {"repository", "Add developer repository"}, {"homepage", "Visit website"},
            {"github", "Visit GitHub page"},           {"twitter", "Go to Twitter profile"},
            {"email", "Contact by email"}};
        const bool location = row.key == "location";
        // "Location: %@" is shown as written, untranslated.
        label->setText(location ? QStringLiteral("Location: %1").arg(QString::fromStdString(row.value))
                                : q(texts.at(row.key)));
        cell->setAccessoryType(location ? UITableViewCell::Accessory::None
                                        : UITableViewCell::Accessory::DisclosureIndicator);
        cell->setSelectionStyle(location ? UITableViewCell::SelectionStyle::None
                                         : UITableViewCell::SelectionStyle::Default);
        return cell;
    }
    auto* cell = table->dequeueReusableCell<GetPackageCell>("getPackageCell");
    cell->setBackgroundColor(colors.cellBackgroundColor());
    std::optional<std::string> identifier;
    if (ip.row >= 0 && ip.row < static_cast<int>(devPackages_.size())) identifier = devPackages_[ip.row];
    PackageRows::fillGetCell(cell, identifier);
    PackageRow::hideSeparatorIfLast(cell, table, ip);
    return cell;
}

void DeveloperDetailsViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    if (table == informationsTableView_) {
        if (ip.row >= 0 && ip.row < static_cast<int>(informations_.size())) openInformation(informations_[ip.row]);
        return;
    }
    std::optional<std::string> identifier;
    if (ip.row >= 0 && ip.row < static_cast<int>(devPackages_.size())) identifier = devPackages_[ip.row];
    if (auto package = PackageRows::lookUp(identifier)) push(PackageOpening::detailsViewControllerForPackage(*package));
}

void DeveloperDetailsViewController::openInformation(const InformationRow& row) {
    auto browse = [this](const char* title, const std::string& address) {
        auto* web = new WebViewViewController;
        web->setViewTitle(ZMLocalizedString(title));
        web->setWebsiteURL(QUrl(QString::fromStdString(address), QUrl::StrictMode));
        push(web);
    };
    if (row.key == "repository") addRepository(row.value);
    else if (row.key == "homepage") browse("Website", row.value);
    else if (row.key == "github") browse("GitHub Page", row.value);
    else if (row.key == "twitter") {
        if (auto profile = profile_.twitterProfileURL()) browse("Twitter", *profile);
    } else if (row.key == "email")
        ZMMailLink::open(SourceViewController::mailtoURL(row.value, kMailSubject));
}

void DeveloperDetailsViewController::addRepository(const std::string& location) {
    auto normalized = ZMRSources::normalizeSourceLocation(location);
    if (normalized.ok() && ZMRSources::isLocationConfigured(normalized.location)) {
        auto* popup = new ErrorViewController;
        popup->showWithTitle(
            ZMLocalizedString("Source Error"),
            BrowsingText::format("The source specified by %@ has already been configured on your device.", location), 1,
            ZMLocalizedString("Close"));
        SourceAddition::topPresenter(this)->presentViewController(popup, true);
        return;
    }
    // The plain-http warning and the reasons for a refusal come from the shared road.
    SourceAddition::add(this, location, false, false);
}

void DeveloperDetailsViewController::changeIsDeveloperFollowedState() {
    showFollowed(!isFollowed_);
    QPointer<DeveloperDetailsViewController> self(this);
    const bool follow = isFollowed_;
    SearchCell::storeFollow(profile_.fullName, follow, this, follow ? q("Followed") : q("Unfollowed"), [self, follow](bool stored) {
        if (!stored && self) self->showFollowed(!follow);
    });
}

void DeveloperDetailsViewController::showFollowed(bool followed) {
    isFollowed_ = followed;
    followedBtn_->setTitle(followed ? q("Unfollow") : q("Follow"));
}

void DeveloperDetailsViewController::seeAllPkgFromThisDev() {
    auto* all = new AllDevPackagesViewController;
    all->setTitleString(BrowsingText::format("%@'s Packages", profile_.fullName));
    all->setMaintainer(profile_.fullName);
    push(all);
}

void DeveloperDetailsViewController::dismissVC() {
    if (auto* nav = navigationController()) nav->dismissViewController(true);
    else dismissViewController(true);
}

void DeveloperDetailsViewController::backSwipe() {
    if (auto* nav = navigationController(); nav && nav->topViewController() == this && nav->viewControllers().size() > 1)
        nav->popViewController(true);
}

void DeveloperDetailsViewController::push(UIViewController* vc) {
    lastPushed_ = vc;
    PackageOpening::show(this, vc);
}

void DeveloperDetailsViewController::resizeEvent(QResizeEvent* e) {
    ZMPalettedViewController::resizeEvent(e);
    if (pkgByThisDevTableView_) pkgByThisDevTableView_->reloadData();
}

void DeveloperDetailsViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    if (!nameLbl_) return;
    for (QLabel* label : {nameLbl_, informationsTitle_, pkgByThisDevTitle_})
        PackageRow::setTextColor(label, palette.primaryTextColor());
    pkgByThisDevTableView_->setBackgroundColor(palette.foregroundColor());
    informationsTableView_->reloadData();
    pkgByThisDevTableView_->reloadData();
}
