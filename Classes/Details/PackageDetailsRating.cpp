#include "Details/PackageDetailsRating.h"

#include <QPointer>
#include <algorithm>

#include "Browsing/SourceAddition.h"
#include "Database/ZMRPackage.h"
#include "Details/PackageDetailsActions.h"
#include "Details/PackageDetailsHeader.h"
#include "Details/PackageDetailsViewController.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Realm/Realm.h"
#include "UIKit/UIAlertController.h"
#include "Miscellaneous/ZMJSON.h"
#include "ZMStoreGuard.h"

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string L(const char* key) { return ZMLocalizedString(key); }
std::string F(const char* key, const std::vector<std::string>& values) { return ZMLocalization::format(key, values); }

bool accepted(const std::string& answer) { return answer == "Success" || answer == "Successfully updated"; }

}  // namespace

std::optional<int64_t> PackageDetailsRating::snapshotRating(const PackageDetailsViewController& page) {
    auto it = page.packageDictionary_.find("myRating");
    if (it == page.packageDictionary_.end() || !it->is_number()) return std::nullopt;
    return it->get<int64_t>();
}

void PackageDetailsRating::paintRating(PackageDetailsViewController& page, std::optional<int64_t> rating) {
    const int stars = static_cast<int>(std::clamp<int64_t>(rating.value_or(0), 0, 5));
    if (rating) page.header_->paintStars(stars);
    page.header_->ratingLbl()->setText(q(F("%@ out of 5 rating", {std::to_string(stars)})));
}

void PackageDetailsRating::ratingPressed(PackageDetailsViewController& page, QToolButton* sender) {
    // Never installed, the record holds no value at all (null), which is "no".
    if (!ZMJSON::boolValue(page.packageDictionary_, "isInstalled")) {
        showLeaveReviewWarning(page);
        return;
    }
    const auto& stars = page.header_->ratingButtons();
    const auto at = std::find(stars.begin(), stars.end(), sender);
    setRating(page, at == stars.end() ? 1 : static_cast<int>(at - stars.begin()) + 1);
}

void PackageDetailsRating::setRating(PackageDetailsViewController& page, int rating) {
    rating = std::clamp(rating, 1, 5);
    const std::optional<int64_t> before = snapshotRating(page);
    paintRating(page, rating);
    const int generation = ++page.ratingGeneration_;
    QPointer<PackageDetailsViewController> weak(&page);
    auto services = ZMDetailsServices::shared();
    services->postRatingReview(services->accountUsername(), page.text("identifier"), "", "", rating,
                               [weak, rating, before, generation](std::string answer) {
                                   Dispatch::main([weak, rating, before, generation, answer] {
                                       if (!weak) return;
                                       if (accepted(answer)) storeRating(*weak, rating);
                                       else ZMLOG("the rating was not taken: {}", answer);
                                       // A later tap speaks for the stars now.
                                       if (generation != weak->ratingGeneration_ || accepted(answer)) return;
                                       showRating(*weak, before);
                                   });
                               });
}

void PackageDetailsRating::showRating(PackageDetailsViewController& page, std::optional<int64_t> rating) {
    if (rating) page.packageDictionary_["myRating"] = *rating;
    else page.packageDictionary_.erase("myRating");
    paintRating(page, rating);
    if (!rating) page.header_->paintStars(0);
}

void PackageDetailsRating::storeRating(PackageDetailsViewController& page, int rating) {
    const std::optional<int64_t> stored = snapshotRating(page);
    page.packageDictionary_["myRating"] = rating;
    const std::string identifier = page.packageIdentifier_;
    const int generation = page.ratingGeneration_;
    QPointer<PackageDetailsViewController> weak(&page);
    Dispatch::defaultQueue([weak, identifier, rating, stored, generation] {
        const bool written = ZMStoreGuard::run("storing a rating", [&] {
            auto realm = Realm::defaultRealm();
            realm->transactionWithBlock([&] {
                auto package = realm->objectForPrimaryKey<ZMRPackage>(identifier);
                if (package && !package->isInvalidated()) realm->setValueForKey(*package, "myRating", int64_t(rating));
            });
        });
        if (written) return;
        // Told; the page shows the rating its record still holds, unless a later tap speaks for the stars.
        Dispatch::main([weak, stored, generation] {
            if (weak && generation == weak->ratingGeneration_) showRating(*weak, stored);
        });
    });
}

void PackageDetailsRating::showLeaveReviewWarning(PackageDetailsViewController& page) {
    PackageDetailsActions::showErrorPopup(page, L("Leave a Review"),
                                          F("You need to install %@ before being able to leave a review", {page.text("name")}));
}

void PackageDetailsRating::updateRatingInfo(PackageDetailsViewController& page) {
    // The sheet stores the rating it sent: the snapshot follows the record.
    auto package = ZMStoreGuard::record<ZMRPackage>("reading a package's rating", page.packageIdentifier_);
    if (package && package->myRating) page.packageDictionary_["myRating"] = *package->myRating;
    paintRating(page, snapshotRating(page));
    page.fetchAverageRating();
    page.setContent();
}

std::string PackageDetailsRating::reviewOutcomeMessage(const std::string& answer) {
    if (answer == "Success") return L("Review has been successfully posted");
    if (answer == "Successfully updated") return L("Review has been successfully updated");
    if (answer == "Failed") return L("There was an error while posting the review");
    return answer;
}

UIAlertController* PackageDetailsRating::showReviewWarning(PackageDetailsViewController& page, const std::string& title,
                                                           const std::string& text, std::optional<int> rate) {
    auto* alert = UIAlertController::alertControllerWithTitle(
        q(L("Package Support")),
        q(L("It seems you are having an issue with this package. Would you like to send an email to the developer asking "
            "for support first ? Reviews should not be used to report issues.")),
        UIAlertController::Style::Alert);
    QPointer<PackageDetailsViewController> weak(&page);
    alert->addAction(q(L("Send email")), UIAlertController::ActionStyle::Default, [weak] {
        if (weak) PackageDetailsActions::contactDeveloper(*weak);
    });
    alert->addAction(q(L("Leave review")), UIAlertController::ActionStyle::Default, [weak, title, text, rate] {
        if (weak) postReviewAnyway(*weak, title, text, rate.value_or(0));
    });
    page.lastOpened_ = alert;
    SourceAddition::topPresenter(&page)->presentViewController(alert, true);
    return alert;
}

void PackageDetailsRating::postReviewAnyway(PackageDetailsViewController& page, const std::string& title,
                                            const std::string& reviewText, int rate) {
    QPointer<PackageDetailsViewController> weak(&page);
    const std::string name = page.text("name");
    auto services = ZMDetailsServices::shared();
    services->postRatingReview(services->accountUsername(), page.text("identifier"), reviewText, title, rate,
                               [weak, rate, name](std::string answer) {
                                   Dispatch::main([weak, rate, name, answer] {
                                       if (!weak) return;
                                       if (accepted(answer)) storeRating(*weak, rate);
                                       updateRatingInfo(*weak);
                                       PackageDetailsActions::showErrorPopup(*weak, F("%@ Review", {name}),
                                                                             reviewOutcomeMessage(answer));
                                   });
                               });
}
