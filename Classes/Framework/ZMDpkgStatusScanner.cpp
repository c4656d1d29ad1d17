#include "ZMDpkgStatusScanner.h"

#include <chrono>
#include <unordered_map>
#include <unordered_set>

#include "Database/ZMRPackage.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "Notifications/NotificationCenter.h"
#include "ZMDpkgStatus.h"
#include "ZMPackageOperations.h"

namespace {

std::string trimmed(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\n')) --e;
    return std::string(s.substr(b, e - b));
}

std::string field(const ZMDpkgPackage& p, std::string_view name) {
    auto v = p.fields.field(name);
    return v ? trimmed(*v) : std::string();
}

StringList relations(const std::string& text) {
    StringList out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string item = trimmed(std::string_view(text).substr(start, comma - start));
        for (char& c : item)
            if (c == '\n' || c == '\t') c = ' ';
        if (!item.empty()) out.push_back(std::move(item));
        start = comma + 1;
    }
    return out;
}

// Configured packages count, also with triggers still to run; a package an
// interrupted or failed run left unpacked or half-configured does not: it is
// not usable yet, and showing it installed would report a failed run as done.
bool onTheSystem(const ZMDpkgPackage& p) {
    if (p.installed) return true;
    return p.state == "triggers-awaited" || p.state == "triggers-pending";
}

bool isDpkgOnly(const ZMRPackage& r) { return r.sourceLocation.empty() || r.sourceLocation == "DPKG"; }

// The fields the scan owns, for telling whether a record changed.
struct InstalledState {
    bool installed = false;
    std::string version;
    bool held = false;
    bool updated = false;
    std::optional<double> installDate;
    bool operator==(const InstalledState&) const = default;
};

InstalledState stateOf(const ZMRPackage& r) {
    return {r.isInstalled.value_or(false), r.installedVersion, r.isHeld.value_or(false), r.isUpdated.value_or(false),
            r.installDate};
}

}  // namespace

std::string ZMDpkgStatusScanner::queueStateNotificationName(const std::string& identifier) {
    return ZMQueueStateNotificationPrefix + identifier;
}

ZMResult<ZMDpkgStatusScanSummary> ZMDpkgStatusScanner::scan() { return scan(ZMPaths::dpkgDirectory()); }

ZMResult<ZMDpkgStatusScanSummary> ZMDpkgStatusScanner::scan(const std::string& dpkgDirectory) {
    auto read = ZMDpkgStatus::read(dpkgDirectory);
    if (!read) {
        ZMLOG("cannot read the dpkg status in {}: {}", dpkgDirectory, read.error->debugDescription());
        return ZMResult<ZMDpkgStatusScanSummary>::failure(*read.error);
    }
    return apply(*read.value);
}

ZMResult<ZMDpkgStatusScanSummary> ZMDpkgStatusScanner::apply(const ZMDpkgStatusScan& status) {
    using Result = ZMResult<ZMDpkgStatusScanSummary>;
    const auto* read = &status;
    ZMDpkgStatusScanSummary summary;
    try {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            std::unordered_set<std::string> seen;
            for (const auto& p : read->packages) {
                if (!onTheSystem(p) || !seen.insert(p.identifier).second) continue;
                ++summary.installed;
                auto existing = realm->objectForPrimaryKey<ZMRPackage>(p.identifier);
                ZMRPackage record;
                bool created = !existing;
                InstalledState before;
                const std::string previousVersion = existing ? existing->version : std::string();
                if (existing) {
                    record = std::move(*existing);
                    before = stateOf(record);
                } else {
                    record.identifier = p.identifier;
                    record.sourceLocation = "DPKG";
                    record.name = field(p, "Name");
                    if (record.name.empty()) record.name = p.identifier;
                    record.author = field(p, "Author");
                    record.maintainer = field(p, "Maintainer");
                    if (record.maintainer.empty()) record.maintainer = record.author;
                    record.Description = field(p, "Description");
                    record.category = field(p, "Section");
                    if (record.category.empty()) record.category = "Default";
                    record.website = field(p, "Depiction");
                    record.sileoDepiction = field(p, "SileoDepiction");
                    record.homepage = field(p, "Homepage");
                    record.architecture = p.architecture;
                    record.installedSize = field(p, "Installed-Size");
                    record.dependencies = relations(field(p, "Depends"));
                    record.conflicts = relations(field(p, "Conflicts"));
                    record.isInWishlist = false;
                    record.isInTheQueue = false;
                }
                // A package no source carries shows the version that is installed.
                if (isDpkgOnly(record)) record.version = p.version;
                record.isInstalled = true;
                record.installedVersion = p.version;
                record.isHeld = p.held;
                record.isEssential = p.essential;
                record.installDate.reset();
                if (p.installDate)
                    record.installDate = std::chrono::duration<double>(p.installDate->time_since_epoch()).count();
                record.isUpdated = ZMRPackage::offersUpdate(record.version, p.version);
                const bool filesChanged = record.installedFiles != p.installedFiles;
                if (filesChanged) record.installedFiles = p.installedFiles;
                const bool stateChanged = created || !(stateOf(record) == before);
                if (stateChanged || filesChanged || (!created && isDpkgOnly(record) && previousVersion != p.version)) {
                    realm->addOrUpdate(record);
                }
                if (created) ++summary.created;
                if (stateChanged) summary.changedIdentifiers.push_back(p.identifier);
            }
            // Records that dpkg no longer lists as installed.
            auto installed = realm->objectsWhere<ZMRPackage>("isInstalled = 1").toVector();
            for (auto& record : installed) {
                if (seen.count(record.identifier)) continue;
                summary.changedIdentifiers.push_back(record.identifier);
                if (isDpkgOnly(record)) {
                    realm->deleteObject(record);
                    ++summary.removed;
                    continue;
                }
                record.isInstalled = false;
                record.installedVersion.clear();
                record.installDate.reset();
                record.isHeld = false;
                record.isUpdated = false;
                record.installedFiles.clear();
                realm->addOrUpdate(record);
            }
        });
    } catch (const std::exception& e) {
        ZMLOG("the dpkg status scan could not write the records: {}", e.what());
        return Result::failure(ZMError::make(ZMError::Unknown, e.what()));
    }
    for (const auto& identifier : summary.changedIdentifiers)
        NotificationCenter::defaultCenter().postOnMain(queueStateNotificationName(identifier), std::any(identifier),
                                                       {{"identifier", identifier}});
    ZMLOG("dpkg status: {} installed, {} new, {} removed, {} changed", summary.installed, summary.created,
          summary.removed, summary.changedIdentifiers.size());
    return Result::success(std::move(summary));
}

void ZMDpkgStatusScanner::scanInBackground(std::function<void(ZMResult<ZMDpkgStatusScanSummary>)> completion) {
    Dispatch::backgroundQueue([completion = std::move(completion)] {
        auto result = scan();
        if (completion) Dispatch::main([completion, result = std::move(result)] { completion(result); });
    });
}
