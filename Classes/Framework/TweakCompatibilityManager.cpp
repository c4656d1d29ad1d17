#include "TweakCompatibilityManager.h"

#include "Miscellaneous/ZMJSON.h"

#include <plist/plist.h>

#include <cstdlib>
#include <future>

#include <nlohmann/json.hpp>

#include "Categories/URLRequest+ZemtrixExtensions.h"
#include "Database/ZMRPackage.h"
#include "Dispatch/Dispatch.h"
#include "Foundation/AtomicFile.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "Miscellaneous/ZMPlatform.h"

namespace {

std::optional<int64_t> statusValue(const nlohmann::json& v) {
    if (v.is_number_integer()) {
        int64_t s = v.get<int64_t>();
        if (s >= 0 && s <= 2) return s;
        return std::nullopt;
    }
    if (!v.is_string()) return std::nullopt;
    std::string s = v.get<std::string>();
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (s == "working") return TweakCompatibilityManager::Working;
    if (s == "not working" || s == "notworking" || s == "broken") return TweakCompatibilityManager::NotWorking;
    if (s == "unknown" || s == "no verdict") return TweakCompatibilityManager::NoVerdict;
    return std::nullopt;
}

// "12" covers "12", "12.4" and "12.4.1", not "120".
bool firmwareMatches(const std::string& pattern, const std::string& firmware) {
    if (pattern == firmware) return true;
    return firmware.size() > pattern.size() && firmware.compare(0, pattern.size(), pattern) == 0 &&
           firmware[pattern.size()] == '.';
}

}  // namespace

TweakCompatibilityManager& TweakCompatibilityManager::instance() {
    static TweakCompatibilityManager manager;
    return manager;
}

TweakCompatibilityManager::TweakCompatibilityManager() = default;

void TweakCompatibilityManager::setListURL(std::optional<std::string> url) {
    std::lock_guard lock(mutex_);
    url_ = std::move(url);
    urlSet_ = url_.has_value();
}

std::optional<std::string> TweakCompatibilityManager::listURL() const {
    {
        std::lock_guard lock(mutex_);
        if (urlSet_) return url_->empty() ? std::nullopt : url_;
    }
    const char* env = std::getenv("VOSTRELLE_COMPAT_URL");
    if (env && *env) return std::string(env);
    return std::nullopt;
}

std::string TweakCompatibilityManager::listFilePath() { return ZMPaths::applicationSupport() + "/tweak_compatible.plist"; }

ZMResult<TweakCompatibilityManager::Table> TweakCompatibilityManager::parseList(const std::string& text) {
    auto document = ZMJSON::parse(text);
    nlohmann::json parsed = document ? std::move(*document) : nlohmann::json();
    // Moved out, not copied: the list may be large.
    if (parsed.is_object() && parsed.contains("packages")) parsed = nlohmann::json(std::move(parsed["packages"]));
    if (!parsed.is_array())
        return ZMResult<Table>::failure(ZMError::make(ZMError::InvalidServerData, "compatibility list is not a JSON array"));
    Table table;
    size_t skipped = 0;
    for (const auto& entry : parsed) {
        if (!entry.is_object() || !entry.contains("identifier") || !entry["identifier"].is_string() ||
            !entry.contains("firmware") || !entry["firmware"].is_string() || !entry.contains("status")) {
            ++skipped;
            continue;
        }
        auto status = statusValue(entry["status"]);
        const std::string identifier = entry["identifier"].get<std::string>();
        const std::string firmware = entry["firmware"].get<std::string>();
        std::string version = "*";
        if (entry.contains("version")) {
            if (!entry["version"].is_string()) status.reset();
            else version = entry["version"].get<std::string>();
        }
        if (!status || identifier.empty() || firmware.empty() || version.empty()) {
            ++skipped;
            continue;
        }
        table[identifier][version][firmware] = *status;
    }
    if (skipped) ZMLOG("compatibility list: {} entries skipped", skipped);
    return ZMResult<Table>::success(std::move(table));
}

void TweakCompatibilityManager::reloadFromFile() {
    Table table;
    std::string text;
    if (AtomicFile::read(listFilePath(), text) && !text.empty()) {
        plist_t root = nullptr;
        plist_from_memory(text.data(), static_cast<uint32_t>(text.size()), &root);
        if (root && plist_get_node_type(root) == PLIST_DICT) {
            auto forEach = [](plist_t dict, const std::function<void(const std::string&, plist_t)>& body) {
                plist_dict_iter it = nullptr;
                plist_dict_new_iter(dict, &it);
                while (true) {
                    char* key = nullptr;
                    plist_t value = nullptr;
                    plist_dict_next_item(dict, it, &key, &value);
                    if (!key) break;
                    std::string k(key);
                    free(key);
                    body(k, value);
                }
                free(it);
            };
            forEach(root, [&](const std::string& identifier, plist_t versions) {
                if (plist_get_node_type(versions) != PLIST_DICT) return;
                forEach(versions, [&](const std::string& version, plist_t firmwares) {
                    if (plist_get_node_type(firmwares) != PLIST_DICT) return;
                    forEach(firmwares, [&](const std::string& firmware, plist_t status) {
                        if (plist_get_node_type(status) != PLIST_UINT) return;
                        uint64_t value = 0;
                        plist_get_uint_val(status, &value);
                        if (value <= 2) table[identifier][version][firmware] = static_cast<int64_t>(value);
                    });
                });
            });
        } else if (!text.empty()) {
            ZMLOG("{} is not a compatibility list", listFilePath());
        }
        if (root) plist_free(root);
    }
    std::lock_guard lock(mutex_);
    table_ = std::move(table);
}

