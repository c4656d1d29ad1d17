#include "PackagesConfirmationViewController.h"

#include <QHBoxLayout>
#include <filesystem>
#include <QVBoxLayout>
#include <mutex>

#include "Database/ZMRPackage.h"
#include "Dispatch/Dispatch.h"
#include "ErrorViewController.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"
#include "ZMPackageQueue.h"
#include "ZMPipelineManager.h"
#include "ZMTasksViewController.h"
#include "ZMStoreGuard.h"

namespace {

std::mutex gResolverMutex;
PackagesConfirmationViewController::Resolver gResolver;

QString qs(const std::string& s) { return QString::fromStdString(s); }

std::string displayName(const std::string& identifier) {
    auto package = ZMStoreGuard::record<ZMRPackage>("reading a package", identifier);
    if (package && !package->name.empty()) return package->name;
    return identifier;
}

std::string versionText(const ZMDependencyDescription& d) {
    if (!d.installedVersion.empty() && !d.version.empty() && d.installedVersion != d.version)
        return d.installedVersion + " \u2192 " + d.version;
    return d.version;
}

}  // namespace

void PackagesConfirmationViewController::setResolver(Resolver resolver) {
    std::lock_guard lock(gResolverMutex);
    gResolver = std::move(resolver);
}

std::vector<PackagesConfirmationViewController::Section> PackagesConfirmationViewController::sectionsForResolution(
    const ZMDryRunResult& result, const std::set<std::string>& queued) {
    using Kind = Section::Kind;
    std::set<std::string> additional;
    for (const auto& d : result.additionalPackages) additional.insert(d.identifier);
    auto row = [&](const ZMDependencyDescription& d) {
        Row r;
        r.identifier = d.identifier;
        r.name = displayName(d.identifier);
        r.version = versionText(d);
        r.queued = queued.count(d.identifier) > 0;
        if (d.operation == ZMDependencyOperation::Unmet)
            r.detail = d.reason;
        else if (additional.count(d.identifier) && !r.queued)
            r.detail = ZMLocalizedString("Dependency");
        return r;
    };
    Section unmet{Kind::Unmet, ZMLocalizedString("Unmet Dependencies"), {}};
    Section install{Kind::Install, ZMLocalizedString("To Install"), {}};
    Section reinstall{Kind::Reinstall, ZMLocalizedString("To Reinstall"), {}};
    Section upgrade{Kind::Upgrade, ZMLocalizedString("To Upgrade"), {}};
    Section downgrade{Kind::Downgrade, ZMLocalizedString("To Downgrade"), {}};
    Section remove{Kind::Remove, ZMLocalizedString("To Remove"), {}};
    for (const auto& d : result.unmetDependencies) unmet.rows.push_back(row(d));
    std::set<std::string> listed;
    auto place = [&](const ZMDependencyDescription& d) {
        if (!listed.insert(d.identifier).second) return;
        switch (d.operation) {
            case ZMDependencyOperation::Upgrade: upgrade.rows.push_back(row(d)); break;
            case ZMDependencyOperation::Downgrade: downgrade.rows.push_back(row(d)); break;
            case ZMDependencyOperation::Reinstall: reinstall.rows.push_back(row(d)); break;
            case ZMDependencyOperation::Remove:
            case ZMDependencyOperation::Purge: remove.rows.push_back(row(d)); break;
            case ZMDependencyOperation::Unmet: unmet.rows.push_back(row(d)); break;
            case ZMDependencyOperation::Install: install.rows.push_back(row(d)); break;
        }
    };
    for (const auto& d : result.allPackagesToInstall) place(d);
    for (const auto& d : result.packagesToUpgrade) place(d);
    for (const auto& d : result.packagesToDowngrade) place(d);
    for (const auto& d : result.packagesToRemove) place(d);
    std::vector<Section> out;
    for (auto* s : {&unmet, &install, &reinstall, &upgrade, &downgrade, &remove})
        if (!s->rows.empty()) out.push_back(std::move(*s));
    return out;
}

PackagesConfirmationViewController::PackagesConfirmationViewController(QWidget* parent)
    : ZMPalettedViewController(parent) {
    setTitle(qs(ZMLocalizedString("Queue")));
    setOverrideLargeTitles(true);
    navigationItem()->setLeftBarButtonItem(new UIBarButtonItem(
        qs(ZMLocalizedString("Cancel")), [this](UIBarButtonItem*) { dismissViewController(true); }, navigationItem()));
}

