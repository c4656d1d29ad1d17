// Account operations on top of the payment API requests: signing in and out,
// the owned marks (isPaidThroughSileo) of a source's packages, the stored
// payment endpoints, and the hooks that tie the source refresh and the paid
// download to this client.
#include <atomic>
#include <mutex>

#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRSource.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLog.h"
#include "Notifications/NotificationCenter.h"
#include "ZMPackageOperations.h"
#include "ZMRepoStoreAPI+Internal.h"
#include "ZMRepoStoreAPI.h"
#include "ZMSourceRefresh.h"

namespace {

void postSourceUpdatedLater(const std::string& location) {
    Dispatch::mainAfter(1.0, [location] {
        NotificationCenter::defaultCenter().post(ZMRSourceUpdatedNotification, location);
    });
}

// One write transaction on the calling thread; false when it failed.
bool write(const std::function<void(Realm&)>& block, const char* what, const std::string& location) {
    try {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] { block(*realm); });
        return true;
    } catch (const std::exception& e) {
        ZMLOG("could not store {} of {}: {}", what, location, e.what());
        return false;
    }
}

void clearOwnedMarks(const std::string& location) {
    ZMRPackage::objectsWhere("isPaidThroughSileo = 1 AND sourceLocation = %@", location)
        .setValueForKey("isPaidThroughSileo", false);
}

}  // namespace

bool ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(const std::string& location) {
    auto& client = sharedRepoStore();
    return !client.storedTokenForSourceLocation(location).value_or("").empty() &&
           !client.storedSecretForSourceLocation(location).value_or("").empty() &&
           credentialBinding(location) != Binding::Elsewhere;
}

void ZMRepoStoreAPI::updatePurchasesForSourceWithLocation(const std::string& location, const RepoStoreUserInfoResponse& info,
                                                          SuccessCompletion completion) {
    Dispatch::defaultQueue([location, purchases = info.purchases, completion] {
        bool signedIn = true;
        bool written = write(
            [&](Realm&) {
                // A reply that arrives after a sign-out speaks for nobody.
                signedIn = userIsAuthenticatedForStoreLocation(location);
                if (!signedIn) return;
                clearOwnedMarks(location);
                if (!purchases.empty())
                    ZMRPackage::objectsWhere("sourceLocation = %@ AND identifier IN %@", location, purchases)
                        .setValueForKey("isPaidThroughSileo", true);
            },
            "the purchases", location);
        if (!signedIn) ZMLOG("purchases of {} not stored: signed out meanwhile", location);
        if (completion) completion(written && signedIn);
    });
}

void ZMRepoStoreAPI::loginToSource(const std::string& location, SuccessCompletion completion) {
    auto done = [completion](bool success) {
        if (completion) completion(success);
    };
    sharedRepoStore().userSigninForSourceLocation(location, [location, done](bool failed, const RepoStoreSigninResponse& r) {
        if (failed || r.error || !r.success) {
            ZMLOG("ERROR: {}", r.error ? r.error->localizedDescription : "sign-in did not succeed");
            return done(false);
        }
        sharedRepoStore().userInfoForSourceLocation(location, [location, done](bool failed, const RepoStoreUserInfoResponse& info) {
            if (failed || info.error) {
                ZMLOG("error: {}", info.error ? info.error->localizedDescription : "no user information");
                return done(false);
            }
            if (info.purchases.empty()) ZMLOG("no purchases found for {}", location);
            updatePurchasesForSourceWithLocation(location, info, [location, done](bool written) {
                done(written);
                if (written) postSourceUpdatedLater(location);
            });
        });
    });
}

void ZMRepoStoreAPI::logoutOfSource(const std::string& location, SuccessCompletion completion) {
    sharedRepoStore().userSignoutForSourceLocation(location, [location, completion](bool failed, const RepoStoreSignoutResponse&) {
        if (failed) {
            // Nothing readable came back: the store may still hold the session,
            // so the credentials and marks stay and the user can try again.
            if (completion) completion(false);
            return;
        }
        Dispatch::defaultQueue([location, completion] {
            bool written = write([&](Realm&) { clearOwnedMarks(location); }, "the signed-out marks", location);
            if (completion) completion(written);
        });
        postSourceUpdatedLater(location);
    });
}

