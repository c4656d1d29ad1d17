#pragma once
// The package's options sheet, "What would you like to do?", and the share
// sheets of packages and sources. ZMVostrelle's presentOptions, sharePackage,
// shareAllSources and shareSourceWithLocation call these.
#include <QPointer>
#include <functional>
#include <optional>
#include <string>

#include "Miscellaneous/ZMError.h"
#include "UIKit/UIAlertController.h"

class ZMPackageOptionsSheet {
public:
    // The queue entry point (ZMVostrelle::queuePackageWithIdentifier); by
    // default the package is marked directly.
    using QueueFunction = std::function<void(const std::string& identifier, const std::optional<std::string>& version)>;
    static void setQueueFunction(QueueFunction queue);
    // Holds a package (no updates offered) or releases it; the completion runs
    // on the main thread. By default apt-mark through the helper, then the
    // record's isHeld.
    using HoldFunction = std::function<void(const std::string& identifier, bool held,
                                            std::function<void(std::optional<ZMError>)> completion)>;
    static void setHoldFunction(HoldFunction hold);

    // Builds the sheet for a package; nullptr when there is no such package.
    // The caller presents it (ZMVostrelle anchors it on the sender).
    static UIAlertController* optionsSheet(const std::string& identifier, UIViewController* presenter);
    // The version picker the "Select Version" entry opens.
    static UIAlertController* versionSheet(const std::string& identifier);

    // Share sheets (nullptr for a package that does not exist).
    static UIViewController* packageShareSheet(const std::string& identifier);
    static UIViewController* allSourcesShareSheet();
    static UIViewController* sourceShareSheet(const std::string& location);

    // Queues / holds as the entries do (also used by tests).
    static void queue(const std::string& identifier, const std::optional<std::string>& version);
    static void queueRemoval(const std::string& identifier);
    static void setHeld(const std::string& identifier, bool held, UIViewController* presenter);
};
