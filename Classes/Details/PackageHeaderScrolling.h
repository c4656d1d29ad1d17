#pragma once
// How the package details page's header follows the page's scrolling, for
// a package with a banner (a native depiction):
//
//   0 < y < 100   the bar fades in (alpha y / 49, at most 1), the banner
//                 shrinks to 200 - 2y, icon and name move to y + 20 from it
//   y >= 100      the bar is opaque and the header is handed over to it:
//                 the header fades out, the bar shows the icon as its title
//                 and a Get button in place of the wishlist button
//   y <= 0        a pull: the banner is 200 - y tall (200 + the pull), back to
//                 200 when the drag ends
//
// Without a banner scrolling changes nothing here, but the end of a drag
// still hands the header over when the page comes to rest at 100 or more
// (and back below); every end of a drag fades the bar's texts over 0.1 s.
// The hand-over itself (transitionTopContent) cross-fades
// over 0.5 s, once per change of state (an unavailable package's
// half-transparent Get button stays so and does not fade again at every
// step); handleStatusBarTap scrolls back to the top and gives the header back.
//
// The bar here does not float over the banner: at the top it takes the
// banner's own (dominant) colour with a readable tint, and scrolling blends
// that into the palette's bar colour by the bar's alpha.
#include <QColor>
#include <QObject>
#include <QPointer>
#include <QVariantAnimation>

class PackageDetailsHeader;
class QLabel;
class QPushButton;
class UIBarButtonItem;
class UIScrollView;
class ZMPalettedViewController;

class PackageHeaderScrolling : public QObject {
    Q_OBJECT
public:
    static constexpr double kBannerHeight = 200;
    static constexpr double kHandOverOffset = 100;
    static constexpr double kFadeDistance = 49;
    static constexpr double kContentTop = 20;

    struct Views {
        ZMPalettedViewController* page = nullptr;
        UIScrollView* scrollView = nullptr;
        QLabel* banner = nullptr;
        PackageDetailsHeader* header = nullptr;
        QPushButton* getBarBtn = nullptr;
        UIBarButtonItem* getBarBtnItem = nullptr;
        QWidget* customTitleView = nullptr;
        QWidget* defaultTitleView = nullptr;
    };

    PackageHeaderScrolling(Views views, QObject* parent);

    void setHasBanner(bool has) { hasBanner_ = has; }
    bool hasBanner() const { return hasBanner_; }
    void setWishlistButton(UIBarButtonItem* item) { wishlistBtn_ = item; }
    // The Get button's alpha while the header shows (0.5 for an unavailable package).
    void setGetButtonAlpha(double alpha) { getButtonAlpha_ = alpha; }
    // The banner image's dominant colour and the tint that reads on it (invalid: none yet).
    void setBannerColor(const QColor& color, const QColor& tint);
    QColor colorForNavBarTintColor() const { return colorForNavBarTintColor_; }

    void scrollViewDidScroll(double y);
    void scrollViewWillBeginDragging() {}
    void scrollViewWillEndDragging(double targetY);
    // YES hands the header to the bar, NO gives it back.
    void transitionTopContent(bool handOver);
    void handleStatusBarTap();
    // Colours the bar for the current offset (on appearing, after a palette change).
    void colorBar();

    double bannerHeight() const { return bannerHeight_; }
    double iconTop() const { return contentTop_; }
    double nameTop() const { return contentTop_; }
    double barAlpha() const { return barAlpha_; }
    bool setNavBarAlpha() const { return setNavBarAlpha_; }
    bool isHandedOver() const { return handedOver_; }
    // How many cross-fades ran (a call in the state already shown runs none).
    int transitionCount() const { return transitions_; }

private:
    void setBannerHeight(double height);
    void setBarColors(double alpha);
    Views v_;
    QPointer<UIBarButtonItem> wishlistBtn_;
    bool hasBanner_ = false;
    bool setNavBarAlpha_ = false;
    bool handedOver_ = false;
    double bannerHeight_ = kBannerHeight;
    double contentTop_ = kContentTop;
    double barAlpha_ = 1.0;
    double getButtonAlpha_ = 1.0;
    int transitions_ = 0;
    QColor bannerColor_;
    QColor colorForNavBarTintColor_;
    QPointer<QVariantAnimation> spring_;
};
