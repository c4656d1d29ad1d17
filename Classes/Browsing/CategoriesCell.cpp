#include "Browsing/CategoriesCell.h"

#include "Database/ZMRPackages.h"
#include "PackageCell.h"
#include "ui_CategoriesCell.h"

CategoriesCell::CategoriesCell(const QString& reuseIdentifier, QWidget* parent)
    : UITableViewCell(reuseIdentifier, parent), ui_(std::make_unique<Ui::CategoriesCell>()) {
    ui_->setupUi(contentView());
    setSeparatorInset(16 + 29 + 12);
    // Category names come from repositories.
    ui_->nameLbl->setTextFormat(Qt::PlainText);
    ui_->nameLbl->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

CategoriesCell::~CategoriesCell() = default;

QLabel* CategoriesCell::iconView() const { return ui_->iconView; }
QLabel* CategoriesCell::nameLbl() const { return ui_->nameLbl; }

void CategoriesCell::setIconImage(const std::string& imageName) {
    imageName_ = PackageRow::hasBundledImage(imageName) ? imageName : std::string();
    const int side = ui_->iconView->maximumHeight();
    // An image the bundle lacks leaves the icon empty.
    if (imageName_.empty()) ui_->iconView->clear();
    else ui_->iconView->setPixmap(PackageRow::roundedIcon(PackageRow::bundledImage(imageName_, side * 2), side));
}

void CategoriesCell::applyCategoryIcon(const std::string& entry) {
    const auto icon = ZMRPackages::categoryIconForEntry(entry, PackageRow::hasBundledImage);
    setIconImage(icon.imageName);
    QFont font = ui_->nameLbl->font();
    font.setWeight(icon.bold ? QFont::Bold : QFont::Normal);
    ui_->nameLbl->setFont(font);
}
