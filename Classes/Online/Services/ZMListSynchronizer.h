#pragma once
// Uploads of one whole list (the wishlist, the followed developers) to the
// signed-in account, so that the server always ends with the newest list.
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
    // The outcome of the upload that carried a request's change.
    using Done = std::function<void(std::optional<ZMError>)>;
    // Reads the list to send.
    using Reader = std::function<std::vector<std::string>()>;
    // Sends the list for the user and calls back exactly once with the outcome.
    using Sender = std::function<void(int32_t userID, const std::vector<std::string>& list, Done done)>;

    ZMListSynchronizer(Reader reader, Sender sender);

    // Asks for an upload. `done` (optional) runs on a background queue once
    // the upload that carries the current list has ended.
    void synchronize(Done done = {});
    // An upload is in flight.
    bool isUploading() const;

    // ---- the two transfers of an account list (wishlist, followed developers) ----
    // POST <path> with "userID=<id>&<field>=<items joined by ";">" (blanks as
    // "+"); logs "Sync state : success" or the failure; the reply body is not read.
    static void upload(const std::string& path, const std::string& field, int32_t userID,
                       const std::vector<std::string>& list, Done done);
    // Signed in: GET <path>?userID=<id>, a JSON object whose `key` is a text,
    // split at ";". Otherwise (signed out, a failure, another shape) nullopt.
    // `completion` runs exactly once, on a background queue (at once on the
    // caller's thread when nothing was sent).
    static void download(const std::string& path, const std::string& key,
                         std::function<void(std::optional<std::vector<std::string>>)> completion);

private:
    void start();
    void ended(std::optional<ZMError> error);

    Reader reader_;
    Sender sender_;
    mutable std::mutex mutex_;
    bool inFlight_ = false;
    bool pending_ = false;
    std::vector<Done> current_;  // told when the upload in flight ends
    std::vector<Done> waiting_;  // told when the next upload ends
};
