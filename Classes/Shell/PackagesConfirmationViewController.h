#pragma once
// The queue confirmation screen: builds the queue from the queue marks, has
// apt-get resolve it in a dry run on a background queue (with a progress
// indicator meanwhile), and lists what will be installed, reinstalled,
// upgraded, downgraded and removed, and the unmet dependencies with apt's
// reasons. A queued package can be taken out of the queue (swipe or context
// menu): the delegate's updateUI() follows and the queue is resolved again.
// "Confirm" is offered only for a resolution without unmet dependencies; it
// hands the queue to ZMPackageQueue::startRun (downloads, then the run) and
// closes the screen. A resolution that could not run offers "Try Again".
//
// Given a local .deb file instead (setDebFile), the screen shows what
// installing it means: the package and its version, and what the dry run
// installs, upgrades or removes with it; "Confirm" installs that archive.
// Nothing is installed without the user's confirmation.
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Notifications/NotificationCenter.h"
#include "PackagesConfirmationViewControllerDelegate.h"
#include "UIKit/UITableView.h"
#include "ZMAPTManager.h"
#include "ZMDebInstallTask.h"
#include "ZMErrorDelegate.h"
#include "ZMPalettedViewController.h"

class PackagesConfirmationViewController : public ZMPalettedViewController,
                                           public UITableViewDataSource,
                                           public UITableViewDelegate,
                                           public ZMErrorDelegate {
    Q_OBJECT
public:
    struct Row {
        std::string identifier;
        std::string name;     // the record's name, else the identifier
        std::string version;  // "1.0", "1.0 → 1.1" for upgrades and downgrades
        std::string detail;   // "Dependency", apt's reason for an unmet dependency
        bool queued = false;  // in the queue marks: can be taken out
    };
    struct Section {
        enum class Kind { Install, Reinstall, Upgrade, Downgrade, Remove, Unmet, Error };
        Kind kind;
        std::string title;  // localized
        std::vector<Row> rows;
    };

    // The sections of a resolution, empty ones left out, in the order Unmet,
    // Install, Reinstall, Upgrade, Downgrade, Remove. Names come from the
    // package records.
    static std::vector<Section> sectionsForResolution(const ZMDryRunResult& result,
                                                      const std::set<std::string>& queuedIdentifiers);

    // How the queue is resolved; by default ZMAPTManager::dryRunAsync.
    using Resolver = std::function<void(std::vector<ZMQueueItem>, std::function<void(ZMResult<ZMDryRunResult>)>)>;
    static void setResolver(Resolver resolver);

    explicit PackagesConfirmationViewController(QWidget* parent = nullptr);
    ~PackagesConfirmationViewController() override;

    void setDelegate(PackagesConfirmationViewControllerDelegate* delegate) { delegate_ = delegate; }
    // After "Confirm" has handed the queue over and the screen has closed; by
    // default the task screens are presented from the window's top screen.
    void setRunStartedHandler(std::function<void()> handler) { runStarted_ = std::move(handler); }

    // A local archive to confirm instead of the queue (before the view loads).
    void setDebFile(const std::string& path);
    bool isDebFile() const { return !debFile_.empty(); }
    const std::optional<ZMDebInstallTask::Preview>& debPreview() const { return debPreview_; }

    // Reads the queue marks again (or the archive) and resolves them (also
    // done on load).
    void reloadQueue();
    // Shows a resolution of `queue` (what the resolver's completion calls).
    void showResolution(const std::vector<ZMQueueItem>& queue, const ZMResult<ZMDryRunResult>& result);
    // Takes a package out of the queue, tells the delegate, resolves again.
    void takeOutOfQueue(const std::string& identifier);
    // "Confirm": false (and an error popup) when the queue could not be handed over.
    bool confirm();

    bool isResolving() const { return resolving_; }
    bool canConfirm() const;
    const std::vector<Section>& sections() const { return sections_; }
    const std::vector<ZMQueueItem>& queue() const { return queue_; }
    QPushButton* confirmButton() const { return confirmBtn_; }
    QProgressBar* progressIndicator() const { return progress_; }
    QLabel* statusLabel() const { return statusLbl_; }
    UITableView* tableView() const { return table_; }

    // UITableViewDataSource / UITableViewDelegate
    int numberOfSections(UITableView*) override;
    int numberOfRows(UITableView*, int section) override;
    UITableViewCell* cellForRow(UITableView*, IndexPath indexPath) override;
    std::optional<QString> titleForHeader(UITableView*, int section) override;
    double heightForRow(UITableView*, IndexPath) override;
    std::vector<UIContextualAction> trailingSwipeActions(UITableView*, IndexPath) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;

private:
    void setResolving(bool resolving);
    void updateConfirmButton();
    void resolveDebFile(uint64_t generation);
    void showDebPreview(const ZMResult<ZMDebInstallTask::Preview>& result);
    // The error rows of a resolution that could not run.
    static Section errorSection(const std::optional<ZMError>& error);
    PackagesConfirmationViewControllerDelegate* delegate_ = nullptr;
    std::function<void()> runStarted_;
    std::vector<ZMQueueItem> queue_;
    std::optional<ZMDryRunResult> resolution_;
    std::string debFile_;
    std::optional<ZMDebInstallTask::Preview> debPreview_;
    bool debConfirmed_ = false;
    std::vector<Section> sections_;
    uint64_t generation_ = 0;
    bool resolving_ = false;
    bool resolutionFailed_ = false;
    UITableView* table_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* statusLbl_ = nullptr;
    QPushButton* confirmBtn_ = nullptr;
};
