#include "Services/ZMSearchRepositories.h"

#include <algorithm>

#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMLog.h"

namespace {
// The entries of a reply, in order, without invalid ones or duplicates.
std::optional<std::vector<ZMSearchedRepo>> entriesOfReply(const std::string& body, std::string* why) {
    auto reply = ZMMakerAPI::parseJSON(body, why);
    if (!reply || !reply->is_array()) {
        if (reply && why) *why = "the reply is not an array";
        return std::nullopt;
    }
    std::vector<ZMSearchedRepo> entries;
    for (const auto& element : *reply) {
        auto entry = ZMSearchedRepo::searchedRepoWithJSON(element);
        if (!entry || entry->isInvalid() || std::find(entries.begin(), entries.end(), *entry) != entries.end())
            continue;
        entries.push_back(std::move(*entry));
    }
    return entries;
}
}  // namespace

ZMSearchRepositories& ZMSearchRepositories::instance() {
    static ZMSearchRepositories client;
    return client;
}

void ZMSearchRepositories::searchRepository(const std::string& text, Completion completion) {
    if (ZMMakerAPI::utf16Length(text) < 3) {
        completion(kZMStatusSuccess, {});
        return;
    }
    fetch(ZMMakerAPI::get("reposearch/reposearch.php", {{"searchParam", text}}, ZMMakerAPI::Blank::Plus),
          std::move(completion));
}

void ZMSearchRepositories::listOnlineRepositories(Completion completion) {
    fetch(ZMMakerAPI::get("reposearch/repolist.php", {{"key", ZMMakerAPI::kClientKey}}), std::move(completion));
}

void ZMSearchRepositories::fetch(const ZMMakerAPI::Request& request, Completion completion) {
    uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        generation = ++generation_;
    }
    auto complete = [completion = std::move(completion)](std::optional<std::string> status,
                                                         std::vector<ZMSearchedRepo> entries) {
        if (completion) completion(std::move(status), std::move(entries));
    };
    ZMMakerAPI::send(request, [this, generation, complete](ZMMakerAPI::Reply reply) {
        if (!reply.ok()) {
            ZMMAKER_LOG_FAILURE(reply.error->localizedDescription());
            complete(std::nullopt, {});
            return;
        }
        std::string why;
        auto entries = entriesOfReply(reply.body, &why);
        if (!entries) {
            ZMMAKER_LOG_FAILURE(why);
            complete(std::nullopt, {});
            return;
        }
        {
            std::lock_guard lock(mutex_);
            if (generation != generation_) {
                ZMLOG("dropped a directory reply overtaken by a newer request");
                entries.reset();
            } else {
                repositories_ = *entries;
            }
        }
        if (!entries)
            complete(std::nullopt, {});
        else
            complete(kZMStatusSuccess, std::move(*entries));
    });
}

void ZMSearchRepositories::addRepository(const std::string& location,
                                         std::function<void(std::optional<std::string> reply)> completion) {
    if (location.size() < 10) return;
    std::optional<ZMSearchedRepo> entry;
    try {
        if (auto source = ZMRSource::objectForPrimaryKey(location))
            entry = ZMSearchedRepo::searchedRepoWithSource(*source);
    } catch (const std::exception& e) {
        ZMLOG("cannot read the source {}: {}", location, e.what());
    }
    if (!entry || entry->isInvalid()) return;
    {
        std::lock_guard lock(mutex_);
        if (std::find(repositories_.begin(), repositories_.end(), *entry) != repositories_.end()) return;
        if (!reported_.insert(entry->url).second) return;
    }
    auto request = ZMMakerAPI::postForm("reposearch/addrepo.php", {{"key", ZMMakerAPI::kClientKey},
                                                                   {"icon", entry->icon},
                                                                   {"name", entry->name},
                                                                   {"url", entry->url},
                                                                   {"description", entry->desc},
                                                                   {"maintainer", entry->maintainer},
                                                                   {"category", entry->category}});
    ZMMakerAPI::send(request, [this, entry = *entry, completion = std::move(completion)](ZMMakerAPI::Reply reply) {
        if (!reply.ok()) {
            // Not taken: it stays out of the list (reported_ still keeps this
            // process from asking again).
            ZMMAKER_LOG_FAILURE(reply.error->localizedDescription());
            if (completion) completion(std::nullopt);
            return;
        }
        {
            std::lock_guard lock(mutex_);
            if (std::find(repositories_.begin(), repositories_.end(), entry) == repositories_.end())
                repositories_.push_back(entry);
        }
        if (completion) completion(ZMMakerAPI::displayText(reply.body));
    });
}

std::vector<ZMSearchedRepo> ZMSearchRepositories::repositories() const {
    std::lock_guard lock(mutex_);
    return repositories_;
}

void ZMSearchRepositories::resetForTesting() {
    std::lock_guard lock(mutex_);
    repositories_.clear();
    reported_.clear();
    ++generation_;
}
