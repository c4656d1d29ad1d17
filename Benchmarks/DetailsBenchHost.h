#pragma once
// The loopback host the details-page benchmarks load their depiction and
// pictures from: files by name, PNGs with some structure so they are not
// trivially small, never cached by the client; the depictions of one
// Markdown view that fill the size a depiction may weigh; and the window
// that package pages are pushed in, with their records.
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QBuffer>
#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "Database/ZMRPackage.h"
#include "Miscellaneous/ZMPaths.h"
#include "Realm/Realm.h"
#include "SystemConfiguration/Reachability.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIViewAlpha.h"
#include "UIKit/UIWindow.h"

namespace DetailsBench {

inline std::string png(int width, int height, const QColor& color) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QPainter p(&image);
    for (int y = 0; y < height; y += 24) p.fillRect(0, y, width, 12, color.darker(110 + y % 40));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

// Serves `files`; the caller fills them before the first request.
struct Host {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::map<std::string, std::string> files;
    std::atomic<int> served{0};  // files sent (a page that asked for its depiction got it)
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + "/" + path; }

    Host() {
        server.Get(R"(/(.*))", [this](const httplib::Request& r, httplib::Response& res) {
            auto it = files.find(r.matches[1]);
            if (it == files.end()) {
                res.status = 404;
                return;
            }
            res.set_header("Cache-Control", "no-store");
            res.set_content(it->second, it->first.ends_with(".png") ? "image/png" : "application/json");
            ++served;
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Host() {
        server.stop();
        thread.join();
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;
};

// The banner and five 1280x720 screenshots, as a depiction's screenshot list.
inline std::string addBannerAndScreenshots(Host& host) {
    host.files["banner.png"] = png(1280, 400, QColor("#e0533d"));
    std::string shots;
    for (int i = 1; i <= 5; ++i) {
        host.files["shot" + std::to_string(i) + ".png"] = png(1280, 720, QColor::fromHsv(60 * i, 160, 200));
        shots += std::string(i > 1 ? "," : "") + "{\"url\": \"" + host.url("shot" + std::to_string(i) + ".png") + "\"}";
    }
    return shots;
}

// A native depiction whose Details tab is one Markdown view of `text`.
inline std::string markdownDepiction(const std::string& text) {
    return nlohmann::json{{"tabs", {{{"tabname", "Details"}, {"views", {{{"markdown", text}}}}}}}}.dump();
}

// `head`, then make(0), make(1)... as long as the depiction that holds the
// text (markdownDepiction) stays under the 4 MiB a depiction may weigh; then
// `tail`, a space and `lastWord` (what the page must show once the text arrived).
inline std::string fillDepiction(const std::string& head, const std::function<std::string(size_t)>& make, const std::string& tail,
                                 const std::string& lastWord) {
    constexpr size_t kLimit = 4ull << 20;
    constexpr size_t kEnvelope = 512;  // the JSON around the Markdown view
    std::string text = head;
    size_t escaped = nlohmann::json(head).dump().size();
    for (size_t i = 0;; ++i) {
        const std::string unit = make(i);
        const size_t cost = nlohmann::json(unit).dump().size() - 2;
        if (escaped + cost + tail.size() + 32 + kEnvelope > kLimit) break;
        text += unit;
        escaped += cost;
    }
    return text + tail + " " + lastWord;
}

// A shown window whose navigation controller (`nav`) stands over an empty
// list, for pages to be pushed on; the program's files in a folder of its
// own, the network reachable, no animation.
struct PageWindow {
    QTemporaryDir support;
    UIWindow window;
    UINavigationController* nav = nullptr;

    PageWindow() {
        ZMPaths::setApplicationSupport(support.path().toStdString());
        Reachability::setOverride(Reachability::ReachableViaWiFi);
        UIView::setAnimationsEnabled(false);
        nav = new UINavigationController(new UIViewController);
        window.setRootViewController(nav);
        window.resize(460, 900);
        window.show();
        QCoreApplication::processEvents();
    }
};

// A package record whose native depiction is `depictionURL`.
inline void addPackage(const std::string& identifier, const std::string& name, const std::string& depictionURL) {
    ZMRPackage p;
    p.identifier = identifier;
    p.name = name;
    p.version = "1.0";
    p.sileoDepiction = depictionURL;
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] { realm->addOrUpdate(p); });
}

}  // namespace DetailsBench
