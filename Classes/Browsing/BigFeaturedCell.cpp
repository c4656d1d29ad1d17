#include "Browsing/BigFeaturedCell.h"

#include <QContextMenuEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QVBoxLayout>

#include "Notifications/NotificationCenter.h"
#include "PackageCell.h"
#include "UIKit/UIViewController.h"

// The card's face: the banner, aspect-filled and clipped to the rounded
// card, and the band behind the texts.
class BigFeaturedCell::Content : public QWidget {
public:
    explicit Content(BigFeaturedCell* cell) : QWidget(cell), cell_(cell) {}
    QColor band;
    int bandTop = 0;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
        p.setClipPath(clip);
        const QImage& banner = cell_->banner_;
        if (!banner.isNull()) {
            const QSizeF target = QSizeF(banner.size()).scaled(size(), Qt::KeepAspectRatioByExpanding);
            const QRectF r((width() - target.width()) / 2, (height() - target.height()) / 2, target.width(), target.height());
            p.drawImage(r, banner);
        } else {
            p.fillRect(rect(), QColor(128, 128, 128, 60));
        }
        p.fillRect(QRect(0, bandTop, width(), height() - bandTop), band);
    }

private:
    BigFeaturedCell* cell_;
};

namespace {
QLabel* makeLabel(QWidget* parent, double scale, bool bold, int lines) {
    auto* l = new QLabel(parent);
    l->setTextFormat(Qt::PlainText);  // feed texts are shown as they are
    l->setWordWrap(lines > 1);
    QFont f = l->font();
    f.setPointSizeF(f.pointSizeF() * scale);
    f.setBold(bold);
    l->setFont(f);
    l->setMaximumHeight(QFontMetrics(f).lineSpacing() * lines + 2);
    l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    return l;
}
}  // namespace

