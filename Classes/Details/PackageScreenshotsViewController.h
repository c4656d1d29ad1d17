#pragma once
// The full-screen gallery of a package's screenshots, one per page, opened
// from the details page's strip in a navigation controller with "Close".
// The arrow keys and the mouse wheel turn the pages; Escape closes it.
#include <QImage>
#include <map>

#include "UIKit/UICollectionView.h"
#include "ZMPalettedViewController.h"

class PackageScreenshotsViewController : public ZMPalettedViewController, public UICollectionViewDataSource {
    Q_OBJECT
public:
    explicit PackageScreenshotsViewController(QWidget* parent = nullptr);
    // Images keyed 1..n; item r shows key r + 1.
    void setScreenshotsDictionary(std::map<int, QImage> images);
    // Their cache files, by the same keys: a page shows its file decoded at
    // the page's size (when it is shown, off the main thread), the image of
    // the dictionary until then or without a file.
    void setScreenshotFiles(std::map<int, std::string> files);
    UICollectionView* screenshotsCollectionView() const { return collection_; }
    void dismissVC();

    int numberOfItems(UICollectionView*) override;
    QWidget* cellForItem(UICollectionView*, int index) override;
    QSize sizeForItem(UICollectionView*, int index) override;
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    void turnPage(int by);

    std::map<int, QImage> images_;
    std::map<int, std::string> files_;
    int wheelAngle_ = 0;  // vertical wheel turned since the last page
    UICollectionView* collection_ = nullptr;
};
