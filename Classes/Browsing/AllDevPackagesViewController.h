#pragma once
// Every package of one maintainer, by name, each row with its Get button.
// The match is exact (the maintainer text as stored, case included);
// packages reported not working here are left out unless
// "ShowIncompatiblePackages" is on. The identifiers are taken when the view
// loads and at each reload (a palette change); a package deleted since draws
// an empty row that opens nothing. A tap opens the package's details.
#include <QPointer>
#include <string>
#include <vector>

#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class AllDevPackagesViewController : public ZMPalettedViewController,
                                     public UITableViewDataSource,
                                     public UITableViewDelegate {
    Q_OBJECT
public:
    static constexpr double kRowHeight = 70;

    explicit AllDevPackagesViewController(QWidget* parent = nullptr);
    ~AllDevPackagesViewController() override;

    void setTitleString(const std::string& title) { titleString_ = title; }
    void setMaintainer(const std::string& maintainer) { maintainer_ = maintainer; }
    const std::string& maintainer() const { return maintainer_; }

    // The identifiers of the last reload, in row order.
    const std::vector<std::string>& packages() const { return identifiers_; }
    UITableView* devPackagesTableView() const { return table_; }
    UIViewController* lastPushedViewController() const { return lastPushed_; }
    // Takes the identifiers again and redraws.
    void reloadPackages();
    void backSwipe();

    // The maintainer's package identifiers, by name or in database order
    // (exact match, the compatibility preference applied).
    static std::vector<std::string> identifiersOfMaintainer(const std::string& maintainer, bool byName = true);

    int numberOfRows(UITableView*, int) override { return static_cast<int>(identifiers_.size()); }
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override { return kRowHeight; }
    void didSelectRow(UITableView* table, IndexPath indexPath) override;
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;

private:
    std::string titleString_;
    std::string maintainer_;
    std::vector<std::string> identifiers_;
    UITableView* table_ = nullptr;
    QPointer<UIViewController> lastPushed_;
};
