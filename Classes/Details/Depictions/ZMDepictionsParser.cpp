#include "Depictions/ZMDepictionsParser.h"

#include <unicode/utf8.h>

#include "Depictions/ZMDepictionBudget.h"
#include "Depictions/ZMDepictionRequests.h"
#include "Depictions/ZMDepictionSettings.h"
#include "Dispatch/Dispatch.h"
#include "Foundation/URL.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMLog.h"

namespace {

using Doc = ZMHTMLDocument;

// Joins texts with `separator`, stopping once the result reaches the cap.
class Joiner {
public:
    explicit Joiner(std::string_view separator) : separator_(separator) {}
    void add(const std::string& text) {
        if (full()) return;
        if (any_) out_ += separator_;
        out_ += text;
        any_ = true;
    }
    bool any() const { return any_; }
    bool full() const { return out_.size() >= ZMDepictionRequests::kMaximumDocumentSize; }
    std::optional<std::string> result() && {
        if (!any_) return std::nullopt;
        if (out_.size() > ZMDepictionRequests::kMaximumDocumentSize) out_.resize(ZMDepictionRequests::kMaximumDocumentSize);
        return std::move(out_);
    }

private:
    std::string_view separator_;
    std::string out_;
    bool any_ = false;
};

// The part of the title before the first separator; nil for a not-found page.
std::optional<std::string> nameFromTitle(const Doc& doc, const std::string& separator) {
    auto title = doc.firstElementNamed("title");
    if (!title) return std::nullopt;
    std::string text = Doc::textContent(title);
    if (auto at = text.find(separator); at != std::string::npos) text.resize(at);
    if (text.empty() || text.find("404") != std::string::npos) return std::nullopt;
    return text;
}

bool hasId(Doc::Element e, std::string_view id) {
    auto value = Doc::attribute(e, "id");
    return value && *value == id;
}

std::string trimTrailingWhitespace(std::string text) {
    while (!text.empty() && std::string_view(" \t\n\r\f\v").find(text.back()) != std::string_view::npos) text.pop_back();
    return text;
}

std::string trimmed(std::string_view text) {
    const std::string_view blanks = " \t\n\r\f";
    const auto start = text.find_first_not_of(blanks);
    if (start == std::string_view::npos) return {};
    return std::string(text.substr(start, text.find_last_not_of(blanks) - start + 1));
}

// The "src" of each image, resolved against `base`, http(s) only.
std::vector<std::string> imageURLs(const std::vector<Doc::Element>& images, const std::string& base) {
    std::vector<std::string> out;
    for (auto img : images) {
        auto src = Doc::attribute(img, "src");
        if (!src) continue;
        if (auto url = ZMDepictionsParser::resolve(base, trimmed(*src))) out.push_back(std::move(*url));
    }
    return out;
}

// Runs a reader within what the page's parse left of the time of one
// depiction (a little at least); past it, the reader gives what it gives for
// a page without its parts.
template <class Read>
auto withinTime(const char* reader, std::chrono::steady_clock::duration parse, const ZMDepictionsParser::Gone& gone,
                Read&& read) -> decltype(read()) {
    constexpr std::chrono::steady_clock::duration kLeast = std::chrono::milliseconds(100);
    ZMDepictionBudget budget(ZMDepictionBudget::kMaximumMemory, std::max(kLeast, ZMDepictionBudget::kTime - parse));
    budget.stopWhen(gone);
    ZMDepictionBudget::Scope scope(budget);
    try {
        return read();
    } catch (const ZMDepictionBudget::Exceeded& e) {
        ZMLOG("{} gave nothing: {}", reader, e.what());
        return {};
    }
}

}  // namespace

std::shared_ptr<ZMDepictionsParser> ZMDepictionsParser::depictionsParserWithData(std::string_view data, std::string pageURL,
                                                                              Gone gone) {
    const auto start = std::chrono::steady_clock::now();
    ZMDepictionBudget budget(data.size());
    budget.stopWhen(gone);
    auto document = ZMHTMLDocument::parse(data, &budget);
    std::string pageText;
    if (document->overBudget() && !budget.stopped()) {
        ZMLOG("the page {} is read as plain text: {}", pageURL, *document->overBudget());
        pageText = ZMHTMLDocument::textWithoutMarkup(data);
    }
    auto parser = std::shared_ptr<ZMDepictionsParser>(
        new ZMDepictionsParser(std::move(document), std::move(pageURL), std::move(pageText), std::move(gone)));
    parser->parseTime_ = std::chrono::steady_clock::now() - start;
    return parser;
}

