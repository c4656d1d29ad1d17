#pragma once
// The loopback host the details-page benchmarks load their depiction and
// pictures from: files by name, PNGs with some structure so they are not
// trivially small, never cached by the client.
#include <httplib.h>

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <chrono>
#include <map>
#include <string>
#include <thread>

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

}  // namespace DetailsBench
