#include "Details/ScreenshotsCell.h"

#include <QPointer>
#include <QResizeEvent>
#include <mutex>

#include "Details/ZMScreenshotQtCodec.h"
#include "Dispatch/Dispatch.h"

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

void ScreenshotsCell::setImageFile(const std::string& path) {
    file_ = QString::fromStdString(path);
    decoded_ = {};
    requested_ = {};
    redraw();
}

void ScreenshotsCell::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    imageView_->setGeometry(rect());
    redraw();
}

void ScreenshotsCell::redraw() {
    if (width() <= 0 || height() <= 0) return imageView_->clear();
    const qreal ratio = devicePixelRatioF();
    const QSize target = size() * ratio;
    if (!file_.isEmpty() && requested_ != target) decodeFile(target);
    const QImage& source = decoded_.isNull() ? image_ : decoded_;
    if (source.isNull()) return imageView_->clear();
    QImage scaled = source.size() == source.size().scaled(target, Qt::KeepAspectRatio)
                        ? source
                        : source.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(ratio);
    imageView_->setPixmap(QPixmap::fromImage(scaled));
}

void ScreenshotsCell::decodeFile(QSize target) {
    requested_ = target;
    QPointer<ScreenshotsCell> self(this);
    Dispatch::defaultQueue([self, file = file_, target] {
        // One at a time: a format that cannot decode scaled holds the whole picture meanwhile.
        static std::mutex oneAtATime;
        QImage image;
        {
            std::lock_guard lock(oneAtATime);
            image = ZMScreenshotQtCodec::decodeFile(file, target);
        }
        Dispatch::main([self, image, target] {
            if (!self || self->requested_ != target || image.isNull()) return;
            self->decoded_ = image;
            self->redraw();
        });
    });
}
