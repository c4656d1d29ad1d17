#pragma once
// The category row of the Sections tab and of the category and source screen:
// an icon and a name, 44 px high. Layout: Resources/CategoriesCell.ui.
//
// The category icon rule: the bundled image "Categories/<entry>" in regular
// weight when there is one, else the first matching name rule
// (ZMRPackages::categoryIconForEntry), whose weight makes the four group
// labels and the members without an image of their own bold.
#include <QLabel>
#include <memory>
#include <string>
#include <vector>

#include "UIKit/UITableView.h"
#include "UIKit/UITableViewCell.h"

namespace Ui {
class CategoriesCell;
}

// The rows of a category section (always section 0) as index paths.
inline std::vector<IndexPath> sectionZero(const std::vector<int>& rows) {
    std::vector<IndexPath> out;
    out.reserve(rows.size());
    for (int r : rows) out.push_back({0, r});
    return out;
}

class CategoriesCell : public UITableViewCell {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 44;
    // The separator's trailing inset of a group label row.
    static constexpr int kGroupLabelSeparatorInset = 40;
    static inline const QString kReuseIdentifier = QStringLiteral("catCell");

    explicit CategoriesCell(const QString& reuseIdentifier = kReuseIdentifier, QWidget* parent = nullptr);
    ~CategoriesCell() override;

    QLabel* iconView() const;
    QLabel* nameLbl() const;
    int separatorTrailingConstraint() const { return separatorTrailingInset(); }
    void setSeparatorTrailingConstraint(int points) { setSeparatorTrailingInset(points); }

    // Icon and weight of the entry by the category icon rule (the point size stays).
    void applyCategoryIcon(const std::string& entry);
    // A bundled image by name ("Categories/All Packages"); the name's weight is left alone.
    void setIconImage(const std::string& imageName);
    // The image shown last ("" for none).
    const std::string& iconImageName() const { return imageName_; }

private:
    std::unique_ptr<Ui::CategoriesCell> ui_;
    std::string imageName_;
};
