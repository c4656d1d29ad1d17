#pragma once
// Pictures from servers for rows (avatars, repository icons): only http(s)
// addresses, at most 2 MB, decoded off the main thread. Anything else — an
// address of another scheme, a failed or oversized transfer, data that is no
// picture — gives the application's placeholder picture, so a row asks once.
#include <QImage>
#include <cstdint>
#include <functional>
#include <string>

namespace RemoteImage {

inline constexpr int64_t kMaxBytes = 2 * 1024 * 1024;

// `done` runs once, on the main thread.
void load(const std::string& url, std::function<void(const QImage& image, bool placeholder)> done);
// The picture itself, decoded where the transfer ends (a background queue,
// never the main thread): `decoded` gets a null image for anything that is
// not a picture of at most `maxBytes` from an http(s) address. It runs once,
// on that queue (or at once on the caller's thread for a refused address).
void fetch(const std::string& url, int64_t maxBytes, std::function<void(const QImage& image)> decoded);
// The placeholder ("iTunesArtwork").
QImage placeholder();

}  // namespace RemoteImage
