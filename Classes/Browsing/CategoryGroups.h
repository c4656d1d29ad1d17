#pragma once
// The category rows of the Sections tab and of the category and source
// screen: names that begin with "Addon", "Theme", "Tweak" or "Widget"
// (case-sensitive) fold into four groups shown as one label row each
// ("Addons   " ... with three trailing blanks); the labels take their
// alphabetical place among the other names (localized, case-insensitive); at
// most one group is unfolded, its members right below its label.
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class CategoryGroups {
public:
    enum Group { Addons = 0, Themes = 1, Tweaks = 2, Widgets = 3 };
    static constexpr std::array<const char*, 4> kPrefixes = {"Addon", "Theme", "Tweak", "Widget"};
    static constexpr std::array<const char*, 4> kLabels = {"Addons   ", "Themes   ", "Tweaks   ", "Widgets   "};

    // The group whose label the row is (exact comparison).
    static std::optional<Group> groupOfLabel(const std::string& row);
    // Orders texts as the rows are ordered: localized, case-insensitive.
    static void sortLocalized(std::vector<std::string>& texts);

    // Takes the entries in order: members go to their groups, the rest and the
    // labels of non-empty groups become the rows, sorted; every group folded.
    void setEntries(std::vector<std::string> entries);

    const std::vector<std::string>& rows() const { return rows_; }
    // Rows the screen adds itself ("All Packages" on top of a source's).
    void insertRow(size_t position, std::string row) { rows_.insert(rows_.begin() + static_cast<long>(position), std::move(row)); }
    // Keeps the first of equal rows.
    void removeDuplicateRows();

    const std::vector<std::string>& members(Group group) const { return members_[group]; }
    bool isCollapsed(Group group) const { return collapsed_[group]; }
    std::optional<Group> expandedGroup() const;
    std::optional<size_t> rowOfLabel(Group group) const;

    // The group of the four flags of a toggle (the first one set).
    static std::optional<Group> groupOf(bool addons, bool themes, bool tweaks, bool widgets);
    // Unfolds a folded group (then folds the one that was open) or folds an
    // unfolded one, telling `inserted` and `removed` the rows of each step as
    // the table must show them. True when the group was unfolded.
    bool toggle(Group group, const std::function<void(const std::vector<int>&)>& inserted,
                const std::function<void(const std::vector<int>&)>& removed);

    // Puts the group's members right below its label; the rows inserted.
    std::vector<int> expand(Group group);
    // Takes the group's members out; the rows they held before.
    std::vector<int> collapse(Group group);

private:
    std::vector<std::string> rows_;
    std::array<std::vector<std::string>, 4> members_;
    std::array<bool, 4> collapsed_ = {true, true, true, true};
};
