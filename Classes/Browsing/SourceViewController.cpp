#include "Browsing/SourceViewController.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFrame>
#include <QFontMetrics>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ZMThemedIcon.h"
#include "Browsing/BrowsingImages.h"
#include "Browsing/BrowsingText.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SourceAddition.h"
#include "Categories/String+ZemtrixExtensions.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "ErrorViewController.h"
#include "Foundation/URL.h"
#include "Dispatch/Dispatch.h"
#include "Services/ZMRepoStoreAPI.h"
#include "Miscellaneous/ZMLog.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"
#include "WebViewViewController.h"
#include "ZMStoreGuard.h"
#include "ZMVostrelle.h"
#include "ZMMailLink.h"

using BrowsingText::q;

namespace {

constexpr int kIconSize = 84;

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// An address part of a mailto: link: unreserved characters, "@", "+" and "."
// stand; everything else ("?", "&", ",", blanks...) is escaped.
std::string encodeMailAddress(const std::string& address) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : address) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '@' || c == '+') out += static_cast<char>(c);
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

QLabel* captionLabel(const QString& text) {
    auto* l = new QLabel(text);
    l->setTextFormat(Qt::PlainText);
    return l;
}

QFrame* separatorLine() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFixedHeight(1);
    line->setObjectName("separator");
    return line;
}

}  // namespace

SourceViewController::SourceViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

SourceViewController::~SourceViewController() {
    if (timeSinceTimer_) timeSinceTimer_->invalidate();
}

bool SourceViewController::stringIsValidURL(const std::string& text) {
    if (text.empty() || text == "http://" || text == "https://") return false;
    auto url = URL::parse(text);
    return url && !url->scheme().empty() && !url->host().empty();
}

QUrl SourceViewController::mailtoURL(const std::string& contact, const std::string& subject) {
    std::string address = trimmed(contact);
    if (auto open = address.find('<'); open != std::string::npos) {
        auto close = address.find('>', open);
        address = address.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    }
    address = trimmed(address);
    if (address.empty() || address.find('@') == std::string::npos) return {};
    const std::string text = "mailto:" + encodeMailAddress(address) + "?subject=" + URLEncoding::encodeQueryValue(subject);
    return QUrl(QString::fromStdString(text), QUrl::StrictMode);
}

std::optional<QUrl> SourceViewController::twitterProfileURL(const std::string& twitterLink) {
    auto url = URL::parse(trimmed(twitterLink));
    if (!url || !url->isHTTP() || url->host().empty()) return std::nullopt;
    QUrl q(QString::fromStdString(url->string()), QUrl::StrictMode);
    if (!q.isValid()) return std::nullopt;
    return q;
}

// ---- loading ---------------------------------------------------------------------------------

