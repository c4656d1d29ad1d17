#pragma once
// Every path an installed package put on the system, one row per line of
// dpkg's file list for it (the record's installedFiles, as the status scan
// read them: in file order, a trailing empty line kept as an empty row),
// indented by tabs so that the list reads like a tree. Read only: the rows
// offer nothing. Only the rows on screen have widgets, so a package of tens
// of thousands of files opens at once.
#include <optional>
#include <string>

#include "Database/ZMRPackage.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class InstalledFilesViewController : public ZMPalettedViewController,
                                     public UITableViewDataSource,
                                     public UITableViewDelegate {
    Q_OBJECT
public:
    static constexpr double kEstimatedRowHeight = 88;
    static inline const QString kReuseIdentifier = QStringLiteral("genericCell");

    explicit InstalledFilesViewController(QWidget* parent = nullptr);
    ~InstalledFilesViewController() override;

    void setPackageIdentifier(const std::string& identifier) { packageIdentifier_ = identifier; }
    const std::string& packageIdentifier() const { return packageIdentifier_; }
    UITableView* installedFilesTableView() const { return table_; }
    // The paths as they were when the screen loaded (empty without a record).
    const std::vector<std::string>& installedFiles() const { return files_; }

    // A path's row: "/." and "/Library" as they are; deeper paths as one tab
    // per level below the first, then "/" and the last component; no "/" at
    // all (the empty entry too): nothing.
    static QString rowText(const std::string& path);

    int numberOfRows(UITableView*, int) override { return static_cast<int>(files_.size()); }
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override { return UITableView::kAutomaticDimension; }
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    std::string packageIdentifier_;
    std::vector<std::string> files_;
    UITableView* table_ = nullptr;
};
