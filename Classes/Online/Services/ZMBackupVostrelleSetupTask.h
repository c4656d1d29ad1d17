#pragma once
// The pipeline task that uploads a setup backup (ZMSetupBackup) to the
// maker's server: taskID "Setup-Backup" (a second backup while one runs is
// ignored), pipeline "synchronization", description "Saving the user setup...".
//
// Steps: status "Waiting for connection..." while queued, "Setting the
// backup parameters...", "Uploading the backup...", then the final message:
//   "Vostrelle setup successfully saved."          the server took it (2xx, not "Error")
//   "There was an error during the backup upload process, contact us or retry later."
//                                                   the server answered "Error" or outside 2xx
//   the transport's description                     no answer
// Each step also goes to the verbose console. At the end the progress is 1.0
// and, on the main thread after the reply handling, kVostrelleSetupBackupDone
// Notification goes out with {"title": "Vostrelle Setup Backup", "message"}:
// the shell shows it as the one popup of the backup. The task ends failed on
// a failure (the shell shows no second popup for this task ID); a signed-out
// task (user ID 0) sends nothing and fails.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Miscellaneous/ZMError.h"
#include "ZMTask.h"

// Posted on the main thread with user info "title" and "message".
inline constexpr const char* kVostrelleSetupBackupDoneNotification = "VostrelleSetupBackupDone";

class ZMBackupVostrelleSetupTask : public ZMTask {
public:
    static constexpr const char* kTaskID = "Setup-Backup";

    static std::shared_ptr<ZMBackupVostrelleSetupTask> make(int32_t userID, std::vector<std::string> sources,
                                                            std::vector<std::string> packages);

    int32_t userID() const { return userID_; }
    const std::vector<std::string>& sources() const { return sources_; }
    const std::vector<std::string>& packages() const { return packages_; }
    std::string status() const;

    void taskStart() override;
    std::string taskID() const override { return kTaskID; }
    std::string pipelineID() const override;
    std::string taskDescription() const override;
    double taskProgress() const override { return progress_; }

    // Posts a "UpdateVerboseView" line.
    static void updateVerboseViewWithMessage(const std::string& message, bool isError);

private:
    ZMBackupVostrelleSetupTask(int32_t userID, std::vector<std::string> sources, std::vector<std::string> packages);
    void setStatus(const std::string& status);
    void finish(const std::string& message, std::optional<ZMError> failure);

    const int32_t userID_;
    const std::vector<std::string> sources_;
    const std::vector<std::string> packages_;
    mutable std::mutex mutex_;
    std::string status_;
    std::atomic<double> progress_{0.0};
};
