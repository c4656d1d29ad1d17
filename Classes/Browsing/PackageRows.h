#pragma once
// Filling a package row from an identifier that a list took at its last
// reload: the record is looked up now; one deleted since (its source was
// removed) leaves the row empty, and the list opens nothing for it.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Database/ZMRPackage.h"
#include "UIKit/UITableView.h"
#include "ZMPalette.h"

class GetPackageCell;
class PackageCell;

namespace PackageRows {

// A list's package row: the "cell" PackageCell on a clear background with a
// disclosure indicator, filled from the identifier, without a separator
// under the last row of its section. `fetchesIcon` false: a missing icon is
// not downloaded (the list is scrolling).
PackageCell* dequeueCell(UITableView* table, IndexPath indexPath, const std::optional<std::string>& identifier,
                         bool fetchesIcon = true);
// A section header in the palette's foreground and primary text colours.
void styleHeader(QWidget* header, const ZMPalette& palette);

// Fills the cell and returns the record, or empties it and returns nullopt.
std::optional<ZMRPackage> fill(PackageCell* cell, const std::optional<std::string>& identifier);
// The same for a row with the Get button (its button shows no price).
std::optional<ZMRPackage> fillGetCell(GetPackageCell* cell, const std::optional<std::string>& identifier);
// The record behind a row, when it still exists.
std::optional<ZMRPackage> lookUp(const std::optional<std::string>& identifier);

// The one swipe action of a package row: "Remove" for a queued package (it
// leaves the queue; the row then shows the installed mark or none), else
// "Queue" (the queue entry point picks the operation and any purchase).
// `afterwards` runs once the action has been carried out.
std::vector<UIContextualAction> queueActions(UITableView* table, IndexPath indexPath, const ZMRPackage& package,
                                             std::function<void()> afterwards = {});

// The mouse's way to the same action from a package's page: a right click
// on `button` (a Get button) shows a menu with the row's action for the
// package named by `identifier()` at that moment; `afterwards` as above.
// The menu is the button's child named "queueMenu" while it is open.
void addQueueMenu(QWidget* button, std::function<std::string()> identifier, std::function<void()> afterwards);

}  // namespace PackageRows
