#pragma once
// The rating widget of the package details page: the five stars with which
// the user rates an installed package, the label of the user's own rating,
// the average, and the support warning the leave-review sheet asks for when
// a review looks like a problem report.
//
// A star shows at once; the rating is stored (the record's myRating and the
// page's snapshot) only once the service accepted it ("Success" or
// "Successfully updated"); a refused or unsent rating puts the previous stars
// and label back. A package that is not installed gets the install warning
// and nothing else.
#include <cstdint>
#include <optional>
#include <string>

class PackageDetailsViewController;
class QToolButton;
class UIAlertController;

class PackageDetailsRating {
public:
    static void ratingPressed(PackageDetailsViewController& page, QToolButton* sender);
    static void setRating(PackageDetailsViewController& page, int rating);
    static void showLeaveReviewWarning(PackageDetailsViewController& page);
    // The stars and label from the snapshot's rating (the record's, when it has one since),
    // the average again, and the page laid out again with its reviews.
    static void updateRatingInfo(PackageDetailsViewController& page);
    static UIAlertController* showReviewWarning(PackageDetailsViewController& page, const std::string& title,
                                                const std::string& text, std::optional<int> rate);
    static void postReviewAnyway(PackageDetailsViewController& page, const std::string& title, const std::string& text, int rate);
    // "Success", "Successfully updated" and "Failed" in words; any other answer as it is.
    static std::string reviewOutcomeMessage(const std::string& answer);
    // Stars 1...rating filled and the label "<rating> out of 5 rating"; without
    // a rating the label reads 0 and the stars stay as they are.
    static void paintRating(PackageDetailsViewController& page, std::optional<int64_t> rating);

private:
    // Stores an accepted rating on a background queue; a rating the database
    // refused is told in its alert, and the stars go back to the stored one.
    static void storeRating(PackageDetailsViewController& page, int rating);
    // The snapshot's rating and the stars and label for it (none: no star, label 0).
    static void showRating(PackageDetailsViewController& page, std::optional<int64_t> rating);
    static std::optional<int64_t> snapshotRating(const PackageDetailsViewController& page);
};
