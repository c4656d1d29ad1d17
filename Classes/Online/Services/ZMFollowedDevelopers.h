#pragma once
// The followed developers' copy on the user's account. Following lives in the
// developer records (`isFollowed`); this client uploads the whole followed
// list after each change (ZMRDevelopers calls it through its account sync
// hook, installed by ZMOnlineServices) and downloads it after a sign-in,
// whose merge lets the account's list replace the local marks.
//
// Wire form: the followed names joined by ";" ("" when none).
//
//   upload    POST followeddevs/developers.php   userID=<id>&developers=<a;b>  (blanks as "+")
//   download  GET  followeddevs/retrievedevelopers.php?userID=<id>  ->  {"developers": "a;b"}
//
// Both need a signed-in account (ZMAccount::isSignedIn()); signed out they
// send nothing and end as failures.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Miscellaneous/ZMError.h"

class ZMListSynchronizer;

class ZMFollowedDevelopers {
public:
    static ZMFollowedDevelopers& sharedInstance();

    // Uploads the whole committed followed list; one upload at a time, a
    // change meanwhile is sent once more afterwards (ZMListSynchronizer).
    // `done` (optional) runs on a background queue with the outcome.
    void syncWithTheZemtrixAccount(std::function<void(std::optional<ZMError>)> done = {});

    // Downloads the account's followed names split at ";" (an empty text
    // gives one empty name), or nullopt when signed out, on a failure or when
    // "developers" is not a text. `completion` runs exactly once, on a
    // background queue (at once on the caller's thread when nothing was sent).
    void retrieveZemtrixAccountFollowedDevelopers(
        std::function<void(std::optional<std::vector<std::string>>)> completion);

    // The sign-in's merge, on the calling thread (not the main thread: it
    // writes). Empty names are dropped. Nothing received, or the same names in
    // the same order as arrayOfFollowedDevelopers(), changes nothing and sends
    // nothing; otherwise ONE write transaction replaces every followed mark
    // with the received names (ZMRDevelopers::replaceFollowedDevelopers) and
    // ONE upload follows. `uploaded` (optional) gets that upload's outcome.
    static void mergeAccountFollowedDevelopers(const std::optional<std::vector<std::string>>& received,
                                               std::function<void(std::optional<ZMError>)> uploaded = {});

private:
    ZMFollowedDevelopers();
    ZMListSynchronizer& accountList();
};