PackagesConfirmationViewController::~PackagesConfirmationViewController() {
    // The staged copy of an archive that was not installed.
    if (debPreview_ && !debConfirmed_) {
        std::error_code ec;
        std::filesystem::remove(debPreview_->archive, ec);
    }
}

void PackagesConfirmationViewController::setDebFile(const std::string& path) {
    debFile_ = path;
    setTitle(qs(ZMLocalizedString("Install Package")));
}

void PackagesConfirmationViewController::viewDidLoad() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* busy = new QWidget(this);
    auto* busyLayout = new QHBoxLayout(busy);
    busyLayout->setContentsMargins(16, 8, 16, 8);
    statusLbl_ = new QLabel(busy);
    statusLbl_->setObjectName("statusLbl");
    statusLbl_->setWordWrap(true);
    progress_ = new QProgressBar(busy);
    progress_->setObjectName("progressIndicator");
    progress_->setRange(0, 0);  // busy: the dry run tells no progress
    progress_->setTextVisible(false);
    progress_->setMaximumWidth(120);
    busyLayout->addWidget(statusLbl_, 1);
    busyLayout->addWidget(progress_);
    layout->addWidget(busy);

    table_ = new UITableView(UITableView::Style::Grouped, this);
    table_->setObjectName("queueTable");
    table_->registerCell("row", [] { return new UITableViewCell("row"); });
    table_->setDataSource(this);
    table_->setDelegate(this);
    layout->addWidget(table_, 1);

    confirmBtn_ = new QPushButton(qs(ZMLocalizedString("Confirm")), this);
    confirmBtn_->setObjectName("confirmBtn");
    confirmBtn_->setMinimumHeight(44);
    connect(confirmBtn_, &QPushButton::clicked, this, [this] {
        if (resolutionFailed_)
            reloadQueue();
        else
            confirm();
    });
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(16, 8, 16, 12);
    bottom->addWidget(confirmBtn_);
    layout->addLayout(bottom);

    reloadQueue();
}

void PackagesConfirmationViewController::setResolving(bool resolving) {
    resolving_ = resolving;
    if (progress_) progress_->setVisible(resolving);
    if (statusLbl_ && resolving) statusLbl_->setText(qs(ZMLocalizedString("Resolving dependencies…")));
    updateConfirmButton();
}

bool PackagesConfirmationViewController::canConfirm() const {
    return !resolving_ && (isDebFile() ? debPreview_.has_value() : !queue_.empty()) && resolution_ &&
           resolution_->canProceed();
}

void PackagesConfirmationViewController::updateConfirmButton() {
    if (!confirmBtn_) return;
    // A resolution that could not run (apt busy, the tree being rebuilt) can be tried again.
    const bool retry = resolutionFailed_ && !resolving_;
    confirmBtn_->setText(QString::fromStdString(retry ? ZMLocalizedString("Try Again") : ZMLocalizedString("Confirm")));
    confirmBtn_->setEnabled(retry || canConfirm());
}

void PackagesConfirmationViewController::reloadQueue() {
    loadViewIfNeeded();
    resolution_.reset();
    resolutionFailed_ = false;
    sections_.clear();
    const uint64_t generation = ++generation_;
    if (isDebFile()) return resolveDebFile(generation);
    queue_ = ZMPackageQueue::currentQueue();
    if (queue_.empty()) {
        setResolving(false);
        statusLbl_->setText(qs(ZMLocalizedString("The queue is empty.")));
        table_->reloadData();
        return;
    }
    setResolving(true);
    table_->reloadData();
    Resolver resolver;
    {
        std::lock_guard lock(gResolverMutex);
        resolver = gResolver;
    }
    if (!resolver) resolver = [](std::vector<ZMQueueItem> q, std::function<void(ZMResult<ZMDryRunResult>)> done) {
        ZMAPTManager::dryRunAsync(std::move(q), std::move(done));
    };
    QPointer<PackagesConfirmationViewController> self(this);
    auto queue = queue_;
    resolver(queue, [self, generation, queue](ZMResult<ZMDryRunResult> result) {
        // The answer comes on the main thread; the screen may be gone, or the
        // queue may have changed since (then a newer resolution is on its way).
        Dispatch::mainSync([&] {
            if (!self || self->generation_ != generation) return;
            self->showResolution(queue, result);
        });
    });
}

