#pragma once
// The addresses other programs hand us: our own scheme
//
//   vostrelle://add/<source location>          add a source (http or https only)
//   vostrelle://url/<http or https address>    open a shared store link
//   vostrelle://show/bundleid=<id>&name=<name>&repo=<location>[&shared=...]
//   vostrelle://developer/<name>               look a developer up
//
// (the parameters of show and the value of add, url and developer may also be
// given as a query: "vostrelle://show?bundleid=..", "vostrelle://add?url=..")
// and the payment callbacks of the repository stores, "sileo://authentication_success?..."
// and "sileo://payment_completed".
//
// parse() is pure: it only reads the text and answers what to do. Everything
// in it comes from outside (a web page, another program), so it refuses
// rather than guesses: other schemes, control characters (raw or escaped),
// overlong texts, a source location that is not plain http(s), an identifier
// with characters that no package name has. Escaped separators ("%26", "%3D")
// stay inside their value.
#include <map>
#include <string>
#include <string_view>

struct ZMURLAction {
    enum class Kind {
        Invalid,                // refused; `problem` says why
        AddSource,              // `location` (normalized: ends in "/")
        OpenURL,                // `url`
        ShowPackage,            // `packageIdentifier`, optionally `packageName` and `repository`
        ShowDeveloper,          // `developer`
        AuthenticationSuccess,  // store sign-in callback; `url` is the whole callback, `parameters` its query
        PaymentCompleted,       // store purchase callback; `parameters` its query
    };
    Kind kind = Kind::Invalid;
    std::string location;
    std::string url;
    std::string packageIdentifier;
    std::string packageName;
    std::string repository;
    std::string developer;
    std::map<std::string, std::string> parameters;
    std::string problem;

    bool isValid() const { return kind != Kind::Invalid; }
};

class ZMURLSchemeHandler {
public:
    static constexpr const char* kScheme = "vostrelle";
    static constexpr const char* kStoreCallbackScheme = "sileo";
    // Longer addresses are refused outright.
    static constexpr size_t kMaximumLength = 8192;

    static ZMURLAction parse(std::string_view text);
    // Whether the text begins with one of our schemes ("vostrelle:", "sileo:",
    // in any case): a link for parse() rather than a file path, even when it
    // is no valid URL (a blank in a package's name).
    static bool namesOurScheme(std::string_view text);

    // Splits "a=1&b=2" into decoded pairs ("+" read as a blank). A pair
    // without "=" has an empty value; a repeated name keeps its first value.
    // False when a name or value holds a control character once decoded.
    static bool parseParameters(std::string_view text, std::map<std::string, std::string>& out);
    // Characters a package identifier may have: letters, digits, ".", "+", "-", "_".
    static bool isPlausiblePackageIdentifier(std::string_view identifier);
    static bool containsControlCharacter(std::string_view text);
};
