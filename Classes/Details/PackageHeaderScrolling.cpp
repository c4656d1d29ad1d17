#include "Details/PackageHeaderScrolling.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <cmath>

#include "Details/PackageDetailsHeader.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIScrollView.h"
#include "UIKit/UIViewAlpha.h"
#include "ZMPalettedViewController.h"

namespace {

QColor blend(const QColor& from, const QColor& to, double t) {
    auto mix = [t](float a, float b) { return static_cast<float>(a + (b - a) * t); };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()), mix(from.blueF(), to.blueF()), 1.0f);
}

}  // namespace

PackageHeaderScrolling::PackageHeaderScrolling(Views views, QObject* parent) : QObject(parent), v_(views) {}

void PackageHeaderScrolling::setBannerColor(const QColor& color, const QColor& tint) {
    bannerColor_ = color;
    colorForNavBarTintColor_ = tint;
}

void PackageHeaderScrolling::setBannerHeight(double height) {
    bannerHeight_ = std::max(0.0, height);
    if (v_.banner) v_.banner->setFixedHeight(static_cast<int>(std::lround(bannerHeight_)));
}

void PackageHeaderScrolling::setBarColors(double alpha) {
    UINavigationItem* item = v_.page->navigationItem();
    const ZMPalette palette = v_.page->palette();
    QColor background, tint;
    if (setNavBarAlpha_) {
        background = bannerColor_.isValid() ? blend(bannerColor_, palette.foregroundColor(), alpha) : palette.foregroundColor();
        if (!bannerColor_.isValid()) background.setAlphaF(static_cast<float>(alpha));
        tint = palette.tintColor();
    } else {
        background = bannerColor_;
        tint = colorForNavBarTintColor_.isValid() ? colorForNavBarTintColor_ : palette.tintColor();
    }
    // Every change rebuilds the bar: only real ones go out.
    if (item->barBackgroundColor() != background) item->setBarBackgroundColor(background);
    if (item->barTintColor() != tint) item->setBarTintColor(tint);
}

void PackageHeaderScrolling::colorBar() {
    if (!hasBanner_) return;
    const double y = v_.scrollView ? v_.scrollView->contentOffsetY() : 0;
    setNavBarAlpha_ = y > 0;
    barAlpha_ = y > 0 ? std::clamp(y / kFadeDistance, 0.0, 1.0) : 1.0;
    setBarColors(barAlpha_);
}

void PackageHeaderScrolling::scrollViewDidScroll(double y) {
    if (!hasBanner_) return;
    if (y > 0) {
        setNavBarAlpha_ = true;
        // Past the hand-over point everything is where the last step below it would put it.
        const double within = std::min(y, kHandOverOffset);
        barAlpha_ = std::clamp(within / kFadeDistance, 0.0, 1.0);
        setBarColors(barAlpha_);
        setBannerHeight(kBannerHeight - 2 * within);
        contentTop_ = within + kContentTop;
        if (v_.header) v_.header->setContentTop(contentTop_);
        transitionTopContent(y >= kHandOverOffset);
        return;
    }
    if (setNavBarAlpha_) {
        setNavBarAlpha_ = false;
        barAlpha_ = 1.0;
        setBarColors(barAlpha_);
    }
    contentTop_ = kContentTop;
    if (v_.header) v_.header->setContentTop(contentTop_);
    // The pull's distance from the banner's rest height (not from its current height).
    if (spring_) spring_->stop();
    setBannerHeight(kBannerHeight - y);
}

void PackageHeaderScrolling::scrollViewWillEndDragging(double targetY) {
    // The bar's texts change with the hand-over below: they fade.
    if (auto* nav = v_.page->navigationController()) nav->navigationBar()->addFadeTransition(QStringLiteral("fadeText"), 0.1);
    if (hasBanner_ && v_.scrollView && v_.scrollView->contentOffsetY() <= 0 && bannerHeight_ != kBannerHeight) {
        if (spring_) spring_->stop();
        auto* spring = new QVariantAnimation(this);
        spring->setStartValue(bannerHeight_);
        spring->setEndValue(kBannerHeight);
        spring->setDuration(std::max(1, UIView::durationMs(0.5)));
        connect(spring, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) { setBannerHeight(v.toDouble()); });
        spring_ = spring;
        if (UIView::durationMs(0.5) == 0) {
            setBannerHeight(kBannerHeight);
            delete spring;
        } else {
            spring->start(QAbstractAnimation::DeleteWhenStopped);
        }
    }
    transitionTopContent(targetY >= kHandOverOffset);
}

void PackageHeaderScrolling::transitionTopContent(bool handOver) {
    const double a = handOver ? 0.0 : 1.0;
    PackageDetailsHeader* h = v_.header;
    if (!h || handedOver_ == handOver) return;
    ++transitions_;
    handedOver_ = handOver;
    UIView::setAlpha(v_.getBarBtn, a);
    UIView::setAlpha(v_.customTitleView, a);
    UINavigationItem* item = v_.page->navigationItem();
    item->setTitleView(handOver ? v_.customTitleView : v_.defaultTitleView);
    if (UIBarButtonItem* right = handOver ? v_.getBarBtnItem : wishlistBtn_.data(); item->rightBarButtonItem() != right)
        item->setRightBarButtonItem(right);

    const std::vector<QPointer<QWidget>> fading = {v_.banner, h->authorLbl(), h->nameLbl(), h->iconView(), h->shareBtn()};
    const std::vector<QPointer<QWidget>> rising = {v_.getBarBtn, v_.customTitleView};
    QPointer<QWidget> get = h->getBtn();
    const double button = getButtonAlpha_;
    auto apply = [fading, rising, get, button, a](double t) {
        for (const auto& w : fading)
            if (w) UIView::setAlpha(w, (1 - a) + (a - (1 - a)) * t);
        for (const auto& w : rising)
            if (w) UIView::setAlpha(w, (a + ((1 - a) - a) * t) * (w == rising.front() ? button : 1.0));
        if (get) UIView::setAlpha(get, ((1 - a) + (a - (1 - a)) * t) * button);
    };
    const int ms = UIView::durationMs(0.5);
    if (ms == 0) {
        apply(1.0);
        return;
    }
    auto* fade = new QVariantAnimation(this);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->setDuration(ms);
    connect(fade, &QVariantAnimation::valueChanged, this, [apply](const QVariant& t) { apply(t.toDouble()); });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void PackageHeaderScrolling::handleStatusBarTap() {
    setNavBarAlpha_ = false;
    if (v_.scrollView) v_.scrollView->setContentOffsetY(0, true);
    // The header comes back too: without a banner no scrolling would bring it.
    transitionTopContent(false);
    UINavigationItem* item = v_.page->navigationItem();
    item->setTitleView(v_.defaultTitleView);
    if (item->rightBarButtonItem() != wishlistBtn_.data()) item->setRightBarButtonItem(wishlistBtn_);
    barAlpha_ = 1.0;
    if (hasBanner_) setBarColors(barAlpha_);
    contentTop_ = kContentTop;
    if (v_.header) v_.header->setContentTop(contentTop_);
    if (hasBanner_) setBannerHeight(kBannerHeight);
}