void ZMRepoStoreAPI::settleNotPurchased(const std::string& identifier, const std::string& location,
                                        RepoStorePackageInfoResponse response,
                                        Completion<RepoStorePackageInfoResponse> completion) {
    bool owned = false;
    try {
        auto package = ZMRPackage::objectForPrimaryKey(identifier);
        owned = package && package->isPaidThroughSileo.value_or(false);
    } catch (const std::exception& e) {
        ZMLOG("cannot read {}: {}", identifier, e.what());
    }
    if (!owned) return completion(false, response);
    userInfoForSourceLocation(location, [this, identifier, location, response, completion](
                                            bool failed, const RepoStoreUserInfoResponse& user) mutable {
        const bool refused = ZMRepoStoreInternal::isRefusal(user.error);
        if (user.invalidate || refused) {
            // "invalidate" has signed out already.
            if (!user.invalidate) signinRequired(location, "the store refused the user's account");
            response.invalidate = true;
            response.error = user.error;
            return completion(true, response);
        }
        if (failed || user.error) return completion(false, response);
        bool cleared = false;
        write(
            [&](Realm& realm) {
                auto record = realm.objectForPrimaryKey<ZMRPackage>(identifier);
                if (!record || !record->isPaidThroughSileo.value_or(false)) return;
                realm.setValueForKey(*record, "isPaidThroughSileo", false);
                cleared = true;
            },
            "the refused purchase", location);
        if (cleared) {
            ZMLOG("{} is not owned at the store of {} any more", identifier, location);
            ZMPackageOperations::postQueueStateChanged({identifier});
        }
        completion(false, response);
    });
}

void ZMRepoStoreAPI::updadatePurchasedPackagesForSource(const std::string& location) {
    sharedRepoStore().userInfoForSourceLocation(location, [location](bool failed, const RepoStoreUserInfoResponse& info) {
        if (failed || info.error) {
            ZMLOG("error: {}", info.error ? info.error->localizedDescription : "no user information");
            return;
        }
        updatePurchasesForSourceWithLocation(location, info);
    });
}

ZMRepoStoreAPI::EndpointChange ZMRepoStoreAPI::endpointChangeFor(bool failed, const RepoStoreEndpointResponse& response) {
    if (!failed && response.hasEndpoint) return EndpointChange::Set;
    return response.definitive ? EndpointChange::Clear : EndpointChange::Keep;
}

void ZMRepoStoreAPI::storeEndpointChange(const std::string& location, EndpointChange change, const std::string& endpoint) {
    if (change == EndpointChange::Keep) return;
    const bool has = change == EndpointChange::Set;
    write(
        [&](Realm& realm) {
            auto source = realm.objectForPrimaryKey<ZMRSource>(location);
            if (!source) return;
            realm.setValueForKey(*source, "hasEndpoint", has);
            realm.setValueForKey(*source, "endpoint", has ? endpoint : std::string());
        },
        "the payment endpoint", location);
}

void ZMRepoStoreAPI::updateEndpointForSourceLocation(const std::string& location, SuccessCompletion completion) {
    sharedRepoStore().endpointForSourceLocation(location, [location, completion](bool failed, const RepoStoreEndpointResponse& r) {
        Dispatch::defaultQueue([location, failed, r, completion] {
            storeEndpointChange(location, endpointChangeFor(failed, r), r.endpoint);
            if (completion) completion(!failed);
        });
    });
}

void ZMRepoStoreAPI::refreshEndpontsForAllSourcesWithCompletion(SuccessCompletion completion) {
    std::vector<std::string> locations;
    try {
        for (const auto& v : ZMRSource::allObjects().valueForKey("location"))
            if (v.is_string()) locations.push_back(v.get<std::string>());
    } catch (const std::exception& e) {
        ZMLOG("cannot list the sources: {}", e.what());
    }
    if (locations.empty()) {
        if (completion) completion(true);
        return;
    }
    auto remaining = std::make_shared<std::atomic<size_t>>(locations.size());
    for (const auto& location : locations)
        updateEndpointForSourceLocation(location, [remaining, completion](bool) {
            if (--*remaining == 0 && completion) completion(true);
        });
}

void ZMRepoStoreAPI::installFrameworkHooks() {
    // Before any refresh can store another endpoint.
    bindUnboundCredentials();
    // The refreshed hooks are a list shared with others: ours is replaced, never doubled.
    static std::mutex mutex;
    static uint64_t refreshedHook = 0;
    {
        std::lock_guard lock(mutex);
        if (refreshedHook) ZMSourceRefresh::removeRefreshedHook(refreshedHook);
        refreshedHook = ZMSourceRefresh::addRefreshedHook([](const std::string& location) {
            if (userIsAuthenticatedForStoreLocation(location)) updadatePurchasedPackagesForSource(location);
        });
    }
    ZMSourceRefresh::setPaymentEndpointHook([](const std::string& location, auto completion) {
        sharedRepoStore().endpointForSourceLocation(location, [completion](bool failed, const RepoStoreEndpointResponse& r) {
            using Change = ZMSourceRefresh::PaymentEndpoint::Change;
            switch (endpointChangeFor(failed, r)) {
                case EndpointChange::Set: return completion({Change::Set, r.endpoint});
                case EndpointChange::Clear: return completion({Change::Clear, {}});
                case EndpointChange::Keep: return completion({Change::Keep, {}});
            }
        });
    });
    ZMPackageDownloadTask::setPaidDownloadHandler([](const ZMPackageArchive& archive, auto completion) {
        sharedRepoStore().authorizeDownload(archive, std::move(completion));
    });
}
