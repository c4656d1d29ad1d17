#pragma once
// One list of the signed-in account (the wishlist, the followed developers):
// its uploads, so that the server always ends with the newest list, and its
// download.
//
//   upload    POST <uploadPath>   userID=<id>&<field>=<items joined by ";">  (blanks as "+")
//   download  GET  <downloadPath>?userID=<id>  ->  {"<field>": "a;b"}
//
// One upload of a kind is in flight at a time. A request made meanwhile is
// remembered, and when the upload ends one more upload goes out with the list
// read anew: however many changes came in between, the server gets the
// newest list once more, never an older one after it.
//
// The list is read when the upload starts, from the committed database: a
// request made on the main thread (possibly inside the write transaction
// that made the change) is started after the current main-thread work, once
// that transaction has committed.
//
// Signed out (ZMAccount::isSignedIn() false), nothing is sent and the
// request ends as a failure (ZMMakerAPI::SignedOut).
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Miscellaneous/ZMError.h"

class ZMListSynchronizer {
public:
    struct Endpoints {
        const char* uploadPath;
        const char* downloadPath;
        const char* field;  // the form field of the upload and the key of the download
    };
    // The outcome of the upload that carried a request's change.
    using Done = std::function<void(std::optional<ZMError>)>;
    // Reads the list to send.
    using Reader = std::function<std::vector<std::string>()>;

    ZMListSynchronizer(Endpoints endpoints, Reader reader);

    // Asks for an upload. `done` (optional) runs on a background queue once
    // the upload that carries the current list has ended. The upload logs
    // "Sync state : success" or the failure; the reply body is not read.
    void synchronize(Done done = {});
    // An upload is in flight.
    bool isUploading() const;

    // Signed in: the downloaded text split at ";" (an empty text gives one
    // empty item). Otherwise (signed out, a failure, `field` not a text)
    // nullopt. `completion` runs exactly once, on a background queue (at
    // once on the caller's thread when nothing was sent).
    void download(std::function<void(std::optional<std::vector<std::string>>)> completion) const;

private:
    void start();
    void upload(int32_t userID, const std::vector<std::string>& list);
    void ended(std::optional<ZMError> error);

    const Endpoints endpoints_;
    Reader reader_;
    mutable std::mutex mutex_;
    bool inFlight_ = false;
    bool pending_ = false;
    std::vector<Done> current_;  // told when the upload in flight ends
    std::vector<Done> waiting_;  // told when the next upload ends
};
