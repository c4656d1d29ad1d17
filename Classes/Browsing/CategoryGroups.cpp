#include "Browsing/CategoryGroups.h"

#include <QCollator>
#include <QString>

#include <algorithm>
#include <set>

std::optional<CategoryGroups::Group> CategoryGroups::groupOfLabel(const std::string& row) {
    for (size_t g = 0; g < kLabels.size(); ++g)
        if (row == kLabels[g]) return static_cast<Group>(g);
    return std::nullopt;
}

void CategoryGroups::sortLocalized(std::vector<std::string>& texts) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<std::pair<QString, std::string>> keyed;
    keyed.reserve(texts.size());
    for (auto& t : texts) keyed.emplace_back(QString::fromStdString(t), std::move(t));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [&](const auto& a, const auto& b) { return collator.compare(a.first, b.first) < 0; });
    for (size_t i = 0; i < texts.size(); ++i) texts[i] = std::move(keyed[i].second);
}

void CategoryGroups::setEntries(std::vector<std::string> entries) {
    rows_.clear();
    for (auto& m : members_) m.clear();
    collapsed_ = {true, true, true, true};
    for (auto& entry : entries) {
        bool grouped = false;
        for (size_t g = 0; g < kPrefixes.size() && !grouped; ++g) {
            if (entry.rfind(kPrefixes[g], 0) == 0) {
                members_[g].push_back(entry);
                grouped = true;
            }
        }
        if (!grouped) rows_.push_back(std::move(entry));
    }
    for (size_t g = 0; g < kLabels.size(); ++g)
        if (!members_[g].empty()) rows_.emplace_back(kLabels[g]);
    sortLocalized(rows_);
}

void CategoryGroups::removeDuplicateRows() {
    std::set<std::string> seen;
    rows_.erase(std::remove_if(rows_.begin(), rows_.end(), [&](const std::string& r) { return !seen.insert(r).second; }),
                rows_.end());
}

std::optional<CategoryGroups::Group> CategoryGroups::expandedGroup() const {
    for (size_t g = 0; g < collapsed_.size(); ++g)
        if (!collapsed_[g]) return static_cast<Group>(g);
    return std::nullopt;
}

std::optional<size_t> CategoryGroups::rowOfLabel(Group group) const {
    auto it = std::find(rows_.begin(), rows_.end(), kLabels[group]);
    if (it == rows_.end()) return std::nullopt;
    return static_cast<size_t>(it - rows_.begin());
}

std::optional<CategoryGroups::Group> CategoryGroups::groupOf(bool addons, bool themes, bool tweaks, bool widgets) {
    if (addons) return Addons;
    if (themes) return Themes;
    if (tweaks) return Tweaks;
    if (widgets) return Widgets;
    return std::nullopt;
}

bool CategoryGroups::toggle(Group group, const std::function<void(const std::vector<int>&)>& inserted,
                            const std::function<void(const std::vector<int>&)>& removed) {
    if (!collapsed_[group]) {
        removed(collapse(group));
        return false;
    }
    inserted(expand(group));
    for (size_t g = 0; g < collapsed_.size(); ++g)
        if (static_cast<Group>(g) != group && !collapsed_[g]) removed(collapse(static_cast<Group>(g)));
    return true;
}

std::vector<int> CategoryGroups::expand(Group group) {
    std::vector<int> inserted;
    if (!collapsed_[group]) return inserted;
    auto label = rowOfLabel(group);
    if (!label) return inserted;
    size_t at = *label + 1;
    for (const auto& member : members_[group]) {
        rows_.insert(rows_.begin() + static_cast<long>(at), member);
        inserted.push_back(static_cast<int>(at++));
    }
    collapsed_[group] = false;
    return inserted;
}

std::vector<int> CategoryGroups::collapse(Group group) {
    std::vector<int> removed;
    if (collapsed_[group]) return removed;
    // Only the rows below the label: a member may share its name with another row.
    auto label = rowOfLabel(group);
    if (label) {
        size_t at = *label + 1;
        for (const auto& member : members_[group]) {
            if (at < rows_.size() && rows_[at] == member) {
                removed.push_back(static_cast<int>(at + removed.size()));
                rows_.erase(rows_.begin() + static_cast<long>(at));
            }
        }
    }
    collapsed_[group] = true;
    return removed;
}
