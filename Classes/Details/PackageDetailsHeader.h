#pragma once
// The header of the package details page: icon, name with the verified
// badge, developer, the user's five stars with their label, version and
// category, and the Get and Share buttons. The page fills the texts; this
// lays them out for the window and the source:
//
//                   info-JSON source      other source
//   compact window  icon 100, corner 25   icon 80, corner 20
//   other windows   icon 120, corner 30   icon 80, corner 20
//
// A compact window (568 or 480 points tall) gets stars of 20 and the
// smaller fonts, other windows stars of 25; the buttons stand beside the
// icon for an info-JSON source on a window that is not compact, else 30
// below the developer label.
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <array>

class QBoxLayout;
class QVBoxLayout;

class PackageDetailsHeader : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTopGap = 20;
    explicit PackageDetailsHeader(QWidget* parent = nullptr);

    QLabel* iconView() const { return iconView_; }
    QLabel* nameLbl() const { return nameLbl_; }
    QLabel* verifiedIconView() const { return verifiedIconView_; }
    QLabel* authorLbl() const { return authorLbl_; }
    const std::array<QToolButton*, 5>& ratingButtons() const { return ratingButtons_; }
    QLabel* ratingLbl() const { return ratingLbl_; }
    QLabel* versionLbl() const { return versionLbl_; }
    QLabel* packageVersionLbl() const { return packageVersionLbl_; }
    QLabel* categoryLbl() const { return categoryLbl_; }
    QLabel* packageCategoryLbl() const { return packageCategoryLbl_; }
    QPushButton* getBtn() const { return getBtn_; }
    QPushButton* shareBtn() const { return shareBtn_; }

    // Whether `windowHeight` makes a compact window.
    static bool isCompactHeight(int windowHeight) { return windowHeight == 568 || windowHeight == 480; }
    void applyGeometry(bool compact, bool infoJsonSource);
    bool isCompact() const { return compact_; }
    int iconSide() const { return iconSide_; }
    double iconCornerRadius() const { return iconCorner_; }
    int starSize() const { return starSize_; }
    bool buttonsBesideIcon() const { return buttonsBesideIcon_; }

    // The icon, drawn at the header's size with its corners.
    void setIcon(const QPixmap& icon);
    // Stars 1...`rating` filled ("starSelected"), the others empty ("star").
    void paintStars(int rating);
    // Which of the five is filled (tests and the star buttons' state).
    std::array<bool, 5> filledStars() const { return filled_; }
    // The distance of the icon and the name from the banner (the scrolling moves them).
    void setContentTop(double top);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void fitAuthorLabel();
    QLabel* iconView_;
    QLabel* nameLbl_;
    QLabel* verifiedIconView_;
    QLabel* authorLbl_;
    std::array<QToolButton*, 5> ratingButtons_{};
    QLabel* ratingLbl_;
    QLabel* versionLbl_;
    QLabel* packageVersionLbl_;
    QLabel* categoryLbl_;
    QLabel* packageCategoryLbl_;
    QPushButton* getBtn_;
    QPushButton* shareBtn_;
    QWidget* buttons_;
    QVBoxLayout* titles_;
    QBoxLayout* outer_;
    QPixmap icon_;
    std::array<bool, 5> filled_{};
    bool compact_ = false;
    int iconSide_ = 80;
    double iconCorner_ = 20;
    int starSize_ = 25;
    bool buttonsBesideIcon_ = false;
};
