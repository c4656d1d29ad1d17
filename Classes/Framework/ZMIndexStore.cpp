#include "ZMIndexStore.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>

#include "Categories/String+VersionCompare.h"
#include "Categories/String+ZemtrixExtensions.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageVersion.h"
#include "Miscellaneous/ZMLog.h"
#include "ZMReleaseFile.h"

namespace {

// Stanzas refused are logged one by one up to this many per index, then counted.
constexpr size_t kLoggedSkips = 20;
// A stanza larger than this is refused: apt fails on one of about 1 MiB, and
// Debian's largest are some 40 KiB.
constexpr size_t kMaximumStanzaBytes = 256u << 10;

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return std::string(s.substr(b, e - b));
}

std::string fieldText(const ZMControlStanza& stanza, std::string_view name) {
    auto v = stanza.field(name);
    return v ? trim(*v) : std::string();
}

// A log-safe rendering of untrusted text: control characters escaped, length capped.
std::string printable(std::string_view s) {
    std::string out;
    for (unsigned char c : s.substr(0, 80)) {
        if (c < 0x20 || c == 0x7F) out += fmt::format("\\x{:02x}", c);
        else out.push_back(static_cast<char>(c));
    }
    if (s.size() > 80) out += "…";
    return out;
}

// Whether a comma-separated Tag list holds `tag` (blanks around entries aside).
bool hasTag(std::string_view tags, std::string_view tag) {
    size_t start = 0;
    while (start <= tags.size()) {
        size_t end = tags.find(',', start);
        if (end == std::string_view::npos) end = tags.size();
        std::string_view entry = tags.substr(start, end - start);
        while (!entry.empty() && std::isspace(static_cast<unsigned char>(entry.front()))) entry.remove_prefix(1);
        while (!entry.empty() && std::isspace(static_cast<unsigned char>(entry.back()))) entry.remove_suffix(1);
        if (entry == tag) return true;
        start = end + 1;
    }
    return false;
}

StringList splitRelations(std::string_view text) {
    StringList out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        std::string item = trim(text.substr(start, comma - start));
        // Folded lines of a long Depends field keep their line breaks: flatten them.
        for (char& c : item)
            if (c == '\n' || c == '\t') c = ' ';
        if (!item.empty()) out.push_back(std::move(item));
        start = comma + 1;
    }
    return out;
}

// "Name <mail@host>" -> "mail@host".
std::string emailOf(const std::string& maintainer) {
    size_t open = maintainer.find('<');
    size_t close = maintainer.find('>', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos || close <= open + 1) return {};
    return maintainer.substr(open + 1, close - open - 1);
}

// Changing how stanzas become records changes this salt, so every stanza is
// rewritten once after an update of the program. The digest is the one of
// the stanza as listed (ending in a line end), whether it comes from the
// list or from the index as served.
std::string stanzaHash(std::string_view raw) {
    if (!raw.empty() && raw.back() != '\n') return stanzaHash(std::string(raw) + '\n');
    // The leading number changes whenever a stanza yields more fields: every record is then read anew once.
    return fmt::format("4:{:016x}:{}", std::hash<std::string_view>{}(raw), raw.size());
}

