#pragma once
// The native JSON depiction of a package, as the details page reads it:
//
//   {"headerImage": url, "tabs": [{"tabname": name, "views": [view...]}...]}
//
// An ordinary tab's views give the description ("markdown", joined with one
// newline), screenshot URLs ("screenshots": [{"url"}...], accumulated over all
// tabs) and changelog web pages (a view titled "Changelog" with an "action").
// A tab named "Changelog" or "Change Log" holds version headings ("title", or
// the "text" of a nested view) each followed by Markdown; its changelog lists
// the headings newest first with their texts below, after any Markdown that
// came before the first heading.
//
// A body that is not JSON reads as a document without keys; values of the
// wrong type are skipped; only http(s) URLs are kept.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ZMNativeDepiction {
    std::optional<std::string> headerImage;
    std::optional<std::string> description;
    std::vector<std::string> screenshots;
    std::vector<std::string> changelogPages;
    bool hasChangelogTab = false;
    // The changelog tab's text; nullopt when it holds no heading with text.
    std::optional<std::string> changelog;

    static ZMNativeDepiction parse(std::string_view body);

    // "heading:\ntext" per heading, newest first, separated by a blank line.
    static std::optional<std::string> changelogText(const std::map<std::string, std::string>& entries);
    // The order of changelog headings: Debian version order, newest first,
    // between headings that are both versions; text order (descending,
    // ignoring case) otherwise.
    static std::vector<std::string> sortedHeadings(std::vector<std::string> headings);

    // A changelog web page: the list of the last section whose class
    // contains "content", unless that list mentions "Initial release".
    // Nothing once `gone` answers true (the page that reads it went).
    static std::optional<std::string> changelogFromPage(std::string_view html, const std::function<bool()>& gone = {});
};
