#include "Services/ZMStatistics.h"

#include "Database/ZMRPackage.h"
#include "Database/ZMRSource.h"
#include "Foundation/URL.h"
#include "Miscellaneous/ZMLog.h"

namespace {

void report(const ZMMakerAPI::Request& request, ZMStatistics::ReportCompletion completion) {
    ZMMakerAPI::send(request, [completion = std::move(completion)](ZMMakerAPI::Reply reply) {
        if (!reply.ok()) ZMMAKER_LOG_FAILURE(reply.error->localizedDescription());
        if (completion)
            completion(reply.ok() ? std::optional<std::string>(ZMMakerAPI::displayText(reply.body)) : std::nullopt);
    });
}

bool carriesCredentials(const std::string& location) {
    auto url = URL::parse(location);
    return url && !url->user().empty();
}

}  // namespace

ZMStatistics& ZMStatistics::instance() {
    static ZMStatistics statistics;
    return statistics;
}

void ZMStatistics::postPackageStatisticForIdentifier(const std::string& identifier, const std::string& devName,
                                                     const std::string& repoURL, const std::string& version,
                                                     int64_t downloadCount, int64_t seenCount,
                                                     ReportCompletion completion) {
    if (carriesCredentials(repoURL)) {
        if (completion) completion(std::nullopt);
        return;
    }
    report(ZMMakerAPI::get("stats/stats.php", {{"packageID", identifier},
                                               {"devName", devName},
                                               {"repoURL", repoURL},
                                               {"version", version},
                                               {"downloadCount", std::to_string(downloadCount)},
                                               {"seenCount", std::to_string(seenCount)},
                                               {"key", ZMMakerAPI::kClientKey}}),
           std::move(completion));
}

bool ZMStatistics::postPackageStatisticForIdentifier(const std::string& identifier, int64_t downloadCount,
                                                     int64_t seenCount, ReportCompletion completion) {
    try {
        auto package = ZMRPackage::objectForPrimaryKey(identifier);
        if (!package || package->sourceLocation.empty() || !ZMRSource::objectForPrimaryKey(package->sourceLocation) ||
            carriesCredentials(package->sourceLocation))
            return false;
        postPackageStatisticForIdentifier(package->identifier, package->maintainer, package->sourceLocation,
                                          package->version, downloadCount, seenCount, std::move(completion));
        return true;
    } catch (const std::exception& e) {
        ZMLOG("cannot report {}: {}", identifier, e.what());
        return false;
    }
}

void ZMStatistics::postSearchStatistic(const std::string& text, ReportCompletion completion) {
    report(ZMMakerAPI::get("stats/stats.php", {{"searchStat", "1"}, {"search", text}, {"key", ZMMakerAPI::kClientKey}},
                           ZMMakerAPI::Blank::Plus),
           std::move(completion));
}

void ZMStatistics::retrieveSearchesTrendingWithCompletionHandler(ZMStatusCompletion completion) {
    ZMMakerAPI::send(ZMMakerAPI::get("stats/trending.php", {{"key", ZMMakerAPI::kClientKey}}),
                     [this, completion = std::move(completion)](ZMMakerAPI::Reply reply) {
                         if (!reply.ok()) {
                             ZMMAKER_LOG_FAILURE(reply.error->localizedDescription());
                             return completion(kZMStatusError);
                         }
                         std::string why;
                         auto parsed = ZMMakerAPI::parseJSON(reply.body, &why);
                         if (!parsed || !parsed->is_array()) {
                             ZMMAKER_LOG_FAILURE(parsed ? std::string("the trending searches are not an array") : why);
                             return completion(kZMStatusError);
                         }
                         std::vector<std::string> texts;
                         for (const auto& element : *parsed)
                             if (element.is_string()) texts.push_back(element.get<std::string>());
                         {
                             std::lock_guard lock(mutex_);
                             trending_ = std::move(texts);
                         }
                         completion(kZMStatusSuccess);
                     });
}

std::vector<std::string> ZMStatistics::searchesTrending() const {
    std::lock_guard lock(mutex_);
    return trending_;
}

void ZMStatistics::resetForTesting() {
    std::lock_guard lock(mutex_);
    trending_.clear();
}
