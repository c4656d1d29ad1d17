#pragma once
// Picking what to restore of a setup backup: the backup's sources and
// packages in two tables, each row checked when it is selected (at first:
// what is missing here), with "Selected (n)" above each table. "Restore now"
// asks for confirmation (and device-owner authentication when the settings
// want it, and approval of plain-http sources), then adds and refreshes the
// selected sources and queues the selected packages once those refreshes
// have ended (ZMSetupRestoration), and goes back to the account page. It runs
// once; leaving the page meanwhile still queues the packages.
#include <QLabel>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Services/ZMSetupRestoration.h"
#include "UIKit/UIBarButtonItem.h"
#include "UIKit/UITableView.h"
#include "ZMErrorDelegate.h"
#include "ZMPalettedViewController.h"

class VostrelleSetupRestorationViewController : public ZMPalettedViewController,
                                                public UITableViewDataSource,
                                                public UITableViewDelegate,
                                                public ZMErrorDelegate {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 44;

    explicit VostrelleSetupRestorationViewController(QWidget* parent = nullptr);
    ~VostrelleSetupRestorationViewController() override;

    void setSourcesToRestoreDict(std::map<std::string, bool> map) { sources_ = std::move(map); }
    void setPackagesToRestoreDict(std::map<std::string, bool> map) { packages_ = std::move(map); }
    // Sources of the backup that can never be added: listed under the sources, never selectable.
    void setUnusableSources(std::vector<std::string> locations) { unusableSources_ = std::move(locations); }
    const std::map<std::string, bool>& sourcesToRestoreDict() const { return sources_; }
    const std::map<std::string, bool>& packagesToRestoreDict() const { return packages_; }
    size_t countOfSelectedSources() const { return ZMSetupRestoration::selected(sources_).size(); }
    size_t countOfSelectedPackages() const { return ZMSetupRestoration::selected(packages_).size(); }

    // "Restore now".
    void restoreVostrelleSetup();
    // The restoration itself (after the confirmations).
    void launchSetupRestoration(bool httpApproved);
    bool isRestoring() const { return restoring_; }

    UIBarButtonItem* restoreButton() const { return restoreBtn_; }
    UITableView* sourcesTableView() const { return sourcesTable_; }
    UITableView* packagesTableView() const { return packagesTable_; }
    QLabel* selectedSourcesLabel() const { return selectedSourcesLbl_; }
    QLabel* selectedPackagesLabel() const { return selectedPackagesLbl_; }
    QLabel* unusableSourcesLabel() const { return unusableSourcesLbl_; }

    int numberOfRows(UITableView* table, int section) override;
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override { return kRowHeight; }
    void didSelectRow(UITableView* table, IndexPath indexPath) override;

    void paletteWillChangeToStyle(int style) override;
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;

private:
    std::map<std::string, bool>& mapOf(UITableView* table);
    void setContent();
    void confirmed();
    void approveHTTPAndLaunch();

    std::map<std::string, bool> sources_;
    std::map<std::string, bool> packages_;
    std::vector<std::string> unusableSources_;
    bool restoring_ = false;
    UIBarButtonItem* restoreBtn_ = nullptr;
    QLabel* sourcesTitle_ = nullptr;
    QLabel* packagesTitle_ = nullptr;
    QLabel* selectedSourcesLbl_ = nullptr;
    QLabel* selectedPackagesLbl_ = nullptr;
    QLabel* unusableSourcesLbl_ = nullptr;
    UITableView* sourcesTable_ = nullptr;
    UITableView* packagesTable_ = nullptr;
};
