#pragma once
// Reads the HTML information pages of the classic repositories: a name, a
// description, a changelog and screenshot URLs, for three page families
// (Marlgate pages, the store pages of the Orvane repositories, Kestrum pages).
//
// One parser per page: depictionsParserWithData() parses the page once and
// every operation started on that parser reads that page, so two scrapes at
// the same time never read each other's page. The page is freed with the last
// operation that holds it.
//
// Operations return at once and answer on the depictions' queue
// (ZMDepictionBudget::queue; the caller hops to the main thread). A parser
// whose page went (`gone`) stops reading at its next check and answers
// nothing more. Image and second-page addresses are resolved against
// the page address (RFC 3986) and kept only when http(s). Joined texts stop
// growing at kMaximumDocumentSize.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Depictions/ZMHTMLDocument.h"

class URLSession;

class ZMDepictionsParser : public std::enable_shared_from_this<ZMDepictionsParser> {
public:
    using TextHandler = std::function<void(std::optional<std::string>)>;
    using ListHandler = std::function<void(std::optional<std::vector<std::string>>)>;

    // `pageURL`: where the page came from, for the operations that take no
    // address of their own. `gone`: whether the page that reads it went
    // (asked from the readers' thread).
    using Gone = std::function<bool()>;
    static std::shared_ptr<ZMDepictionsParser> depictionsParserWithData(std::string_view data, std::string pageURL = {},
                                                                        Gone gone = {});
    // The session that fetches second pages (the shared session by default).
    void setSession(std::shared_ptr<URLSession> session) { session_ = std::move(session); }

    // ---- the operations ----------------------------------------------------
    void retrieveNameFromMarlgateDepictionWithCompletionHandler(std::string siteName, TextHandler handler);
    void retrieveDescriptionFromMarlgateDepictionWithCompletionHandler(TextHandler handler);
    void retrieveChangelogFromMarlgateDepictionWithCompletionHandler(TextHandler handler);
    void retrieveScreenshotsFromMarlgateDepictionForPackageWithURL(std::string pageURL, ListHandler handler);
    void retrieveNameFromOrvaneTypeDepictionWithCompletionHandler(TextHandler handler);
    void retrieveDescriptionFromOrvaneTypeDepictionWithCompletionHandler(TextHandler handler);
    // Fetches the store's "/info/<identifier>/changelog.html"; nil on a
    // transport error or an identifier that is not a package name.
    void retrieveChangelogFromOrvaneTypeDepictionForPackageWithIdentifier(std::string identifier, TextHandler handler);
    void retrieveScreenshotsFromOrvaneTypeDepictionWithCompletionHandler(ListHandler handler);
    void retrieveDescriptionFromKestrumDepictionWithCompletionHandler(TextHandler handler);
    // nil when the page does not link "changelog.php".
    void retrieveChangelogFromKestrumDepictionForPackageWithURL(std::string pageURL, TextHandler handler);
    // nil when the page does not link "screenshots.php".
    void retrieveScreenshotsFromKestrumDepictionForPackageWithURL(std::string pageURL, ListHandler handler);

    // Whether the page could not be parsed within the budget of one depiction
    // (ZMDepictionBudget): its description readers then give the page's text
    // without markup, to be shown as plain text, and the other readers nothing.
    // Each reader has what the parse left of the time of one depiction (a
    // little at least); past it, it gives nothing.
    bool overBudget() const { return document_->overBudget().has_value(); }

    // ---- the same readers, synchronous (any thread) -----------------------
    std::optional<std::string> marlgateName(const std::string& siteName) const;
    // The description fieldset's text without its first 13 characters (nil
    // when it has no more).
    std::optional<std::string> marlgateDescription() const;
    std::optional<std::string> marlgateChangelog() const;
    std::vector<std::string> marlgateScreenshots(const std::string& pageURL) const;
    std::optional<std::string> orvaneName() const;
    std::optional<std::string> orvaneDescription() const;
    std::vector<std::string> orvaneScreenshots(const std::string& pageURL) const;
    // Every paragraph inside a div, once, joined with a blank line.
    std::optional<std::string> kestrumDescription() const;
    // Whether an "a" element links exactly `href`.
    bool linksTo(std::string_view href) const;

    // Second pages: a page that cannot be parsed within the budget gives its
    // text without markup as its changelog, and no screenshots.
    static std::optional<std::string> orvaneChangelogFromPage(std::string_view data, const Gone& gone = {});
    static std::optional<std::string> kestrumChangelogFromPage(std::string_view data, const Gone& gone = {});
    static std::vector<std::string> kestrumScreenshotsFromPage(std::string_view data, const std::string& pageURL,
                                                               const Gone& gone = {});

    // `reference` resolved against `base`, when that gives an http(s) URL with a host.
    static std::optional<std::string> resolve(const std::string& base, std::string_view reference);

private:
    ZMDepictionsParser(std::shared_ptr<const ZMHTMLDocument> document, std::string pageURL, std::string pageText, Gone gone)
        : document_(std::move(document)), pageURL_(std::move(pageURL)), pageText_(std::move(pageText)), gone_(std::move(gone)) {}
    bool pageWent() const { return gone_ && gone_(); }
    std::optional<std::string> pageText() const;
    void async(std::function<void(const ZMDepictionsParser&)> work);
    void fetchSecondPage(const std::string& url, std::function<void(std::optional<std::string> data)> then);
    std::shared_ptr<URLSession> session() const;

    std::shared_ptr<const ZMHTMLDocument> document_;
    std::string pageURL_;
    std::string pageText_;  // of a page over budget
    std::chrono::steady_clock::duration parseTime_{};  // what the readers' time leaves out
    Gone gone_;
    std::shared_ptr<URLSession> session_;
};
