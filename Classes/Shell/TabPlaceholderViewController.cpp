#include "TabPlaceholderViewController.h"

#include <QVBoxLayout>

#include "Miscellaneous/ZMLocalization.h"

TabPlaceholderViewController::TabPlaceholderViewController(const QString& screenName, const QString& title, QWidget* parent)
    : ZMPalettedViewController(parent), screenName_(screenName) {
    setObjectName(screenName + "-placeholder");
    setTitle(title);
}

void TabPlaceholderViewController::viewDidLoad() {
    auto* layout = new QVBoxLayout(this);
    note_ = new QLabel(QString::fromStdString(ZMLocalizedString("This page is not available yet.")), this);
    note_->setAlignment(Qt::AlignCenter);
    note_->setWordWrap(true);
    layout->addStretch();
    layout->addWidget(note_);
    layout->addStretch();
}

void TabPlaceholderViewController::paletteDidChange(const ZMPalette& palette) {
    if (!note_) return;
    QPalette pal = note_->palette();
    pal.setColor(QPalette::WindowText, palette.secondaryTextColor());
    note_->setPalette(pal);
}
