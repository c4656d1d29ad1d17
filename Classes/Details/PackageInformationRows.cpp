#include "Details/PackageInformationRows.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <charconv>

#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMJSON.h"
#include "Miscellaneous/ZMPlatform.h"

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }
QString L(const char* key) { return q(ZMLocalizedString(key)); }
QString F(const char* key, const std::vector<std::string>& arguments) { return q(ZMLocalization::format(key, arguments)); }

std::string orNone(const std::string& value) { return value.empty() ? ZMLocalizedString("None") : value; }

}  // namespace

std::string PackageInformationRows::developerNameFor(const nlohmann::json& package, const std::optional<ZMRSource>& source) {
    if (auto maintainer = ZMJSON::stringValue(package, "maintainer"); !maintainer.empty()) return maintainer;
    if (auto contact = ZMJSON::stringValue(package, "contact"); !contact.empty()) return contact;
    if (source && !source->contact.empty()) return source->contact;
    return ZMLocalizedString("No dev name found");
}

std::string PackageInformationRows::markdownLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 16);
    size_t i = 0;
    while (i < text.size()) {
        // A web address runs to the next blank or closing mark; its "/n" is part of a path.
        if (text.compare(i, 7, "http://") == 0 || text.compare(i, 8, "https://") == 0) {
            size_t end = i;
            while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) &&
                   std::string_view(")]>\"'").find(text[end]) == std::string_view::npos)
                ++end;
            out.append(text, i, end - i);
            i = end;
            continue;
        }
        if (text.compare(i, 2, "/n") == 0) {
            out += "  \n";
            i += 2;
            continue;
        }
        out += text[i++];
    }
    return out;
}

QString PackageInformationRows::lines(const std::vector<std::string>& entries) {
    QStringList out;
    for (const auto& e : entries) out << q(e);
    return out.join('\n');
}

QString PackageInformationRows::fileSize(const std::string& bytes) {
    uint64_t value = 0;
    const char* begin = bytes.data();
    const char* end = begin + bytes.size();
    if (bytes.empty() || !std::isdigit(static_cast<unsigned char>(bytes.front()))) return {};
    auto [at, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || at != end || value > static_cast<uint64_t>(std::numeric_limits<qint64>::max())) return {};
    return QLocale().formattedDataSize(static_cast<qint64>(value), 1, QLocale::DataSizeSIFormat);
}

QString PackageInformationRows::capitalizedWords(const QString& text) {
    QString out = text.toLower();
    bool wordStart = true;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out.at(i).isSpace()) {
            wordStart = true;
            continue;
        }
        if (wordStart) out[i] = out.at(i).toUpper();
        wordStart = false;
    }
    return out;
}

QString PackageInformationRows::shortDate(const std::string& dateText) {
    const QDateTime date = QDateTime::fromString(q(dateText), QStringLiteral("yyyy-MM-dd HH:mm"));
    if (!date.isValid() || date.date() == QDate(1970, 1, 1)) return L("None");
    const QString text = QLocale().toString(date.date(), QLocale::ShortFormat);
    return text.isEmpty() ? L("None") : text;
}

PackageInformationRows PackageInformationRows::make(const nlohmann::json& package, const std::optional<ZMRSource>& source,
                                                    const std::string& makerRepository) {
    PackageInformationRows r;
    const std::string location = ZMJSON::stringValue(package, "sourceLocation");
    r.verified = !location.empty() && location == makerRepository;

    auto rating = package.find("myRating");
    if (rating != package.end() && rating->is_number()) r.myRating = std::clamp(rating->get<int>(), 0, 5);
    r.ratingText = F("%@ out of 5 rating", {std::to_string(r.myRating.value_or(0))});

    const std::string installed = ZMJSON::stringValue(package, "installedVersion");
    r.version = q(orNone(ZMJSON::boolValue(package, "isInstalled") && !installed.empty() ? installed : ZMJSON::stringValue(package, "version")));
    r.category = q(orNone(ZMJSON::stringValue(package, "category")));

    r.descriptionIsMarkdown = source && source->isUsingInfoJson.value_or(false);
    r.description = ZMJSON::stringValue(package, "Description");
    if (r.descriptionIsMarkdown) r.description = markdownLineBreaks(r.description);

    const std::string developer = developerNameFor(package, source);
    r.developerName = q(developer);
    r.moreByTitle = F("More by %@", {developer});
    r.copyright = q(ZMLocalization::fill("© %@ \n%@", {developer, ZMJSON::stringValue(package, "identifier")}));
    r.size = fileSize(ZMJSON::stringValue(package, "size"));

    const std::string minimum = ZMJSON::stringValue(package, "minosversion"), maximum = ZMJSON::stringValue(package, "maxosversion");
    // The range is of this system's versions, the ones the compatibility check compares with.
    const std::string system = ZMPlatform::systemName();
    if (!minimum.empty() && !maximum.empty()) {
        r.compatibility = F("%@ %@ - %@", {system, minimum, maximum});
    } else if (!minimum.empty() || !maximum.empty()) {
        r.compatibilityTitle = q(minimum.empty() ? "Maximum OS" : "Minimum OS");
        r.compatibility = F("%@ %@", {system, minimum.empty() ? maximum : minimum});
    } else {
        r.compatibility = L("Nothing specified");
    }

    const auto dependencies = ZMJSON::stringList(package, "dependencies"), conflicts = ZMJSON::stringList(package, "conflicts");
    r.dependencies = dependencies.empty() ? L("No dependencies") : lines(dependencies);
    r.conflicts = conflicts.empty() ? L("No conflicts") : lines(conflicts);
    const std::string action = ZMJSON::stringValue(package, "postinstallaction");
    r.postInstallAction = action.empty() ? L("Nothing") : capitalizedWords(q(action));
    r.date = shortDate(ZMJSON::stringValue(package, "updatedDateStr"));

    r.hasSourceRecord = source.has_value();
    if (source) {
        r.repositoryName = q(source->name);
        r.repositoryDescription = q(source->Description);
    } else if (location == "DPKG") {
        r.repositoryName = QStringLiteral("DPKG");
        r.repositoryDescription = L("This package has been installed through another package manager");
    } else {
        r.repositoryName = L("Removed Source");
        r.repositoryDescription = L("The source of this package has been removed");
    }
    return r;
}
