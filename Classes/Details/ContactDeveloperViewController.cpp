#include "Details/ContactDeveloperViewController.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "Browsing/BrowsingImages.h"
#include "Browsing/BrowsingText.h"
#include "Browsing/SourceAddition.h"
#include "Browsing/SourceViewController.h"
#include "Database/ZMRPackageManager.h"
#include "ErrorViewController.h"
#include "Foundation/URL.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Online/Screens/GroupedScreenPalette.h"
#include "PackageCell.h"
#include "SearchCell.h"
#include "UIKit/UIApplication.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"
#include "WebViewViewController.h"
#include "ZMMailLink.h"
#include "ZMStoreGuard.h"

namespace {

constexpr int kAvatarSide = 90;
const QColor kLinkColor = QColor::fromRgbF(0, 0.67f, 0.88f, 1);

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string L(const char* key) { return ZMLocalizedString(key); }
std::string F(const char* key, const std::string& value) { return ZMLocalization::format(key, {value}); }

bool isWebAddress(const QUrl& url) {
    if (!url.isValid() || url.toString().isEmpty()) return false;
    auto parsed = URL::parse(url.toString().toStdString());
    return parsed && parsed->isHTTP() && !parsed->host().empty();
}

UITableView* cardTable(const char* name) {
    auto* table = new UITableView(UITableView::Style::Plain);
    table->setObjectName(name);
    table->setSizesToContent(true);
    table->setRowHeight(ContactDeveloperViewController::kRowHeight);
    table->setSeparatorColor(Qt::transparent);
    table->setBackgroundColor(Qt::transparent);
    return table;
}

}  // namespace

ContactDeveloperViewController::ContactDeveloperViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("ContactDeveloperViewController");
    GroupedScreenPalette::applyCurrent(this);
}

ContactDeveloperViewController::~ContactDeveloperViewController() {
    for (UITableView* table : {contactTableView_, donationLinksTableView_}) {
        if (!table) continue;
        table->setDataSource(nullptr);
        table->setDelegate(nullptr);
    }
}

void ContactDeveloperViewController::viewDidLoad() {
    setTitle(q(L("Developer Page")));
    isFollowed_ = ZMStoreGuard::value("reading a developer", [&] {
                      return ZMRPackageManager::sharedPackageManager().developers().isDeveloperFollowed(developerName_);
                  }).value_or(false);
    QPointer<ContactDeveloperViewController> self(this);
    followedBtn_ = new UIBarButtonItem(q(L(isFollowed_ ? "Unfollow" : "Follow")),
                                       [self](UIBarButtonItem*) {
                                           if (self) self->changeIsDeveloperFollowedState();
                                       },
                                       navigationItem());
    navigationItem()->setRightBarButtonItem(followedBtn_);
    donationLinks_ = {"PayPal", "Other"};

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scrollView_ = new QScrollArea;
    scrollView_->setObjectName("scrollView");
    scrollView_->setFrameShape(QFrame::NoFrame);
    scrollView_->setWidgetResizable(true);
    outer->addWidget(scrollView_);
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(20, 24, 20, 24);
    column->setSpacing(12);
    authorIcon_ = new QLabel;
    authorIcon_->setObjectName("authorIcon");
    authorIcon_->setFixedSize(kAvatarSide, kAvatarSide);
    column->addWidget(authorIcon_, 0, Qt::AlignHCenter);
    auto* nameRow = new QHBoxLayout;
    nameRow->addStretch(1);
    authorLbl_ = new QLabel;
    authorLbl_->setObjectName("authorLbl");
    authorLbl_->setTextFormat(Qt::PlainText);  // a name from an index
    QFont bold = authorLbl_->font();
    bold.setBold(true);
    bold.setPixelSize(22);
    authorLbl_->setFont(bold);
    nameRow->addWidget(authorLbl_);
    verifiedIcon_ = new QLabel;
    verifiedIcon_->setObjectName("verifiedIcon");
    verifiedIcon_->setFixedSize(20, 20);
    nameRow->addWidget(verifiedIcon_);
    nameRow->addStretch(1);
    column->addLayout(nameRow);
    contactTableView_ = cardTable("contactTableView");
    column->addWidget(contactTableView_);
    donationLinksTitle_ = new QLabel(q(L("Donation Links")));
    donationLinksTitle_->setObjectName("donationLinksTitle");
    QFont title = donationLinksTitle_->font();
    title.setBold(true);
    title.setPixelSize(20);
    donationLinksTitle_->setFont(title);
    column->addWidget(donationLinksTitle_);
    donationLinksTableView_ = cardTable("donationLinksTableView");
    column->addWidget(donationLinksTableView_);
    column->addStretch(1);
    scrollView_->setWidget(content);
    for (UITableView* table : {contactTableView_, donationLinksTableView_}) {
        table->registerCell("genericCell", [] { return new UITableViewCell("genericCell"); });
        table->setDataSource(this);
        table->setDelegate(this);
    }
    UISwipeGesture::addRightSwipe(this, [this] { backSwipe(); });
}

void ContactDeveloperViewController::viewWillAppear(bool) { setContent(); }