void SourceViewController::buildView() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scrollView = new QScrollArea;
    scrollView->setObjectName("scrollView");
    scrollView->setWidgetResizable(true);
    scrollView->setFrameShape(QFrame::NoFrame);
    outer->addWidget(scrollView);

    auto* page = new QWidget;
    page->setObjectName("sourcePage");
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(20, 16, 20, 24);
    column->setSpacing(8);

    // Header: icon beside status, name and address.
    auto* header = new QHBoxLayout;
    header->setSpacing(16);
    iconView = new QLabel;
    iconView->setObjectName("iconView");
    iconView->setFixedSize(kIconSize, kIconSize);
    header->addWidget(iconView, 0, Qt::AlignTop);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(6);
    topSourceStatusLbl = captionLabel({});
    topSourceStatusLbl->setObjectName("topSourceStatusLbl");
    QFont statusFont = topSourceStatusLbl->font();
    statusFont.setPointSizeF(statusFont.pointSizeF() * 0.85);
    statusFont.setWeight(QFont::DemiBold);
    topSourceStatusLbl->setFont(statusFont);
    verifiedIcon = new QLabel;
    verifiedIcon->setObjectName("verifiedIcon");
    verifiedIcon->setFixedSize(16, 16);
    statusRow->addWidget(topSourceStatusLbl);
    statusRow->addWidget(verifiedIcon);
    statusRow->addStretch(1);
    titles->addLayout(statusRow);
    sourceNameLbl = captionLabel({});
    sourceNameLbl->setObjectName("sourceNameLbl");
    QFont nameFont = sourceNameLbl->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.6);
    nameFont.setWeight(QFont::Bold);
    sourceNameLbl->setFont(nameFont);
    sourceNameLbl->setWordWrap(true);
    titles->addWidget(sourceNameLbl);
    sourceUrlTextField = new QLineEdit;
    sourceUrlTextField->setObjectName("sourceUrlTextField");
    sourceUrlTextField->setMinimumHeight(34);
    sourceUrlTextField->setTextMargins(10, 0, 10, 0);
    sourceUrlTextField->setPlaceholderText("https://");
    titles->addWidget(sourceUrlTextField);
    header->addLayout(titles, 1);
    column->addLayout(header);

    sourceDescriptionLbl = captionLabel({});
    sourceDescriptionLbl->setObjectName("sourceDescriptionLbl");
    sourceDescriptionLbl->setWordWrap(true);
    column->addSpacing(8);
    column->addWidget(sourceDescriptionLbl);
    column->addSpacing(12);

    auto switchRow = [&](QLabel*& label, QCheckBox*& box, const char* caption, const char* name) {
        auto* row = new QHBoxLayout;
        label = captionLabel(q(caption));
        label->setObjectName(QString(name) + "Lbl");
        box = new QCheckBox;
        box->setObjectName(QString(name) + "Switch");
        row->addWidget(label, 1);
        row->addWidget(box);
        column->addLayout(row);
        column->addWidget(separatorLine());
    };
    switchRow(followThisRepositoryLbl, followThisRepositorySwitch, "Follow This Repository", "followThisRepository");
    switchRow(seeOriginalDepictionsLbl, seeOriginalDepictionsSwitch, "See Original Depictions", "seeOriginalDepictions");
    column->addSpacing(12);

    auto factRow = [&](QLabel*& caption, QLabel*& value, const char* text, const char* name, bool separator) {
        auto* row = new QHBoxLayout;
        caption = captionLabel(q(text));
        caption->setObjectName(QString(name) + "Lbl");
        value = captionLabel({});
        value->setObjectName(QString("source") + QChar(name[0]).toUpper() + QString(name + 1) + "Lbl");
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setMinimumWidth(10);
        value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        row->addWidget(caption);
        row->addWidget(value, 1);
        column->addLayout(row);
        if (separator) column->addWidget(separatorLine());
    };
    factRow(organisationLbl, sourceOrganisationLbl, "Organisation", "organisation", true);
    factRow(statusLbl, sourceStatusLbl, "Status", "status", true);
    factRow(installedPackagesLbl, sourceInstalledPackagesLbl, "Installed Packages", "installedPackages", true);
    factRow(numberOfPackagesLbl, sourceNumberOfPackagesLbl, "Number of Packages", "numberOfPackages", true);
    factRow(lastRepoRegenLbl, sourceLastRepoRegenLbl, "Last Regeneration", "lastRepoRegen", false);
    column->addSpacing(16);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    donateBtn = new QPushButton(q("Donate"));
    donateBtn->setObjectName("donateBtn");
    twitterButton = new QPushButton(q("Twitter"));
    twitterButton->setObjectName("twitterButton");
    emailButton = new QPushButton(q("E-mail"));
    emailButton->setObjectName("emailButton");
    for (auto* b : {donateBtn, twitterButton, emailButton}) {
        b->setMinimumHeight(40);
        b->setCursor(Qt::PointingHandCursor);
        buttons->addWidget(b, 1);
    }
    column->addLayout(buttons);

    repoStoreContainer = new QWidget;
    repoStoreContainer->setObjectName("repoStoreContainer");
    auto* store = new QHBoxLayout(repoStoreContainer);
    store->setContentsMargins(0, 0, 0, 0);
    store->setSpacing(10);
    repoStoreLogInOutButton = new QPushButton(q("Login"));
    repoStoreLogInOutButton->setObjectName("repoStoreLogInOutButton");
    repoStorePurchasedButton = new QPushButton(q("Purchased"));
    repoStorePurchasedButton->setObjectName("repoStorePurchasedButton");
    store->addWidget(repoStoreLogInOutButton, 1);
    store->addWidget(repoStorePurchasedButton, 1);
    column->addSpacing(10);
    column->addWidget(repoStoreContainer);
    column->addStretch(1);
    scrollView->setWidget(page);

    connect(followThisRepositorySwitch, &QCheckBox::clicked, this, [this](bool on) { followThisRepository(on); });
    connect(seeOriginalDepictionsSwitch, &QCheckBox::clicked, this, [this](bool on) { seeOriginalDepictions(on); });
    connect(donateBtn, &QPushButton::clicked, this, [this] { donate(); });
    connect(twitterButton, &QPushButton::clicked, this, [this] { goToTwitter(); });
    connect(emailButton, &QPushButton::clicked, this, [this] { contactEmail(); });
    connect(repoStoreLogInOutButton, &QPushButton::clicked, this, [this] { logInOut(); });
    connect(repoStorePurchasedButton, &QPushButton::clicked, this, [this] { openPurchased(); });
    // The end of an edit is one act of the user: Return, or leaving the field
    // for another after changing the address. The focus taken by a popup, by
    // a closing sheet or by another window is none, so a cancelled warning
    // is not asked again.
    connect(sourceUrlTextField, &QLineEdit::returnPressed, this, [this] { editingDidEnd(); });
    sourceUrlTextField->installEventFilter(this);
}

