#include "Services/ZMSetupBackup.h"

#include <nlohmann/json.hpp>

#include "Database/ZMRPackageManager.h"
#include "Foundation/AtomicFile.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "Services/ZMAccount.h"
#include "Services/ZMBackupVostrelleSetupTask.h"
#include "Services/ZMMakerAPI.h"
#include "ZMPipelineManager.h"

namespace {

std::optional<std::vector<std::string>> texts(const nlohmann::json& document, const char* key) {
    auto it = document.find(key);
    if (it == document.end()) return std::vector<std::string>();
    if (!it->is_array()) return std::nullopt;
    std::vector<std::string> out;
    for (const auto& value : *it) {
        if (!value.is_string()) return std::nullopt;
        out.push_back(value.get<std::string>());
    }
    return out;
}

ZMError retrievalError() {
    return ZMMakerAPI::makeError(
        ZMMakerAPI::InvalidReply,
        ZMLocalizedString("There was an error during the backup retrieval, contact us or retry later."));
}

}  // namespace

ZMSetupBackup ZMSetupBackup::current() {
    auto& manager = ZMRPackageManager::sharedPackageManager();
    ZMSetupBackup backup;
    backup.sources = manager.sources().arrayOfConfiguredSources();
    backup.packages = manager.packages().arrayOfInstalledPackagesByIdentifier();
    return backup;
}

std::string ZMSetupBackup::jsonText() const {
    nlohmann::json document = {{"sources", sources}, {"packages", packages}};
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::optional<ZMSetupBackup> ZMSetupBackup::parse(const std::string& bytes) {
    auto document = ZMMakerAPI::parseJSON(bytes);
    if (!document || !document->is_object()) return std::nullopt;
    auto sources = texts(*document, "sources");
    auto packages = texts(*document, "packages");
    if (!sources || !packages) return std::nullopt;
    return ZMSetupBackup{std::move(*sources), std::move(*packages)};
}

std::string ZMSetupBackup::saveBody(int32_t userID) const {
    ZMMakerAPI::Fields fields = {{"key", ZMMakerAPI::kClientKey}, {"userID", std::to_string(userID)}};
    for (const auto& source : sources) fields.push_back({"sources[]", source});
    for (const auto& package : packages) fields.push_back({"packages[]", package});
    // The server's form reader expects every pair closed by "&".
    return ZMMakerAPI::encodeFields(fields, ZMMakerAPI::Blank::Percent20) + "&";
}

std::string ZMSetupBackup::localBackupPath() { return ZMPaths::applicationSupport() + "/local_backup.txt"; }

ZMResult<std::string> ZMSetupBackup::backupLocally() {
    const std::string path = localBackupPath();
    std::string why;
    try {
        ZMPaths::createDirectories(ZMPaths::applicationSupport());
        if (AtomicFile::write(path, current().jsonText(), 0600, &why)) return ZMResult<std::string>::success(path);
    } catch (const std::exception& e) {
        why = e.what();
    }
    ZMLOG("local backup not written to {}: {}", path, why);
    std::string text = ZMLocalizedString("The backup could not be written; the previous backup is unchanged.");
    return ZMResult<std::string>::failure(ZMMakerAPI::makeError(ZMMakerAPI::InvalidReply, text + " (" + why + ")"));
}

bool ZMSetupBackup::backupOnline() {
    auto& account = ZMAccount::instance();
    if (!account.isSignedIn()) return false;
    auto backup = current();
    auto task =
        ZMBackupVostrelleSetupTask::make(account.returnUserID(), std::move(backup.sources), std::move(backup.packages));
    return ZMPipelineManager::sharedManager().queueTask(task);
}

void ZMSetupBackup::fetchOnlineBackup(std::function<void(ZMResult<std::string> bytes)> completion) {
    auto& account = ZMAccount::instance();
    if (!account.isSignedIn()) {
        completion(ZMResult<std::string>::failure(retrievalError()));
        return;
    }
    auto request =
        ZMMakerAPI::postForm("setup/retrievesetup.php",
                             {{"key", ZMMakerAPI::kClientKey}, {"userID", std::to_string(account.returnUserID())}});
    ZMMakerAPI::send(request, [completion = std::move(completion)](ZMMakerAPI::Reply reply) {
        if (!reply.ok()) {
            ZMMAKER_LOG_FAILURE(reply.error->localizedDescription());
            // No answer: the transport says why; a refusing server gets the fixed text.
            completion(ZMResult<std::string>::failure(reply.answered ? retrievalError() : *reply.error));
            return;
        }
        if (ZMMakerAPI::displayText(reply.body) == kZMStatusError) {
            ZMMAKER_LOG_FAILURE("the server has no backup for this account");
            completion(ZMResult<std::string>::failure(retrievalError()));
            return;
        }
        completion(ZMResult<std::string>::success(std::move(reply.body)));
    });
}
