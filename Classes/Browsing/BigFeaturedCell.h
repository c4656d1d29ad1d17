#pragma once
// A banner card of the featured carousel: the banner picture with corners of
// 20 px, and across its lower part a translucent band with the package's
// icon, the banner's title, the package's description and "developer -
// source". A shadow of radius 8 and opacity 0.35 surrounds it.
//
// A press of at least 0.1 s shrinks the card to 0.95 and posts
// "LongPressBeganNotification"; released on the card it springs back and
// posts "LongPressEndedNotification" with {"identifier": packageIdentifier},
// which opens the package once. A press that moves (a drag of the carousel)
// or is released beside the card only springs back. A right click asks for
// the card's menu (contextMenuRequested).
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <string>

#include "UIKit/UILongPressGestureRecognizer.h"
#include "ZMPalette.h"

inline constexpr const char* kLongPressBeganNotification = "LongPressBeganNotification";
inline constexpr const char* kLongPressEndedNotification = "LongPressEndedNotification";

class BigFeaturedCell : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double pressScale READ pressScale WRITE setPressScale)
public:
    static constexpr double kCornerRadius = 20;
    static constexpr double kMinimumPressSeconds = 0.1;
    static constexpr double kPressedScale = 0.95;

    explicit BigFeaturedCell(QWidget* parent = nullptr);

    const std::string& packageIdentifier() const { return packageIdentifier_; }
    void setPackageIdentifier(const std::string& identifier) { packageIdentifier_ = identifier; }
    bool isPressed() const { return isPressed_; }

    void setBannerImage(const QImage& image);
    QImage bannerImage() const { return banner_; }
    void setIcon(const QPixmap& icon);
    // Reloads the icon of packageIdentifier (the package's own, without the logo).
    void updatePackageIcon();
    void setTexts(const std::string& name, const std::string& description, const std::string& maintainerSource);
    void applyPalette(const ZMPalette& palette);

    QLabel* iconView() const { return iconView_; }
    QLabel* nameLbl() const { return nameLbl_; }
    QLabel* descriptionLbl() const { return descriptionLbl_; }
    QLabel* maintainerSourceLbl() const { return maintainerSourceLbl_; }
    UILongPressGestureRecognizer* longPressRecognizer() const { return recognizer_; }

    double pressScale() const { return scale_; }
    void setPressScale(double scale);

    void handleLongPressGesture(UILongPressGestureRecognizer::State state);
    void handleLongPressBegan();
    // `open`: released on the card (posts the ended notification).
    void handleLongPressEnded(bool open);

signals:
    void contextMenuRequested(QPoint globalPos);

protected:
    void resizeEvent(QResizeEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    void layoutContent();
    void animateScale(double to, double damping, std::function<void()> finished);

    class Content;
    Content* content_;
    QWidget* bottomBlur_;
    QLabel* iconView_;
    QLabel* nameLbl_;
    QLabel* descriptionLbl_;
    QLabel* maintainerSourceLbl_;
    UILongPressGestureRecognizer* recognizer_;
    std::string packageIdentifier_;
    QImage banner_;
    bool isPressed_ = false;
    double scale_ = 1.0;
};