std::optional<ZMError> TweakCompatibilityManager::storeList(const Table& table) {
    plist_t root = plist_new_dict();
    for (const auto& [identifier, versions] : table) {
        plist_t v = plist_new_dict();
        for (const auto& [version, firmwares] : versions) {
            plist_t f = plist_new_dict();
            for (const auto& [firmware, status] : firmwares)
                plist_dict_set_item(f, firmware.c_str(), plist_new_uint(static_cast<uint64_t>(status)));
            plist_dict_set_item(v, version.c_str(), f);
        }
        plist_dict_set_item(root, identifier.c_str(), v);
    }
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    plist_free(root);
    std::string text(xml ? xml : "", length);
    free(xml);
    ZMPaths::createDirectories(ZMPaths::applicationSupport());
    std::string error;
    if (!AtomicFile::write(listFilePath(), text, 0644, &error))
        return ZMError::make(ZMError::Unknown, "cannot write " + listFilePath() + ": " + error);
    {
        std::lock_guard lock(mutex_);
        table_ = table;
    }
    try {
        applyToRecords();
    } catch (const std::exception& e) {
        return ZMError::make(ZMError::Unknown, e.what());
    }
    return std::nullopt;
}

int64_t TweakCompatibilityManager::statusForBundle(const std::string& identifier, const std::string& version) const {
    return statusForBundle(identifier, version, ZMPlatform::firmwareVersion());
}

int64_t TweakCompatibilityManager::statusForBundle(const std::string& identifier, const std::string& version,
                                                   const std::string& firmware) const {
    std::lock_guard lock(mutex_);
    auto package = table_.find(identifier);
    if (package == table_.end()) return NoVerdict;
    // A verdict for this very version wins over one for every version.
    for (const std::string& key : {version, std::string("*")}) {
        auto v = package->second.find(key);
        if (v == package->second.end()) continue;
        // The most specific firmware pattern that matches.
        const std::string* best = nullptr;
        int64_t status = NoVerdict;
        for (const auto& [pattern, s] : v->second) {
            if (firmwareMatches(pattern, firmware) && (!best || pattern.size() > best->size())) {
                best = &pattern;
                status = s;
            }
        }
        if (best) return status;
    }
    return NoVerdict;
}

size_t TweakCompatibilityManager::applyToRecords() const {
    const std::string firmware = ZMPlatform::firmwareVersion();
    size_t changed = 0;
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] {
        auto all = realm->objects<ZMRPackage>();
        auto ids = all.sortedResultsUsingKeyPath("identifier", true);
        auto identifiers = ids.valueForKey("identifier");
        auto versions = ids.valueForKey("version");
        auto statuses = ids.valueForKey("tweakCompatibleStatus");
        for (size_t i = 0; i < identifiers.size(); ++i) {
            if (!identifiers[i].is_string()) continue;
            const std::string version = versions[i].is_string() ? versions[i].get<std::string>() : "";
            const int64_t status = statusForBundle(identifiers[i].get<std::string>(), version, firmware);
            if (statuses[i].is_number_integer() && statuses[i].get<int64_t>() == status) continue;
            if (auto record = realm->objectForPrimaryKey<ZMRPackage>(identifiers[i].get<std::string>())) {
                realm->setValueForKey(*record, "tweakCompatibleStatus", status);
                ++changed;
            }
        }
    });
    return changed;
}

void TweakCompatibilityManager::updateCompatibilityList(std::function<void(std::optional<ZMError>)> completion) {
    auto url = listURL();
    Dispatch::backgroundQueue([this, url, completion] {
        std::optional<ZMError> failure;
        if (!url) {
            failure = storeList({});
        } else if (auto request = URLRequestZemtrix::VostrelleGetRequestWithString(*url); !request) {
            failure = ZMError::make(ZMError::InvalidServerData, "compatibility list URL is not a URL");
        } else {
            request->maximumBodySize = 32u << 20;
            auto promise = std::make_shared<std::promise<std::optional<ZMError>>>();
            auto future = promise->get_future();
            auto configuration = URLSessionConfiguration::noCacheConfigureation();
            configuration.timeoutIntervalForResource = 120;  // a trickling host is not waited on for ever
            auto session = URLSession::sessionWithConfiguration(configuration);
            session->dataTaskWithRequest(*request, [this, promise](std::string data, std::optional<URLResponse> response,
                                                                   std::optional<ZMError> error) {
                if (error) return promise->set_value(ZMError::make(ZMError::NoNetwork, error->detail));
                if (!response || !response->isSuccess())
                    return promise->set_value(ZMError::make(
                        ZMError::InvalidServerData,
                        "compatibility list: HTTP " + std::to_string(response ? response->statusCode : 0)));
                auto table = parseList(data);
                if (!table) return promise->set_value(table.error);
                promise->set_value(storeList(*table.value));
            })->resume();
            failure = future.get();
        }
        if (failure) ZMLOG("compatibility list not updated: {}", failure->debugDescription());
        if (completion) Dispatch::main([completion, failure] { completion(failure); });
    });
}