std::optional<std::string> ZMDepictionsParser::resolve(const std::string& base, std::string_view reference) {
    auto page = URL::parse(base);
    if (!page) return std::nullopt;
    auto url = page->resolving(reference);
    if (!url || !url->isHTTP() || url->host().empty()) return std::nullopt;
    return url->string();
}

// A page read as plain text (none when its reading stopped).
std::optional<std::string> ZMDepictionsParser::pageText() const {
    if (pageText_.empty()) return std::nullopt;
    return pageText_;
}

std::shared_ptr<URLSession> ZMDepictionsParser::session() const {
    return session_ ? session_ : URLSession::sharedSession();
}

// ---- synchronous readers --------------------------------------------------------------

std::optional<std::string> ZMDepictionsParser::marlgateName(const std::string& siteName) const {
    return withinTime("marlgateName", parseTime_, gone_, [&]() -> std::optional<std::string> {
        return nameFromTitle(*document_, " - " + siteName + " - ");
    });
}

std::optional<std::string> ZMDepictionsParser::marlgateDescription() const {
    if (overBudget()) return pageText();
    return withinTime("marlgateDescription", parseTime_, gone_, [&]() -> std::optional<std::string> {
        for (auto fieldset : document_->elementsNamed("fieldset")) {
            if (!hasId(fieldset, "description")) continue;
            const std::string text = Doc::textContent(fieldset);
            // The first 13 characters are the fieldset's own heading.
            const auto* p = reinterpret_cast<const uint8_t*>(text.data());
            const int32_t length = static_cast<int32_t>(text.size());
            int32_t offset = 0;
            for (int i = 0; i < 13 && offset < length; ++i) U8_FWD_1(p, offset, length);
            if (offset >= length) return std::nullopt;
            return text.substr(static_cast<size_t>(offset));
        }
        return std::nullopt;
    });
}

std::optional<std::string> ZMDepictionsParser::marlgateChangelog() const {
    return withinTime("marlgateChangelog", parseTime_, gone_, [&]() -> std::optional<std::string> {
        for (auto fieldset : document_->elementsNamed("fieldset")) {
            auto label = document_->firstElementNamed("label", fieldset);
            if (!label || Doc::textContent(label) != "What's New") continue;
            auto div = document_->firstElementNamed("div", fieldset);
            if (!div) return std::nullopt;
            std::string text = Doc::textContent(div);
            if (text.find("\n\n") != std::string::npos) text = trimTrailingWhitespace(std::move(text));
            return text;
        }
        return std::nullopt;
    });
}

std::vector<std::string> ZMDepictionsParser::marlgateScreenshots(const std::string& pageURL) const {
    return withinTime("marlgateScreenshots", parseTime_, gone_, [&]() -> std::vector<std::string> {
        auto images = document_->elementsNamedInside("img", [](Doc::Element e) {
            return Doc::isNamed(e, "fieldset") && hasId(e, "description");
        });
        return imageURLs(images, pageURL);
    });
}

std::optional<std::string> ZMDepictionsParser::orvaneName() const {
    return withinTime("orvaneName", parseTime_, gone_, [&] { return nameFromTitle(*document_, " \u00B7 "); });
}

std::optional<std::string> ZMDepictionsParser::orvaneDescription() const {
    if (overBudget()) return pageText();
    return withinTime("orvaneDescription", parseTime_, gone_, [&]() -> std::optional<std::string> {
        auto panel = document_->firstElementNamed("panel");
        if (!panel) return std::nullopt;
        bool passedHeading = false;
        Doc::Element block = nullptr;
        for (auto child : Doc::childElements(panel)) {
            if (passedHeading && Doc::isNamed(child, "fieldset")) {
                block = child;
                break;
            }
            if (!passedHeading && Doc::textContent(child) == "Description") passedHeading = true;
        }
        auto div = block ? document_->firstElementNamed("div", block) : nullptr;
        if (!div) return std::nullopt;
        Joiner joined("\n\n");
        for (auto child : Doc::childElements(div)) joined.add(Doc::textContent(child));
        return std::move(joined).result();
    });
}

