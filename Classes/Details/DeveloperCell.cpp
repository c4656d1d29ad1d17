#include "Details/DeveloperCell.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "Miscellaneous/ZMLocalization.h"
#include "PackageCell.h"

namespace {
constexpr int kIconSide = 60;
}  // namespace

DeveloperCell::DeveloperCell(QWidget* parent)
    : QWidget(parent), developerIconView_(new QLabel), developerTitle_(new QLabel), developerNameLbl_(new QLabel) {
    setObjectName("DeveloperCell");
    setAttribute(Qt::WA_TranslucentBackground);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(20, 10, 20, 10);
    row->setSpacing(14);
    developerIconView_->setObjectName("developerIconView");
    developerIconView_->setFixedSize(kIconSide, kIconSide);
    developerIconView_->setScaledContents(true);
    row->addWidget(developerIconView_);
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    developerTitle_->setObjectName("developerTitle");
    developerTitle_->setText(QString::fromStdString(ZMLocalizedString("Developer")));
    developerNameLbl_->setObjectName("developerNameLbl");
    developerNameLbl_->setTextFormat(Qt::PlainText);  // a name from an index
    developerNameLbl_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QFont bold = developerNameLbl_->font();
    bold.setBold(true);
    bold.setPixelSize(17);
    developerNameLbl_->setFont(bold);
    column->addStretch(1);
    column->addWidget(developerTitle_);
    column->addWidget(developerNameLbl_);
    column->addStretch(1);
    row->addLayout(column, 1);
    // The gallery takes the clicks.
    for (QWidget* w : std::initializer_list<QWidget*>{developerIconView_, developerTitle_, developerNameLbl_})
        w->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void DeveloperCell::setAvatar(const QImage& avatar) {
    if (avatar.isNull()) {
        developerIconView_->clear();
        return;
    }
    const QPixmap square = QPixmap::fromImage(avatar).scaled(kIconSide * 2, kIconSide * 2, Qt::KeepAspectRatioByExpanding,
                                                             Qt::SmoothTransformation);
    developerIconView_->setPixmap(PackageRow::roundedIcon(square, kIconSide * 2));
}
