#pragma once
// The developer card of the package details page: a one-item strip with the
// developer's avatar and name (DeveloperCell), as wide as the window and 80
// points tall. A click on it opens the developer's contact card.
#include <QImage>
#include <QString>

#include "UIKit/UICollectionView.h"

class DeveloperCell;

class PackageDeveloperCard : public QWidget, public UICollectionViewDataSource {
    Q_OBJECT
public:
    explicit PackageDeveloperCard(QWidget* parent = nullptr);

    UICollectionView* authorCollectionView() const { return authorCollectionView_; }
    DeveloperCell* cell() const;
    void setDeveloper(const QString& name, const QImage& avatar);
    const QString& developerName() const { return name_; }

    int numberOfItems(UICollectionView*) override { return 1; }
    QWidget* cellForItem(UICollectionView*, int index) override;
    QSize sizeForItem(UICollectionView*, int index) override;
    void didSelectItem(UICollectionView*, int) override { emit tapped(); }

signals:
    void tapped();

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    QString name_;
    QImage avatar_;
    UICollectionView* authorCollectionView_;
};
