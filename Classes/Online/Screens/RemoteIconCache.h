#pragma once
// Icons and avatars of a list's rows, by name: each name is downloaded once
// (RemoteImage: http(s) only, capped, decoded off the main thread); a failed
// download or data that is no picture gives "iTunesArtwork.png". Entries of
// the same name share one picture. `loaded` runs on the main thread, only
// while the cache (its screen) lives.
#include <QPixmap>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

class RemoteIconCache {
public:
    RemoteIconCache();
    ~RemoteIconCache();
    // The cached picture of `name`, or nullopt after starting its download.
    std::optional<QPixmap> iconFor(const std::string& name, const std::string& url);
    void setLoadedHandler(std::function<void(const std::string& name)> loaded) { loaded_ = std::move(loaded); }
    size_t size() const { return icons_.size(); }

private:
    std::map<std::string, QPixmap> icons_;
    std::set<std::string> loading_;
    std::function<void(const std::string&)> loaded_;
    std::shared_ptr<RemoteIconCache*> self_;  // cleared when the cache goes
};
