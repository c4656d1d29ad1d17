#include "StoreHeaderView.h"

#include <QIcon>
#include <QImage>
#include <QVBoxLayout>

#include "Browsing/BrowsingImages.h"
#include "Database/ZMRPackageManager.h"
#include "Online/Screens/OnlineImages.h"
#include "ZMPalettedViewController.h"
#include "ZMSvgPixmap.h"

static void initOnlineResources() { Q_INIT_RESOURCE(Online); }

namespace {
constexpr int kIconSide = 90;
constexpr double kIconCorner = 23.0 / kIconSide;
}  // namespace

StoreHeaderView::StoreHeaderView(bool withButton, QWidget* parent) : QWidget(parent) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 20, 0, 20);
    stack->setSpacing(10);
    icon_ = new QLabel;
    icon_->setObjectName("storeIcon");
    icon_->setFixedSize(kIconSide, kIconSide);
    title_ = new QLabel;
    subtitle_ = new QLabel;
    for (auto* label : {title_, subtitle_}) {
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignCenter);
    }
    QFont bold = title_->font();
    bold.setBold(true);
    bold.setPointSize(12);
    title_->setFont(bold);
    stack->addWidget(icon_, 0, Qt::AlignHCenter);
    stack->addWidget(title_);
    stack->addWidget(subtitle_);
    if (withButton) {
        button_ = new QPushButton;
        button_->setObjectName("loginOutButton");
        button_->setFixedHeight(36);
        button_->setCursor(Qt::PointingHandCursor);
        stack->addWidget(button_, 0, Qt::AlignHCenter);
    }
    setFixedHeight(kHeight);
}

void StoreHeaderView::setIcon(const QPixmap& picture) {
    icon_->setPixmap(BrowsingImages::rounded(picture, kIconSide, kIconCorner));
}

void StoreHeaderView::applyPalette(const ZMPalette& p) {
    title_->setStyleSheet(QStringLiteral("color: %1;").arg(p.primaryTextColor().name()));
    subtitle_->setStyleSheet(QStringLiteral("color: %1;").arg(p.secondaryTextColor().name()));
    if (button_) {
        button_->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border-radius: 13px; border: none; padding: 0 16px; }")
                                   .arg(p.tintColor().name()));
    }
}

void StoreHeaderView::applyStoreColors(ZMPalettedViewController& screen, int style) {
    if (style != 0) return screen.resetOverridesColors();
    screen.setOverrideColor(QColor::fromRgbF(0.94, 0.94, 0.96, 1), "backgroundColor");
    screen.setOverrideColor(Qt::white, "cellBackgroundColor");
}

std::optional<QPixmap> StoreHeaderView::downloadedSourceIcon(const std::string& location, int side) {
    if (auto path = BrowsingImages::iconFilePath(ZMRPackageManager::sharedPackageManager().sources().iconForLocation(location)))
        return BrowsingImages::fromFile(*path, side);
    return std::nullopt;
}

QPixmap StoreHeaderView::sourceIcon(const std::string& location, int side) {
    return downloadedSourceIcon(location, side).value_or(BrowsingImages::named("ZMCydiaSource.png", side));
}

QPixmap StoreHeaderView::storeIcon(const std::string& location, int side) {
    return downloadedSourceIcon(location, side).value_or(applicationIcon(side));
}

void StoreHeaderView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (button_) button_->setFixedWidth(static_cast<int>(width() * 0.7));
}

QIcon StoreHeaderView::barImage(const QString& name) {
    static const bool ready = (initOnlineResources(), true);
    (void)ready;
    return ZMSvgPixmap::icon(QStringLiteral(":/Images/Online/%1.svg").arg(name));
}

QPixmap StoreHeaderView::cydiaStoreIcon(int side) { return barImage("CydiaStore").pixmap(side, side); }

QPixmap StoreHeaderView::applicationIcon(int side) {
    return QPixmap::fromImage(
        OnlineImages::named("iTunesArtwork.png").scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

QPixmap StoreHeaderView::pictureFromData(const std::string& bytes) {
    QImage image;
    if (!image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()))) return {};
    return QPixmap::fromImage(image);
}
