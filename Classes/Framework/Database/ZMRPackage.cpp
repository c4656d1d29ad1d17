#include "Database/ZMRPackage.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>

#include "Categories/String+VersionCompare.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMPaths.h"

const ObjectSchema& ZMRPackage::schema() {
    using P = ZMRPackage;
    static const ObjectSchema schema("ZMRPackage", {
        REALM_PROPERTY(P, identifier, PropertyPrimaryKey),
        REALM_PROPERTY(P, name, PropertyIndexed | PropertyFolded),
        REALM_PROPERTY(P, version),
        REALM_PROPERTY(P, installedVersion),
        REALM_PROPERTY(P, maintainer, PropertyFoldedUnindexed),
        REALM_PROPERTY(P, author),
        REALM_PROPERTY(P, contact),
        REALM_PROPERTY(P, Description),
        REALM_PROPERTY(P, category, PropertyIndexed),
        REALM_PROPERTY(P, subcategory),
        REALM_PROPERTY(P, sourceLocation, PropertyIndexed),
        REALM_PROPERTY(P, website),
        REALM_PROPERTY(P, sileoDepiction),
        REALM_PROPERTY(P, homepage),
        REALM_PROPERTY(P, iconURL),
        REALM_PROPERTY(P, architecture),
        REALM_PROPERTY(P, size),
        REALM_PROPERTY(P, installedSize),
        REALM_PROPERTY(P, filename),
        REALM_PROPERTY(P, sha256),
        REALM_PROPERTY(P, md5sum),
        REALM_PROPERTY(P, controlHash),
        REALM_PROPERTY(P, price),
        REALM_PROPERTY(P, minosversion),
        REALM_PROPERTY(P, maxosversion),
        REALM_PROPERTY(P, postinstallaction),
        REALM_PROPERTY(P, whatsNew),
        REALM_PROPERTY(P, dependencies),
        REALM_PROPERTY(P, conflicts),
        REALM_PROPERTY(P, screenshots),
        REALM_PROPERTY(P, iPadScreenshots),
        REALM_PROPERTY(P, screenshotsLocalPaths),
        REALM_PROPERTY(P, installedFiles),
        REALM_PROPERTY(P, installDate, PropertyDate),
        REALM_PROPERTY(P, updatedDateStr, PropertyIndexed),
        REALM_PROPERTY(P, isInstalled, PropertyIndexed),
        REALM_PROPERTY(P, isUpdated, PropertyIndexed),
        REALM_PROPERTY(P, isHeld),
        REALM_PROPERTY(P, isEssential),
        REALM_PROPERTY(P, isInTheQueue, PropertyIndexed),
        REALM_PROPERTY(P, queueOperation),
        REALM_PROPERTY(P, queuedVersion),
        REALM_PROPERTY(P, isInWishlist, PropertyIndexed),
        REALM_PROPERTY(P, isPaidThroughSileo, PropertyIndexed),
        REALM_PROPERTY(P, isPaidThroughCydia),
        REALM_PROPERTY(P, isCommercial),
        REALM_PROPERTY(P, hasNewVersion),
        REALM_PROPERTY(P, tweakCompatibleStatus),
        REALM_PROPERTY(P, myRating),
    });
    return schema;
}

static const RealmSchemaRegistration registration(ZMRPackage::schema());

std::string ZMRPackage::identifierThenSql(const std::string& rest) {
    return "length(CAST(\"identifier\" AS BLOB)) || char(31) || \"identifier\" || " + rest;
}

bool ZMRPackage::splitIdentifierThen(std::string_view text, std::string_view& identifier, std::string_view& rest) {
    const size_t separator = text.find('\x1f');
    if (separator == 0 || separator == std::string_view::npos) return false;
    size_t length = 0;
    for (char c : text.substr(0, separator)) {
        if (c < '0' || c > '9') return false;
        length = length * 10 + static_cast<size_t>(c - '0');
    }
    if (length == 0 || separator + 1 + length > text.size()) return false;
    identifier = text.substr(separator + 1, length);
    rest = text.substr(separator + 1 + length);
    return true;
}

bool ZMRPackage::offersUpdate(const std::string& available, const std::string& installedVersion) {
    return !installedVersion.empty() && ZMVersionCompare(available, installedVersion) > 0;
}

bool ZMRPackage::isFree() const {
    auto begin = std::find_if_not(price.begin(), price.end(), [](unsigned char c) { return std::isspace(c); });
    auto end = std::find_if_not(price.rbegin(), price.rend(), [](unsigned char c) { return std::isspace(c); }).base();
    std::string p = begin < end ? std::string(begin, end) : std::string();
    std::transform(p.begin(), p.end(), p.begin(), [](unsigned char c) { return std::tolower(c); });
    if (!(p.empty() || p == "0" || p == "0.00" || p == "free")) return false;
    if (!isCommercial.value_or(false)) return true;
    auto source = ZMRSource::objectForPrimaryKey(sourceLocation);
    return !source || !source->hasEndpoint.value_or(false) || source->endpoint.empty();
}

std::string ZMRPackage::iconPath() const {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(identifier.data(), identifier.size(), digest, &length, EVP_md5(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string name;
    for (unsigned int i = 0; i < length; ++i) {
        name.push_back(hex[digest[i] >> 4]);
        name.push_back(hex[digest[i] & 0xF]);
    }
    return ZMPaths::subdirectory("IconCache") + "/" + name + ".png";
}

nlohmann::json ZMRPackage::snapshotDictionary() const {
    nlohmann::json out = dictionaryValue();
    out["isFree"] = isFree();
    return out;
}
