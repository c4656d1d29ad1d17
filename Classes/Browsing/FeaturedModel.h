#pragma once
// The featured page's logic, kept out of its widgets: which feed entries the
// page lists (only packages the database knows), which lists a rebuild has
// changed, where a banner is cached, and how the carousel advances. Plain
// C++: the page builds a FeaturedModel::Lists off the main thread and hands
// it to its tables in one step.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "Services/ZMFeaturedPackages.h"

namespace FeaturedModel {

// The four tables under the carousel, in page order.
enum List { Middle = 0, MustHaveTweaks, MustHaveThemes, ExtendApps, ListCount };
using Lists = std::array<std::vector<std::string>, ListCount>;

// The identifiers of a feed list that have a package record, in feed order;
// repeated identifiers stay. Reads the database.
std::vector<std::string> presentIdentifiers(const std::vector<ZMFeaturedPackage>& entries);
// All four lists of a feed (empty lists without a feed).
Lists listsFromFeed(const ZMFeaturedLists* feed);
// The lists whose contents differ (order and repeats count).
std::vector<int> changedLists(const Lists& shown, const Lists& rebuilt);

// The banner cache: HomeCache/<background URL with every "/" as "_">. A name
// that is empty, "." or "..", longer than 255 bytes, or holds a NUL is
// refused (nullopt): such a banner is shown but never cached.
std::optional<std::string> homeCacheFileName(const std::string& backgroundURL);
std::optional<std::string> homeCachePath(const std::string& backgroundURL);

// The carousel advances by itself only with exactly this many banners.
inline constexpr size_t kAdvancingBannerCount = 5;
// The banner the carousel's timer shows next: one on from `current`, back to
// the first after the last; nullopt unless there are exactly five banners.
std::optional<size_t> nextCarouselPage(size_t current, size_t count);

// A banner's repository as a source location: "/" appended when missing.
std::string sourceLocationForRepo(const std::string& repo);
// A banner's logo overrides the package's icon when it is at least 10 characters long.
std::optional<std::string> logoOverride(const ZMFeaturedPackagesTop& banner);

}  // namespace FeaturedModel
