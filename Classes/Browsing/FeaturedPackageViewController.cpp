#include "Browsing/FeaturedPackageViewController.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>
#include <memory>

#include "Browsing/BrowsingText.h"
#include "Browsing/SourceAddition.h"
#include "Database/ZMRSource.h"
#include "Depictions/ZMDepictionBudget.h"
#include "Depictions/ZMMarkdown.h"
#include "Details/DetailsTextDocument.h"
#include "Details/WholeTextViewController.h"
#include "Dispatch/Dispatch.h"
#include "Dispatch/SerialQueue.h"
#include "ErrorViewController.h"
#include "Foundation/URL.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMShareTexts.h"
#include "Online/Screens/OnlineImages.h"
#include "PackageCell.h"
#include "RemoteImage.h"
#include "UIKit/GetButton.h"
#include "UIKit/Timers.h"
#include "UIKit/UIApplication.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"
#include "UIKit/UITextView.h"
#include "ZMVostrelle.h"
#include "ZMStoreGuard.h"

using BrowsingText::q;

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

FeaturedPackageViewController::FeaturedPackageViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("FeaturedPackageViewController");
}

FeaturedPackageViewController::~FeaturedPackageViewController() = default;

void FeaturedPackageViewController::viewDidLoad() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scrollView = new QScrollArea;
    scrollView->setObjectName("scrollView");
    scrollView->setWidgetResizable(true);
    scrollView->setFrameShape(QFrame::NoFrame);
    scrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollView->viewport()->setAutoFillBackground(false);
    outer->addWidget(scrollView);
    auto* page = new QWidget;
    page->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(16, 12, 16, 24);
    column->setSpacing(12);
    scrollView->setWidget(page);

    auto* top = new QHBoxLayout;
    top->addStretch(1);
    closeBtn_ = new QPushButton(q("Close"));
    closeBtn_->setObjectName("closeBtn");
    closeBtn_->setFlat(true);
    connect(closeBtn_, &QPushButton::clicked, this, [this] { close(); });
    top->addWidget(closeBtn_);
    column->addLayout(top);

    imageView_ = new QLabel;
    imageView_->setObjectName("imageView");
    imageView_->setAlignment(Qt::AlignCenter);
    column->addWidget(imageView_, 0, Qt::AlignHCenter);

    auto* header = new QHBoxLayout;
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    authorLbl_ = new QLabel;
    authorLbl_->setObjectName("authorLbl");
    nameLbl_ = new QLabel;
    nameLbl_->setObjectName("nameLbl");
    for (QLabel* l : {authorLbl_, nameLbl_}) {
        l->setTextFormat(Qt::PlainText);  // the feed's texts, shown as they are
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    QFont nameFont = nameLbl_->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.8);
    nameLbl_->setFont(nameFont);
    names->addWidget(authorLbl_);
    names->addWidget(nameLbl_);
    header->addLayout(names, 1);
    getBtn_ = new QPushButton;
    getBtn_->setObjectName("getButton");
    getBtn_->setFixedHeight(30);
    connect(getBtn_, &QPushButton::clicked, this, [this] {
        GetButton::animateButton(getBtn_);
        getPackage();
    });
    header->addWidget(getBtn_, 0, Qt::AlignVCenter);
    shareBtn_ = new QPushButton(q("Share"));
    shareBtn_->setObjectName("shareBtn");
    shareBtn_->setFlat(true);
    connect(shareBtn_, &QPushButton::clicked, this, [this] { share(); });
    header->addWidget(shareBtn_, 0, Qt::AlignVCenter);
    column->addLayout(header);
    busy_ = new QProgressBar;
    busy_->setObjectName("busyIndicator");
    busy_->setRange(0, 0);
    busy_->setTextVisible(false);
    busy_->setFixedHeight(4);
    busy_->hide();
    column->addWidget(busy_);

    // Its links go through openLink; it loads nothing the text names.
    descriptionLbl_ = new UITextView;
    descriptionLbl_->setObjectName("featuredDescriptionLbl");
    connect(descriptionLbl_, &UITextView::linkActivated, this, [this](const QUrl& url) { openLink(url); });
    connect(descriptionLbl_, &UITextView::wholeTextRequested, this, [this] {
        SourceAddition::topPresenter(this)->presentViewController(WholeTextViewController::sheet(qs(package_.title), descriptionLbl_->wholeText()), true);
    });
    column->addWidget(descriptionLbl_);
    column->addStretch(1);

    UISwipeGesture::addRightSwipe(this, [this] { close(); });
}

