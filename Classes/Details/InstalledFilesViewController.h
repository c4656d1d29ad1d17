#pragma once
// Every path an installed package put on the system, one row per line of
// dpkg's file list for it (the record's installedFiles, as the status scan
// read them: in file order, a trailing empty line kept as an empty row),
// indented by depth so that the list reads like a tree. Read only: the rows
// offer nothing. Only the rows on screen have widgets, so a package of tens of
// thousands of files opens at once.
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
    // The paths listed, as they were when the screen loaded (empty without a record).
    const std::vector<std::string>& installedFiles() const { return files_; }

    // One level of the tree: as far as a few letters, not a tab stop.
    static constexpr int kIndentPerLevel = 16;
    struct Row {
        int depth = 0;  // levels below the first
        QString text;
        bool operator==(const Row&) const = default;
    };
    // A path's row: "/." and "/Library" as they are, at depth 0; deeper paths one level
    // per directory below the first, showing "/" and the last component; no
    // "/" at all (the empty entry too): an empty row.
    static Row row(const std::string& path);

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