bool SourceViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == sourceUrlTextField && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        const bool leftByTheUser =
            reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason;
        // A hidden field lost the focus with its page: the page is closing.
        if (leftByTheUser && sourceUrlTextField->isModified() && sourceUrlTextField->isVisible()) editingDidEnd();
    }
    return ZMPalettedViewController::eventFilter(watched, event);
}

void SourceViewController::viewDidLoad() {
    buildView();
    setOverrideLargeTitles(true);
    if (isPresented_) {
        navigationItem()->setLeftBarButtonItem(
            new UIBarButtonItem(q("Close"), [this](UIBarButtonItem*) { dismissVC(); }, navigationItem()));
    }
    if (!sourceLocation_.empty()) setSourceDictionaryFromSourceObject();
    sourceObserver_ = NotificationCenter::defaultCenter().addObserver(
        ZMRSourceUpdatedNotification, NotificationCenter::Queue::Main, [this](const Notification& n) { sourceRefreshed(n); });
    UISwipeGesture::addRightSwipe(this, [this] { backSwipe(); });
    // The maker's own repository keeps its address.
    sourceUrlTextField->setReadOnly(isMakersRepository());
    // The source's store may know of purchases made elsewhere.
    if (hasStoreToken() && !dictString("endpoint").empty()) ZMRepoStoreAPI::updadatePurchasedPackagesForSource(sourceLocation_);

    auto* refresh = new UIBarButtonItem(ZMThemedIcon::named("view-refresh"), [this](UIBarButtonItem*) { refreshSource(); },
                                        navigationItem());
    refresh->setTitle(q("Refresh"));
    refreshItem_ = refresh;
    auto* share = new UIBarButtonItem(ZMThemedIcon::named("document-send"), [this](UIBarButtonItem*) { shareSource(); },
                                      navigationItem());
    share->setTitle(q("Share"));
    navigationItem()->setRightBarButtonItems({refresh, share});
    setContent();
}

void SourceViewController::viewWillAppear(bool animated) {
    // The record may have changed while the page was away (its switches from
    // another page, a refresh): the page shows what is stored now.
    if (sourceDictionary_ && !sourceDictionary_->empty()) setSourceDictionaryFromSourceObject();
    updateButtons();
    updateSource();
    if (!isSourceStringValid()) {
        sourceUrlTextField->setFocus(Qt::OtherFocusReason);
        sourceUrlTextField->setCursorPosition(static_cast<int>(sourceUrlTextField->text().size()));
    }
    setContent();
    startTimer();
}

void SourceViewController::viewDidDisappear(bool animated) {
    // Nothing to redraw off screen: the timer stops and starts again on the next appearance.
    if (timeSinceTimer_) timeSinceTimer_->invalidate();
    timeSinceTimer_.reset();
}

void SourceViewController::startTimer() {
    if (isTimerRunning()) return;
    QPointer<SourceViewController> self(this);
    timeSinceTimer_ = UITimer::scheduledTimer(1.0, true, [self] {
        if (self && self->isViewLoaded() && self->isOnScreen()) self->redrawRegenDate();
    });
}

void SourceViewController::redrawRegenDate() {
    if (!sourceDictionary_ || !sourceDictionary_->contains("regenDate")) return;
    auto text = ZemtrixExtensions::timeSince(dictString("regenDate"));
    sourceLastRepoRegenLbl->setText(QString::fromStdString(text.value_or(ZMLocalizedString("never"))));
}