std::vector<std::string> ZMDepictionsParser::orvaneScreenshots(const std::string& pageURL) const {
    return withinTime("orvaneScreenshots", parseTime_, gone_, [&]() -> std::vector<std::string> {
        auto panel = document_->firstElementNamed("panel");
        if (!panel) return {};
        std::vector<Doc::Element> images;
        for (auto img : document_->elementsNamed("img", panel)) {
            auto cls = Doc::attribute(img, "class");
            if (!cls || *cls != "icon") images.push_back(img);
        }
        return imageURLs(images, pageURL);
    });
}

std::optional<std::string> ZMDepictionsParser::kestrumDescription() const {
    if (overBudget()) return pageText();
    return withinTime("kestrumDescription", parseTime_, gone_, [&]() -> std::optional<std::string> {
        Joiner joined("\n\n");
        for (auto p : document_->elementsNamedInside("p", [](Doc::Element e) { return Doc::isNamed(e, "div"); }))
            joined.add(Doc::textContent(p));
        return std::move(joined).result();
    });
}

bool ZMDepictionsParser::linksTo(std::string_view href) const {
    return withinTime("linksTo", parseTime_, gone_, [&]() -> bool {
        for (auto a : document_->elementsNamed("a"))
            if (auto value = Doc::attribute(a, "href"); value && *value == href) return true;
        return false;
    });
}

std::optional<std::string> ZMDepictionsParser::orvaneChangelogFromPage(std::string_view data, const Gone& gone) {
    return Doc::readWithinBudget(
        "orvaneChangelogFromPage", data, gone,
        [](const Doc& doc) -> std::optional<std::string> {
            auto panel = doc.firstElementNamed("panel");
            if (!panel) return std::nullopt;
            std::string text;
            for (auto child : Doc::childElements(panel)) {
                if (text.size() >= ZMDepictionRequests::kMaximumDocumentSize) break;
                if (text.empty()) {
                    text = Doc::textContent(child) + "\n";
                } else if (Doc::isNamed(child, "label")) {
                    text += "\n\n" + Doc::textContent(child) + "\n";
                } else if (Doc::isNamed(child, "fieldset")) {
                    for (auto line : Doc::childElements(child)) text += "\n- " + Doc::textContent(line);
                }
            }
            if (text.empty()) return std::nullopt;
            return text;
        },
        [](std::string text) { return std::optional<std::string>(std::move(text)); });
}

std::optional<std::string> ZMDepictionsParser::kestrumChangelogFromPage(std::string_view data, const Gone& gone) {
    return Doc::readWithinBudget(
        "kestrumChangelogFromPage", data, gone,
        [](const Doc& doc) {
            Joiner joined("\n\n");
            // A div's text holds that of the divs inside it: once the join is
            // full, no more is gathered.
            for (auto div : doc.elementsNamed("div")) {
                if (joined.full()) break;
                joined.add(Doc::textContent(div));
            }
            return std::move(joined).result();
        },
        [](std::string text) { return std::optional<std::string>(std::move(text)); });
}

std::vector<std::string> ZMDepictionsParser::kestrumScreenshotsFromPage(std::string_view data, const std::string& pageURL,
                                                                       const Gone& gone) {
    return Doc::readWithinBudget(
        "kestrumScreenshotsFromPage", data, gone,
        [&](const Doc& doc) {
            return imageURLs(doc.elementsNamedInside("img", [](Doc::Element e) { return Doc::isNamed(e, "panel"); }), pageURL);
        },
        [](std::string) { return std::vector<std::string>(); });
}

// ---- asynchronous operations -------------------------------------------------------------

void ZMDepictionsParser::async(std::function<void(const ZMDepictionsParser&)> work) {
    ZMDepictionBudget::queue()->async([self = shared_from_this(), work = std::move(work)] {
        if (!self->pageWent()) work(*self);
    });
}

void ZMDepictionsParser::fetchSecondPage(const std::string& url, std::function<void(std::optional<std::string>)> then) {
    ZMDepictionRequests::fetch(session(), url, ZMDepictionRequests::kMaximumDocumentSize,
                               [gone = gone_, then = std::move(then)](std::string data, std::optional<URLResponse>,
                                                                       std::optional<ZMError> error) {
                                   if (error) {
                                       ZMLOG("Error: {}", error->localizedDescription());
                                       then(std::nullopt);
                                       return;
                                   }
                                   // Parsing is not the session's work: its queue serves every answer.
                                   // (The first page's document need not wait for the second.)
                                   ZMDepictionBudget::queue()->async([gone, then, data = std::move(data)] {
                                       if (!gone || !gone()) then(data);
                                   });
                               });
}

