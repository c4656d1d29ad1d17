#pragma once
// A real HTTP server on 127.0.0.1 for the network tests (cpp-httplib), plus
// helpers that run a task and wait for its completion.
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "Dispatch/Dispatch.h"
#include "Foundation/URLSession.h"

class TestHTTPServer {
public:
    httplib::Server server;

    // Routes are registered on `server` before start().
    void start() {
        server.set_payload_max_length(64u << 20);
        // One request per connection: stop() need not wait for idle keep-alive connections.
        server.set_keep_alive_max_count(1);
        port_ = server.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~TestHTTPServer() {
        server.stop();
        if (thread_.joinable()) thread_.join();
    }
    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    URL url(const std::string& path) const { return *URL::parse(base() + path); }

private:
    int port_ = 0;
    std::thread thread_;
};

// A socket that listens but never accepts or answers: connections succeed
// (the kernel completes them) and then nothing ever arrives.
class SilentServer {
public:
    SilentServer() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(fd_, 16);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~SilentServer() { close(fd_); }
    URL url(const std::string& path) const { return *URL::parse("http://127.0.0.1:" + std::to_string(port_) + path); }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A port on which nothing listens.
inline int closedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

struct FetchResult {
    std::string data;
    std::optional<URLResponse> response;
    std::optional<ZMError> error;
    bool onMainThread = true;
    bool completed = false;
};

inline FetchResult fetch(const std::shared_ptr<URLSession>& session, const URLRequest& request,
                         std::chrono::seconds wait = std::chrono::seconds(15)) {
    auto promise = std::make_shared<std::promise<FetchResult>>();
    auto future = promise->get_future();
    session
        ->dataTaskWithRequest(request,
                              [promise](std::string data, std::optional<URLResponse> response,
                                        std::optional<ZMError> error) {
                                  promise->set_value(FetchResult{std::move(data), std::move(response),
                                                                 std::move(error), Dispatch::isMainThread(), true});
                              })
        ->resume();
    if (future.wait_for(wait) != std::future_status::ready) return FetchResult{};
    return future.get();
}