void PackagesConfirmationViewController::showResolution(const std::vector<ZMQueueItem>& queue,
                                                        const ZMResult<ZMDryRunResult>& result) {
    loadViewIfNeeded();
    ++generation_;  // a resolution still on its way is out of date now
    queue_ = queue;
    std::set<std::string> queued;
    for (const auto& item : queue_) queued.insert(item.identifier);
    sections_.clear();
    resolution_.reset();
    resolutionFailed_ = !result.ok();
    if (result.ok()) {
        resolution_ = *result.value;
        sections_ = sectionsForResolution(*result.value, queued);
        if (!resolution_->canProceed())
            statusLbl_->setText(qs(ZMLocalizedString(
                "The queue cannot be carried out: some dependencies are not met. Take packages out of the queue or "
                "add the sources that provide them.")));
        else
            statusLbl_->setText(qs(ZMLocalizedString("Confirm to carry out the queue.")));
    } else {
        // The queued packages stay listed so that they can be taken out.
        Section queuedSection{Section::Kind::Install, ZMLocalizedString("Queued"), {}};
        for (const auto& item : queue_) {
            Row q;
            q.identifier = item.identifier;
            q.name = displayName(item.identifier);
            q.version = item.version;
            q.queued = true;
            queuedSection.rows.push_back(q);
        }
        sections_ = {errorSection(result.error), queuedSection};
        statusLbl_->setText(qs(ZMLocalizedString("The queue could not be resolved.")));
    }
    setResolving(false);
    table_->reloadData();
}

PackagesConfirmationViewController::Section PackagesConfirmationViewController::errorSection(
    const std::optional<ZMError>& error) {
    Section section{Section::Kind::Error, ZMLocalizedString("Error"), {}};
    Row r;
    r.name = error ? error->localizedDescription() : ZMLocalizedString("Unknown error");
    r.detail = error ? error->detail : std::string();
    section.rows.push_back(r);
    return section;
}

void PackagesConfirmationViewController::resolveDebFile(uint64_t generation) {
    setResolving(true);
    table_->reloadData();
    QPointer<PackagesConfirmationViewController> self(this);
    Dispatch::backgroundQueue([self, generation, path = debFile_] {
        auto result = ZMDebInstallTask::preview(path);
        Dispatch::main([self, generation, result = std::move(result)] {
            if (self && self->generation_ == generation) self->showDebPreview(result);
            else if (result) {
                std::error_code ec;  // nobody waits for it any more
                std::filesystem::remove(result.value->archive, ec);
            }
        });
    });
}

void PackagesConfirmationViewController::showDebPreview(const ZMResult<ZMDebInstallTask::Preview>& result) {
    loadViewIfNeeded();
    ++generation_;
    sections_.clear();
    resolution_.reset();
    debPreview_.reset();
    resolutionFailed_ = !result.ok();
    if (result.ok()) {
        debPreview_ = *result.value;
        resolution_ = debPreview_->resolution;
        sections_ = sectionsForResolution(*resolution_, {});
        const auto& control = debPreview_->control;
        const std::string file = std::filesystem::path(debFile_).filename().string();
        if (resolution_->canProceed())
            statusLbl_->setText(qs(ZMLocalization::format(
                "Install %@ %@ from the file %@?", {control.name.empty() ? control.identifier : control.name,
                                                    control.version, file})));
        else
            statusLbl_->setText(qs(ZMLocalizedString(
                "This package cannot be installed: some dependencies are not met. Add the sources that provide them.")));
    } else {
        sections_ = {errorSection(result.error)};
        statusLbl_->setText(qs(ZMLocalizedString("This file cannot be installed.")));
    }
    setResolving(false);
    table_->reloadData();
}

void PackagesConfirmationViewController::takeOutOfQueue(const std::string& identifier) {
    ZMPackageQueue::removeFromQueue(identifier);
    if (delegate_) delegate_->updateUI();
    reloadQueue();
}

