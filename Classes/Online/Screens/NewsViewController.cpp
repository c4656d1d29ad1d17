#include "Online/Screens/NewsViewController.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Browsing/SourceAddition.h"
#include "Dispatch/Dispatch.h"
#include "ErrorViewController.h"
#include "OnlineServiceNotice.h"
#include "Online/Screens/OnlineImages.h"
#include "PackageCell.h"
#include "RemoteImage.h"
#include "Services/ZMNewsRetrieval.h"
#include "UIKit/UISwipeGesture.h"
#include "UserNotifications/UNUserNotificationCenter.h"

using BrowsingText::q;

namespace {
QLabel* plainLabel(QWidget* parent, double scale, bool bold, bool wrap) {
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);  // the maker's texts, shown as they are
    l->setWordWrap(wrap);
    QFont f = l->font();
    f.setPointSizeF(f.pointSizeF() * scale);
    f.setBold(bold);
    l->setFont(f);
    l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return l;
}
QString by(const std::string& author) { return q("by %@", author); }
}  // namespace

NewsCell::NewsCell(const QString& reuseIdentifier, QWidget* parent) : UITableViewCell(reuseIdentifier, parent) {
    auto* column = new QVBoxLayout(contentView());
    column->setContentsMargins(16, 10, 16, 10);
    column->setSpacing(3);
    auto* top = new QHBoxLayout;
    title_ = plainLabel(contentView(), 1.1, true, false);
    title_->setObjectName("newsTitleLbl");
    date_ = plainLabel(contentView(), 0.85, false, false);
    date_->setObjectName("newsDateLbl");
    date_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    date_->setForegroundRole(QPalette::PlaceholderText);
    top->addWidget(title_, 1);
    top->addWidget(date_);
    author_ = plainLabel(contentView(), 0.85, false, false);
    author_->setObjectName("newsAuthorLbl");
    author_->setForegroundRole(QPalette::PlaceholderText);
    content_ = plainLabel(contentView(), 0.95, false, true);
    content_->setObjectName("newsContentLbl");
    content_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    column->addLayout(top);
    column->addWidget(author_);
    column->addWidget(content_, 1);
}

// ---- the list ------------------------------------------------------------------------------

NewsViewController::NewsViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("NewsViewController");
}

NewsViewController::~NewsViewController() {
    if (table_) {
        table_->setDataSource(nullptr);
        table_->setDelegate(nullptr);
    }
}

void NewsViewController::viewDidLoad() {
    setTitle(q("News"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    table_ = new UITableView(UITableView::Style::Plain);
    table_->setObjectName("newsTableView");
    table_->setRowHeight(kRowHeight);
    table_->registerCell("cell", [] { return new NewsCell("cell"); });
    table_->setDataSource(this);
    table_->setDelegate(this);
    onlineServiceNotice_ = OnlineServiceNotice::make();
    layout->addWidget(onlineServiceNotice_);
    layout->addWidget(table_);
    // The user is reading the news: the badge that announced them goes.
    UNUserNotificationCenter::current().setApplicationIconBadgeNumber(0);
}

void NewsViewController::viewWillAppear(bool) {
    table_->setBackgroundColor(Qt::transparent);
    table_->setSeparatorStyle(UITableView::SeparatorStyle::None);
    fetch();
}

void NewsViewController::fetch() {
    // Each showing starts from an empty list: items of an earlier fetch would
    // pass for news when this one fails.
    news_.clear();
    table_->reloadData();
    // Without the service the screen says so instead of an error popup.
    if (OnlineServiceNotice::update(onlineServiceNotice_)) return;
    const uint64_t generation = ++generation_;
    QPointer<NewsViewController> self(this);
    ZMNewsRetrieval::instance().fetchNewsWithCompletionHandler([self, generation](std::string status) {
        Dispatch::main([self, generation, status] {
            // Only the latest fetch's answer counts; an older one arriving late is dropped.
            if (!self || generation != self->generation_) return;
            ++self->answered_;
            if (status != kZMStatusSuccess) {
                auto* popup = new ErrorViewController;
                popup->setDelegate(self);
                popup->showWithTitle(ZMLocalizedString("News Retrieval"),
                                     BrowsingText::format("There was an error during the news retrieval: %@", status), 1,
                                     ZMLocalizedString("OK"));
                SourceAddition::topPresenter(self)->presentViewController(popup, true);
                return;
            }
            self->news_ = ZMNewsRetrieval::instance().news().value_or(std::vector<ZMNews>{});
            self->table_->reloadData();
        });
    });
}

UITableViewCell* NewsViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = table->dequeueReusableCell<NewsCell>("cell");
    cell->setBackgroundColor(Qt::transparent);
    if (ip.row < 0 || ip.row >= static_cast<int>(news_.size())) return cell;
    const ZMNews& item = news_[ip.row];
    cell->newsTitleLbl()->setText(QString::fromStdString(item.title));
    PackageRow::setTextColor(cell->newsTitleLbl(), palette().primaryTextColor());
    cell->newsAuthorLbl()->setText(by(item.author));
    cell->newsDateLbl()->setText(QString::fromStdString(item.date));
    cell->newsContentLbl()->setText(QString::fromStdString(item.content));
    cell->setSeparatorHidden(ip.row == static_cast<int>(news_.size()) - 1);
    return cell;
}

void NewsViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    if (ip.row < 0 || ip.row >= static_cast<int>(news_.size())) return;
    auto* page = new NewsDetailsViewController;
    page->setNews(news_[ip.row]);
    page->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    lastPresented_ = page;
    SourceAddition::topPresenter(this)->presentViewController(page, true);
}

