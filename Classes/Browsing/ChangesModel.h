#pragma once
// What the Changes tab shows, read in one go off the main thread and handed
// over whole: the newest date group of packages (by their updatedDateStr) and
// the group before it, and the available updates. Packages without a date
// text belong to no group.
//
// The new-packages table: section 0 lists up to 50 packages of the newest
// group and, when it is the only section, the "Show All Changes" button row;
// a second section, present when there is an older group, has the "Older
// Changes" header row, up to 49 packages of the older group and the button
// row. Package rows are 70 high, header and button rows 50.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

class ChangesModel {
public:
    static constexpr size_t kNewestRows = 50;
    static constexpr size_t kOlderRows = 49;
    static constexpr int kPackageRowHeight = 70;
    static constexpr int kButtonRowHeight = 50;

    struct Reading {
        size_t newCount = 0;                 // the whole newest group
        size_t oldCount = 0;                 // the whole group before it
        std::vector<std::string> newest;     // its first rows, by name
        std::vector<std::string> older;      // the older group's first rows, by name
        std::vector<std::string> updates;    // "isUpdated = 1 AND isHeld = 0", by name
    };
    // Reads the database on the calling thread; `showIncompatible` keeps the
    // packages reported not working in the groups.
    static Reading read(bool showIncompatible);

    enum class Row { Package, Header, Button, None };

    void apply(Reading reading) { reading_ = std::move(reading); }
    const Reading& reading() const { return reading_; }

    int numberOfSections() const { return reading_.oldCount > 0 ? 2 : 1; }
    int numberOfRows(int section) const;
    Row rowKind(int section, int row) const;
    std::optional<std::string> identifierAt(int section, int row) const;
    int rowHeight(int section, int row) const;
    // The new-packages table sized to its rows.
    int heightForNewPackagesTableView() const;
    int heightForUpdatesTableView() const { return static_cast<int>(reading_.updates.size()) * kPackageRowHeight; }

private:
    Reading reading_;
};
