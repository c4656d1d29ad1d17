#pragma once
// What a generic package list shows: the query of its kind, sorted by the
// system-wide sort criterion, and the sections made from it. Sections and
// rows follow the locale's order of the texts, without regard to case
// (LocalizedCompare); the query result itself is in the database's order.
// Rows hold package identifiers only; the screen looks each record up again
// when it draws it.
//
// Lists of identifiers (a followed developer's or source's new packages) are
// one bound list argument, never query text, so any identifier works and an
// empty list is simply an empty list.
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Database/ZMRPackage.h"

class PackageListModel {
public:
    // ---- inputs, set before the first rebuild ----------------------------------------
    std::string category;
    std::string subcategory;
    std::string search;
    // The search mode of the Search kind (PackageSearch::Mode); Fuzzy unless
    // the search screen hands over its own.
    int64_t searchQuery = 1;
    std::string sourceLocation;
    // A followed developer's new packages (its developerNewPackagesIdentifiers).
    std::optional<std::vector<std::string>> followedDeveloperNewPackages;
    std::vector<std::string> newsSourcePackagesToShow;

    // The key path the list is sorted and grouped by: "SortInstalledPackagesBy"
    // read anew ("InstallDate" only counts in the installed list).
    std::string sortPropertyForPrefs() const;
    // The two lists of new packages group by date themselves.
    bool isNewPackagesKind() const;
    bool showsSortButton() const { return !isNewPackagesKind(); }
    bool isInstalledList() const;

    // The query of the list's kind sorted ascending by `keyPath`; nullopt for the
    // new-packages kinds.
    std::optional<Results<ZMRPackage>> queryForSortCriteria(const std::string& keyPath) const;

    // Queries and groups again. Reads only the database and the preferences,
    // so a copy made by inputsOnly() may rebuild on any thread.
    void rebuild();
    // A model with this one's inputs and no rows yet.
    PackageListModel inputsOnly() const;
    void rebuildSectionsCacheForSortCriteria(const std::string& keyPath);
    // For screens with a query of their own: groups `packages` by `keyPath`.
    void rebuildWithPackages(Results<ZMRPackage> packages, const std::string& keyPath);
    // The source kind needs a source: the category alone is a section name.
    bool isSourceKind() const;

    const std::optional<Results<ZMRPackage>>& packages() const { return packages_; }
    const std::vector<std::string>& sections() const { return sections_; }
    const std::map<std::string, std::vector<std::string>>& sectionsDictionary() const { return sectionsDictionary_; }
    // The index strip: only when grouped by name.
    const std::optional<std::vector<std::string>>& indexTitles() const { return indexTitles_; }
    const std::string& sortCriteria() const { return sortCriteria_; }

    int numberOfSections() const { return static_cast<int>(sections_.size()); }
    int numberOfRows(int section) const;
    std::optional<std::string> identifierAt(int section, int row) const;
    // Where the package is listed (section, row): the first place, in the sections' order.
    std::optional<std::pair<int, int>> positionOf(const std::string& identifier) const;
    // The header text: the section key, or for the new-packages kinds the date in
    // the locale's long date and short time formats.
    std::string headerTitle(int section) const;

    // The section a package without an install date goes to when grouping by
    // install date, and a package with an empty name when grouping by name.
    static std::string undatedSectionTitle();
    static constexpr const char* kNamelessSection = "#";

    // "dd-MM-yyyy HH:mm:ss" in local time.
    static std::string installDateSectionTitle(double secondsSince1970);
    // "yyyy-MM-dd HH:mm" shown in the locale's long date and short time.
    static std::string newPackagesHeaderTitle(const std::string& dateText);
    // The capitalised first character of a name ("" for an empty name).
    static std::string capitalisedFirstCharacter(const std::string& name);

private:
    std::optional<Results<ZMRPackage>> packages_;
    std::vector<std::string> sections_;
    std::map<std::string, std::vector<std::string>> sectionsDictionary_;
    std::optional<std::vector<std::string>> indexTitles_;
    std::string sortCriteria_;
};