void fillFromStanza(ZMRPackage& r, const ZMControlStanza& stanza, const std::string& identifier,
                    const std::string& version, const std::string& architecture, const std::string& location) {
    r.identifier = identifier;
    r.version = version;
    // Texts the lists show: one plain line, capped.
    auto line = [&](std::string_view field, size_t limit) {
        auto v = stanza.field(field);
        return v ? ZemtrixExtensions::plainTextLine(*v, limit) : std::string();
    };
    r.name = line("Name", ZMReleaseFile::kMaximumNameCharacters);
    if (r.name.empty()) r.name = identifier;
    r.author = line("Author", ZMReleaseFile::kMaximumNameCharacters);
    r.maintainer = line("Maintainer", ZMReleaseFile::kMaximumNameCharacters);
    if (r.maintainer.empty()) r.maintainer = r.author;
    r.contact = emailOf(r.maintainer);
    // The synopsis, as the dpkg status scan keeps it: lists show it, and the
    // long texts of large indexes would double the database.
    r.Description = ZemtrixExtensions::plainTextLine(ZMControlParser::firstLine(fieldText(stanza, "Description")),
                                                     ZMReleaseFile::kMaximumDescriptionCharacters);
    r.category = fieldText(stanza, "Section");
    if (r.category.empty()) r.category = "Default";
    r.sourceLocation = location;
    r.website = fieldText(stanza, "Depiction");
    // Field names compare without case: this covers SileoDepiction, sileoDepiction, Sileodepiction, sileodepiction.
    r.sileoDepiction = fieldText(stanza, "SileoDepiction");
    r.homepage = fieldText(stanza, "Homepage");
    r.iconURL = fieldText(stanza, "Icon");
    r.architecture = architecture;
    r.size = fieldText(stanza, "Size");
    r.installedSize = fieldText(stanza, "Installed-Size");
    // Only an explicit Price makes a package paid here; the store API fills in the rest.
    r.price = fieldText(stanza, "Price");
    // What the queue run carries out after installing (respring, reboot, uicache).
    r.postinstallaction = fieldText(stanza, "Post-Install-Action");
    r.filename = fieldText(stanza, "Filename");
    r.sha256 = fieldText(stanza, "SHA256");
    r.md5sum = fieldText(stanza, "MD5sum");
    r.isCommercial = hasTag(fieldText(stanza, "Tag"), "cydia::commercial");
    r.dependencies = splitRelations(fieldText(stanza, "Depends"));
    r.conflicts = splitRelations(fieldText(stanza, "Conflicts"));
    std::string essential = fieldText(stanza, "Essential");
    if (!essential.empty()) r.isEssential = essential == "yes";
}

// What the store needs to know about a record the source already owns.
struct OwnedRecord {
    std::string version;
    std::string controlHash;
    bool isInstalled = false;
    std::string installedVersion;
};

}  // namespace

ZMIndexStore::ZMIndexStore(std::string location, std::string hostArchitecture, std::string updatedDateStr)
    : location_(std::move(location)),
      hostArchitecture_(std::move(hostArchitecture)),
      updatedDateStr_(std::move(updatedDateStr)),
      logged_(std::make_shared<std::atomic<size_t>>(0)) {}

const std::vector<std::string>& ZMIndexStore::stanzaProperties() {
    static const std::vector<std::string> names{
        "name",     "version",        "author",   "maintainer", "contact",  "Description",  "category",
        "sourceLocation", "website",  "sileoDepiction", "homepage", "iconURL",  "architecture", "size",
        "installedSize",  "price",    "isCommercial", "postinstallaction", "filename", "sha256", "md5sum", "dependencies",
        "conflicts",      "controlHash", "isUpdated"};
    return names;
}

// A stanza is taken only when apt reads it as we do; what is taken goes to
// apt as served, so that apt and the records know the same packages.
ZMIndexStream::Accept ZMIndexStore::accept() {
    return [location = location_, host = hostArchitecture_, logged = logged_](const ZMControlStanza& stanza,
                                                                              ZMParseTally& tally) {
        auto skip = [&](const std::string& why) {
            ++tally.skipped;
            if ((*logged)++ < kLoggedSkips) ZMLOG("{}: skipping a stanza: {}", location, why);
            return false;
        };
        if (stanza.raw().size() > kMaximumStanzaBytes) return skip(fmt::format("a stanza of {} bytes", stanza.raw().size()));
        if (!stanza.isStrict()) return skip("malformed stanza (a line that is no field, or a field twice)");
        auto packageField = stanza.field("Package");
        if (!packageField) return skip("no Package field");
        const std::string identifier = trim(*packageField);
        if (!isValidDebianPackageName(identifier)) return skip("invalid package name \"" + printable(identifier) + "\"");
        auto versionField = stanza.field("Version");
        const std::string version = versionField ? trim(*versionField) : std::string();
        if (!isValidDebianVersion(version)) return skip("invalid version \"" + printable(version) + "\" of " + identifier);
        const std::string architecture = fieldText(stanza, "Architecture");
        if (!architecture.empty() && architecture != "all" && architecture != host) {
            ++tally.foreign;
            return skip(identifier + " is for " + printable(architecture));
        }
        ++tally.valid;
        return true;
    };
}

