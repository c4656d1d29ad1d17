#pragma once
// The texts of the package details page's fixed fields, worked out from the
// page's snapshot of the record and the package's source record: the badge,
// the user's own rating, version, category, description, developer name,
// size, compatibility, dependencies, conflicts, post-install action, date and
// the repository card. The page puts them into its labels (all plain text:
// they come from indexes).
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Database/ZMRSource.h"

struct PackageInformationRows {
    bool verified = false;
    // The user's own rating 0...5, when the record has one.
    std::optional<int> myRating;
    QString ratingText;  // "%@ out of 5 rating"
    QString version;
    QString category;
    // The description, and whether it is Markdown (an information-file source).
    std::string description;
    bool descriptionIsMarkdown = false;
    QString developerName;
    QString moreByTitle;  // "More by %@"
    QString copyright;    // "© %@ \n%@"
    QString size;
    // The compatibility title when the row names only one end ("Minimum OS",
    // "Maximum OS"); nullopt keeps the layout's own.
    std::optional<QString> compatibilityTitle;
    QString compatibility;
    QString dependencies;
    QString conflicts;
    QString postInstallAction;
    QString date;
    // The repository card; without a source record the icon is the default one.
    bool hasSourceRecord = false;
    QString repositoryName;
    QString repositoryDescription;

    // `package`: the page's snapshot; `makerRepository`: the location that earns the badge.
    static PackageInformationRows make(const nlohmann::json& package, const std::optional<ZMRSource>& source,
                                       const std::string& makerRepository);

    // The first present of the record's maintainer, its contact and the
    // source's contact; "No dev name found" otherwise.
    static std::string developerNameFor(const nlohmann::json& package, const std::optional<ZMRSource>& source);
    // An information file's "/n" as a Markdown line break ("  \n"), except
    // inside web addresses ("https://a.example/news" stays as it is).
    static std::string markdownLineBreaks(const std::string& text);
    // The entries one per line: one break between two entries, none after the last.
    static QString lines(const std::vector<std::string>& entries);
    // A whole number of bytes in the file-size style; empty for anything else
    // (not a number, or one beyond 64 bits).
    static QString fileSize(const std::string& bytes);
    // Each word's first letter in upper case, the rest in lower case.
    static QString capitalizedWords(const QString& text);
    // A refresh date "yyyy-MM-dd HH:mm" in the short date style; "None"
    // when it is missing, unreadable or the epoch.
    static QString shortDate(const std::string& dateText);
};
