#include "Online/Screens/RemoteIconCache.h"

#include "Online/Screens/OnlineImages.h"
#include "RemoteImage.h"

RemoteIconCache::RemoteIconCache() : self_(std::make_shared<RemoteIconCache*>(this)) {}

RemoteIconCache::~RemoteIconCache() { *self_ = nullptr; }

std::optional<QPixmap> RemoteIconCache::iconFor(const std::string& name, const std::string& url) {
    if (auto it = icons_.find(name); it != icons_.end()) return it->second;
    if (!loading_.insert(name).second) return std::nullopt;
    std::weak_ptr<RemoteIconCache*> weak = self_;
    RemoteImage::load(url, [weak, name](const QImage& image, bool placeholder) {
        auto owner = weak.lock();
        if (!owner || !*owner) return;
        RemoteIconCache* cache = *owner;
        cache->loading_.erase(name);
        cache->icons_[name] = QPixmap::fromImage(placeholder ? OnlineImages::named("iTunesArtwork.png") : image);
        if (cache->loaded_) cache->loaded_(name);
    });
    return std::nullopt;
}
