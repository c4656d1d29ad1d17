#include "Browsing/PackageListModel.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <set>

#include "Browsing/PackageSearch.h"
#include "Categories/String+LocalizedCompare.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRPackageManager.h"
#include "Miscellaneous/ZMLocalization.h"
#include "VostrellePersistentPreferences.h"

namespace {

bool showsIncompatible() {
    return VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::ShowIncompatiblePackages);
}

// The lists with a compatibility filter add this when incompatible packages are hidden.
std::string filtered(std::string format) {
    if (showsIncompatible()) return format;
    if (format.empty()) return "tweakCompatibleStatus != 1";
    return format + " AND tweakCompatibleStatus != 1";
}

// (key text, identifier) of every package of the result, in its order, from one
// statement, so that a write on another thread cannot tear the two apart.
std::vector<std::pair<std::string, std::string>> keyedIdentifiers(const Results<ZMRPackage>& results,
                                                                  const std::string& keyPath) {
    const auto& core = *results.core();
    const std::string column = "\"" + keyPath + "\"";
    const std::string select = "coalesce(CAST(" + column + " AS TEXT), '') || char(31) || \"identifier\"";
    auto rows = core.realm()->queryColumn(core.querySql(select.c_str()), core.where().bindings,
                                          *ZMRPackage::schema().property("identifier"));
    std::vector<std::pair<std::string, std::string>> out;
    out.reserve(rows.size());
    for (const auto& row : rows) {
        const auto* text = std::get_if<std::string>(&row);
        if (!text) continue;
        const size_t separator = text->find('\x1f');
        if (separator == std::string::npos || separator + 1 == text->size()) continue;
        out.emplace_back(text->substr(0, separator), text->substr(separator + 1));
    }
    return out;
}

// The rows in the locale's order of their key texts, without regard to case
// (the database orders bytes: "com.walk.tool" would follow every capital);
// rows of equal keys keep their order.
void sortLocalized(std::vector<std::pair<std::string, std::string>>& rows) {
    std::vector<std::pair<std::string, size_t>> keys;
    keys.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) keys.emplace_back(LocalizedCompare::sortKey(rows[i].first), i);
    std::sort(keys.begin(), keys.end());
    std::vector<std::pair<std::string, std::string>> sorted;
    sorted.reserve(rows.size());
    for (const auto& key : keys) sorted.push_back(std::move(rows[key.second]));
    rows = std::move(sorted);
}

}  // namespace

bool PackageListModel::isNewPackagesKind() const {
    return subcategory.empty() &&
           (category == kCategorySpecial_NewPackages || category == kCategorySpecial_NewPackagesVersions);
}

bool PackageListModel::isSourceKind() const {
    return category == kCategorySpecial_SourcePackages && !sourceLocation.empty();
}

bool PackageListModel::isInstalledList() const { return category == kCategorySpecial_InstalledPackages; }

std::string PackageListModel::sortPropertyForPrefs() const {
    const auto value =
        VostrellePersistentPreferences::sharedInstance().stringForKey(VostrellePreferenceKey::SortInstalledPackagesBy);
    if (!value) return "name";
    if (*value == "Category") return "category";
    if (*value == "Maintainer") return "maintainer";
    if (*value == "Name") return "name";
    if (*value == "Source") return "sourceLocation";
    if (*value == "InstallDate" && isInstalledList()) return "installDate";
    return "name";
}

