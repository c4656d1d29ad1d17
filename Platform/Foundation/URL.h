#pragma once
// A parsed absolute URL ("scheme://user@host:port/path?query#fragment" or
// "scheme:path"). Components are kept as written (percent-escapes included),
// so string() gives back the text that was parsed.
#include <optional>
#include <string>
#include <string_view>

class URL {
public:
    URL() = default;

    // Parses an absolute URL. Fails (nullopt) without a scheme, on blanks,
    // control or non-ASCII characters, characters that URLs never carry
    // ("<", ">", "\"", "{", "}", "|", "\\", "^", "`") and on broken "%" escapes.
    static std::optional<URL> parse(std::string_view text);

    const std::string& scheme() const { return scheme_; }
    const std::string& user() const { return user_; }
    const std::string& host() const { return host_; }  // without the brackets of an IPv6 literal
    std::optional<int> port() const { return port_; }
    const std::string& path() const { return path_; }
    const std::optional<std::string>& query() const { return query_; }  // without the "?"
    const std::optional<std::string>& fragment() const { return fragment_; }
    bool hasAuthority() const { return hasAuthority_; }

    // The whole URL as text.
    std::string string() const;
    // The port to connect to: the explicit one, else 80/443 for http/https.
    std::optional<int> effectivePort() const;
    // True for the schemes this program fetches: http and https (any case).
    bool isHTTP() const;
    // Same scheme, host (letter case aside) and port to connect to.
    bool isSameOrigin(const URL& other) const;

    // Resolves a reference (absolute, "//host/x", "/x", "x", "?q", "#f")
    // against this URL, removing "." and ".." segments.
    std::optional<URL> resolving(std::string_view reference) const;
    // The URL with "/component" added to the path (component percent-encoded).
    URL appendingPathComponent(std::string_view component) const;
    // The URL without the last path component (the trailing "/" kept).
    URL deletingLastPathComponent() const;
    // The last path component, percent-decoded ("" for "/" or no path).
    std::string lastPathComponent() const;
    // The URL without its fragment (what a request sends and a cache keys on).
    URL withoutFragment() const;

    void setQuery(std::optional<std::string> query) { query_ = std::move(query); }
    void setPath(std::string path) { path_ = std::move(path); }

    bool operator==(const URL& other) const { return string() == other.string(); }

private:
    std::string scheme_, user_, host_, path_;
    std::optional<int> port_;
    std::optional<std::string> query_, fragment_;
    bool hasAuthority_ = false;
};

// Percent-encoding for building URLs out of user text.
namespace URLEncoding {
// Everything but the unreserved characters (A-Z a-z 0-9 - . _ ~) escaped:
// safe for a query value or a form field ("&", "=", "+", "/" all escaped).
// With spaceAsPlus, a blank is written "+" (form style) instead of "%20".
std::string encodeQueryValue(std::string_view text, bool spaceAsPlus = false);
// Escapes what cannot stand in a path; "/" is kept.
std::string encodePath(std::string_view text);
// Escapes what cannot stand in one path segment; "/" is escaped too.
std::string encodePathComponent(std::string_view text);
// Undoes "%XX" escapes; invalid escapes are kept as they are. With
// plusAsSpace, "+" becomes a blank (form bodies).
std::string decode(std::string_view text, bool plusAsSpace = false);
}  // namespace URLEncoding
