#pragma once
// The featured page of one banner, presented from the banner's menu
// ("Featured Page"): the banner picture, the entry's title and developer, its
// description written in Markdown, a button that gets, updates or removes
// the package and a share button. Closed by its close button or a swipe to
// the right. The package is looked up anew for every action.
//
// Sharing downloads the package's screenshots in the background while the
// share button shows it is busy; what has not arrived after kShareTimeLimit
// seconds is left out.
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <optional>
#include <string>
#include <vector>

#include "Database/ZMRPackage.h"
#include "Services/ZMFeaturedPackages.h"
#include "UIKit/UIActivityViewController.h"
#include "ZMErrorDelegate.h"
#include "ZMPalettedViewController.h"

class UITextView;

class FeaturedPackageViewController : public ZMPalettedViewController, public ZMErrorDelegate {
    Q_OBJECT
public:
    static constexpr double kShareTimeLimit = 15.0;
    static constexpr int64_t kMaximumScreenshotBytes = 8 * 1024 * 1024;

    explicit FeaturedPackageViewController(QWidget* parent = nullptr);
    ~FeaturedPackageViewController() override;

    void setPackage(const ZMFeaturedPackagesTop& package) { package_ = package; }
    const ZMFeaturedPackagesTop& package() const { return package_; }
    void setBannerImage(const QImage& image) { bannerImage_ = image; }

    void setContent();
    void getPackage();
    void share();
    void close();
    // The description's HTML: the Markdown rendered, in the page's font and
    // colour (empty past one depiction's budget). The page itself builds it
    // off the window's thread (DetailsTextDocument::fromFeaturedMarkdown).
    static QString htmlFromMarkdown(const std::string& markdown);

    QLabel* authorLbl() const { return authorLbl_; }
    QLabel* nameLbl() const { return nameLbl_; }
    QLabel* imageView() const { return imageView_; }
    QPushButton* getBtn() const { return getBtn_; }
    QPushButton* shareBtn() const { return shareBtn_; }
    QPushButton* closeBtn() const { return closeBtn_; }
    UITextView* featuredDescriptionLbl() const { return descriptionLbl_; }
    bool isSharing() const { return sharing_; }
    // The items of the last share sheet.
    const std::vector<UIActivityViewController::Item>& sharedItems() const { return sharedItems_; }

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    std::optional<ZMRPackage> lookUp() const;
    void showPopup(const std::string& title, const std::string& message);
    void finishSharing(std::vector<UIActivityViewController::Item> items);
    void openLink(const QUrl& url);

    ZMFeaturedPackagesTop package_;
    QImage bannerImage_;
    QLabel* authorLbl_ = nullptr;
    QLabel* nameLbl_ = nullptr;
    QLabel* imageView_ = nullptr;
    QPushButton* getBtn_ = nullptr;
    QPushButton* shareBtn_ = nullptr;
    QPushButton* closeBtn_ = nullptr;
    QProgressBar* busy_ = nullptr;
    UITextView* descriptionLbl_ = nullptr;
    bool sharing_ = false;
    uint64_t shareGeneration_ = 0;
    std::vector<UIActivityViewController::Item> sharedItems_;
};