BigFeaturedCell::BigFeaturedCell(QWidget* parent) : QWidget(parent), content_(new Content(this)) {
    setObjectName("BigFeaturedCell");
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setOffset(0, 0);
    shadow->setBlurRadius(16);
    shadow->setColor(QColor(0, 0, 0, static_cast<int>(255 * 0.35)));
    setGraphicsEffect(shadow);

    bottomBlur_ = new QWidget(content_);
    bottomBlur_->setObjectName("bottomBlur");
    bottomBlur_->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* row = new QHBoxLayout(bottomBlur_);
    row->setContentsMargins(16, 10, 16, 12);
    row->setSpacing(12);
    iconView_ = new QLabel(bottomBlur_);
    iconView_->setObjectName("iconView");
    iconView_->setFixedSize(56, 56);
    iconView_->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->addWidget(iconView_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    nameLbl_ = makeLabel(bottomBlur_, 1.15, true, 1);
    nameLbl_->setObjectName("nameLbl");
    descriptionLbl_ = makeLabel(bottomBlur_, 0.92, false, 2);
    descriptionLbl_->setObjectName("descriptionLbl");
    maintainerSourceLbl_ = makeLabel(bottomBlur_, 0.85, false, 1);
    maintainerSourceLbl_->setObjectName("maintainerSourceLbl");
    texts->addWidget(nameLbl_);
    texts->addWidget(descriptionLbl_);
    texts->addWidget(maintainerSourceLbl_);
    texts->addStretch(1);
    row->addLayout(texts, 1);

    recognizer_ = UILongPressGestureRecognizer::add(
        this, kMinimumPressSeconds, [this](UILongPressGestureRecognizer::State s) { handleLongPressGesture(s); });
    applyPalette(ZMPalette());
}

void BigFeaturedCell::setBannerImage(const QImage& image) {
    banner_ = image;
    content_->update();
}

void BigFeaturedCell::setIcon(const QPixmap& icon) {
    // Continuous corners of a quarter of the icon's height.
    iconView_->setPixmap(PackageRow::roundedIcon(icon, iconView_->height()));
}

void BigFeaturedCell::updatePackageIcon() {
    if (packageIdentifier_.empty()) return;
    iconView_->setPixmap(PackageRow::iconForPackage(packageIdentifier_, iconView_->height()));
}

void BigFeaturedCell::setTexts(const std::string& name, const std::string& description,
                               const std::string& maintainerSource) {
    nameLbl_->setText(QString::fromStdString(name));
    descriptionLbl_->setText(QString::fromStdString(description));
    maintainerSourceLbl_->setText(QString::fromStdString(maintainerSource));
}

void BigFeaturedCell::applyPalette(const ZMPalette& palette) {
    const bool dark = palette.blurStyle() != ZMPalette::BlurStyle::Light;
    content_->band = dark ? QColor(20, 20, 22, 190) : QColor(250, 250, 252, 205);
    PackageRow::setTextColor(nameLbl_, palette.primaryTextColor());
    PackageRow::setTextColor(descriptionLbl_, palette.primaryTextColor());
    PackageRow::setTextColor(maintainerSourceLbl_, palette.secondaryTextColor());
    if (auto* shadow = qobject_cast<QGraphicsDropShadowEffect*>(graphicsEffect())) {
        QColor c = palette.shadowColor();
        c.setAlphaF(static_cast<float>(c.alphaF() * 0.35));
        shadow->setColor(c);
    }
    content_->update();
}

void BigFeaturedCell::resizeEvent(QResizeEvent*) { layoutContent(); }

void BigFeaturedCell::layoutContent() {
    const QSize full = size();
    const QSize scaled(static_cast<int>(full.width() * scale_), static_cast<int>(full.height() * scale_));
    content_->setGeometry((full.width() - scaled.width()) / 2, (full.height() - scaled.height()) / 2, scaled.width(),
                          scaled.height());
    const int band = std::max(110, scaled.height() * 28 / 100);
    content_->bandTop = scaled.height() - band;
    bottomBlur_->setGeometry(0, content_->bandTop, scaled.width(), band);
    content_->update();
}

void BigFeaturedCell::setPressScale(double scale) {
    scale_ = scale;
    layoutContent();
}

void BigFeaturedCell::animateScale(double to, double damping, std::function<void()> finished) {
    const int ms = UIView::durationMs(0.5);
    if (ms == 0) {
        setPressScale(to);
        if (finished) finished();
        return;
    }
    auto* anim = new QPropertyAnimation(this, "pressScale", this);
    anim->setDuration(ms);
    anim->setStartValue(scale_);  // from the current state
    anim->setEndValue(to);
    // A spring: a low damping overshoots on the way back.
    QEasingCurve curve(QEasingCurve::OutBack);
    curve.setOvershoot(damping < 0.5 ? 2.2 : 0.6);
    anim->setEasingCurve(curve);
    if (finished) connect(anim, &QPropertyAnimation::finished, this, finished);
    anim->start(QAbstractAnimation::DeleteWhenStopped);
}

void BigFeaturedCell::handleLongPressGesture(UILongPressGestureRecognizer::State state) {
    switch (state) {
    case UILongPressGestureRecognizer::State::Began:
        NotificationCenter::defaultCenter().post(kLongPressBeganNotification);
        handleLongPressBegan();
        break;
    case UILongPressGestureRecognizer::State::Ended:
        handleLongPressEnded(true);
        break;
    case UILongPressGestureRecognizer::State::Cancelled:
        handleLongPressEnded(false);
        break;
    }
}

void BigFeaturedCell::handleLongPressBegan() {
    if (isPressed_) return;
    isPressed_ = true;
    animateScale(kPressedScale, 0.8, {});
}

void BigFeaturedCell::handleLongPressEnded(bool open) {
    if (isPressed_) {
        QPointer<BigFeaturedCell> self(this);
        animateScale(1.0, 0.4, [self] {
            if (self) self->isPressed_ = false;
        });
    }
    // A cancelled press (a drag, a release beside the card) opens nothing.
    if (open)
        NotificationCenter::defaultCenter().post(kLongPressEndedNotification, {},
                                                 nlohmann::json{{"identifier", packageIdentifier_}});
}

void BigFeaturedCell::contextMenuEvent(QContextMenuEvent* e) {
    emit contextMenuRequested(e->globalPos());
    e->accept();
}