void FeaturedPackageViewController::viewWillAppear(bool) { setContent(); }

std::optional<ZMRPackage> FeaturedPackageViewController::lookUp() const {
    if (package_.bundle_id.empty()) return std::nullopt;
    try {
        return ZMRPackage::objectForPrimaryKey(package_.bundle_id);
    } catch (const std::exception& e) {
        ZMLOG("featured package {}: {}", package_.bundle_id, e.what());
        return std::nullopt;
    }
}

QString FeaturedPackageViewController::htmlFromMarkdown(const std::string& markdown) {
    return qs(ZMMarkdown::htmlFromMarkdown(markdown));
}

void FeaturedPackageViewController::setContent() {
    auto pack = lookUp();
    authorLbl_->setText(qs(package_.developer));
    nameLbl_->setText(qs(package_.title));
    // The title shrinks to fit its width.
    QFont f = nameLbl_->font();
    const int available = std::max(120, width() - 32 - 160);
    f.setPointSizeF(std::max(QFont().pointSizeF() * 1.8, 1.0));
    while (f.pointSizeF() > 10 && QFontMetrics(f).horizontalAdvance(nameLbl_->text()) > available)
        f.setPointSizeF(f.pointSizeF() - 1);
    nameLbl_->setFont(f);

    const char* title = "GET";
    if (pack && pack->isUpdated.value_or(false) && !pack->isHeld.value_or(false))
        title = "UPDATE";
    else if (pack && pack->isInstalled.value_or(false))
        title = "UNINSTALL";
    GetButton::setTitleFittingWidth(getBtn_, q(title));

    const int side = std::max(120, static_cast<int>((std::max(width(), 320) - 32) / 1.5));
    imageView_->setFixedSize(side, side);
    const QImage banner = bannerImage_.isNull() ? OnlineImages::named("default-banner.jpeg") : bannerImage_;
    imageView_->setPixmap(OnlineImages::rounded(banner, side, 20));
    // Read like a repository's text: off the window's thread, within one depiction's budget.
    descriptionLbl_->setAttributedTextInBackground(
        [text = package_.desc](const std::function<bool()>& superseded) {
            return DetailsTextDocument::fromFeaturedMarkdown(text, superseded).document;
        },
        ZMDepictionBudget::queue());
    paletteDidChange(palette());
}

void FeaturedPackageViewController::showPopup(const std::string& title, const std::string& message) {
    auto* popup = new ErrorViewController;
    popup->setDelegate(this);
    popup->showWithTitle(ZMLocalizedString(title), ZMLocalizedString(message), 1, ZMLocalizedString("OK"));
    SourceAddition::topPresenter(this)->presentViewController(popup, true);
}

void FeaturedPackageViewController::getPackage() {
    auto pack = lookUp();
    if (!pack) {
        showPopup("Package not Found", "Package not found in the database. Please refresh your sources and try again.");
        return;
    }
    const std::string identifier = pack->identifier;
    dismissViewController(true, [identifier] {
        ZMVostrelle::sharedVostrelle().queuePackageWithIdentifier(identifier, std::nullopt);
    });
}