// ---- the record ----------------------------------------------------------------------------

void SourceViewController::setSourceDictionaryFromSourceObject() {
    sourceDictionary_ = nlohmann::json::object();
    if (!isSourceStringValid()) return;
    if (auto source = ZMStoreGuard::record<ZMRSource>("reading a source", sourceLocation_)) {
        // Empty texts are stored as nil: keep only the present values.
        const nlohmann::json record = source->dictionaryValue();
        for (const auto& [key, value] : record.items())
            if (!value.is_null()) (*sourceDictionary_)[key] = value;
    }
}

std::string SourceViewController::dictString(const char* key) const {
    if (!sourceDictionary_) return {};
    auto it = sourceDictionary_->find(key);
    if (it == sourceDictionary_->end() || !it->is_string()) return {};
    return it->get<std::string>();
}

bool SourceViewController::dictBool(const char* key) const {
    if (!sourceDictionary_) return false;
    auto it = sourceDictionary_->find(key);
    if (it == sourceDictionary_->end()) return false;
    // A flag may come back from the store as a number.
    if (it->is_number_integer()) return it->get<int64_t>() != 0;
    return it->is_boolean() && it->get<bool>();
}

bool SourceViewController::isMakersRepository() const { return sourceLocation_ == SourceAddition::kMakersRepositoryLocation; }

bool SourceViewController::hasStoreToken() const {
    // The payment client's rule: a token and a payment secret, both non-empty.
    return ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(sourceLocation_);
}

// ---- redraws -----------------------------------------------------------------------------------

void SourceViewController::setContent() {
    // The rounded shapes (icon 0.2237 of its height, the address field half its
    // height, buttons 10) come from the pixmaps and the palette's style sheet;
    // the donation title shrinks to the button's width.
    QFont f = donateBtn->font();
    const QString title = donateBtn->text();
    for (qreal size = font().pointSizeF(); size > 7 && QFontMetrics(f).horizontalAdvance(title) > donateBtn->width() - 16; size -= 0.5)
        f.setPointSizeF(size);
    donateBtn->setFont(f);
}

void SourceViewController::updateButtons() {
    const bool hasStore = !dictString("endpoint").empty();
    repoStoreContainer->setVisible(hasStore);
    repoStoreContainer->setFixedHeight(hasStore ? 25 + 15 : 0);
    const bool token = hasStoreToken();
    repoStoreLogInOutButton->setText(token ? q("Logout") : q("Login"));
    repoStorePurchasedButton->setEnabled(token);
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(repoStorePurchasedButton->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(repoStorePurchasedButton);
        repoStorePurchasedButton->setGraphicsEffect(effect);
    }
    effect->setOpacity(token ? 1.0 : 0.5);
}