std::optional<Results<ZMRPackage>> PackageListModel::queryForSortCriteria(const std::string& key) const {
    auto sorted = [&](Results<ZMRPackage> r) { return r.sortedResultsUsingKeyPath(key, true); };
    if (isSourceKind()) {
        if (subcategory == "All Packages") return sorted(ZMRPackage::objectsWhere(filtered("sourceLocation = %@"), sourceLocation));
        return sorted(ZMRPackage::objectsWhere(filtered("sourceLocation = %@ AND category = %@"), sourceLocation, subcategory));
    }
    if (!subcategory.empty())
        return sorted(ZMRPackage::objectsWhere(filtered("category = %@ AND subcategory = %@"), category, subcategory));
    if (category == kCategorySpecial_AllPackages) return sorted(ZMRPackage::objectsWhere(filtered("")));
    if (category == kCategorySpecial_InstalledPackages)
        return sorted(ZMRPackage::objectsWhere("isInstalled = 1 AND NOT name BEGINSWITH[cd] 'cy+'"));
    if (category == kCategorySpecial_UpdatedPackages) return sorted(ZMRPackage::objectsWhere("isUpdated = 1 AND isHeld = 0"));
    if (isNewPackagesKind()) return std::nullopt;
    if (category == kCategorySpecial_Search) {
        // The search card's own query, so that this list holds what it counted.
        if (auto found = PackageSearch::query(search, searchQuery)) return sorted(*found);
        return sorted(ZMRPackage::objectsWhere("FALSEPREDICATE"));
    }
    if (category == kCategorySpecial_SileoPackages) {
        if (!sourceLocation.empty())
            return sorted(ZMRPackage::objectsWhere("isPaidThroughSileo = 1 AND sourceLocation = %@", sourceLocation));
        return sorted(ZMRPackage::objectsWhere("isPaidThroughSileo = 1"));
    }
    // Any listed identifier, without regard to case; the list is one bound argument.
    if (category == kCategorySpecial_NewPackagesFromFollowedDeveloper) {
        StringList identifiers(followedDeveloperNewPackages.value_or(std::vector<std::string>{}));
        return sorted(ZMRPackage::objectsWhere("identifier IN[c] %@", identifiers));
    }
    if (category == kCategorySpecial_NewPackagesFromFollowedSource) {
        StringList identifiers(newsSourcePackagesToShow);
        return sorted(ZMRPackage::objectsWhere("identifier IN[c] %@", identifiers));
    }
    // Not a list kind and no subcategory: a section without subcategory holds nothing.
    return sorted(ZMRPackage::objectsWhere(filtered("category = %@ AND subcategory = %@"), category, subcategory));
}

PackageListModel PackageListModel::inputsOnly() const {
    PackageListModel inputs;
    inputs.category = category;
    inputs.subcategory = subcategory;
    inputs.search = search;
    inputs.searchQuery = searchQuery;
    inputs.sourceLocation = sourceLocation;
    inputs.followedDeveloperNewPackages = followedDeveloperNewPackages;
    inputs.newsSourcePackagesToShow = newsSourcePackagesToShow;
    return inputs;
}

void PackageListModel::rebuild() {
    sortCriteria_ = sortPropertyForPrefs();
    if (isNewPackagesKind()) {
        auto& collection = ZMRPackageManager::sharedPackageManager().packages();
        std::shared_ptr<const ZMRPackages::DateGroups> groups;
        // The dates and the dictionary of one rebuild, as one snapshot: a
        // rebuild of the other kind cannot give us dates without rows.
        if (category == kCategorySpecial_NewPackages) {
            collection.rebuildDictOfNewPackages();
            groups = collection.newPackagesGroups();
        } else {
            collection.rebuildDictOfNewPackagesVersions();
            groups = collection.newPackagesVersionsGroups();
        }
        packages_.reset();
        indexTitles_.reset();
        sections_ = groups ? groups->dates : std::vector<std::string>{};
        sectionsDictionary_.clear();
        if (groups)
            for (const auto& [date, ids] : groups->identifiers) sectionsDictionary_[date] = ids;
        return;
    }
    packages_ = queryForSortCriteria(sortCriteria_);
    rebuildSectionsCacheForSortCriteria(sortCriteria_);
}

void PackageListModel::rebuildWithPackages(Results<ZMRPackage> packages, const std::string& keyPath) {
    sortCriteria_ = keyPath;
    packages_ = std::move(packages);
    rebuildSectionsCacheForSortCriteria(keyPath);
}