void NewsViewController::paletteDidChange(const ZMPalette& p) {
    QPalette pal = QWidget::palette();
    pal.setColor(QPalette::Window, p.backgroundColor());
    setPalette(pal);
    setAutoFillBackground(true);
    if (table_) table_->reloadData();
}

// ---- one item ------------------------------------------------------------------------------

NewsDetailsViewController::NewsDetailsViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("NewsDetailsViewController");
}

void NewsDetailsViewController::viewDidLoad() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    outer->addWidget(scroll);
    auto* page = new QWidget;
    page->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(16, 12, 16, 24);
    column->setSpacing(8);
    scroll->setWidget(page);
    auto* top = new QHBoxLayout;
    top->addStretch(1);
    auto* closeBtn = new QPushButton(q("Close"));
    closeBtn->setObjectName("closeBtn");
    closeBtn->setFlat(true);
    connect(closeBtn, &QPushButton::clicked, this, [this] { close(); });
    top->addWidget(closeBtn);
    column->addLayout(top);
    titleLbl_ = plainLabel(page, 1.6, true, true);
    titleLbl_->setObjectName("titleLbl");
    authorLbl_ = plainLabel(page, 0.9, false, false);
    authorLbl_->setObjectName("authorLbl");
    authorLbl_->setForegroundRole(QPalette::PlaceholderText);
    dateLbl_ = plainLabel(page, 0.9, false, false);
    dateLbl_->setObjectName("dateLbl");
    dateLbl_->setForegroundRole(QPalette::PlaceholderText);
    imageView_ = new QLabel(page);
    imageView_->setObjectName("imageView");
    contentLbl_ = plainLabel(page, 1.0, false, true);
    contentLbl_->setObjectName("newsContentLbl");
    contentLbl_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(titleLbl_);
    column->addWidget(authorLbl_);
    column->addWidget(dateLbl_);
    column->addWidget(imageView_, 0, Qt::AlignHCenter);
    column->addWidget(contentLbl_);
    column->addStretch(1);
    UISwipeGesture::addRightSwipe(this, [this] { close(); });
}

void NewsDetailsViewController::viewWillAppear(bool) {
    titleLbl_->setText(QString::fromStdString(news_.title));
    authorLbl_->setText(by(news_.author));
    dateLbl_->setText(QString::fromStdString(news_.date));
    contentLbl_->setText(QString::fromStdString(news_.content));
    const int width = std::max(320, this->width()) - 32;
    const int height = static_cast<int>(width / 1.78);
    imageView_->setFixedSize(width, height);
    QPointer<NewsDetailsViewController> self(this);
    auto show = [self, width, height](const QImage& image) {
        if (!self) return;
        self->imageView_->setPixmap(OnlineImages::rounded(image, QSize(width, height), 20));
        self->bannerShown_ = true;
    };
    RemoteImage::load(news_.banner, [show](const QImage& image, bool placeholder) {
        show(placeholder ? OnlineImages::named("default-banner.jpeg") : image);
    });
}

void NewsDetailsViewController::close() { dismissViewController(true); }

void NewsDetailsViewController::paletteDidChange(const ZMPalette& p) {
    QPalette pal = QWidget::palette();
    pal.setColor(QPalette::Window, p.backgroundColor());
    setPalette(pal);
    setAutoFillBackground(true);
    if (titleLbl_) PackageRow::setTextColor(titleLbl_, p.primaryTextColor());
}
