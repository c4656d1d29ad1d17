#pragma once
// The Changes tab: two cards in one scrolling column, the available updates
// of installed packages (with "Update All", which queues them and opens the
// queue) and the newest packages of all sources grouped by the date they
// changed. Both follow the package database: while the tab is on screen,
// every committed change of the packages reads the two lists again off the
// main thread (ChangesModel) and the cards redraw from that reading; hidden,
// it reads them when it next appears. One reading runs at a time: changes
// that land meanwhile are read once more when it ends (a refresh or a queue
// run commits many changes, and each reading scans every package).
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <atomic>
#include <memory>

#include "Browsing/BrowsingCard.h"
#include "Browsing/ChangesModel.h"
#include "Database/ZMRPackage.h"
#include "Notifications/NotificationCenter.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class ChangesViewController : public ZMPalettedViewController, public UITableViewDataSource, public UITableViewDelegate {
    Q_OBJECT
public:
    explicit ChangesViewController(QWidget* parent = nullptr);
    ~ChangesViewController() override;

    // Starts following the packages (once, when the view loads).
    void registerForRealmUpdates();
    // Reads both lists again, off the main thread (after the running reading, if any).
    void requestReading();
    // A committed change of the packages: read again when on screen.
    void packagesChanged();
    // 1: the new-packages card, 2: the updates card, 3: both.
    void animateContentForTable(int which);
    int heightForNewPackagesTableView() const { return model_.heightForNewPackagesTableView(); }
    void updateConstraints();
    void updateAllPackages();
    void showPackagesTableView();
    void iconChanged(const Notification& note);
    void updateShadows();

    const ChangesModel& model() const { return model_; }
    // How many readings have been applied (tests wait for the next one).
    int appliedReadings() const { return appliedReadings_; }
    // How many readings were started.
    int startedReadings() const { return startedReadings_; }
    UITableView* newPackagesTableView() const { return newCard_.table; }
    UITableView* updatedPackagesTableView() const { return updatesCard_.table; }
    QLabel* newPackagesTitle() const { return newCard_.title; }
    QLabel* updatedPackagesTitle() const { return updatesCard_.title; }
    CardView* updatedPackagesCard() const { return updatesCard_.card; }
    CardView* newPackagesCard() const { return newCard_.card; }
    QPushButton* updateAllBtn() const { return updateAllBtn_; }
    QPushButton* seeAllNewPackagesBtn() const { return seeAllBtn_; }
    // The new-packages card's distance from the top of the column.
    int newPackagesCardTopConstraint() const;
    UIViewController* lastPushedViewController() const { return lastPushed_; }

    // ---- tables ------------------------------------------------------------------------------
    int numberOfSections(UITableView* table) override;
    int numberOfRows(UITableView* table, int section) override;
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView* table, IndexPath indexPath) override;
    void didSelectRow(UITableView* table, IndexPath indexPath) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    std::optional<std::string> identifierAt(UITableView* table, IndexPath ip) const;
    void push(UIViewController* vc);

    ChangesModel model_;
    bool showIncompatible_ = false;
    std::optional<Results<ZMRPackage>> packages_;
    NotificationToken packagesNotification_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    bool reading_ = false;      // a reading runs
    bool readAgain_ = false;    // and another follows it
    int startedReadings_ = 0;
    int appliedReadings_ = 0;

    QScrollArea* scrollView_ = nullptr;
    BrowsingCard updatesCard_;
    BrowsingCard newCard_;
    QPushButton* updateAllBtn_ = nullptr;
    QPushButton* seeAllBtn_ = nullptr;
    ObserverBag observers_;
    QPointer<UIViewController> lastPushed_;
};
