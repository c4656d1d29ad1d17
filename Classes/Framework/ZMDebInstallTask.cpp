#include "ZMDebInstallTask.h"

#include <filesystem>

#include "Categories/String+ZemtrixExtensions.h"
#include "Miscellaneous/ZMControlParser.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "ZMPackageOperations.h"
#include "ZMPipelineManager.h"

ZMDebInstallTask::ZMDebInstallTask(std::string path)
    : ZMAPTCommandTask(ZMLocalizedString("Preparing...")), path_(std::move(path)) {}

std::shared_ptr<ZMDebInstallTask> ZMDebInstallTask::make(std::string path) {
    return std::shared_ptr<ZMDebInstallTask>(new ZMDebInstallTask(std::move(path)));
}

std::string ZMDebInstallTask::pipelineID() const { return ZMPipelineZMPInstallOps; }
std::string ZMDebInstallTask::taskLocalizedTitle() const { return ZMLocalizedString("Installing a package"); }
std::string ZMDebInstallTask::taskLocalizedObjectName() const {
    return std::filesystem::path(path_).filename().string();
}

ZMDebInstallTask::Control ZMDebInstallTask::readControl(const std::string& path) {
    Control control;
    // Reading an archive needs no root: dpkg-deb runs as ourselves.
    auto output = ZMCommandRunner::capture({"/usr/bin/dpkg-deb", "--field", path});
    if (!output || !output.value->succeeded()) return control;
    ZMControlParser::forEachStanza(output.value->standardOutput, [&](const ZMControlStanza& stanza) {
        if (auto v = stanza.field("Package")) control.identifier = std::string(*v);
        if (auto v = stanza.field("Version")) control.version = std::string(*v);
        if (auto v = stanza.field("Name")) control.name = ZemtrixExtensions::plainTextLine(*v, 256);
        if (auto v = stanza.field("Post-Install-Action")) control.postInstallAction = std::string(*v);
        return false;
    });
    return control;
}

ZMResult<ZMDebInstallTask::Preview> ZMDebInstallTask::preview(const std::string& path) {
    using Result = ZMResult<Preview>;
    auto staged = ZMAPTManager::stagedArchive(path, true);
    if (!staged) return Result::failure(*staged.error);
    Preview preview;
    preview.archive = *staged.value;
    preview.control = readControl(preview.archive);
    auto fail = [&](ZMError error) {
        std::error_code ec;
        std::filesystem::remove(preview.archive, ec);
        return Result::failure(std::move(error));
    };
    if (!ZMAPTManager::isValidPackageName(preview.control.identifier) ||
        !ZMAPTManager::isValidVersion(preview.control.version))
        return fail(ZMError::make(ZMError::CommandFailed, "Not a package archive: " + path)
                        .withReason(ZMLocalizedString("This file is not a package archive.")));
    auto resolution = ZMAPTManager::dryRunDebFile(preview.archive);
    if (!resolution) return fail(*resolution.error);
    preview.resolution = std::move(*resolution.value);
    return Result::success(std::move(preview));
}

void ZMDebInstallTask::taskStart() {
    auto self = shared_from_this();
    auto& pipeline = ZMPipelineManager::sharedManager();
    Control control = readControl(path_);
    if (!ZMAPTManager::isValidPackageName(control.identifier)) {
        // Not an archive we can name: apt would refuse it too, less clearly.
        pipeline.taskDoneWithError(self, ZMError::make(ZMError::CommandFailed, "Not a package archive: " + path_));
        return;
    }
    auto result = ZMAPTManager::installDebFile(path_, outputHandler(), statusHandler());
    auto scan = ZMPackageOperations::rescanInstalledState();
    if (!scan) ZMLOG("the status rescan after installing {} failed: {}", path_, scan.error->detail);

    std::vector<std::string> touched = {control.identifier};
    if (result) {
        for (auto action : ZMPackageOperations::parsePostInstallActions(control.postInstallAction))
            pipeline.addPostInstallAction(action);
        setProgress(1.0);
        setStatus(ZMLocalizedString("Done"));
        pipeline.taskDone(self, true, std::nullopt, [touched] { ZMPackageOperations::postQueueStateChanged(touched); });
    } else {
        ZMLOG("installing {} failed: {}", path_, result.error->detail);
        pipeline.taskDone(self, false, result.error, [touched] { ZMPackageOperations::postQueueStateChanged(touched); });
    }
}
