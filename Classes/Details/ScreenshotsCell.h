#pragma once
// One screenshot of the strip or the gallery: the image, aspect-fit, on a
// clear background. Given the screenshot's file, the cell shows it decoded
// at the cell's own size once it has one (off the main thread, one such
// decode in the program at a time), the image until then.
#include <QImage>
#include <QLabel>
#include <QWidget>

class ScreenshotsCell : public QWidget {
    Q_OBJECT
public:
    explicit ScreenshotsCell(QWidget* parent = nullptr);
    void setImage(const QImage& image);
    void setImageFile(const std::string& path);
    QLabel* screenshotImageView() const { return imageView_; }
    // The size the file was last decoded at (empty before).
    QSize decodedSize() const { return decoded_.size(); }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void redraw();
    void decodeFile(QSize target);
    QImage image_;
    QString file_;
    QImage decoded_;
    QSize requested_;
    QLabel* imageView_;
};
