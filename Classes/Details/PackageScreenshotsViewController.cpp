#include "Details/PackageScreenshotsViewController.h"

#include <QKeyEvent>
#include <QResizeEvent>
#include <QWheelEvent>
#include <algorithm>
#include <QVBoxLayout>

#include "Details/ScreenshotsCell.h"
#include "Miscellaneous/ZMLocalization.h"
#include "UIKit/UINavigationController.h"

PackageScreenshotsViewController::PackageScreenshotsViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("PackageScreenshotsViewController");
    setFocusPolicy(Qt::StrongFocus);
}

void PackageScreenshotsViewController::setScreenshotsDictionary(std::map<int, QImage> images) {
    images_ = std::move(images);
    if (collection_) collection_->reloadData();
}

void PackageScreenshotsViewController::setScreenshotFiles(std::map<int, std::string> files) {
    files_ = std::move(files);
    if (collection_) collection_->reloadData();
}

void PackageScreenshotsViewController::viewDidLoad() {
    setTitle(QString::fromStdString(ZMLocalizedString("Screenshots")));
    auto* close = new UIBarButtonItem(QString::fromStdString(ZMLocalizedString("Close")),
                                      [this](UIBarButtonItem*) { dismissVC(); }, navigationItem());
    navigationItem()->setLeftBarButtonItem(close);
    navigationItem()->setBarTintColor(QColor::fromRgbF(0.0f, 0.67f, 0.88f, 1.0f));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    collection_ = new UICollectionView(this);
    collection_->setObjectName("screenshotsCollectionView");
    collection_->setSpacing(0);
    collection_->setContentInsets(0, 0);
    collection_->setPagingEnabled(true);
    collection_->setDataSource(this);
    layout->addWidget(collection_, 1, Qt::AlignTop);
    collection_->reloadData();
}

void PackageScreenshotsViewController::viewDidAppear(bool) { setFocus(Qt::OtherFocusReason); }

void PackageScreenshotsViewController::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Escape: dismissVC(); break;
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_PageUp: turnPage(-1); break;
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_PageDown:
    case Qt::Key_Space: turnPage(1); break;
    case Qt::Key_Home: turnPage(-numberOfItems(collection_)); break;
    case Qt::Key_End: turnPage(numberOfItems(collection_)); break;
    default: ZMPalettedViewController::keyPressEvent(e); return;
    }
    e->accept();
}

// The strip takes horizontal scrolling itself; a vertical wheel (a mouse)
// turns one page per notch.
void PackageScreenshotsViewController::wheelEvent(QWheelEvent* e) {
    wheelAngle_ += e->angleDelta().y();
    while (std::abs(wheelAngle_) >= 120) {
        turnPage(wheelAngle_ > 0 ? -1 : 1);
        wheelAngle_ += wheelAngle_ > 0 ? -120 : 120;
    }
    e->accept();
}

void PackageScreenshotsViewController::turnPage(int by) {
    if (!collection_ || collection_->numberOfItems() == 0) return;
    const int target = std::clamp(collection_->currentIndex() + by, 0, collection_->numberOfItems() - 1);
    collection_->scrollToItem(target, true);
}

void PackageScreenshotsViewController::dismissVC() {
    if (auto* nav = navigationController()) nav->dismissViewController(true);
    else dismissViewController(true);
}

int PackageScreenshotsViewController::numberOfItems(UICollectionView*) { return static_cast<int>(images_.size()); }

QWidget* PackageScreenshotsViewController::cellForItem(UICollectionView*, int index) {
    auto* cell = new ScreenshotsCell;
    if (auto it = images_.find(index + 1); it != images_.end()) cell->setImage(it->second);
    if (auto it = files_.find(index + 1); it != files_.end()) cell->setImageFile(it->second);
    return cell;
}

// One screenshot fills the view.
QSize PackageScreenshotsViewController::sizeForItem(UICollectionView*, int) { return size().expandedTo(QSize(1, 1)); }

void PackageScreenshotsViewController::resizeEvent(QResizeEvent* e) {
    ZMPalettedViewController::resizeEvent(e);
    if (collection_) collection_->reloadData();
}

void PackageScreenshotsViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
}
