#include "Services/ZMBackupVostrelleSetupTask.h"

#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Notifications/NotificationCenter.h"
#include "Services/ZMMakerAPI.h"
#include "Services/ZMSetupBackup.h"
#include "ZMPipelineManager.h"

std::shared_ptr<ZMBackupVostrelleSetupTask> ZMBackupVostrelleSetupTask::make(int32_t userID,
                                                                             std::vector<std::string> sources,
                                                                             std::vector<std::string> packages) {
    return std::shared_ptr<ZMBackupVostrelleSetupTask>(
        new ZMBackupVostrelleSetupTask(userID, std::move(sources), std::move(packages)));
}

ZMBackupVostrelleSetupTask::ZMBackupVostrelleSetupTask(int32_t userID, std::vector<std::string> sources,
                                                       std::vector<std::string> packages)
    : userID_(userID),
      sources_(std::move(sources)),
      packages_(std::move(packages)),
      status_(ZMLocalizedString("Waiting for connection...")) {}

std::string ZMBackupVostrelleSetupTask::pipelineID() const { return ZMPipelineSynchronization; }

std::string ZMBackupVostrelleSetupTask::taskDescription() const {
    return ZMLocalizedString("Saving the user setup...");
}

std::string ZMBackupVostrelleSetupTask::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void ZMBackupVostrelleSetupTask::updateVerboseViewWithMessage(const std::string& message, bool isError) {
    ZMPipelineManager::postVerbose(message, isError);
}

void ZMBackupVostrelleSetupTask::setStatus(const std::string& status) {
    {
        std::lock_guard lock(mutex_);
        status_ = status;
    }
    ZMPipelineManager::sharedManager().taskStatusChanged(shared_from_this());
    updateVerboseViewWithMessage(status, false);
}

void ZMBackupVostrelleSetupTask::taskStart() {
    setStatus(ZMLocalizedString("Setting the backup parameters..."));
    if (userID_ <= 0) {
        const std::string text = ZMLocalizedString("You are not signed in.");
        finish(text, ZMMakerAPI::makeError(ZMMakerAPI::SignedOut, text));
        return;
    }
    ZMMakerAPI::Request request;
    request.method = "POST";
    request.path = "setup/savesetup.php";
    request.body = ZMSetupBackup{sources_, packages_}.saveBody(userID_);
    request.programHeaders = true;
    setStatus(ZMLocalizedString("Uploading the backup..."));
    auto self = std::static_pointer_cast<ZMBackupVostrelleSetupTask>(shared_from_this());
    ZMMakerAPI::send(request, [self](ZMMakerAPI::Reply reply) {
        Dispatch::main([self, reply = std::move(reply)] {
            const std::string uploadError =
                ZMLocalizedString("There was an error during the backup upload process, contact us or retry later.");
            if (!reply.ok()) {
                ZMMAKER_LOG_FAILURE(reply.error->localizedDescription());
                self->finish(reply.answered ? uploadError : reply.error->localizedDescription(), reply.error);
            } else if (ZMMakerAPI::displayText(reply.body) == kZMStatusError) {
                self->finish(uploadError, ZMMakerAPI::makeError(ZMMakerAPI::InvalidReply, uploadError));
            } else {
                self->finish(ZMLocalizedString("Vostrelle setup successfully saved."), std::nullopt);
            }
        });
    });
}

void ZMBackupVostrelleSetupTask::finish(const std::string& message, std::optional<ZMError> failure) {
    setStatus(message);
    progress_ = 1.0;
    auto self = shared_from_this();
    ZMPipelineManager::sharedManager().taskProgressChanged(self);
    // After this reply handling: the popup follows the task's last status.
    Dispatch::main([message] {
        NotificationCenter::defaultCenter().post(kVostrelleSetupBackupDoneNotification, {},
                                                 {{"title", "Vostrelle Setup Backup"}, {"message", message}});
    });
    if (failure)
        ZMPipelineManager::sharedManager().taskDoneWithError(self, *failure);
    else
        ZMPipelineManager::sharedManager().taskDoneWithSuccess(self);
}
