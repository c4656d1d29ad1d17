#pragma once
// Adding a source from a screen: ZMRSources decides (normalising the address
// once, refusing duplicates under either scheme), the screen shows what the
// user must see — the plain-http warning with "Continue", or why the address
// was refused.
#include <functional>
#include <string>

#include "Database/ZMRSources.h"

class UIViewController;

namespace SourceAddition {

// The maker's own repository: always configured, never removed or re-addressed.
inline constexpr const char* kMakersRepositoryLocation = "https://repo.vostrelle.org/";

// Adds `location`. A plain-http address without approval shows "Warning";
// "Continue" adds it with approval and original depictions off. A refused or
// duplicate address shows why. `added` (main thread) reports whether a record
// was stored.
ZMRAddSourceResult add(UIViewController* presenter, const std::string& location, bool httpApproval,
                       bool showOriginalDepictions, std::function<void(bool stored)> added = {});

// Why an address was not added, for the user; empty for an accepted one.
std::string refusalMessage(const ZMRAddSourceResult& result, const std::string& typed);

// The screen to present over: the top of the presenter's presentation chain.
UIViewController* topPresenter(UIViewController* presenter);

}  // namespace SourceAddition