bool PackagesConfirmationViewController::confirm() {
    if (!canConfirm()) return false;
    std::optional<ZMError> error;
    if (debPreview_) {
        if (ZMPipelineManager::sharedManager().queueTask(ZMDebInstallTask::make(debPreview_->archive)))
            debConfirmed_ = true;
        else
            error = ZMError::make(ZMError::CommandFailed, "This package is already being installed");
    } else {
        error = ZMPackageQueue::startRun(queue_, *resolution_);
    }
    if (error) {
        ZMLOG("queue not started: {}", error->debugDescription());
        auto* popup = new ErrorViewController;
        popup->setDelegate(this);
        popup->showWithTitle(ZMLocalizedString("Error"), error->localizedDescription(), 1, ZMLocalizedString("OK"));
        presentViewController(popup, true);
        return false;
    }
    confirmBtn_->setEnabled(false);
    auto handler = runStarted_;
    // Shown inside a navigation controller, that one is what was presented.
    UIViewController* dismisser = navigationController() ? static_cast<UIViewController*>(navigationController()) : this;
    QPointer<UIViewController> presenterGuard(dismisser->presentingViewController());
    dismisser->dismissViewController(true, [handler, presenterGuard] {
        if (handler) {
            handler();
        } else if (presenterGuard) {
            presenterGuard->presentViewController(ZMTasksViewController::makeTaskScreens(), true);
        }
    });
    return true;
}

int PackagesConfirmationViewController::numberOfSections(UITableView*) { return static_cast<int>(sections_.size()); }

int PackagesConfirmationViewController::numberOfRows(UITableView*, int section) {
    return section < static_cast<int>(sections_.size()) ? static_cast<int>(sections_[section].rows.size()) : 0;
}

std::optional<QString> PackagesConfirmationViewController::titleForHeader(UITableView*, int section) {
    if (section >= static_cast<int>(sections_.size())) return std::nullopt;
    return qs(sections_[section].title);
}

double PackagesConfirmationViewController::heightForRow(UITableView*, IndexPath) {
    return UITableView::kAutomaticDimension;
}

UITableViewCell* PackagesConfirmationViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = table->dequeueReusableCell("row");
    const auto& section = sections_.at(ip.section);
    const Row& row = section.rows.at(ip.row);
    QString title = qs(row.name);
    if (!row.version.empty()) title += "  " + qs(row.version);
    cell->textLabel()->setText(title);
    cell->textLabel()->setWordWrap(true);
    QString detail = qs(row.detail);
    if (row.queued && section.kind != Section::Kind::Error && detail.isEmpty()) detail = qs(row.identifier);
    cell->detailTextLabel()->setText(detail);
    cell->detailTextLabel()->setWordWrap(true);
    cell->detailTextLabel()->setVisible(!detail.isEmpty());
    const auto p = palette();
    QColor detailColor = section.kind == Section::Kind::Unmet || section.kind == Section::Kind::Error
                             ? QColor(Qt::red)
                             : p.secondaryTextColor();
    cell->detailTextLabel()->setStyleSheet(QString("color: %1").arg(detailColor.name()));
    cell->textLabel()->setStyleSheet(QString("color: %1").arg(p.primaryTextColor().name()));
    cell->setSelectionStyle(UITableViewCell::SelectionStyle::None);
    return cell;
}

std::vector<UIContextualAction> PackagesConfirmationViewController::trailingSwipeActions(UITableView*, IndexPath ip) {
    if (ip.section >= static_cast<int>(sections_.size())) return {};
    const Row& row = sections_[ip.section].rows.at(ip.row);
    if (!row.queued || row.identifier.empty()) return {};
    UIContextualAction action;
    action.style = UIContextualAction::Style::Destructive;
    action.title = qs(ZMLocalizedString("Remove from Queue"));
    std::string identifier = row.identifier;
    QPointer<PackagesConfirmationViewController> self(this);
    action.handler = [self, identifier](const UIContextualAction&, QWidget*, std::function<void(bool)> completion) {
        if (completion) completion(true);
        // After the swipe has finished with the row: the reload replaces it.
        Dispatch::main([self, identifier] {
            if (self) self->takeOutOfQueue(identifier);
        });
    };
    return {action};
}

void PackagesConfirmationViewController::paletteDidChange(const ZMPalette& p) {
    if (!table_) return;
    table_->setBackgroundColor(p.backgroundColor());
    statusLbl_->setStyleSheet(QString("color: %1").arg(p.secondaryTextColor().name()));
    table_->reloadData();
}