void ContactDeveloperViewController::setContent() {
    if (developerAvatar_.isNull()) {
        authorIcon_->clear();
    } else {
        // A circle: the radius is half the side.
        QPixmap circle(kAvatarSide * 2, kAvatarSide * 2);
        circle.fill(Qt::transparent);
        QPainter p(&circle);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath clip;
        clip.addEllipse(circle.rect());
        p.setClipPath(clip);
        p.drawImage(circle.rect(), developerAvatar_.scaled(circle.size(), Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation));
        p.end();
        circle.setDevicePixelRatio(2);
        authorIcon_->setPixmap(circle);
    }
    authorLbl_->setText(q(developerName_));
    donationLinksTableView_->setFixedHeight(static_cast<int>(kRowHeight * donationLinks_.size()));
    packageAuthorIsVerified_ = true;
    verifiedIcon_->setPixmap(BrowsingImages::named("Verified Icon", 40));
    verifiedIcon_->setScaledContents(true);
    contactTableView_->reloadData();
    donationLinksTableView_->reloadData();
}

QUrl ContactDeveloperViewController::mailURL() const {
    return SourceViewController::mailtoURL(email_, F(kMailSubject, packageName_));
}

void ContactDeveloperViewController::changeIsDeveloperFollowedState() {
    showFollowed(!isFollowed_);
    QPointer<ContactDeveloperViewController> self(this);
    const bool follow = isFollowed_;
    SearchCell::storeFollow(developerName_, follow, this, q(L(follow ? "Followed" : "Unfollowed")), [self, follow](bool stored) {
        if (!stored && self) self->showFollowed(!follow);
    });
}

void ContactDeveloperViewController::showFollowed(bool followed) {
    isFollowed_ = followed;
    followedBtn_->setTitle(q(L(followed ? "Unfollow" : "Follow")));
}

void ContactDeveloperViewController::backSwipe() {
    if (auto* nav = navigationController(); nav && nav->topViewController() == this && nav->viewControllers().size() > 1)
        nav->popViewController(true);
}

int ContactDeveloperViewController::numberOfRows(UITableView* table, int) {
    return table == contactTableView_ ? 2 : static_cast<int>(donationLinks_.size());
}

UITableViewCell* ContactDeveloperViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = table->dequeueReusableCell("genericCell");
    cell->setBackgroundColor(palette().cellBackgroundColor());
    QLabel* label = cell->textLabel();
    label->setTextFormat(Qt::PlainText);
    PackageRow::setTextColor(label, kLinkColor);
    if (table == contactTableView_) label->setText(q(L(ip.row == 0 ? "Twitter" : "Email")));
    else if (ip.row >= 0 && ip.row < static_cast<int>(donationLinks_.size())) label->setText(q(donationLinks_[ip.row]));
    return cell;
}

void ContactDeveloperViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    if (table == contactTableView_) {
        if (ip.row == 0) openTwitter();
        else openMail();
    } else if (ip.row == 0) {
        openDonation();
    }
}

void ContactDeveloperViewController::openTwitter() {
    if (!isWebAddress(twitter_)) {
        showPopup(L("No Twitter Link"), F("%@ hasn't provided a Twitter link.", developerName_));
        return;
    }
    // The Twitter application where the desktop can open its links; else the profile in the browser.
    const QUrl app(QStringLiteral("twitter://user?screen_name=") + QUrl::toPercentEncoding(twitter_.fileName()));
    if (UIApplication::canOpenURL(app) && UIApplication::openURL(app)) return;
    auto* web = new WebViewViewController;
    web->setViewTitle(ZMLocalization::fill("%@'s Twitter", {developerName_}));
    web->setWebsiteURL(twitter_);
    push(web);
}

void ContactDeveloperViewController::openMail() {
    const QUrl url = mailURL();
    if (!url.isValid() || url.isEmpty()) {
        showPopup(L("No Email Address"), F("%@ hasn't provided an email address.", developerName_));
        return;
    }
    ZMMailLink::open(url);
}

void ContactDeveloperViewController::openDonation() {
    if (!isWebAddress(donateLink_)) {
        showPopup(L("No PayPal Link"), F("%@ hasn't provided a PayPal link.", developerName_));
        return;
    }
    auto* web = new WebViewViewController;
    web->setViewTitle(F("%@'s Donate Link", developerName_));
    web->setWebsiteURL(donateLink_);
    push(web);
}

void ContactDeveloperViewController::showPopup(const std::string& title, const std::string& message) {
    auto* popup = new ErrorViewController;
    popup->showWithTitle(title, message, 1, L("OK"));
    lastOpened_ = popup;
    SourceAddition::topPresenter(this)->presentViewController(popup, true);
}

void ContactDeveloperViewController::push(UIViewController* screen) {
    lastOpened_ = screen;
    if (auto* nav = navigationController()) nav->pushViewController(screen, true);
    else SourceAddition::topPresenter(this)->presentViewController(new UINavigationController(screen), true);
}

void ContactDeveloperViewController::paletteWillChangeToStyle(int style) { GroupedScreenPalette::apply(this, style); }

void ContactDeveloperViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    if (scrollView_) {
        scrollView_->viewport()->setAutoFillBackground(false);
        scrollView_->widget()->setAutoFillBackground(false);
    }
    if (authorLbl_) PackageRow::setTextColor(authorLbl_, palette.primaryTextColor());
    if (donationLinksTitle_) PackageRow::setTextColor(donationLinksTitle_, palette.primaryTextColor());
    if (contactTableView_) contactTableView_->reloadData();
    if (donationLinksTableView_) donationLinksTableView_->reloadData();
}
