#pragma once
// The people the maker credits, each with an avatar, a name and a line of
// description (the account page's "Credits"). A tap looks the person's user
// name up in the maker's developer directory and opens the first profile's
// developer page; only the latest tap's own answer opens a page, and a failed
// or empty lookup opens nothing.
#include <QPointer>
#include <vector>

#include "Online/Screens/RemoteIconCache.h"
#include "Services/ZMCredits.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class CreditsViewController : public ZMPalettedViewController, public UITableViewDataSource, public UITableViewDelegate {
    Q_OBJECT
public:
    explicit CreditsViewController(QWidget* parent = nullptr);
    ~CreditsViewController() override;

    const std::vector<ZMCreditEntry>& creditsArray() const { return credits_; }
    bool hasLoaded() const { return loaded_; }
    UITableView* creditsTableView() const { return table_; }
    UIViewController* lastPushedViewController() const { return lastPushed_; }
    // Lookups answered (opened a page or not).
    int lookupsAnswered() const { return lookupsAnswered_; }

    int numberOfRows(UITableView*, int) override { return static_cast<int>(credits_.size()); }
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override;
    void didSelectRow(UITableView* table, IndexPath indexPath) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    std::vector<ZMCreditEntry> credits_;
    bool loaded_ = false;
    RemoteIconCache avatars_;
    uint64_t lookup_ = 0;
    int lookupsAnswered_ = 0;
    UITableView* table_ = nullptr;
    QPointer<UIViewController> lastPushed_;
};