ZMIndexStream::Convert ZMIndexStore::convert() {
    return [location = location_, date = updatedDateStr_](const ZMControlStanza& stanza, ZMParsedBatch& batch) {
        ZMParsedStanza& parsed = batch.stanzas.emplace_back();
        fillFromStanza(parsed.record, stanza, fieldText(stanza, "Package"), fieldText(stanza, "Version"),
                       fieldText(stanza, "Architecture"), location);
        parsed.hasEssential = stanza.has("Essential");
        parsed.record.controlHash = stanzaHash(stanza.raw());
        parsed.record.updatedDateStr = date;
        parsed.record.hasNewVersion = false;
        parsed.row = Realm::storedRow(parsed.record);
    };
}

ZMSourceRefreshSummary ZMIndexStore::store(ZMIndexWriter::Session& session, ZMIndexStream& stream) const {
    using RefreshFailure = ZMIndexFailure;
    Realm& realm = session.realm();
    ZMSourceRefreshSummary summary;
    const std::string& location = location_;

    // What the source owns now: identifiers, versions, stanza digests and installed state only.
    std::unordered_map<std::string, OwnedRecord> owned;
    {
        auto records = realm.objectsWhere<ZMRPackage>("sourceLocation = %@", location)
                           .sortedResultsUsingKeyPath("identifier", true);
        const auto& core = *records.core();
        auto ids = core.valuesForKey("identifier");
        auto versions = core.valuesForKey("version");
        auto hashes = core.valuesForKey("controlHash");
        auto installed = core.valuesForKey("isInstalled");
        auto installedVersions = core.valuesForKey("installedVersion");
        const size_t n =
            std::min({ids.size(), versions.size(), hashes.size(), installed.size(), installedVersions.size()});
        owned.reserve(n);
        auto text = [](RealmValue& value) {
            auto* s = std::get_if<std::string>(&value);
            return s ? std::move(*s) : std::string();
        };
        for (size_t i = 0; i < n; ++i) {
            if (!std::holds_alternative<std::string>(ids[i])) continue;
            OwnedRecord o;
            o.version = text(versions[i]);
            o.controlHash = text(hashes[i]);
            const auto* flag = std::get_if<bool>(&installed[i]);
            o.isInstalled = flag && *flag;
            o.installedVersion = text(installedVersions[i]);
            owned.emplace(text(ids[i]), std::move(o));
        }
    }
    // A record met that is neither the source's nor taken by this index
    // belongs to DPKG or another source: the session knows the identifiers
    // of the table without reading them for every source.
    realm.deleteObjects(realm.objectsWhere<ZMRPackageVersion>("source = %@", location));

    // Per identifier taken: the stanza the record holds now, and how its
    // first sight in this index was judged against the records before it.
    struct Taken {
        std::string version;
        bool isInstalled = false;
        std::string installedVersion;
        bool isNew = false;
        bool wasOwned = false;  // by this source before the refresh
        std::string priorVersion;
        // An owned record first met in a lower version: its date and mark
        // before this refresh, given back should the index list its stored
        // version further on.
        std::optional<std::string> priorDate;
        bool priorHasNewVersion = false;
    };
    std::unordered_map<std::string, Taken> stored;
    stored.reserve(std::max<size_t>(owned.size(), 1024));
    std::unordered_map<std::string, std::optional<ZMRPackage>> adopted;  // records met elsewhere, as they were
    std::unordered_set<std::string> superseded;
    std::unordered_set<std::string> versionKeys;

    // The versions a source offers besides its records' own.
    auto addVersionRow = [&](const ZMRPackage& r, const std::string& source) {
        ZMRPackageVersion row;
        row.versionKey = ZMRPackageVersion::makeKey(source, r.identifier, r.version);
        row.identifier = r.identifier;
        row.version = r.version;
        row.source = source;
        row.fileLocation = r.filename;
        row.size = r.size;
        row.md5sum = r.md5sum;
        row.sha256 = r.sha256;
        row.dependencies = r.dependencies;
        row.conflicts = r.conflicts;
        if (source == location && versionKeys.insert(row.versionKey).second) realm.add(row);
        else realm.addOrUpdate(row);
    };
    // New records wait here to be inserted several at a time; anything
    // else that reads or writes the records first writes them out.
    std::vector<const RealmStoredRow*> pendingInserts;
    auto flushInserts = [&] {
        realm.insertStoredRows(pendingInserts);
        pendingInserts.clear();
    };
    auto insert = [&](ZMParsedStanza& parsed) {
        pendingInserts.push_back(&parsed.row);
        session.packageAdded(parsed.record.identifier);
    };
    // The four shapes of update: with or without Essential, dated or not.
    std::vector<RealmStoredUpdate> updates;
    for (int shape = 0; shape < 4; ++shape) {
        std::vector<std::string> properties = stanzaProperties();
        if (shape & 1) properties.push_back("isEssential");
        if (shape & 2) {
            properties.push_back("updatedDateStr");
            properties.push_back("hasNewVersion");
        }
        updates.push_back(Realm::storedUpdate(ZMRPackage::schema(), properties));
    }
    auto update = [&](ZMParsedStanza& parsed, bool dated) {
        // The row made while parsing is a new record's: only these two differ for a stored one.
        Realm::setStoredValue(parsed.row, "isUpdated", parsed.record.isUpdated.value_or(false));
        Realm::setStoredValue(parsed.row, "hasNewVersion", parsed.record.hasNewVersion.value_or(false));
        if (!realm.updateStoredRow(parsed.row, updates[(parsed.hasEssential ? 1 : 0) + (dated ? 2 : 0)]))
            throw RefreshFailure{ZMError::make(ZMError::Unknown, "the record of " + parsed.record.identifier +
                                                                     " vanished during the refresh")};
    };

    auto take = [&](ZMParsedStanza& parsed) {
        ZMRPackage& record = parsed.record;
        const std::string& identifier = record.identifier;
        const std::string& version = record.version;
        auto already = stored.find(identifier);
        auto own = already == stored.end() ? owned.find(identifier) : owned.end();
        const bool elsewhere = already == stored.end() && own == owned.end() && session.mayHavePackage(identifier);
        if (already != stored.end() || own != owned.end() || elsewhere) flushInserts();
        if (already != stored.end()) {
            // Listed again: a lower or equal version is one more version of the source.
            const int order = ZMVersionCompare(version, already->second.version);
            if (order <= 0) {
                if (order < 0) addVersionRow(record, location);
                return;
            }
            // A higher version later in the same index: the one taken before becomes another version,
            // and this one is judged against what was there before this refresh.
            if (auto previous = realm.objectForPrimaryKey<ZMRPackage>(identifier)) addVersionRow(*previous, location);
            const Taken& d = already->second;
            const bool versionChanged = !d.isNew && d.priorVersion != version;
            // Back at the version stored before: nothing about it is new.
            const bool restored = !d.isNew && !versionChanged && d.priorDate;
            record.hasNewVersion = restored ? d.priorHasNewVersion : versionChanged;
            if (restored) Realm::setStoredValue(parsed.row, "updatedDateStr", *d.priorDate);
            record.isUpdated = d.isInstalled && ZMRPackage::offersUpdate(version, d.installedVersion);
            update(parsed, d.isNew || versionChanged || restored);
            already->second.version = version;
            return;
        }
        Taken taken;
        taken.version = version;
        if (own != owned.end()) {
            // Taken from the map: what is left there at the end is gone from the index.
            taken.wasOwned = true;
            taken.isInstalled = own->second.isInstalled;
            taken.installedVersion = std::move(own->second.installedVersion);
            taken.priorVersion = std::move(own->second.version);
            const bool unchanged = own->second.controlHash == record.controlHash;
            owned.erase(own);
            if (unchanged) {
                stored.emplace(identifier, std::move(taken));
                return;  // not even read
            }
            const bool versionChanged = taken.priorVersion != version;
            if (versionChanged && ZMVersionCompare(version, taken.priorVersion) < 0) {
                if (auto before = realm.objectForPrimaryKey<ZMRPackage>(identifier)) {
                    taken.priorDate = before->updatedDateStr;
                    taken.priorHasNewVersion = before->hasNewVersion.value_or(false);
                }
            }
            record.hasNewVersion = versionChanged;
            record.isUpdated = taken.isInstalled && ZMRPackage::offersUpdate(version, taken.installedVersion);
            update(parsed, versionChanged);
        } else if (elsewhere) {
            auto found = adopted.find(identifier);
            if (found == adopted.end())
                found = adopted.emplace(identifier, realm.objectForPrimaryKey<ZMRPackage>(identifier)).first;
            if (!found->second) {
                insert(parsed);
                taken.isNew = true;
            } else {
                const ZMRPackage& other = *found->second;
                const bool fromDpkg = other.sourceLocation.empty() || other.sourceLocation == "DPKG";
                if (!fromDpkg && ZMVersionCompare(version, other.version) <= 0) {
                    // Another source carries it in a higher or equal version.
                    superseded.insert(identifier);
                    addVersionRow(record, location);
                    return;
                }
                // The other source's version stays on offer.
                if (!fromDpkg) addVersionRow(other, other.sourceLocation);
                taken.isInstalled = other.isInstalled.value_or(false);
                taken.installedVersion = other.installedVersion;
                taken.isNew = fromDpkg;
                taken.priorVersion = other.version;
                record.hasNewVersion = !fromDpkg;
                record.isUpdated = taken.isInstalled && ZMRPackage::offersUpdate(version, taken.installedVersion);
                update(parsed, true);
            }
        } else {
            // Never stored: inserted outright, in the form made while parsing.
            insert(parsed);
            taken.isNew = true;
        }
        stored.emplace(identifier, std::move(taken));
        superseded.erase(identifier);
    };

    ZMParsedBatch batch;
    while (stream.pop(batch)) {
        for (auto& parsed : batch.stanzas) take(parsed);
        flushInserts();
        stream.giveBack(std::move(batch));
        batch = ZMParsedBatch();
    }
    if (auto error = stream.error()) throw RefreshFailure{*error};
    const ZMParseTally tally = stream.tally();
    if (tally.sawText && tally.valid == 0 && tally.foreign == 0)
        throw RefreshFailure{ZMError::make(ZMError::InvalidServerData, "the index holds no usable package")};
    summary.skipped = tally.skipped;

    // Packages gone from the index: the source's records no stanza took.
    for (const auto& [identifier, record] : owned) {
        auto existing = realm.objectForPrimaryKey<ZMRPackage>(identifier);
        if (!existing) continue;
        ++summary.removed;
        if (existing->isInstalled.value_or(false)) {
            // Still on the system: keep it visible as a package known only to dpkg.
            existing->sourceLocation = "DPKG";
            if (!existing->installedVersion.empty()) existing->version = existing->installedVersion;
            existing->isUpdated = false;
            existing->controlHash.clear();
            realm.addOrUpdate(*existing);
        } else {
            realm.deleteObject(*existing);
            session.packageDeleted(identifier);
        }
    }
    for (const auto& [identifier, taken] : stored) {
        if (!taken.wasOwned) ++summary.added;
        else if (taken.priorVersion != taken.version) ++summary.changed;
        if (taken.isNew) summary.newIdentifiers.push_back(identifier);
    }
    std::sort(summary.newIdentifiers.begin(), summary.newIdentifiers.end());
    summary.superseded = superseded.size();
    summary.packages = realm.objectsWhere<ZMRPackage>("sourceLocation = %@", location).count();
    return summary;
}
