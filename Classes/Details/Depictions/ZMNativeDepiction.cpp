#include "Depictions/ZMNativeDepiction.h"

#include "Miscellaneous/ZMJSON.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "Categories/String+VersionCompare.h"
#include "Depictions/ZMHTMLDocument.h"
#include "Foundation/URL.h"

namespace {

using json = nlohmann::json;

const std::string* stringAt(const json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get_ptr<const std::string*>() : nullptr;
}

const json* arrayAt(const json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it != object.end() && it->is_array() ? &*it : nullptr;
}

std::optional<std::string> webURL(const std::string* text) {
    if (!text) return std::nullopt;
    auto url = URL::parse(*text);
    if (!url || !url->isHTTP() || url->host().empty()) return std::nullopt;
    return *text;
}

void append(std::string& entry, const std::string& markdown, const char* separator) {
    if (!entry.empty()) entry += separator;
    entry += markdown;
}

// The changelog tab: headings with the Markdown that follows them. Markdown
// met before the tab's first heading (tabs that write their versions inside
// the Markdown) is kept as a preamble rather than dropped.
void readChangelogTab(const json& views, std::map<std::string, std::string>& entries, std::string& preamble) {
    std::string heading;
    bool seenHeading = false;
    auto store = [&](const std::string& markdown) {
        if (!heading.empty()) append(entries[heading], markdown, "\n\n");
    };
    for (const json& view : views) {
        if (const json* inner = arrayAt(view, "views")) {
            for (const json& item : *inner) {
                if (const json* innermost = arrayAt(item, "views")) {
                    for (const json& v : *innermost) {
                        if (!heading.empty()) break;
                        if (const std::string* text = stringAt(v, "text"); text && !text->empty()) heading = *text;
                    }
                    seenHeading = seenHeading || !heading.empty();
                } else if (const std::string* markdown = stringAt(item, "markdown")) {
                    store(*markdown);
                    heading.clear();
                }
            }
        } else if (const std::string* title = stringAt(view, "title")) {
            heading = *title;
            seenHeading = true;
        } else if (const std::string* markdown = stringAt(view, "markdown")) {
            if (!seenHeading) append(preamble, *markdown, "\n\n");
            else store(*markdown);  // several texts after one title gather under it
        }
    }
}

// Builds the document with only the keys the walk reads: the rest of a large
// depiction (classes, sizes, colours, fonts...) is never built. What it
// builds nests at most ZMJSON::kMaximumDepth deep; a deeper document is refused.
class KeptKeys {
public:
    explicit KeptKeys(json& root) : root_(root) {}
    bool null() { return scalar(nullptr); }
    bool boolean(bool v) { return scalar(v); }
    bool number_integer(json::number_integer_t v) { return scalar(v); }
    bool number_unsigned(json::number_unsigned_t v) { return scalar(v); }
    bool number_float(json::number_float_t v, const std::string&) { return scalar(v); }
    bool string(std::string& v) { return scalar(std::move(v)); }
    bool binary(json::binary_t&) { return scalar(nullptr); }
    bool start_object(std::size_t) { return open(json::object()); }
    bool start_array(std::size_t) { return open(json::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(std::string& k) {
        if (skipDepth_ > 0) return true;
        static constexpr std::string_view kWanted[] = {"markdown", "views", "title", "text", "screenshots",
                                                       "url", "tabname", "tabs", "action", "headerImage"};
        if (std::find(std::begin(kWanted), std::end(kWanted), k) == std::end(kWanted)) {
            skipValue_ = true;
            return true;
        }
        slot_ = &(*stack_.back())[std::move(k)];
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

private:
    bool skipping() {
        if (skipDepth_ > 0) return true;
        if (!skipValue_) return false;
        skipValue_ = false;
        return true;
    }
    json* place(json&& value) {
        if (stack_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        json& parent = *stack_.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        *slot_ = std::move(value);
        return slot_;
    }
    template <class V> bool scalar(V&& v) {
        if (!skipping()) place(json(std::forward<V>(v)));
        return true;
    }
    bool open(json&& container) {
        if (skipping()) ++skipDepth_;
        else if (stack_.size() >= static_cast<size_t>(ZMJSON::kMaximumDepth)) return false;  // refused whole
        else stack_.push_back(place(std::move(container)));
        return true;
    }
    bool close() {
        if (skipDepth_ > 0) --skipDepth_;
        else stack_.pop_back();
        return true;
    }

    json& root_;
    std::vector<json*> stack_;
    json* slot_ = nullptr;
    bool skipValue_ = false;
    int skipDepth_ = 0;
};

std::string folded(const std::string& text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace

std::vector<std::string> ZMNativeDepiction::sortedHeadings(std::vector<std::string> headings) {
    // Text order first; then the places the versions took are refilled with the
    // versions in version order. Mixing the two rules in one comparison would
    // not be a consistent order ("2" > "15 x" > "10" by text, "10" > "2" as versions).
    // Descending, ignoring the case of ASCII letters; texts equal but for case by their bytes.
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(headings.size());
    for (auto& h : headings) keyed.emplace_back(folded(h), std::move(h));
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a > b; });
    for (size_t i = 0; i < keyed.size(); ++i) headings[i] = std::move(keyed[i].second);
    std::vector<size_t> slots;
    std::vector<std::string> versions;
    for (size_t i = 0; i < headings.size(); ++i)
        if (isValidDebianVersion(headings[i])) {
            slots.push_back(i);
            versions.push_back(headings[i]);
        }
    std::stable_sort(versions.begin(), versions.end(),
                     [](const std::string& a, const std::string& b) { return ZMVersionCompare(a, b) > 0; });
    for (size_t k = 0; k < slots.size(); ++k) headings[slots[k]] = std::move(versions[k]);
    return headings;
}

std::optional<std::string> ZMNativeDepiction::changelogText(const std::map<std::string, std::string>& entries) {
    if (entries.empty()) return std::nullopt;
    std::vector<std::string> headings;
    for (const auto& [heading, text] : entries) headings.push_back(heading);
    std::string out;
    for (const auto& heading : sortedHeadings(std::move(headings))) {
        if (!out.empty()) out += "\n\n";
        out += heading + ":\n" + entries.at(heading);
    }
    return out;
}

ZMNativeDepiction ZMNativeDepiction::parse(std::string_view body) {
    ZMNativeDepiction out;
    json doc;
    KeptKeys builder(doc);
    if (!json::sax_parse(body.begin(), body.end(), &builder)) doc = nullptr;
    if (!doc.is_object()) return out;
    out.headerImage = webURL(stringAt(doc, "headerImage"));
    const json* tabs = arrayAt(doc, "tabs");
    if (!tabs) return out;
    std::map<std::string, std::string> changelog;
    std::string preamble;
    for (const json& tab : *tabs) {
        const json* views = arrayAt(tab, "views");
        const std::string* name = stringAt(tab, "tabname");
        if (name && (*name == "Changelog" || *name == "Change Log")) {
            out.hasChangelogTab = true;
            if (views) readChangelogTab(*views, changelog, preamble);
            continue;
        }
        if (!views) continue;
        for (const json& view : *views) {
            if (const std::string* markdown = stringAt(view, "markdown")) {
                if (!out.description) out.description = *markdown;
                else append(*out.description, *markdown, "\n");
            }
            if (const json* shots = arrayAt(view, "screenshots"))
                for (const json& shot : *shots)
                    if (auto url = webURL(stringAt(shot, "url"))) out.screenshots.push_back(std::move(*url));
            if (const std::string* title = stringAt(view, "title"); title && *title == "Changelog")
                if (auto url = webURL(stringAt(view, "action"))) out.changelogPages.push_back(std::move(*url));
        }
    }
    out.changelog = changelogText(changelog);
    if (!preamble.empty()) out.changelog = out.changelog ? preamble + "\n\n" + *out.changelog : preamble;
    return out;
}

std::optional<std::string> ZMNativeDepiction::changelogFromPage(std::string_view html, const std::function<bool()>& gone) {
    return ZMHTMLDocument::readWithinBudget(
        "changelogFromPage", html, gone,
        [](const ZMHTMLDocument& doc) {
            std::optional<std::string> text;
            for (auto section : doc.elementsNamed("section")) {
                auto cls = ZMHTMLDocument::attribute(section, "class");
                if (!cls || cls->find("content") == std::string::npos) continue;
                auto list = doc.firstElementNamed("ul", section);
                if (!list) continue;
                std::string candidate = ZMHTMLDocument::textContent(list);
                if (candidate.find("Initial release") == std::string::npos) text = std::move(candidate);
            }
            return text;
        },
        [](std::string text) { return std::optional<std::string>(std::move(text)); });
}
