#include "RemoteImage.h"

#include <QIcon>
#include <QPixmap>
#include <memory>

#include "Dispatch/Dispatch.h"
#include "Foundation/URLSession.h"

namespace RemoteImage {

QImage placeholder() {
    // Drawn by the caller at its own size: a large rendering scales down cleanly.
    static const QImage image = QIcon(QStringLiteral(":/Images/Developers/iTunesArtwork.svg")).pixmap(120, 120).toImage();
    return image;
}

void load(const std::string& url, std::function<void(const QImage&, bool)> done) {
    fetch(url, kMaxBytes, [done](QImage image) {
        const bool fallback = image.isNull();
        if (fallback) image = placeholder();
        Dispatch::main([done, image, fallback] { done(image, fallback); });
    });
}

void fetch(const std::string& url, int64_t maxBytes, std::function<void(const QImage&)> decoded) {
    auto parsed = URL::parse(url);
    if (!parsed || !parsed->isHTTP() || parsed->host().empty()) {
        decoded(QImage());
        return;
    }
    auto session = URLSession::sharedSession();
    auto holder = std::make_shared<std::weak_ptr<URLSessionTask>>();
    auto task = session->dataTaskWithURL(*parsed, [decoded, maxBytes](std::string data, std::optional<URLResponse> response,
                                                                      std::optional<ZMError> error) {
        // The session's own queue: decoding happens here, off the main thread.
        const bool ok = !error && response && response->isSuccess() && static_cast<int64_t>(data.size()) <= maxBytes;
        QImage image;
        if (ok) image.loadFromData(reinterpret_cast<const uchar*>(data.data()), static_cast<int>(data.size()));
        decoded(image);
    });
    *holder = task;
    task->setProgressHandler([holder, maxBytes](int64_t received, int64_t expected) {
        if (received > maxBytes || expected > maxBytes)
            if (auto t = holder->lock()) t->cancel();
    });
    task->resume();
}

}  // namespace RemoteImage
