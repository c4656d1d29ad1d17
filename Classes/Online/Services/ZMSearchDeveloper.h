#pragma once
// Looks developers up by name in the maker's developer directory.
//
//   GET developers/devs.php?searchParam=<name>   (blanks as "+")
//   ->  [{"avatar", "developer", "about", "email", "location", "github",
//         "repository", "twitter", "homepage"}, ...]
//
// Several lookups may run at once (the followed-developers screen starts one
// per name): each completion gets the profiles of its own reply.
// developers() keeps a copy of the last reply that parsed.
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Services/ZMDeveloperProfile.h"
#include "Services/ZMMakerAPI.h"

class ZMSearchDeveloper {
public:
    // The status ("Success" or nullopt) and the profiles of this very reply,
    // in reply order. "Success" with no profiles: the directory does not know
    // the name.
    using Completion = std::function<void(std::optional<std::string> status, std::vector<ZMDeveloperProfile> profiles)>;

    static ZMSearchDeveloper& instance();

    // Looks the name up. `completion` runs exactly once, on a background queue
    // (at once on the caller's thread when nothing was sent):
    //   a name under 3 characters  "Success" with no profiles; nothing sent
    //   a reply that parsed        "Success" with its profiles (an array of
    //                              objects; other elements are skipped)
    //   a failure                  nullopt with no profiles
    void searchDeveloper(const std::string& name, Completion completion);

    // The profiles of the last reply that parsed.
    std::vector<ZMDeveloperProfile> developers() const;

    // Tests: forgets the profiles.
    void resetForTesting();

private:
    ZMSearchDeveloper() = default;
    mutable std::mutex mutex_;
    std::vector<ZMDeveloperProfile> developers_;
};
