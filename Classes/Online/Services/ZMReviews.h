#pragma once
// One review of a package (ZMPackageRatings). Texts the reply leaves out, or
// gives in another type, are empty; numbers given as JSON numbers are kept
// as their decimal text.
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

struct ZMReviews {
    std::string reviewID;              // "id"; replies, votes and refreshes use its integer value
    std::string title;                 // "title"
    std::string desc;                  // "review": the review text
    int64_t rating = 0;                // "rate": the reviewer's stars
    std::string date;                  // "date"
    std::string name;                  // "username": the reviewer
    std::optional<std::string> reply;  // "reply": absent while the developer has not replied (null)
    std::string upvotes;               // "upvotes"
    std::string downvotes;             // "downvotes"

    // reviewID as a number (0 when it is none).
    int32_t reviewIDValue() const;
    static ZMReviews fromJSON(const nlohmann::json& element);
};