void SourceViewController::updateSource() {
    const bool valid = isSourceStringValid();
    const bool hasRecord = sourceDictionary_ && !sourceDictionary_->empty();
    // Icon.
    QPixmap icon;
    if (valid) {
        if (auto path = BrowsingImages::iconFilePath(ZMRPackageManager::sharedPackageManager().sources().iconForLocation(sourceLocation_)))
            if (auto picture = BrowsingImages::fromFile(*path, kIconSize * 2)) icon = *picture;
        if (icon.isNull()) icon = BrowsingImages::named(dictBool("isTrusted") ? "Verified Icon" : "ZMCydiaSource.png", kIconSize * 2);
    } else {
        icon = BrowsingImages::named("AppIcon", kIconSize * 2);
    }
    iconView->setPixmap(BrowsingImages::rounded(icon, kIconSize, 0.2237));

    // Status.
    const std::string category = dictString("category");
    const QString status = category == "Default" ? q("Default Repository") : QString::fromStdString(category);
    topSourceStatusLbl->setText(status.toUpper());
    sourceStatusLbl->setText(status);
    const bool isDefault = category == "Default";
    verifiedIcon->setVisible(isDefault);
    if (isDefault) verifiedIcon->setPixmap(BrowsingImages::named("Verified Icon", 16));

    // Name.
    QPalette namePalette = sourceNameLbl->palette();
    namePalette.setColor(QPalette::WindowText, palette().primaryTextColor());
    if (!hasRecord) {
        sourceNameLbl->setText(q("New Source"));
    } else if (dictBool("hasErrors")) {
        sourceNameLbl->setText(q("Invalid Source"));
        namePalette.setColor(QPalette::WindowText, QColor(255, 59, 48));
    } else {
        sourceNameLbl->setText(QString::fromStdString(dictString("name")));
    }
    sourceNameLbl->setPalette(namePalette);
    sourceNameLbl->setStyleSheet(QStringLiteral("color: %1;").arg(namePalette.color(QPalette::WindowText).name()));

    // Address.
    if (!sourceUrlTextField->hasFocus() || sourceUrlTextField->text().isEmpty())
        sourceUrlTextField->setText(QString::fromStdString(sourceLocation_.empty() ? std::string("https://") : sourceLocation_));

    // Description.
    if (dictBool("hasErrors"))
        sourceDescriptionLbl->setText(q("There were errors while trying to refresh this source. Please double-check the URL and try refreshing again."));
    else if (!dictString("Description").empty())
        sourceDescriptionLbl->setText(QString::fromStdString(dictString("Description")));
    else
        sourceDescriptionLbl->setText(q("Please input the valid source URL above to add the source."));

    // The maintainer's buttons and the refresh belong to a source that exists.
    for (auto* b : {donateBtn, twitterButton, emailButton}) b->setVisible(hasRecord);
    if (refreshItem_) refreshItem_->setEnabled(hasRecord);

    followThisRepositorySwitch->setChecked(dictBool("isFollowed"));
    seeOriginalDepictionsSwitch->setChecked(dictBool("seeOriginalDepictions"));

    // Facts.
    if (!hasRecord) {
        for (auto* l : {sourceOrganisationLbl, sourceInstalledPackagesLbl, sourceNumberOfPackagesLbl, sourceLastRepoRegenLbl})
            l->clear();
        return;
    }
    const std::string maintainer = dictString("maintainer");
    sourceOrganisationLbl->setText(QString::fromStdString(maintainer.empty() ? dictString("contact") : maintainer));
    auto installed = ZMStoreGuard::value("counting a source's installed packages", [&] {
        return ZMRPackageManager::sharedPackageManager().packages().countOfInstalledPackagesForSource(sourceLocation_);
    });
    sourceInstalledPackagesLbl->setText(installed ? QString::number(*installed) : QString());
    if (sourceDictionary_->contains("totalPackages")) sourceNumberOfPackagesLbl->setText(QString::fromStdString(dictString("totalPackages")));
    if (sourceDictionary_->contains("regenDate")) redrawRegenDate();
}

void SourceViewController::sourceRefreshed(const Notification&) {
    if (!sourceDictionary_ || !isViewLoaded()) return;
    setSourceDictionaryFromSourceObject();
    updateButtons();
    updateSource();
    setContent();
}

// ---- actions -----------------------------------------------------------------------------------

void SourceViewController::dismissVC() {
    if (auto* presenter = presentingViewController()) presenter->dismissViewController(true);
    else if (navigationController() && navigationController()->presentingViewController())
        navigationController()->presentingViewController()->dismissViewController(true);
}

void SourceViewController::backSwipe() {
    if (isPresented_) dismissVC();
    else if (auto* nav = navigationController()) nav->popViewController(true);
}

bool SourceViewController::isSourceConfigured() const {
    if (!isSourceStringValid()) return false;
    return ZMStoreGuard::record<ZMRSource>("reading a source", sourceLocation_).has_value();
}

void SourceViewController::refreshSource() {
    // A typed address the user has not added (the plain-http warning
    // cancelled) is no source: refreshing it could only fail.
    if (!isSourceConfigured()) return;
    ZMRPackageManager::sharedPackageManager().sources().refreshSource(sourceLocation_);
}

void SourceViewController::shareSource() {
    if (!isSourceStringValid()) return;
    ZMVostrelle::sharedVostrelle().shareSourceWithLocation(sourceLocation_);
}

void SourceViewController::followThisRepository(bool on) {
    if (!writeSwitch("isFollowed", on)) followThisRepositorySwitch->setChecked(!on);
}

void SourceViewController::seeOriginalDepictions(bool on) {
    if (!writeSwitch("seeOriginalDepictions", on)) seeOriginalDepictionsSwitch->setChecked(!on);
}

