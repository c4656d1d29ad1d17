#include "Browsing/ChangesModel.h"

#include "Browsing/PackageColumn.h"
#include "Database/ZMRPackage.h"

ChangesModel::Reading ChangesModel::read(bool showIncompatible) {
    Reading r;
    const std::string dated =
        showIncompatible ? "updatedDateStr != nil" : "updatedDateStr != nil AND tweakCompatibleStatus != 1";
    auto byDate = [&](const std::string& date) {
        return ZMRPackage::objectsWhere(dated + " AND updatedDateStr = %@", date);
    };
    // Date texts sort chronologically.
    auto newestDate = PackageColumn::texts(ZMRPackage::objectsWhere(dated).sortedResultsUsingKeyPath("updatedDateStr", false),
                             "updatedDateStr", 1);
    if (!newestDate.empty()) {
        auto newest = byDate(newestDate[0]);
        r.newCount = newest.count();
        r.newest = PackageColumn::texts(newest.sortedResultsUsingKeyPath("name", true), "identifier", kNewestRows);
        auto olderDate = PackageColumn::texts(ZMRPackage::objectsWhere(dated + " AND updatedDateStr < %@", newestDate[0])
                                    .sortedResultsUsingKeyPath("updatedDateStr", false),
                                "updatedDateStr", 1);
        if (!olderDate.empty()) {
            auto older = byDate(olderDate[0]);
            r.oldCount = older.count();
            r.older = PackageColumn::texts(older.sortedResultsUsingKeyPath("name", true), "identifier", kOlderRows);
        }
    }
    r.updates = PackageColumn::texts(ZMRPackage::objectsWhere("isUpdated = 1 AND isHeld = 0").sortedResultsUsingKeyPath("name", true),
                       "identifier", 0);
    return r;
}

int ChangesModel::numberOfRows(int section) const {
    const int newest = static_cast<int>(reading_.newest.size());
    if (section == 0) {
        if (numberOfSections() == 2) return newest;
        return newest > 0 ? newest + 1 : 0;  // the button under the packages
    }
    if (section == 1 && numberOfSections() == 2) return static_cast<int>(reading_.older.size()) + 2;
    return 0;
}

ChangesModel::Row ChangesModel::rowKind(int section, int row) const {
    const int rows = numberOfRows(section);
    if (row < 0 || row >= rows) return Row::None;
    if (section == 0) return row < static_cast<int>(reading_.newest.size()) ? Row::Package : Row::Button;
    if (row == 0) return Row::Header;
    return row == rows - 1 ? Row::Button : Row::Package;
}

std::optional<std::string> ChangesModel::identifierAt(int section, int row) const {
    if (rowKind(section, row) != Row::Package) return std::nullopt;
    return section == 0 ? reading_.newest[row] : reading_.older[row - 1];
}

int ChangesModel::rowHeight(int section, int row) const {
    return rowKind(section, row) == Row::Package ? kPackageRowHeight : kButtonRowHeight;
}

int ChangesModel::heightForNewPackagesTableView() const {
    int height = 0;
    for (int s = 0; s < numberOfSections(); ++s)
        for (int r = 0; r < numberOfRows(s); ++r) height += rowHeight(s, r);
    return height;
}
