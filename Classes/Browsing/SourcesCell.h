#pragma once
// A source row of the Manage tab (99 points high): icon, name, description and
// three facts (installed packages, total packages, time since the repository
// was regenerated). The Manage tab fills it; the cell has no behaviour.
#include <QLabel>
#include <string>

#include "UIKit/UITableViewCell.h"

class SourcesCell : public UITableViewCell {
    Q_OBJECT
public:
    static constexpr int kHeight = 99;
    static constexpr int kIconSize = 60;

    explicit SourcesCell(QWidget* parent = nullptr);

    std::string regenDate;       // ISO-8601, as the source record stores it
    std::string sourceLocation;

    QLabel* iconView = nullptr;
    QLabel* nameLbl = nullptr;
    QLabel* descriptionLbl = nullptr;
    QWidget* containerView = nullptr;
    QLabel* installedPackagesImgView = nullptr;
    QLabel* installedPackagesLbl = nullptr;
    QLabel* totalPackagesImgView = nullptr;
    QLabel* totalPackagesLbl = nullptr;
    QLabel* lastRepoRegenImgView = nullptr;
    QLabel* lastRepoRegenLbl = nullptr;

    // The icon, with corners of a quarter of its height, clipped.
    void setIcon(const QPixmap& picture);
    void setSecondaryColor(const QColor& color);

    void prepareForReuse() override;
};