bool SourceViewController::writeSwitch(const char* key, bool on) {
    if (!isSourceStringValid()) return true;
    return ZMStoreGuard::run("setting a source's switch", [&] {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            auto source = realm->objectForPrimaryKey<ZMRSource>(sourceLocation_);
            if (source && !source->isInvalidated()) realm->setValueForKey(*source, key, on);
        });
    });
}

void SourceViewController::push(UIViewController* vc) {
    lastPushed_ = vc;
    if (auto* nav = navigationController()) nav->pushViewController(vc, true);
    else SourceAddition::topPresenter(this)->presentViewController(new UINavigationController(vc), true);
}

void SourceViewController::showMissingLink(const std::string& titleKey, const std::string& messageKey) {
    auto* popup = new ErrorViewController;
    popup->showWithTitle(ZMLocalizedString(titleKey), BrowsingText::format(messageKey, dictString("name")), 1,
                         ZMLocalizedString("OK"));
    errorViewController_ = popup;
    SourceAddition::topPresenter(this)->presentViewController(popup, true);
}

void SourceViewController::donate() {
    auto link = URL::parse(trimmed(dictString("donateLink")));
    // Only web pages open in the browser screen.
    if (!link || !link->isHTTP() || link->host().empty()) {
        showMissingLink("No Donation Link", "%@ maintainer hasn't provided a donation link");
        return;
    }
    auto* web = new WebViewViewController;
    web->setViewTitle(BrowsingText::format("Donate to %@", dictString("name")));
    web->setWebsiteURL(QUrl(QString::fromStdString(link->string()), QUrl::StrictMode));
    webViewViewController_ = web;
    push(web);
}

void SourceViewController::goToTwitter() {
    auto profile = twitterProfileURL(dictString("twitterLink"));
    if (!profile) {
        showMissingLink("No Twitter Link", "%@ maintainer hasn't provided a Twitter link");
        return;
    }
    // The Twitter application's own scheme never leaves the program; the profile opens in the browser screen.
    auto* web = new WebViewViewController;
    web->setViewTitle(BrowsingText::format("%@'s Twitter", dictString("name")));
    web->setWebsiteURL(*profile);
    webViewViewController_ = web;
    push(web);
}

void SourceViewController::contactEmail() {
    const std::string contact = dictString("contact");
    if (contact.empty()) return;
    QUrl url = mailtoURL(contact, ZMLocalizedString("Regarding Vostrelle source"));
    if (!url.isValid() || url.isEmpty()) {
        ZMLOG("no e-mail address in the contact of {}", sourceLocation_);
        return;
    }
    ZMMailLink::open(url);
}

void SourceViewController::logInOut() {
    if (sourceLocation_.empty()) return;
    QPointer<SourceViewController> self(this);
    auto redraw = [self](bool) {
        Dispatch::main([self] {
            if (self) self->updateButtons();
        });
    };
    if (hasStoreToken()) ZMRepoStoreAPI::logoutOfSource(sourceLocation_, redraw);
    else ZMRepoStoreAPI::loginToSource(sourceLocation_, redraw);
}

void SourceViewController::openPurchased() {
    auto* list = new PackagesTableViewController;
    list->setCategory(kCategorySpecial_SileoPackages);
    list->setSourceLocation(sourceLocation_);
    list->setTitle(q(kCategorySpecial_SileoPackages));
    push(list);
}

bool SourceViewController::isAwaitingAnswer() const {
    if (QApplication::activeModalWidget()) return true;
    UIViewController* top = SourceAddition::topPresenter(const_cast<SourceViewController*>(this));
    return top && top != this && !top->isAncestorOf(this);
}

