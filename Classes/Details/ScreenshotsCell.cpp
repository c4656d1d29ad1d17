#include "Details/ScreenshotsCell.h"

#include <QResizeEvent>

ScreenshotsCell::ScreenshotsCell(QWidget* parent) : QWidget(parent), imageView_(new QLabel(this)) {
    setObjectName("ScreenshotsCell");
    imageView_->setObjectName("screenshotImageView");
    imageView_->setAlignment(Qt::AlignCenter);
    imageView_->setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TranslucentBackground);
}

void ScreenshotsCell::setImage(const QImage& image) {
    image_ = image;
    redraw();
}

void ScreenshotsCell::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    imageView_->setGeometry(rect());
    redraw();
}

void ScreenshotsCell::redraw() {
    if (image_.isNull() || width() <= 0 || height() <= 0) {
        imageView_->clear();
        return;
    }
    const qreal ratio = devicePixelRatioF();
    QImage scaled = image_.scaled(size() * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(ratio);
    imageView_->setPixmap(QPixmap::fromImage(scaled));
}
