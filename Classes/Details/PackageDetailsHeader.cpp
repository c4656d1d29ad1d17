#include "Details/PackageDetailsHeader.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QVBoxLayout>

#include "Browsing/BrowsingImages.h"
#include "Details/DetailsImages.h"
#include "Details/ReviewText.h"
#include "Miscellaneous/ZMLocalization.h"

namespace {

QLabel* plainLabel(const char* name, bool wraps = false) {
    auto* l = new QLabel;
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText);  // every text here comes from an index or a server
    l->setWordWrap(wraps);
    return l;
}

QSpacerItem* gapItem(QBoxLayout* layout) {
    for (int i = 0; i < layout->count(); ++i)
        if (auto* spacer = layout->itemAt(i)->spacerItem()) return spacer;
    return nullptr;
}

}  // namespace

PackageDetailsHeader::PackageDetailsHeader(QWidget* parent)
    : QWidget(parent),
      iconView_(new QLabel),
      nameLbl_(plainLabel("nameLbl", true)),
      verifiedIconView_(new QLabel),
      authorLbl_(plainLabel("authorLbl", true)),
      ratingLbl_(plainLabel("ratingLbl")),
      versionLbl_(plainLabel("versionLbl")),
      packageVersionLbl_(plainLabel("packageVersionLbl")),
      categoryLbl_(plainLabel("categoryLbl")),
      packageCategoryLbl_(plainLabel("packageCategoryLbl")),
      getBtn_(new QPushButton),
      shareBtn_(new QPushButton),
      buttons_(new QWidget) {
    setObjectName("header");
    outer_ = new QVBoxLayout(this);
    outer_->setContentsMargins(20, kTopGap, 20, 0);
    outer_->setSpacing(10);

    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    iconView_->setObjectName("iconView");
    top->addWidget(iconView_, 0, Qt::AlignTop);
    titles_ = new QVBoxLayout;
    titles_->setSpacing(4);
    auto* nameRow = new QHBoxLayout;
    nameRow->setSpacing(6);
    nameRow->addWidget(nameLbl_, 1);
    verifiedIconView_->setObjectName("verifiedIconView");
    verifiedIconView_->setFixedSize(20, 20);
    verifiedIconView_->setScaledContents(true);
    verifiedIconView_->setPixmap(BrowsingImages::named("Verified Icon", 40));
    verifiedIconView_->hide();
    nameRow->addWidget(verifiedIconView_, 0, Qt::AlignTop);
    titles_->addLayout(nameRow);
    titles_->addWidget(authorLbl_);
    titles_->addSpacing(30);
    auto* buttonRow = new QHBoxLayout(buttons_);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    buttonRow->setSpacing(12);
    getBtn_->setObjectName("getBtn");
    getBtn_->setFixedHeight(30);
    shareBtn_->setObjectName("shareBtn");
    shareBtn_->setFixedSize(30, 30);
    shareBtn_->setToolTip(QString::fromStdString(ZMLocalizedString("Share")));
    shareBtn_->setIcon(DetailsImages::named("Share"));
    shareBtn_->setCursor(Qt::PointingHandCursor);
    buttonRow->addWidget(getBtn_);
    buttonRow->addWidget(shareBtn_);
    buttonRow->addStretch(1);
    titles_->addWidget(buttons_);
    top->addLayout(titles_, 1);
    outer_->addLayout(top);

    auto* stars = new QHBoxLayout;
    stars->setSpacing(4);
    for (size_t i = 0; i < ratingButtons_.size(); ++i) {
        auto* star = new QToolButton;
        star->setObjectName(QStringLiteral("rating%1").arg(i + 1));
        star->setAutoRaise(true);
        star->setCursor(Qt::PointingHandCursor);
        star->setToolTip(QString::number(i + 1));
        ratingButtons_[i] = star;
        stars->addWidget(star);
    }
    stars->addSpacing(6);
    stars->addWidget(ratingLbl_);
    stars->addStretch(1);
    outer_->addLayout(stars);
    auto facts = [this](QLabel* caption, QLabel* value, const char* text) {
        auto* line = new QHBoxLayout;
        caption->setText(QString::fromStdString(ZMLocalizedString(text)));
        line->addWidget(caption);
        line->addWidget(value, 1);
        outer_->addLayout(line);
    };
    facts(versionLbl_, packageVersionLbl_, "Version");
    facts(categoryLbl_, packageCategoryLbl_, "Category");
    paintStars(0);
    applyGeometry(false, false);
}

