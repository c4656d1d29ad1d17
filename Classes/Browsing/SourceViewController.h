#pragma once
// One source's page, or — without a location — the add-a-source form: icon,
// name, status, the address field, description, the follow and
// original-depictions switches, the facts, the maintainer's donation,
// Twitter and e-mail buttons, and the repository-store row.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QUrl>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "Notifications/NotificationCenter.h"
#include "UIKit/Timers.h"
#include "UIKit/UIBarButtonItem.h"
#include "ZMErrorDelegate.h"
#include "ZMPalettedViewController.h"

class ErrorViewController;
class WebViewViewController;

class SourceViewController : public ZMPalettedViewController, public ZMErrorDelegate {
    Q_OBJECT
public:
    explicit SourceViewController(QWidget* parent = nullptr);
    ~SourceViewController() override;

    void setSourceLocation(const std::string& location) { sourceLocation_ = location; }
    const std::string& sourceLocation() const { return sourceLocation_; }
    void setIsPresented(bool presented) { isPresented_ = presented; }
    bool isPresented() const { return isPresented_; }
    // A copy of the source record; nullopt until first built.
    const std::optional<nlohmann::json>& sourceDictionary() const { return sourceDictionary_; }

    // Actions.
    void dismissVC();
    void refreshSource();
    void shareSource();
    void followThisRepository(bool on);
    void seeOriginalDepictions(bool on);
    void donate();
    void goToTwitter();
    void contactEmail();
    void logInOut();
    void openPurchased();
    void editingDidEnd();
    void backSwipe();

    // Redraws.
    void setSourceDictionaryFromSourceObject();
    void updateButtons();
    void updateSource();
    void setContent();
    void sourceRefreshed(const Notification& note);

    // A non-empty text, not exactly "http://" or "https://", that parses as a
    // URL with a scheme and a host.
    static bool stringIsValidURL(const std::string& text);
    bool isSourceStringValid() const { return stringIsValidURL(sourceLocation_); }
    // A valid location that a source record has.
    bool isSourceConfigured() const;
    // "mailto:<address>?subject=<subject>": the address taken from a
    // "Name <address>" contact and both parts percent-encoded, so a contact
    // cannot add recipients or headers. Invalid without an address.
    static QUrl mailtoURL(const std::string& contact, const std::string& subject);
    // The Twitter profile address of a link's last path component; only http and
    // https links give one.
    static std::optional<QUrl> twitterProfileURL(const std::string& twitterLink);

    // Outlets.
    QScrollArea* scrollView = nullptr;
    QLabel* iconView = nullptr;
    QLabel* topSourceStatusLbl = nullptr;
    QLabel* verifiedIcon = nullptr;
    QLabel* sourceNameLbl = nullptr;
    QLineEdit* sourceUrlTextField = nullptr;
    QLabel* sourceDescriptionLbl = nullptr;
    QLabel* followThisRepositoryLbl = nullptr;
    QCheckBox* followThisRepositorySwitch = nullptr;
    QLabel* seeOriginalDepictionsLbl = nullptr;
    QCheckBox* seeOriginalDepictionsSwitch = nullptr;
    QLabel* organisationLbl = nullptr;
    QLabel* sourceOrganisationLbl = nullptr;
    QLabel* statusLbl = nullptr;
    QLabel* sourceStatusLbl = nullptr;
    QLabel* installedPackagesLbl = nullptr;
    QLabel* sourceInstalledPackagesLbl = nullptr;
    QLabel* numberOfPackagesLbl = nullptr;
    QLabel* sourceNumberOfPackagesLbl = nullptr;
    QLabel* lastRepoRegenLbl = nullptr;
    QLabel* sourceLastRepoRegenLbl = nullptr;
    QPushButton* donateBtn = nullptr;
    QPushButton* twitterButton = nullptr;
    QPushButton* emailButton = nullptr;
    QWidget* repoStoreContainer = nullptr;
    QPushButton* repoStoreLogInOutButton = nullptr;
    QPushButton* repoStorePurchasedButton = nullptr;

    // The regeneration timer runs only while the page is on screen.
    bool isTimerRunning() const { return timeSinceTimer_ && timeSinceTimer_->isValid(); }
    UIViewController* lastPushedViewController() const { return lastPushed_; }
    ErrorViewController* errorViewController() const { return errorViewController_; }

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Stores a switch of the record; false (told already) when the database failed.
    bool writeSwitch(const char* key, bool on);
    void buildView();
    void startTimer();
    void redrawRegenDate();
    bool isMakersRepository() const;
    // A popup or the password prompt is up: the user has not answered yet.
    bool isAwaitingAnswer() const;
    bool hasStoreToken() const;
    std::string dictString(const char* key) const;
    bool dictBool(const char* key) const;
    void showMissingLink(const std::string& titleKey, const std::string& messageKey);
    void push(UIViewController* vc);

    std::string sourceLocation_;
    bool isPresented_ = false;
    std::optional<nlohmann::json> sourceDictionary_;
    std::unique_ptr<UITimer> timeSinceTimer_;
    ObserverToken sourceObserver_;
    QPointer<UIViewController> lastPushed_;
    QPointer<ErrorViewController> errorViewController_;
    QPointer<WebViewViewController> webViewViewController_;
    QPointer<UIBarButtonItem> refreshItem_;
    bool editing_ = false;
};
