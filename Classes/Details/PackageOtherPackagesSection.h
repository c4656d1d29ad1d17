#pragma once
// "More by <developer>" on the package details page: at most two of the
// maintainer's other packages as rows with their Get button (70 points
// each), "See All" for every one of them, or a label when there is none;
// then the page's footer (copyright). The identifiers are the page's, taken
// when it appeared: a package deleted since draws an empty row that opens
// nothing.
#include <QLabel>
#include <QPushButton>
#include <string>
#include <vector>

#include "UIKit/UITableView.h"

class ZMPalette;

class PackageOtherPackagesSection : public QWidget, public UITableViewDataSource, public UITableViewDelegate {
    Q_OBJECT
public:
    static constexpr double kRowHeight = 70;
    static constexpr int kMaximumRows = 2;

    explicit PackageOtherPackagesSection(QWidget* parent = nullptr);
    ~PackageOtherPackagesSection() override;

    QLabel* moreDevPackagesTitle() const { return moreDevPackagesTitle_; }
    QPushButton* seeAllDevPackagesBtn() const { return seeAllDevPackagesBtn_; }
    UITableView* otherDevPackagesTableView() const { return otherDevPackagesTableView_; }
    QLabel* otherDevPackagesLbl() const { return otherDevPackagesLbl_; }
    QLabel* copyrightLbl() const { return copyrightLbl_; }
    // The gap above the section's separator.
    int separatorTopGap() const;

    void setPackages(const std::vector<std::string>& identifiers);
    void layoutForPackages();
    // Hides "See All" when nothing can open the maintainer's list.
    void setSeeAllAvailable(bool available);
    void applyPalette(const ZMPalette& palette, bool darkMode);

    int numberOfRows(UITableView*, int) override;
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override { return kRowHeight; }
    void didSelectRow(UITableView* table, IndexPath indexPath) override;

signals:
    void packageSelected(const std::string& identifier);
    void seeAllTapped();

private:
    std::vector<std::string> identifiers_;
    bool seeAllAvailable_ = true;
    bool darkMode_ = false;
    QColor nameColor_, paidColor_, buttonFill_, buttonText_;
    QLabel* moreDevPackagesTitle_;
    QPushButton* seeAllDevPackagesBtn_;
    UITableView* otherDevPackagesTableView_;
    QLabel* otherDevPackagesLbl_;
    QWidget* separatorRow_;
    QLabel* copyrightLbl_;
};