void FeaturedPackageViewController::share() {
    auto pack = lookUp();
    if (!pack) {
        showPopup("Incompatible Package", "This package is not compatible with your device and so can't be shared.");
        return;
    }
    if (sharing_) return;
    std::string sourceName = pack->sourceLocation;
    if (!pack->sourceLocation.empty())
        if (auto source = ZMStoreGuard::record<ZMRSource>("sharing a package", pack->sourceLocation))
            sourceName = source->name;
    const std::string text = ZMShareTexts::fillFormat(
        ZMLocalizedString("Check out the featured package \"%@\" by %@ from the source %@ on Vostrelle !%@(See the package : %@)"),
        {pack->name, pack->maintainer, sourceName, "\n",
         ZMShareTexts::showPackageLink(pack->identifier, pack->name, pack->sourceLocation)});
    std::vector<UIActivityViewController::Item> items{qs(text),
                                                      PackageRow::iconForPackage(pack->identifier, 120).toImage()};
    std::vector<std::string> urls;
    for (const auto& url : pack->screenshots)
        if (auto parsed = URL::parse(url); parsed && parsed->isHTTP()) urls.push_back(url);
    if (urls.empty()) {
        finishSharing(std::move(items));
        return;
    }
    // The screenshots arrive in the background; the sheet opens once all have
    // come or the time limit has passed, with those that came, in order.
    sharing_ = true;
    shareBtn_->setEnabled(false);
    busy_->show();
    const uint64_t generation = ++shareGeneration_;
    struct Collect {
        std::vector<UIActivityViewController::Item> items;
        std::vector<QImage> screenshots;
        size_t pending = 0;
    };
    auto collect = std::make_shared<Collect>(Collect{std::move(items), std::vector<QImage>(urls.size()), urls.size()});
    QPointer<FeaturedPackageViewController> self(this);
    auto complete = [self, generation, collect] {
        if (!self || generation != self->shareGeneration_ || !self->sharing_) return;
        auto out = collect->items;
        for (const auto& image : collect->screenshots)
            if (!image.isNull()) out.emplace_back(image);
        self->finishSharing(std::move(out));
    };
    for (size_t i = 0; i < urls.size(); ++i) {
        RemoteImage::fetch(urls[i], kMaximumScreenshotBytes, [collect, complete, i](const QImage& image) {
            Dispatch::main([collect, complete, i, image] {
                collect->screenshots[i] = image;
                if (--collect->pending == 0) complete();
            });
        });
    }
    Dispatch::mainAfter(kShareTimeLimit, complete);
}

void FeaturedPackageViewController::finishSharing(std::vector<UIActivityViewController::Item> items) {
    sharing_ = false;
    ++shareGeneration_;
    shareBtn_->setEnabled(true);
    busy_->hide();
    sharedItems_ = items;
    auto* sheet = new UIActivityViewController(std::move(items));
    SourceAddition::topPresenter(this)->presentViewController(sheet, true);
}

void FeaturedPackageViewController::openLink(const QUrl& url) {
    // Only web pages leave the page; mail, files and scripts do not.
    const QString scheme = url.scheme().toLower();
    if ((scheme == "http" || scheme == "https") && !url.host().isEmpty()) UIApplication::openURL(url);
}

void FeaturedPackageViewController::close() { dismissViewController(true); }

void FeaturedPackageViewController::paletteDidChange(const ZMPalette& p) {
    QPalette pal = QWidget::palette();
    pal.setColor(QPalette::Window, p.backgroundColor());
    setPalette(pal);
    setAutoFillBackground(true);
    if (!nameLbl_) return;
    PackageRow::setTextColor(nameLbl_, p.primaryTextColor());
    PackageRow::setTextColor(authorLbl_, p.secondaryTextColor());
    getBtn_->setStyleSheet(QString("QPushButton#getButton { background: %1; color: %2; border-radius: 15px; padding: 0 8px; }")
                               .arg(p.getButtonBackgoundColor().name(), p.getButtonTextColor().name()));
}
