#pragma once
// One screenshot of the strip or the gallery: the image, aspect-fit, on a
// clear background.
#include <QImage>
#include <QLabel>
#include <QWidget>

class ScreenshotsCell : public QWidget {
    Q_OBJECT
public:
    explicit ScreenshotsCell(QWidget* parent = nullptr);
    void setImage(const QImage& image);
    QLabel* screenshotImageView() const { return imageView_; }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void redraw();
    QImage image_;
    QLabel* imageView_;
};
