#include "Services/ZMNewsRetrieval.h"

ZMNewsRetrieval& ZMNewsRetrieval::instance() {
    static ZMNewsRetrieval client;
    return client;
}

void ZMNewsRetrieval::fetchNewsWithCompletionHandler(std::function<void(std::string status)> completion) {
    ZMMakerAPI::send(ZMMakerAPI::get("news/retrievenews.php"),
                     [this, completion = std::move(completion)](ZMMakerAPI::Reply reply) {
                         if (!reply.ok()) {
                             std::string description = reply.error->localizedDescription();
                             ZMMAKER_LOG_FAILURE(description);
                             completion(description);
                             return;
                         }
                         std::string why;
                         auto items = ZMMakerAPI::parseJSON(reply.body, &why);
                         if (!items || !items->is_array()) {
                             ZMMAKER_LOG_FAILURE(items ? std::string("the news are not an array") : why);
                             completion(ZMMakerAPI::invalidReplyError().localizedDescription());
                             return;
                         }
                         auto news = std::make_shared<std::vector<ZMNews>>();
                         for (const auto& element : *items)
                             if (element.is_object()) news->push_back(ZMNews::fromJSON(element));
                         {
                             std::lock_guard lock(mutex_);
                             news_ = std::move(news);
                         }
                         completion(kZMStatusSuccess);
                     });
}

std::optional<std::vector<ZMNews>> ZMNewsRetrieval::news() const {
    std::lock_guard lock(mutex_);
    if (!news_) return std::nullopt;
    return *news_;
}

void ZMNewsRetrieval::resetForTesting() {
    std::lock_guard lock(mutex_);
    news_.reset();
}