void PackageDetailsHeader::applyGeometry(bool compact, bool infoJsonSource) {
    compact_ = compact;
    if (infoJsonSource) {
        iconSide_ = compact ? 100 : 120;
        iconCorner_ = compact ? 25 : 30;
    } else {
        iconSide_ = 80;
        iconCorner_ = 20;
    }
    starSize_ = compact ? 20 : 25;
    buttonsBesideIcon_ = !compact && infoJsonSource;
    iconView_->setFixedSize(iconSide_, iconSide_);
    setIcon(icon_);

    QFont name = nameLbl_->font();
    QFont facts = packageVersionLbl_->font();
    if (compact) {
        name.setPixelSize(22);
        name.setWeight(QFont::DemiBold);
        facts.setPixelSize(15);
        facts.setWeight(QFont::DemiBold);
    } else {
        name.setPixelSize(26);
        name.setWeight(QFont::Bold);
        facts.setPixelSize(14);
        facts.setWeight(QFont::Normal);
    }
    nameLbl_->setFont(name);
    for (QLabel* l : {versionLbl_, packageVersionLbl_, categoryLbl_, packageCategoryLbl_}) l->setFont(facts);

    // Beside the icon the buttons sit at its foot; below the developer, 30 under it.
    if (QSpacerItem* gap = gapItem(titles_)) {
        if (buttonsBesideIcon_) gap->changeSize(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding);
        else gap->changeSize(0, 30, QSizePolicy::Minimum, QSizePolicy::Fixed);
        titles_->invalidate();
    }
    for (QPushButton* b : {getBtn_, shareBtn_}) b->setProperty("cornerRadius", b->height() / 2.0);
    for (QToolButton* star : ratingButtons_) {
        star->setFixedSize(starSize_, starSize_);
        star->setIconSize(QSize(starSize_ - 4, starSize_ - 4));
    }
    for (QLabel* l : {ratingLbl_, versionLbl_, packageVersionLbl_, categoryLbl_, packageCategoryLbl_})
        l->setFixedHeight(starSize_);
    paintStars(static_cast<int>(std::count(filled_.begin(), filled_.end(), true)));
    fitAuthorLabel();
}

void PackageDetailsHeader::setIcon(const QPixmap& icon) {
    icon_ = icon;
    const qreal ratio = 2.0;
    QPixmap out(QSize(iconSide_, iconSide_) * ratio);
    out.setDevicePixelRatio(ratio);
    out.fill(Qt::transparent);
    if (!icon.isNull()) {
        QPainter p(&out);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(0, 0, iconSide_, iconSide_), iconCorner_, iconCorner_);
        p.setClipPath(clip);
        p.drawPixmap(QRect(0, 0, iconSide_, iconSide_), icon);
    }
    iconView_->setPixmap(out);
}

void PackageDetailsHeader::paintStars(int rating) {
    for (int i = 0; i < 5; ++i) {
        filled_[i] = i < rating;
        ratingButtons_[i]->setIcon(ReviewText::star(filled_[i], starSize_ * 2));
    }
}

void PackageDetailsHeader::setContentTop(double top) {
    auto m = outer_->contentsMargins();
    const int wanted = static_cast<int>(std::lround(top));
    if (m.top() == wanted) return;
    m.setTop(wanted);
    outer_->setContentsMargins(m);
}

void PackageDetailsHeader::fitAuthorLabel() {
    // Under a name of more than one line the developer gets one line, its
    // font shrunk to fit; otherwise it may take two.
    QFont font = nameLbl_->font();
    font.setPixelSize(15);
    font.setWeight(QFont::Normal);
    const bool tallName = nameLbl_->height() > 43;
    authorLbl_->setWordWrap(!tallName);
    if (tallName) {
        const int width = std::max(1, authorLbl_->width());
        while (font.pixelSize() > 9 && QFontMetrics(font).horizontalAdvance(authorLbl_->text()) > width)
            font.setPixelSize(font.pixelSize() - 1);
    }
    if (authorLbl_->font() != font) authorLbl_->setFont(font);
}

void PackageDetailsHeader::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    fitAuthorLabel();
}