void ZMDepictionsParser::retrieveNameFromMarlgateDepictionWithCompletionHandler(std::string siteName, TextHandler handler) {
    async([siteName = std::move(siteName), handler](const ZMDepictionsParser& p) { handler(p.marlgateName(siteName)); });
}

void ZMDepictionsParser::retrieveDescriptionFromMarlgateDepictionWithCompletionHandler(TextHandler handler) {
    async([handler](const ZMDepictionsParser& p) { handler(p.marlgateDescription()); });
}

void ZMDepictionsParser::retrieveChangelogFromMarlgateDepictionWithCompletionHandler(TextHandler handler) {
    async([handler](const ZMDepictionsParser& p) { handler(p.marlgateChangelog()); });
}

void ZMDepictionsParser::retrieveScreenshotsFromMarlgateDepictionForPackageWithURL(std::string pageURL, ListHandler handler) {
    async([pageURL = std::move(pageURL), handler](const ZMDepictionsParser& p) { handler(p.marlgateScreenshots(pageURL)); });
}

void ZMDepictionsParser::retrieveNameFromOrvaneTypeDepictionWithCompletionHandler(TextHandler handler) {
    async([handler](const ZMDepictionsParser& p) { handler(p.orvaneName()); });
}

void ZMDepictionsParser::retrieveDescriptionFromOrvaneTypeDepictionWithCompletionHandler(TextHandler handler) {
    async([handler](const ZMDepictionsParser& p) { handler(p.orvaneDescription()); });
}

void ZMDepictionsParser::retrieveChangelogFromOrvaneTypeDepictionForPackageWithIdentifier(std::string identifier,
                                                                                          TextHandler handler) {
    auto page = ZMDepictionSettings::current().storeInformationPage(identifier);
    if (!page) {
        Dispatch::defaultQueue([handler] { handler(std::nullopt); });
        return;
    }
    fetchSecondPage(*page + "changelog.html", [handler, gone = gone_](std::optional<std::string> data) {
        handler(data ? orvaneChangelogFromPage(*data, gone) : std::nullopt);
    });
}

void ZMDepictionsParser::retrieveScreenshotsFromOrvaneTypeDepictionWithCompletionHandler(ListHandler handler) {
    async([handler](const ZMDepictionsParser& p) { handler(p.orvaneScreenshots(p.pageURL_)); });
}

void ZMDepictionsParser::retrieveDescriptionFromKestrumDepictionWithCompletionHandler(TextHandler handler) {
    async([handler](const ZMDepictionsParser& p) { handler(p.kestrumDescription()); });
}

void ZMDepictionsParser::retrieveChangelogFromKestrumDepictionForPackageWithURL(std::string pageURL, TextHandler handler) {
    async([self = shared_from_this(), pageURL = std::move(pageURL), handler](const ZMDepictionsParser& p) {
        auto url = p.linksTo("changelog.php") ? resolve(pageURL, "changelog.php") : std::nullopt;
        if (!url) {
            handler(std::nullopt);
            return;
        }
        // A failed request is parsed like an empty page: no div, nil.
        self->fetchSecondPage(*url, [handler, gone = p.gone_](std::optional<std::string> data) {
            handler(kestrumChangelogFromPage(data.value_or(""), gone));
        });
    });
}

void ZMDepictionsParser::retrieveScreenshotsFromKestrumDepictionForPackageWithURL(std::string pageURL, ListHandler handler) {
    async([self = shared_from_this(), pageURL = std::move(pageURL), handler](const ZMDepictionsParser& p) {
        auto url = p.linksTo("screenshots.php") ? resolve(pageURL, "screenshots.php") : std::nullopt;
        if (!url) {
            handler(std::nullopt);
            return;
        }
        self->fetchSecondPage(*url, [pageURL, handler, gone = p.gone_](std::optional<std::string> data) {
            handler(kestrumScreenshotsFromPage(data.value_or(""), pageURL, gone));
        });
    });
}
