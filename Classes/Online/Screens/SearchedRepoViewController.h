#pragma once
// The page of one repository of the maker's directory: its icon, name,
// description, maintainer and address, and one row, "Add this source". A
// repository configured already (under either scheme, with or without the
// final "/") says "Source Error"; otherwise it is added the usual way (a
// plain-http address asks first). The icon, when the opener has none, loads
// in the background.
#include <QImage>
#include <QLabel>

#include "Services/ZMSearchedRepo.h"
#include "UIKit/UITableView.h"
#include "ZMErrorDelegate.h"
#include "ZMPalettedViewController.h"

class SearchedRepoViewController : public ZMPalettedViewController,
                                   public UITableViewDataSource,
                                   public UITableViewDelegate,
                                   public ZMErrorDelegate {
    Q_OBJECT
public:
    static constexpr double kIconCornerRadius = 20.133;

    explicit SearchedRepoViewController(QWidget* parent = nullptr);
    ~SearchedRepoViewController() override;

    void setSearchedRepo(const ZMSearchedRepo& repo) { repo_ = repo; }
    const ZMSearchedRepo& searchedRepo() const { return repo_; }
    void setRepoIcon(const QImage& icon) { repoIcon_ = icon; }
    // The "Add this source" row's action.
    void addSource();

    QLabel* iconView() const { return iconView_; }
    QLabel* nameLbl() const { return nameLbl_; }
    QLabel* descriptionLbl() const { return descriptionLbl_; }
    QLabel* sourceMaintainerLbl() const { return maintainerLbl_; }
    QLabel* sourceURLLbl() const { return urlLbl_; }
    UITableView* addSourceTableView() const { return addTable_; }
    // The icon shown (null while it loads).
    QImage shownIcon() const { return shownIcon_; }

    int numberOfRows(UITableView*, int) override { return 1; }
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override { return 44; }
    void didSelectRow(UITableView* table, IndexPath indexPath) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;

private:
    void showIcon(const QImage& icon);

    ZMSearchedRepo repo_;
    QImage repoIcon_;
    QImage shownIcon_;
    QLabel* iconView_ = nullptr;
    QLabel* nameLbl_ = nullptr;
    QLabel* descriptionLbl_ = nullptr;
    QLabel* infoTitle_ = nullptr;
    QLabel* maintainerLbl_ = nullptr;
    QLabel* urlLbl_ = nullptr;
    std::vector<QLabel*> captions_;
    UITableView* addTable_ = nullptr;
};