void SourceViewController::editingDidEnd() {
    if (editing_) return;
    editing_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{editing_};

    const std::string typed = sourceUrlTextField->text().toStdString();
    const std::string text = trimmed(typed);
    sourceUrlTextField->setText(QString::fromStdString(text));
    if (isMakersRepository()) return;
    // A popup or the password prompt is still waiting for its answer: no new attempt.
    if (isAwaitingAnswer()) return;
    // One normalisation, the same the collection applies when adding.
    auto normalized = ZMRSources::normalizeSourceLocation(text);
    if (!normalized.ok()) {
        // An untouched form ("https://" or nothing) is not an attempt to add.
        if (normalized.problem == ZMRSourceLocationProblem::Empty || normalized.problem == ZMRSourceLocationProblem::SchemeOnly) return;
        ZMRAddSourceResult refused{ZMRAddSourceStatus::Refused, {}, normalized.problem};
        auto* popup = new ErrorViewController;
        popup->showWithTitle(ZMLocalizedString("Cannot Add Source"), SourceAddition::refusalMessage(refused, text), 1,
                             ZMLocalizedString("OK"));
        errorViewController_ = popup;
        SourceAddition::topPresenter(this)->presentViewController(popup, true);
        return;
    }
    const std::string location = normalized.location;
    if (!stringIsValidURL(location)) return;
    sourceUrlTextField->setText(QString::fromStdString(location));
    auto configured = ZMStoreGuard::value("adding a source", [&] { return ZMRSources::isLocationConfigured(location); });
    if (!configured) return;
    if (*configured) {
        // Already configured, perhaps under the other scheme: show that source.
        size_t at = location.find("://");
        const std::string rest = location.substr(at + 3);
        for (const std::string& candidate : {"https://" + rest, "http://" + rest}) {
            auto found = ZMStoreGuard::value("adding a source", [&] { return ZMRSource::objectForPrimaryKey(candidate); });
            if (!found) return;
            if (*found) {
                if (candidate == sourceLocation_) return;
                sourceLocation_ = candidate;
                break;
            }
        }
        SourceAddition::add(this, location, false, false);  // says why nothing was added
        sourceUrlTextField->setText(QString::fromStdString(sourceLocation_));
        setSourceDictionaryFromSourceObject();
        updateButtons();
        updateSource();
        return;
    }
    sourceLocation_ = location;
    QPointer<SourceViewController> self(this);
    SourceAddition::add(this, location, false, seeOriginalDepictionsSwitch->isChecked(), [self](bool stored) {
        if (!self || !stored) return;
        self->setSourceDictionaryFromSourceObject();
        self->updateButtons();
        self->updateSource();
    });
    setSourceDictionaryFromSourceObject();
    updateButtons();
    updateSource();
}

// ---- palette ---------------------------------------------------------------------------------

void SourceViewController::paletteDidChange(const ZMPalette& palette) {
    if (!scrollView) return;
    QPalette p = this->QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    scrollView->widget()->setAutoFillBackground(false);
    scrollView->viewport()->setAutoFillBackground(false);
    auto colour = [](QLabel* l, const QColor& c) {
        QPalette lp = l->palette();
        lp.setColor(QPalette::WindowText, c);
        l->setPalette(lp);
    };
    for (auto* l : {sourceNameLbl, sourceOrganisationLbl, sourceStatusLbl, sourceInstalledPackagesLbl,
                    sourceNumberOfPackagesLbl, sourceLastRepoRegenLbl, followThisRepositoryLbl, seeOriginalDepictionsLbl})
        colour(l, palette.primaryTextColor());
    for (auto* l : {topSourceStatusLbl, sourceDescriptionLbl, organisationLbl, statusLbl, installedPackagesLbl,
                    numberOfPackagesLbl, lastRepoRegenLbl})
        colour(l, palette.secondaryTextColor());
    const QColor text = isDarkMode() ? palette.primaryTextColor() : palette.getButtonTextColor();
    const QColor fill = isDarkMode() ? palette.highlightColor() : palette.getButtonBackgoundColor();
    const QString buttonStyle = QStringLiteral(
                                    "QPushButton { color: %1; background: %2; border: none; border-radius: 10px; "
                                    "padding: 6px 12px; font-weight: 600; } QPushButton:disabled { color: %1; }")
                                    .arg(text.name(QColor::HexArgb), fill.name(QColor::HexArgb));
    for (auto* b : {donateBtn, twitterButton, emailButton, repoStoreLogInOutButton, repoStorePurchasedButton})
        b->setStyleSheet(buttonStyle);
    sourceUrlTextField->setStyleSheet(
        QStringLiteral("QLineEdit#sourceUrlTextField { border-radius: 17px; padding: 0 4px; background: %1; color: %2; "
                       "border: 1px solid %3; }")
            .arg(palette.cellBackgroundColor().name(QColor::HexArgb), palette.primaryTextColor().name(QColor::HexArgb),
                 palette.separatorColor().name(QColor::HexArgb)));
    for (auto* line : findChildren<QFrame*>("separator")) {
        QPalette lp = line->palette();
        lp.setColor(QPalette::WindowText, palette.separatorColor());
        line->setPalette(lp);
    }
    if (sourceDictionary_ && dictBool("hasErrors")) updateSource();
}
