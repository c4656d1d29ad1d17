#include "Details/PackageDeveloperCard.h"

#include <QResizeEvent>
#include <QVBoxLayout>

#include "Details/DetailsSectionWidgets.h"
#include "Details/DeveloperCell.h"

PackageDeveloperCard::PackageDeveloperCard(QWidget* parent) : QWidget(parent), authorCollectionView_(new UICollectionView) {
    setObjectName("developerCard");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 30, 0, 0);
    column->setSpacing(8);
    authorCollectionView_->setObjectName("authorCollectionView");
    authorCollectionView_->setDataSource(this);
    authorCollectionView_->setSpacing(20);
    authorCollectionView_->setContentInsets(0, 0);
    column->addWidget(authorCollectionView_);
    auto* line = new QWidget;
    auto* inset = new QVBoxLayout(line);
    inset->setContentsMargins(20, 0, 20, 0);
    inset->addWidget(DetailsSectionWidgets::separator("authorSeparator"));
    column->addWidget(line);
    authorCollectionView_->reloadData();
}

DeveloperCell* PackageDeveloperCard::cell() const { return qobject_cast<DeveloperCell*>(authorCollectionView_->cellForItem(0)); }

void PackageDeveloperCard::setDeveloper(const QString& name, const QImage& avatar) {
    name_ = name;
    avatar_ = avatar;
    if (DeveloperCell* c = cell()) {
        c->developerNameLbl()->setText(name_);
        c->setAvatar(avatar_);
    } else {
        authorCollectionView_->reloadData();
    }
}

QWidget* PackageDeveloperCard::cellForItem(UICollectionView*, int) {
    auto* c = new DeveloperCell;
    c->developerNameLbl()->setText(name_);
    c->setAvatar(avatar_);
    return c;
}

QSize PackageDeveloperCard::sizeForItem(UICollectionView*, int) {
    // As wide as the page (the window of the phone it stood in).
    return {std::max(1, authorCollectionView_->viewport()->width()), 80};
}

void PackageDeveloperCard::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (e->size().width() != e->oldSize().width()) authorCollectionView_->reloadData();
}
