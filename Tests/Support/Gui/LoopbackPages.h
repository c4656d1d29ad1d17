#pragma once
// Web pages served on loopback for the tests that load them in a real web
// view: path -> HTML, fixed before the first request.
#include <httplib.h>

#include <QString>
#include <QUrl>
#include <initializer_list>
#include <map>
#include <string>
#include <thread>

namespace GuiTest {

class LoopbackPages {
public:
    explicit LoopbackPages(std::initializer_list<std::pair<const std::string, std::string>> pages) : pages_(pages) {
        server_.Get(R"(/.*)", [this](const httplib::Request& r, httplib::Response& res) {
            auto it = pages_.find(r.path);
            if (it == pages_.end()) {
                res.status = 404;
                return;
            }
            res.set_content(it->second, "text/html");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~LoopbackPages() {
        server_.stop();
        if (thread_.joinable()) thread_.join();
    }
    LoopbackPages(const LoopbackPages&) = delete;
    LoopbackPages& operator=(const LoopbackPages&) = delete;

    QUrl url(const char* path) const { return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path)); }

private:
    const std::map<std::string, std::string> pages_;
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

}  // namespace GuiTest
