#include "ZMPackageOperations.h"

#include "ZMDpkgStatusScanner.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "Database/ZMRPackage.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLog.h"
#include "Notifications/NotificationCenter.h"
#include "Realm/Realm.h"

ZMResult<ZMDpkgStatusScan> ZMPackageOperations::rescanInstalledState() {
    auto scan = ZMDpkgStatus::read();
    if (!scan) return scan;
    if (auto applied = ZMDpkgStatusScanner::apply(*scan.value); !applied)
        return ZMResult<ZMDpkgStatusScan>::failure(*applied.error);
    return scan;
}

void ZMPackageOperations::postQueueStateChanged(const std::vector<std::string>& identifiers) {
    for (const auto& identifier : identifiers)
        NotificationCenter::defaultCenter().postOnMain(ZMQueueStateNotificationPrefix + identifier, identifier,
                                                       {{"identifier", identifier}});
}

std::set<ZMPostInstallAction> ZMPackageOperations::parsePostInstallActions(const std::string& text) {
    std::set<ZMPostInstallAction> actions;
    std::string word;
    auto flush = [&] {
        std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
        if (word == "respring") actions.insert(ZMPostInstallAction::Respring);
        else if (word == "reboot") actions.insert(ZMPostInstallAction::Reboot);
        else if (word == "uicache") actions.insert(ZMPostInstallAction::RefreshIcons);
        word.clear();
    };
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == ',' || c == '\n' || c == '\r') flush();
        else word += c;
    }
    flush();
    return actions;
}

bool ZMPackageOperations::isErrorLine(const std::string& line, bool fromStandardError) {
    // apt hands dpkg a terminal of its own and copies what it writes to
    // standard output: dpkg's errors arrive there.
    if (!fromStandardError) return line.rfind("dpkg: error", 0) == 0 || line.rfind("E: ", 0) == 0;
    return line.rfind("W: ", 0) != 0 && line.rfind("N: ", 0) != 0;
}

ZMResult<bool> ZMPackageOperations::setHeld(const std::string& identifier, bool held) {
    auto result = held ? ZMAPTManager::hold(identifier) : ZMAPTManager::unhold(identifier);
    if (!result) return ZMResult<bool>::failure(*result.error);
    try {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            if (auto record = realm->objectForPrimaryKey<ZMRPackage>(identifier)) realm->setValueForKey(*record, "isHeld", held);
        });
    } catch (const std::exception& e) {
        // The record keeps the old state: so does dpkg, so that the two agree
        // and the next status scan does not bring back what was not done.
        auto undone = held ? ZMAPTManager::unhold(identifier) : ZMAPTManager::hold(identifier);
        if (!undone) ZMLOG("could not take back the {} of {}: {}", held ? "hold" : "unhold", identifier, undone.error->detail);
        return ZMResult<bool>::failure(ZMError::storeFailure(e.what()));
    }
    return ZMResult<bool>::success(held);
}

void ZMPackageOperations::setHeldAsync(const std::string& identifier, bool held,
                                       std::function<void(ZMResult<bool>)> completion) {
    Dispatch::backgroundQueue([identifier, held, completion = std::move(completion)] {
        auto result = setHeld(identifier, held);
        if (!result) ZMLOG("{} of {} failed: {}", held ? "hold" : "unhold", identifier, result.error->detail);
        if (completion) Dispatch::main([completion, result] { completion(result); });
    });
}

void ZMPackageOperations::repairAtLaunch(std::function<void(ZMResult<bool>)> completion) {
    Dispatch::backgroundQueue([completion = std::move(completion)] {
        auto result = ZMAPTManager::repairIfNeeded([](const std::string& line, bool isError) {
            ZMPipelineManager::postVerbose(line, isErrorLine(line, isError));
        });
        if (!result) {
            ZMLOG("the launch repair failed: {}", result.error->detail);
            ZMPipelineManager::postVerbose(result.error->detail, true);
        }
        if (!result || *result.value) {
            // Whatever the repair did or failed to do, the records follow dpkg.
            auto scan = rescanInstalledState();
            if (scan) {
                std::vector<std::string> names;
                for (const auto& p : scan.value->packages) names.push_back(p.identifier);
                postQueueStateChanged(names);
            }
        }
        if (completion) Dispatch::main([completion, result] { completion(result); });
    });
}
