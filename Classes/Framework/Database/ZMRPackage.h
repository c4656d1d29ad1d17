#pragma once
// The persistent record of one package (primary key `identifier`).
#include <optional>
#include <string>
#include <string_view>

#include "Realm/Realm.h"

struct ZMRPackage : RealmObject<ZMRPackage> {
    // Control fields of the package's stanza.
    std::string identifier;          // Package
    std::string name;                // Name, else the identifier
    std::string version;
    std::string installedVersion;    // the version dpkg reports installed
    std::string maintainer;          // as the control field gives it
    std::string author;
    std::string contact;             // e-mail address taken from the maintainer
    std::string Description;
    std::string category;            // Section; "Default" when the stanza has none
    std::string subcategory;
    std::string sourceLocation;      // `location` of the package's source
    std::string website;             // Depiction URL
    std::string sileoDepiction;      // URL of the native JSON depiction
    std::string homepage;
    std::string iconURL;             // Icon field
    std::string architecture;
    std::string size;                // whole number of bytes, as text
    std::string installedSize;
    std::string filename;            // Filename: the .deb's path under the source
    std::string sha256;              // SHA256 of the .deb
    std::string md5sum;              // MD5sum of the .deb
    std::string controlHash;         // digest of the index stanza it was built from (skips unchanged ones)
    std::string price;
    std::string minosversion;
    std::string maxosversion;
    std::string postinstallaction;
    std::string whatsNew;            // changelog text of an info-JSON source
    StringList dependencies;
    StringList conflicts;
    StringList screenshots;          // image URLs
    StringList iPadScreenshots;
    StringList screenshotsLocalPaths;  // cached screenshot files, in save order
    StringList installedFiles;       // lines of the dpkg file list, in file order
    std::optional<double> installDate;  // seconds since 1970 UTC
    std::string updatedDateStr;      // "yyyy-MM-dd HH:mm" of the refresh that added or updated it
    // The states the screens query with "= 0" start as an explicit NO: a
    // stored nil would not match "isHeld = 0" and a new package would be
    // missing from the updates list once installed.
    std::optional<bool> isInstalled = false;
    std::optional<bool> isUpdated = false;
    std::optional<bool> isHeld = false;
    std::optional<bool> isEssential;
    std::optional<bool> isInTheQueue = false;
    std::optional<int64_t> queueOperation;  // 1 install, 2 remove, 3 upgrade, 4 downgrade, 5 reinstall, 0 none (ZMRPackages.h)
    std::string queuedVersion;
    std::optional<bool> isInWishlist;
    std::optional<bool> isPaidThroughSileo;  // owned through a repository's payment API
    std::optional<bool> isPaidThroughCydia;  // on the imported store purchase list
    std::optional<bool> isCommercial;        // tagged "cydia::commercial": sold through its repository's store
    std::optional<bool> hasNewVersion;
    std::optional<int64_t> tweakCompatibleStatus;  // 0 working, 1 not working, 2 no verdict
    std::optional<int64_t> myRating;               // 0 to 5

    static const ObjectSchema& schema();

    // YES when the price is nil, empty, "0", "0.00" or "free" in any letter case
    // (surrounding blanks ignored), unless the package is tagged commercial
    // and its source has a payment endpoint: real paid repositories mark their
    // paid packages that way instead of giving a Price.
    bool isFree() const;
    // Whether `available` is an update of the installed `installedVersion`:
    // it orders strictly above it (dpkg's order). An equal version is no
    // update, and nothing is an update of an unknown (empty) version.
    static bool offersUpdate(const std::string& available, const std::string& installedVersion);
    // Whole-table readings take several columns as one text per row: the
    // identifier's byte length, US (char 31), the identifier, then `rest` (an
    // SQL expression). The length keeps any identifier apart from what follows.
    static std::string identifierThenSql(const std::string& rest);
    // The identifier and the rest of such a text; false when it is not one.
    static bool splitIdentifierThen(std::string_view text, std::string_view& identifier, std::string_view& rest);
    // The cached icon's path (the file may not exist): IconCache/<md5 of identifier>.png
    std::string iconPath() const;
    // Every property under its own name, plus "isFree".
    nlohmann::json snapshotDictionary() const;
};
