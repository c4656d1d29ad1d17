#pragma once
// The header of the store screens: an icon (90 points, corners of 23), a
// bold title and a second line under it, and, on a store's own page, its
// sign-in button (0.7 of the width, 36 high); an empty band of 20 above and
// below. Texts are plain text: store names come from servers.
//
// Also the pictures the store screens show: a source's icon (its cached
// file, else the default source image), the Cydia store's and the program's.
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QWidget>
#include <optional>
#include <string>

#include "ZMPalette.h"

class ZMPalettedViewController;

class StoreHeaderView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 210;
    StoreHeaderView(bool withButton, QWidget* parent = nullptr);

    QLabel* iconView() const { return icon_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* subtitleLabel() const { return subtitle_; }
    QPushButton* button() const { return button_; }
    void setIcon(const QPixmap& picture);
    // The fixed height, which the table lays the header out with.
    QSize sizeHint() const override { return {QWidget::sizeHint().width(), maximumHeight()}; }
    void applyPalette(const ZMPalette& palette);
    // The store screens' colours for a style: a light grey page with white
    // rows in the light style (0), the palette's own in the others.
    static void applyStoreColors(ZMPalettedViewController& screen, int style);

    // A row's: the source's downloaded icon, else the default source image.
    static QPixmap sourceIcon(const std::string& location, int side);
    // A store page's header: the source's downloaded icon, else the program's ("iTunesArtwork.png").
    static QPixmap storeIcon(const std::string& location, int side);
    static QPixmap cydiaStoreIcon(int side);
    // The store screens' bundled images by name: "back", "forward", "cancel", "refresh".
    static QIcon barImage(const QString& name);
    static QPixmap applicationIcon(int side);
    // A picture from downloaded bytes, or a null pixmap.
    static QPixmap pictureFromData(const std::string& bytes);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    static std::optional<QPixmap> downloadedSourceIcon(const std::string& location, int side);
    QLabel* icon_;
    QLabel* title_;
    QLabel* subtitle_;
    QPushButton* button_ = nullptr;
};
