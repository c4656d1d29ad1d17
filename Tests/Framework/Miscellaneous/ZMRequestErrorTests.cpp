// A failed request is told as what happened, with the server's address and
// port, and keeps the code the callers act on.
#include <gtest/gtest.h>

#include "Foundation/URLError.h"
#include "Miscellaneous/ZMRequestError.h"

TEST(ZMRequestError, TransportFailuresSayWhatHappenedAndWhere) {
    const URL url = *URL::parse("http://127.0.0.1:8123/repo/Release");
    struct Case {
        int transport;
        int code;
        const char* text;  // nullptr: the generic "no network" text of the code
    } cases[] = {
        {URLError::CannotConnectToHost, ZMError::NoNetwork, "127.0.0.1:8123 refused the connection."},
        {URLError::TimedOut, ZMError::NoNetwork, "127.0.0.1:8123 did not answer in time."},
        {URLError::CannotFindHost, ZMError::NoNetwork, "The server 127.0.0.1:8123 could not be found."},
        {URLError::UnsupportedURL, ZMError::InvalidServerData,
         "127.0.0.1:8123 redirected /repo/Release to an address that is not http or https; it was not followed."},
        {URLError::HTTPTooManyRedirects, ZMError::InvalidServerData, "127.0.0.1:8123 redirected /repo/Release too many times."},
        {URLError::DataLengthExceedsMaximum, ZMError::InvalidServerData,
         "127.0.0.1:8123 sent more than the size limit for /repo/Release."},
        {URLError::SecureConnectionFailed, ZMError::NoNetwork, "A secure connection to 127.0.0.1:8123 could not be made."},
        {URLError::NetworkConnectionLost, ZMError::NoNetwork, "The connection to 127.0.0.1:8123 was lost."},
        {URLError::NotConnectedToInternet, ZMError::NoNetwork, nullptr},
    };
    for (const auto& c : cases) {
        const ZMError error = ZMRequestError::fromTransport(url, URLError::make(c.transport));
        EXPECT_EQ(error.code, c.code) << c.transport;
        if (c.text)
            EXPECT_EQ(error.localizedDescription(), c.text) << c.transport;
        else
            EXPECT_EQ(error.localizedDescription(), ZMError::make(ZMError::NoNetwork).localizedDescription());
        EXPECT_NE(error.detail.find("/repo/Release"), std::string::npos) << "the log line names the file";
    }
    // An error of another domain is no transport failure the request knows.
    EXPECT_EQ(ZMRequestError::fromTransport(url, ZMError::make(ZMError::Unknown, "x")).localizedDescription(),
              "127.0.0.1:8123 could not be reached.");
}

TEST(ZMRequestError, AnHTTPStatusIsTheServersAnswerNotAMissingNetwork) {
    for (int status : {404, 500, 503}) {
        const ZMError error = ZMRequestError::fromHTTPStatus(*URL::parse("https://repo.example:8443/Packages.xz"), status);
        EXPECT_EQ(error.code, ZMError::InvalidServerData);
        EXPECT_EQ(error.localizedDescription(),
                  "repo.example:8443 answered /Packages.xz with HTTP status " + std::to_string(status) + ".");
    }
    // Without a port in the address, none is made up.
    EXPECT_EQ(ZMRequestError::fromHTTPStatus(*URL::parse("https://repo.example/Release"), 404).localizedDescription(),
              "repo.example answered /Release with HTTP status 404.");
}
