// Links from outside, parsed into actions or refused with a reason.
#include <gtest/gtest.h>

#include "Miscellaneous/ZMURLSchemeHandler.h"

namespace {

using Kind = ZMURLAction::Kind;

// The action in one line, so that a table can say what each link gives.
std::string summary(const ZMURLAction& a) {
    switch (a.kind) {
        case Kind::Invalid: return "invalid";
        case Kind::AddSource: return "add " + a.location;
        case Kind::OpenURL: return "url " + a.url;
        case Kind::ShowPackage: return "show " + a.packageIdentifier + " | " + a.packageName + " | " + a.repository;
        case Kind::ShowDeveloper: return "developer " + a.developer;
        case Kind::AuthenticationSuccess: {
            std::string out = "signed in";
            for (const auto& [name, value] : a.parameters) out += " " + name + "=" + value;
            return out;
        }
        case Kind::PaymentCompleted: return "paid";
    }
    return "?";
}

TEST(ZMURLSchemeHandler, LinksGiveTheirActionOrAreRefused) {
    const std::pair<std::string, std::string> cases[] = {
        // Adding a source: path and query forms, escaped as a whole or not, escapes of the address kept.
        {"vostrelle://add/https://repo.example.org/debs", "add https://repo.example.org/debs/"},
        {"vostrelle://add/https%3A%2F%2Frepo.example.org%2F", "add https://repo.example.org/"},
        {"vostrelle://add/https://repo.example.org/a%20b/", "add https://repo.example.org/a%20b/"},
        {"VOSTRELLE://ADD?url=http%3A%2F%2F127.0.0.1%3A8080%2Frepo%2F", "add http://127.0.0.1:8080/repo/"},
        {"vostrelle://add/https://repo-1.example.org/", "add https://repo-1.example.org/"},
        {"vostrelle://add/", "invalid"},
        {"vostrelle://add", "invalid"},
        {"vostrelle://add?url=", "invalid"},
        {"vostrelle://add/file:///etc/passwd", "invalid"},
        {"vostrelle://add/ftp://repo.example/", "invalid"},
        {"vostrelle://add/smb://host/x/", "invalid"},
        {"vostrelle://add/javascript:alert(1)", "invalid"},
        {"vostrelle://add/https://", "invalid"},
        {"vostrelle://add/https%3A%2F%2Frepo.example%2F%0Adeb%20http%3A%2F%2Fevil%2F", "invalid"},  // escaped newline
        {"vostrelle://add/https%3A%2F%2Frepo%20example%2F", "invalid"},
        {"vostrelle://add/https%3A%2F%2Frepo.example%2F%22%5D", "invalid"},  // quote and bracket for the sources list
        {"vostrelle://add/https://%00repo.example/", "invalid"},
        {"vostrelle://add/http://[::1]:8080/repo/", "invalid"},  // no bracketed IPv6 literal in the sources
        {"vostrelle://add/https://repo%2Eexample.org/", "invalid"},  // an escape in the host only hides something
        {"vostrelle://add/https://user@repo.example.org/", "invalid"},
        {"vostrelle://add/https%3A%2F%2Frepo.example.org%2F%3Fa%3D1", "invalid"},
        {"vostrelle://add/https://repo.example.org/a%0Ab/", "invalid"},
        {"vostrelle://add/https://repo.example.org/a%7Fb/", "invalid"},
        // Showing a package: escaped separators stay inside their value.
        {"vostrelle://show/shared=Vostrelle&name=Fish+%26+Chips%3Dgood&bundleid=com.example.fish&repo=https%3A%2F%2Frepo.example%2F",
         "show com.example.fish | Fish & Chips=good | https://repo.example/"},
        {"vostrelle://show?bundleid=com.example.c&name=C#fragment", "show com.example.c | C | "},
        {"  vostrelle://show/bundleid=com.example.a \n", "show com.example.a |  | "},
        {"vostrelle://show/bundleid=com.example.a%26bundleid%3Dcom.example.b", "invalid"},
        {"vostrelle://show/", "invalid"},
        {"vostrelle://show/shared=Vostrelle&name=Nothing", "invalid"},
        {"vostrelle://show/bundleid=", "invalid"},
        {"vostrelle://show/bundleid=com.example.x%0A", "invalid"},
        {"vostrelle://show/bundleid=com.example.x%00", "invalid"},
        {"vostrelle://show/bundleid=com.example.x&name=a%0Db", "invalid"},
        {"vostrelle://show/bundleid=..%2F..%2Fetc%2Fpasswd", "invalid"},
        {"vostrelle://show/bundleid=x%27%3B%20DROP%20TABLE", "invalid"},
        {"vostrelle://show/bundleid=com.example.x&repo=file%3A%2F%2F%2Fetc%2F", "invalid"},
        {"vostrelle://show/bundleid=a\nb", "invalid"},
        {"vostrelle://show/bundleid=" + std::string(9000, 'a'), "invalid"},
        // Opening an address: only http and https with a host; the inner query is the address's own.
        {"vostrelle://url/https://store.example/item?id=3&x=y", "url https://store.example/item?id=3&x=y"},
        {"vostrelle://url/file:///etc/shadow", "invalid"},
        {"vostrelle://url/smb://host/x", "invalid"},
        {"vostrelle://url/ftp://host/x", "invalid"},
        {"vostrelle://url/javascript%3Aalert(1)", "invalid"},
        {"vostrelle://url/", "invalid"},
        {"vostrelle://developer/Jane%20Doe", "developer Jane Doe"},
        {"vostrelle://developer?name=Jane+Doe%26Co", "developer Jane Doe&Co"},
        {"vostrelle://developer/%20%20", "invalid"},
        {"vostrelle://developer/Jane%0ADoe", "invalid"},
        // The stores' callbacks name their kind in the host; they are no hosts of our scheme, nor the reverse.
        {"sileo://authentication_success?token=abc%3D%3D&payment_secret=s3", "signed in payment_secret=s3 token=abc=="},
        {"sileo://payment_completed", "paid"},
        {"sileo://payment_completed/extra", "paid"},
        {"sileo://authentication_failed?x=1", "invalid"},
        {"sileo://authentication_success?token=a%00b", "invalid"},
        {"vostrelle://payment_completed", "invalid"},
        {"sileo://add/https://repo.example/", "invalid"},
        // Other schemes and malformed text.
        {"https://repo.example/", "invalid"},
        {"cydia://url/https://x.example/", "invalid"},
        {"file:///home/user/a.deb", "invalid"},
        {"vostrelle:add/https://repo.example/", "invalid"},
        {"vostrelle://", "invalid"},
        {"vostrelle://unknown/x", "invalid"},
        {"", "invalid"},
        {"   ", "invalid"},
        {"vostrelle://add/https://a.example/\x7f", "invalid"},
        {"://show", "invalid"},
    };
    for (const auto& [text, expected] : cases) {
        auto action = ZMURLSchemeHandler::parse(text);
        EXPECT_EQ(summary(action), expected) << text.substr(0, 100);
        if (action.kind == Kind::Invalid) { EXPECT_FALSE(action.problem.empty()) << text.substr(0, 100); }
    }
    EXPECT_EQ(ZMURLSchemeHandler::parse("sileo://payment_completed?a=1").url, "sileo://payment_completed?a=1");
}

}  // namespace
