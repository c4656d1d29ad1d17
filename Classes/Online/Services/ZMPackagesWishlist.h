#pragma once
// The wishlist's copy on the user's account. The wishlist itself is the
// `isInWishlist` mark of the package records; this client uploads the whole
// list after each change and downloads it after a sign-in, whose merge lets
// the account's list replace the local marks.
//
// Wire form: the identifiers joined by ";" in database order ("" when empty).
//
//   upload    POST wishlist/wishlist.php           userID=<id>&wishlist=<a;b>  (blanks as "+")
//   download  GET  wishlist/retrievewishlist.php?userID=<id>  ->  {"wishlist": "a;b"}
//
// Both need a signed-in account (ZMAccount::isSignedIn()); signed out they
// send nothing and end as failures.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Miscellaneous/ZMError.h"

class ZMListSynchronizer;

class ZMPackagesWishlist {
public:
    static ZMPackagesWishlist& sharedInstance();

    // Uploads the whole committed wishlist; one upload at a time, a change
    // meanwhile is sent once more afterwards (ZMListSynchronizer). Call it
    // after changing a wishlist mark, from any thread, also from inside the
    // write transaction on the main thread. `done` (optional) runs on a
    // background queue with the outcome of the upload that carried the change.
    void syncWithTheZemtrixAccount(std::function<void(std::optional<ZMError>)> done = {});

    // Downloads the account's wishlist: the identifiers split at ";" (an empty
    // text gives one empty identifier), or nullopt when signed out, on a
    // failure or when "wishlist" is not a text. Runs `completion` exactly
    // once, on a background queue (at once on the caller's thread when
    // nothing was sent).
    void retrieveZemtrixAccountWishlist(std::function<void(std::optional<std::vector<std::string>>)> completion);

    // The sign-in's merge, on the calling thread (not the main thread: it
    // writes): nothing received, or the same identifiers in the same order as
    // the marked packages, changes nothing; otherwise one write transaction
    // clears every mark and sets it on each received identifier that has a
    // package record.
    static void mergeAccountWishlist(const std::optional<std::vector<std::string>>& received);

private:
    ZMPackagesWishlist();
    ZMListSynchronizer& accountList();
};
