#pragma once
// Installs a .deb opened from outside ("zmp.install.ops") with its
// dependencies, through the helper, with the queue run's reporting: status
// and console lines, the status rescan, the package's queue-state
// notification and its post-install actions (its "Post-Install-Action"
// control field). apt-get failing is error 34 with apt's message.
#include <memory>
#include <string>

#include "ZMAPTCommandTask.h"

class ZMDebInstallTask : public ZMAPTCommandTask {
public:
    static std::shared_ptr<ZMDebInstallTask> make(std::string path);

    // The archive's control fields that the task reads (Package, Version,
    // Post-Install-Action), from dpkg-deb; empty when it cannot be read.
    struct Control {
        std::string identifier, version, name, postInstallAction;
    };
    static Control readControl(const std::string& path);

    // What installing the archive at `path` means, for the user to confirm:
    // a copy staged in the downloads directory (what make() then installs,
    // whatever happens to the file meanwhile), its control fields and apt's
    // dry run. Blocks (a helper command): call it off the main thread. An
    // error when the file is no package archive or apt could not resolve.
    struct Preview {
        std::string archive;
        Control control;
        ZMDryRunResult resolution;
    };
    static ZMResult<Preview> preview(const std::string& path);

    const std::string& path() const { return path_; }

    void taskStart() override;
    std::string taskID() const override { return "zmp.install:" + path_; }
    std::string pipelineID() const override;
    std::string taskLocalizedTitle() const override;
    std::string taskLocalizedObjectName() const override;

private:
    explicit ZMDebInstallTask(std::string path);
    const std::string path_;
};
