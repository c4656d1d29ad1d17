#include "Services/ZMListSynchronizer.h"

#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Services/ZMAccount.h"
#include "Services/ZMMakerAPI.h"

ZMListSynchronizer::ZMListSynchronizer(Endpoints endpoints, Reader reader)
    : endpoints_(endpoints), reader_(std::move(reader)) {}

bool ZMListSynchronizer::isUploading() const {
    std::lock_guard lock(mutex_);
    return inFlight_;
}

void ZMListSynchronizer::synchronize(Done done) {
    {
        std::lock_guard lock(mutex_);
        if (inFlight_) {
            pending_ = true;
            if (done) waiting_.push_back(std::move(done));
            return;
        }
        inFlight_ = true;
        if (done) current_.push_back(std::move(done));
    }
    auto begin = [this] { Dispatch::defaultQueue([this] { start(); }); };
    // On the main thread the caller may still be inside the write transaction
    // of the change: read after the current main-thread work has finished.
    if (Dispatch::isMainThread())
        Dispatch::main(begin);
    else
        begin();
}

void ZMListSynchronizer::start() {
    auto& account = ZMAccount::instance();
    if (!account.isSignedIn()) {
        ended(ZMMakerAPI::makeError(ZMMakerAPI::SignedOut, ZMLocalizedString("You are not signed in.")));
        return;
    }
    std::vector<std::string> list;
    try {
        list = reader_();
    } catch (const std::exception& e) {
        ZMLOG("cannot read the list to upload: {}", e.what());
        ended(ZMError::make(ZMError::Unknown, e.what()));
        return;
    }
    upload(account.returnUserID(), list);
}

void ZMListSynchronizer::ended(std::optional<ZMError> error) {
    std::vector<Done> told;
    bool again = false;
    {
        std::lock_guard lock(mutex_);
        told.swap(current_);
        if (pending_) {
            pending_ = false;
            current_.swap(waiting_);
            again = true;
        } else {
            inFlight_ = false;
        }
    }
    for (auto& done : told) done(error);
    if (again) start();
}

void ZMListSynchronizer::upload(int32_t userID, const std::vector<std::string>& list) {
    std::string joined;
    for (size_t i = 0; i < list.size(); ++i) joined += (i ? ";" : "") + list[i];
    // An empty first name would start the text with the separator.
    if (!joined.empty() && joined.front() == ';') joined.erase(0, 1);
    auto request =
        ZMMakerAPI::postForm(endpoints_.uploadPath, {{"userID", std::to_string(userID)}, {endpoints_.field, joined}},
                             ZMMakerAPI::Blank::Plus);
    ZMMakerAPI::send(request, [this](ZMMakerAPI::Reply reply) {
        if (reply.ok())
            ZMLOG("Sync state : success");
        else
            ZMMAKER_LOG_FAILURE(reply.error->localizedDescription());
        ended(reply.error);
    });
}

void ZMListSynchronizer::download(std::function<void(std::optional<std::vector<std::string>>)> completion) const {
    auto& account = ZMAccount::instance();
    if (!account.isSignedIn()) {
        completion(std::nullopt);
        return;
    }
    auto request = ZMMakerAPI::get(endpoints_.downloadPath, {{"userID", std::to_string(account.returnUserID())}});
    ZMMakerAPI::send(request, [key = std::string(endpoints_.field),
                               completion = std::move(completion)](ZMMakerAPI::Reply reply) {
        if (!reply.ok()) {
            ZMMAKER_LOG_FAILURE(reply.error->localizedDescription());
            completion(std::nullopt);
            return;
        }
        auto parsed = ZMMakerAPI::parseJSON(reply.body);
        if (!parsed || !parsed->is_object() || !parsed->contains(key) || !(*parsed)[key].is_string()) {
            ZMMAKER_LOG_FAILURE(ZMMakerAPI::invalidReplyError().localizedDescription());
            completion(std::nullopt);
            return;
        }
        const auto& text = (*parsed)[key].get_ref<const std::string&>();
        std::vector<std::string> items;
        size_t start = 0;
        while (true) {
            size_t semicolon = text.find(';', start);
            items.push_back(text.substr(start, semicolon == std::string::npos ? std::string::npos : semicolon - start));
            if (semicolon == std::string::npos) break;
            start = semicolon + 1;
        }
        completion(std::move(items));
    });
}