void PackageListModel::rebuildSectionsCacheForSortCriteria(const std::string& keyPath) {
    sections_.clear();
    sectionsDictionary_.clear();
    indexTitles_.reset();
    if (!packages_) return;

    auto rows = keyedIdentifiers(*packages_, keyPath);
    if (keyPath != "installDate") sortLocalized(rows);
    if (keyPath == "name") {
        // Names in order: letters appear in the order of their first name.
        indexTitles_.emplace();
        for (const auto& [name, identifier] : rows) {
            const std::string first = capitalisedFirstCharacter(name);
            // A nameless package still has a row: under "#", not nowhere.
            const std::string letter = first.empty() ? std::string(kNamelessSection) : first;
            auto [it, inserted] = sectionsDictionary_.try_emplace(letter);
            if (inserted) {
                sections_.push_back(letter);
                indexTitles_->push_back(letter);
            }
            it->second.push_back(identifier);
        }
        return;
    }
    if (keyPath == "installDate") {
        // Ascending dates: reversing the order of first appearance gives newest first.
        std::vector<std::string> order;
        bool undated = false;
        for (const auto& [date, identifier] : rows) {
            std::string title;
            if (date.empty()) {
                // Installed without a recorded date (dpkg had none): kept, in a section of its own.
                title = undatedSectionTitle();
                undated = true;
            } else {
                try {
                    title = installDateSectionTitle(std::stod(date));
                } catch (...) {
                    title = undatedSectionTitle();
                    undated = true;
                }
            }
            auto [it, inserted] = sectionsDictionary_.try_emplace(title);
            if (inserted && title != undatedSectionTitle()) order.push_back(title);
            it->second.push_back(identifier);
        }
        sections_.assign(order.rbegin(), order.rend());
        if (undated) sections_.push_back(undatedSectionTitle());
        return;
    }
    // category, maintainer, sourceLocation: distinct values in order; a package
    // without a value is in no section.
    for (const auto& [value, identifier] : rows) {
        if (value.empty()) continue;
        auto [it, inserted] = sectionsDictionary_.try_emplace(value);
        if (inserted) sections_.push_back(value);
        it->second.push_back(identifier);
    }
}

int PackageListModel::numberOfRows(int section) const {
    if (section < 0 || section >= numberOfSections()) return 0;
    auto it = sectionsDictionary_.find(sections_[section]);
    return it == sectionsDictionary_.end() ? 0 : static_cast<int>(it->second.size());
}

std::optional<std::string> PackageListModel::identifierAt(int section, int row) const {
    if (section < 0 || section >= numberOfSections() || row < 0) return std::nullopt;
    auto it = sectionsDictionary_.find(sections_[section]);
    if (it == sectionsDictionary_.end() || row >= static_cast<int>(it->second.size())) return std::nullopt;
    return it->second[row];
}

std::optional<std::pair<int, int>> PackageListModel::positionOf(const std::string& identifier) const {
    for (int s = 0; s < numberOfSections(); ++s) {
        const auto section = sectionsDictionary_.find(sections_[s]);
        if (section == sectionsDictionary_.end()) continue;
        const auto& rows = section->second;
        if (auto it = std::find(rows.begin(), rows.end(), identifier); it != rows.end())
            return std::pair{s, static_cast<int>(it - rows.begin())};
    }
    return std::nullopt;
}

std::string PackageListModel::headerTitle(int section) const {
    if (section < 0 || section >= numberOfSections()) return {};
    if (isNewPackagesKind()) return newPackagesHeaderTitle(sections_[section]);
    return sections_[section];
}

std::string PackageListModel::undatedSectionTitle() { return ZMLocalizedString("Unknown"); }

std::string PackageListModel::installDateSectionTitle(double secondsSince1970) {
    const auto ms = static_cast<qint64>(secondsSince1970 * 1000.0);
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString("dd-MM-yyyy HH:mm:ss").toStdString();
}

std::string PackageListModel::newPackagesHeaderTitle(const std::string& dateText) {
    const QDateTime date = QDateTime::fromString(QString::fromStdString(dateText), "yyyy-MM-dd HH:mm");
    if (!date.isValid()) return dateText;
    const QLocale locale;
    return (locale.toString(date.date(), QLocale::LongFormat) + " " + locale.toString(date.time(), QLocale::ShortFormat))
        .toStdString();
}

std::string PackageListModel::capitalisedFirstCharacter(const std::string& name) {
    const QString text = QString::fromStdString(name);
    if (text.isEmpty()) return {};
    const int length = text.at(0).isHighSurrogate() && text.size() > 1 ? 2 : 1;
    return text.left(length).toUpper().toStdString();
}
