#include "URLSession.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <utility>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"

#ifndef VOSTRELLE_VERSION
#define VOSTRELLE_VERSION "5"
#endif

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Everything one task needs, shared by the task object, the network thread
// and the blocks queued on the session's queue.
struct URLSessionTaskState {
    enum class Abort { None, Cancelled, TimedOut, TooLarge, WriteFailed };

    uint64_t identifier = 0;
    URLRequest originalRequest;
    URLRequest request;  // what goes on the wire (may carry our validators)
    bool download = false;
    std::string destination;
    DataTaskCompletion dataCompletion;
    DownloadTaskCompletion downloadCompletion;
    TaskProgressHandler progress;
    std::shared_ptr<URLSession> session;  // held until the completion ran
    std::shared_ptr<Dispatch::SerialQueue> queue;

    std::atomic<URLSessionTask::State> state{URLSessionTask::State::Suspended};
    std::atomic<bool> cancelRequested{false};
    std::atomic<bool> delivered{false};
    std::atomic<int64_t> received{0};
    std::atomic<int64_t> expected{-1};
    std::mutex progressMutex;  // guards `progress` against setProgressHandler

    // Used on the network thread only.
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    Abort abort = Abort::None;
    double timeout = 30;
    double resourceTimeout = 0;
    uint64_t maximumSize = 0;
    Clock::time_point started, lastActivity, lastProgressPost;
    int status = 0;
    HTTPHeaderFields responseHeaders;
    std::string body;
    FILE* file = nullptr;
    std::string tempPath;
    std::optional<URLCache::Entry> revalidating;  // a stale entry we asked the server about
    curl_off_t lastUpload = 0;
    int redirects = 0;  // followed by the session itself (a redirect policy is set)
    bool encoded = false;  // the body arrives with a Content-Encoding we undo
    std::weak_ptr<URLSessionTaskState> self;
};

namespace {

std::atomic<uint64_t> gNextIdentifier{1};

bool isHTTPMethodWithBody(const std::string& method) { return method != "GET" && method != "HEAD"; }

std::string loggedPath(const URLRequest& request) { return request.pathIsSecret ? std::string() : request.url.path(); }

void releaseCurl(URLSessionTaskState& t) {
    if (t.easy) curl_easy_cleanup(t.easy);
    t.easy = nullptr;
    if (t.headerList) curl_slist_free_all(t.headerList);
    t.headerList = nullptr;
    if (t.file) fclose(t.file);
    t.file = nullptr;
}

void postProgress(const std::shared_ptr<URLSessionTaskState>& t, bool force) {
    TaskProgressHandler handler;
    {
        std::lock_guard lock(t->progressMutex);
        handler = t->progress;
    }
    if (!handler) return;
    auto now = Clock::now();
    if (!force && now - t->lastProgressPost < std::chrono::milliseconds(100)) return;
    t->lastProgressPost = now;
    int64_t received = t->received.load(), expected = t->expected.load();
    t->queue->async([t, handler, received, expected] {
        if (!t->delivered.load()) handler(received, expected);
    });
}

// What a completion receives; `prepare` may still change it on the session's
// queue (cache writes and file moves stay off the network thread).
struct Outcome {
    std::string data;
    std::optional<std::string> location;
    std::optional<URLResponse> response;
    std::optional<ZMError> error;
};

// Runs the completion once, on the session's queue, then lets go of it.
void deliver(const std::shared_ptr<URLSessionTaskState>& t, Outcome outcome,
             std::function<void(Outcome&)> prepare = {}) {
    t->queue->async([t, outcome = std::move(outcome), prepare = std::move(prepare)]() mutable {
        if (prepare) prepare(outcome);  // also when the task was answered already: it cleans up
        if (t->delivered.exchange(true)) return;
        t->state = URLSessionTask::State::Completed;
        if (t->download) {
            if (t->downloadCompletion)
                t->downloadCompletion(std::move(outcome.location), std::move(outcome.response), std::move(outcome.error));
        } else if (t->dataCompletion) {
            t->dataCompletion(std::move(outcome.data), std::move(outcome.response), std::move(outcome.error));
        }
        t->dataCompletion = nullptr;
        t->downloadCompletion = nullptr;
        {
            std::lock_guard lock(t->progressMutex);
            t->progress = nullptr;
        }
        t->session.reset();
    });
}

void deliverError(const std::shared_ptr<URLSessionTaskState>& t, ZMError error) {
    deliver(t, Outcome{{}, std::nullopt, std::nullopt, std::move(error)});
}

int errorCodeFor(CURLcode code) {
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL: return URLError::UnsupportedURL;
    case CURLE_URL_MALFORMAT: return URLError::BadURL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return URLError::CannotFindHost;
    case CURLE_COULDNT_CONNECT: return URLError::CannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT: return URLError::TimedOut;
    case CURLE_TOO_MANY_REDIRECTS: return URLError::HTTPTooManyRedirects;
    case CURLE_SSL_CONNECT_ERROR: return URLError::SecureConnectionFailed;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE: return URLError::ServerCertificateUntrusted;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return URLError::NetworkConnectionLost;
    case CURLE_FILESIZE_EXCEEDED: return URLError::DataLengthExceedsMaximum;
    case CURLE_BAD_CONTENT_ENCODING: return URLError::CannotDecodeContentData;
    default: return URLError::Unknown;
    }
}

// The one network thread: a curl multi handle driven by a poll loop.
class Engine {
public:
    static Engine& instance() {
        static auto* engine = new Engine;  // never destroyed: stop() ends its thread at exit
        return *engine;
    }

    // After stop() a task is dropped unanswered: the program is ending.
    void add(std::shared_ptr<URLSessionTaskState> t) {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        pendingAdds_.push_back(std::move(t));
        curl_multi_wakeup(multi_);
    }
    void cancel(std::shared_ptr<URLSessionTaskState> t) {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        pendingCancels_.push_back(std::move(t));
        curl_multi_wakeup(multi_);
    }

    // Ends every transfer and joins the network thread. exit() calls it
    // before static destructors and before the TLS library's own clean-up,
    // which would otherwise pull its state from under a handshake.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            stopping_ = true;
            curl_multi_wakeup(multi_);
        }
        if (thread_.get_id() == std::this_thread::get_id()) return;  // exit() from a callback
        if (thread_.joinable()) thread_.join();
    }

private:
    Engine() {
        curl_global_init(CURL_GLOBAL_ALL);
        // Registered after curl (and so OpenSSL) registered theirs: runs before them.
        std::atexit([] { instance().stop(); });
        multi_ = curl_multi_init();
        curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, 6L);
        curl_multi_setopt(multi_, CURLMOPT_MAX_TOTAL_CONNECTIONS, 24L);
        thread_ = std::thread([this] { run(); });
    }

    void run() {
        for (;;) {
            std::vector<std::shared_ptr<URLSessionTaskState>> adds, cancels;
            {
                std::lock_guard lock(mutex_);
                if (stopping_) break;
                adds.swap(pendingAdds_);
                cancels.swap(pendingCancels_);
            }
            for (auto& t : adds) start(t);
            for (auto& t : cancels) {
                auto it = active_.find(t->easy);
                if (t->easy && it != active_.end()) abort(it->second, URLSessionTaskState::Abort::Cancelled);
            }
            int running = 0;
            curl_multi_perform(multi_, &running);
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
                if (msg->msg != CURLMSG_DONE) continue;
                auto it = active_.find(msg->easy_handle);
                if (it == active_.end()) continue;
                auto t = it->second;
                CURLcode code = msg->data.result;
                curl_multi_remove_handle(multi_, t->easy);
                active_.erase(it);
                finish(t, code);
            }
            checkTimeouts();
            // Idle, the thread sleeps until a task arrives (curl_multi_wakeup);
            // busy, it looks at the time-outs every 50 ms.
            curl_multi_poll(multi_, nullptr, 0, active_.empty() ? 60'000 : 50, nullptr);
        }
        // No completion runs any more: their code may already be torn down.
        for (auto& [easy, t] : active_) {
            curl_multi_remove_handle(multi_, easy);
            std::error_code ec;
            if (t->file) fs::remove(t->tempPath, ec);
            releaseCurl(*t);
        }
        active_.clear();
        pendingAdds_.clear();
        pendingCancels_.clear();
        curl_multi_cleanup(multi_);
    }

    void checkTimeouts() {
        auto now = Clock::now();
        std::vector<std::shared_ptr<URLSessionTaskState>> late;
        for (auto& [easy, t] : active_) {
            double idle = std::chrono::duration<double>(now - t->lastActivity).count();
            double total = std::chrono::duration<double>(now - t->started).count();
            if ((t->timeout > 0 && idle > t->timeout) || (t->resourceTimeout > 0 && total > t->resourceTimeout))
                late.push_back(t);
        }
        for (auto& t : late) abort(t, URLSessionTaskState::Abort::TimedOut);
    }

    void abort(std::shared_ptr<URLSessionTaskState> t, URLSessionTaskState::Abort why) {
        t->abort = why;
        curl_multi_remove_handle(multi_, t->easy);
        active_.erase(t->easy);
        finish(t, CURLE_ABORTED_BY_CALLBACK);
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<URLSessionTaskState*>(user);
        size_t length = size * count;
        t->lastActivity = Clock::now();
        std::string_view line(data, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        if (line.substr(0, 5) == "HTTP/") {
            // A new answer (after a redirect or a 100 Continue) starts over.
            t->responseHeaders.clear();
            t->expected = -1;
            t->encoded = false;
            size_t sp = line.find(' ');
            t->status = sp == std::string_view::npos ? 0 : std::atoi(std::string(line.substr(sp + 1, 3)).c_str());
        } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
            std::string_view name = line.substr(0, colon);
            t->responseHeaders.add(name, value);
            // A compressed transfer's length says nothing about the decoded body.
            if (!t->download && HTTPHeaderFields::namesEqual(name, "Content-Encoding") && value != "identity") {
                t->encoded = true;
                t->expected = -1;
            }
            if (!t->encoded && HTTPHeaderFields::namesEqual(name, "Content-Length"))
                t->expected = std::atoll(std::string(value).c_str());
        }
        return length;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<URLSessionTaskState*>(user);
        size_t length = size * count;
        t->lastActivity = Clock::now();
        if (t->maximumSize > 0 && static_cast<uint64_t>(t->received.load()) + length > t->maximumSize) {
            t->abort = URLSessionTaskState::Abort::TooLarge;
            return 0;
        }
        if (t->download) {
            if (!t->file || fwrite(data, 1, length, t->file) != length) {
                t->abort = URLSessionTaskState::Abort::WriteFailed;
                return 0;
            }
        } else {
            t->body.append(data, length);
        }
        t->received += static_cast<int64_t>(length);
        if (auto self = t->self.lock()) postProgress(self, false);
        return length;
    }

    static int onTransferInfo(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
        auto* t = static_cast<URLSessionTaskState*>(user);
        // Upload progress also counts as activity for the idle time-out.
        if (ulnow != t->lastUpload) {
            t->lastUpload = ulnow;
            t->lastActivity = Clock::now();
        }
        return 0;
    }

    void start(const std::shared_ptr<URLSessionTaskState>& t) {
        if (t->cancelRequested) {
            deliverError(t, URLError::make(URLError::Cancelled));
            return;
        }
        const URLRequest& r = t->request;
        CURL* e = curl_easy_init();
        t->easy = e;
        if (t->download) {
            std::error_code ec;
            fs::path dest(t->destination);
            if (dest.has_parent_path()) fs::create_directories(dest.parent_path(), ec);
            std::string tmpl = t->destination + ".part-XXXXXX";
            int fd = mkstemp(tmpl.data());
            if (fd >= 0) fchmod(fd, 0644);  // an ordinary file, not mkstemp's private one
            if (fd < 0 || !(t->file = fdopen(fd, "wb"))) {
                if (fd >= 0) ::close(fd);
                releaseCurl(*t);
                deliverError(t, URLError::make(URLError::CannotCreateFile, t->destination));
                return;
            }
            t->tempPath = tmpl;
        }
        curl_easy_setopt(e, CURLOPT_URL, r.url.withoutFragment().string().c_str());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        // With a redirect policy the session follows redirects itself (finish()).
        const bool curlFollows = r.followsRedirects && !t->session->configuration().redirectPolicy;
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, curlFollows ? 1L : 0L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(t->session->configuration().maximumRedirects));
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        // Ending a transfer (cancel, exit) never waits for a name lookup to finish.
        curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->errorBuffer);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Engine::onHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, t.get());
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Engine::onBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get());
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Engine::onTransferInfo);
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, t.get());
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, 1L);
        if (t->timeout > 0) curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(t->timeout * 1000));
        if (t->maximumSize > 0)
            curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(t->maximumSize));
        // Archives are stored exactly as served; API answers may be compressed in transit.
        if (!t->download) curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
        // Proxies from the environment apply, but never to this machine itself.
        std::string noProxy = "localhost,127.0.0.1,::1";
        for (const char* var : {"no_proxy", "NO_PROXY"})
            if (const char* v = std::getenv(var); v && *v) noProxy = std::string(v) + "," + noProxy;
        curl_easy_setopt(e, CURLOPT_NOPROXY, noProxy.c_str());
        if (t->session->configuration().keepsCookies) {
            curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
            curl_easy_setopt(e, CURLOPT_SHARE, static_cast<CURLSH*>(t->session->cookieShare()));
        }

        if (r.httpMethod == "HEAD") {
            curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
        } else if (r.httpMethod == "POST") {
            curl_easy_setopt(e, CURLOPT_POST, 1L);
        } else if (r.httpMethod != "GET") {
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.httpMethod.c_str());
        }
        if (isHTTPMethodWithBody(r.httpMethod) && r.httpMethod != "HEAD") {
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.httpBody.size()));
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.httpBody.data());
        }
        HTTPHeaderFields headers = r.headers;
        for (const auto& [name, value] : t->session->configuration().additionalHeaders.fields())
            if (!headers.contains(name)) headers.set(name, value);
        if (!headers.contains("User-Agent")) headers.set("User-Agent", "Vostrelle/" VOSTRELLE_VERSION);
        headers.set("Expect", "");
        for (const auto& [name, value] : headers.fields()) {
            // "Name;" is curl's way to send a header with an empty value.
            std::string line = value.empty() ? name + ";" : name + ": " + value;
            if (name == "Expect") line = "Expect:";
            t->headerList = curl_slist_append(t->headerList, line.c_str());
        }
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headerList);

        // A redirect followed by the session keeps the first start: the
        // whole chain counts against the resource time-out.
        if (t->redirects == 0) t->started = Clock::now();
        t->lastActivity = Clock::now();
        active_[e] = t;
        curl_multi_add_handle(multi_, e);
    }

    static bool isRedirect(int status) {
        return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    }

    // A redirect the session follows itself (its configuration has a
    // redirect policy): the task starts again for the new address, or fails.
    // False when the answer is no redirect to follow.
    bool followRedirect(const std::shared_ptr<URLSessionTaskState>& t, CURLcode code) {
        const auto& configuration = t->session->configuration();
        if (!configuration.redirectPolicy || !t->request.followsRedirects || code != CURLE_OK ||
            t->abort != URLSessionTaskState::Abort::None || !isRedirect(t->status))
            return false;
        auto location = t->responseHeaders.value("Location");
        if (!location) return false;  // nothing to follow: the 3xx is the answer
        auto next = t->request.url.resolving(*location);
        std::optional<ZMError> refused;
        if (!next || !next->isHTTP() || next->host().empty())
            refused = URLError::make(URLError::UnsupportedURL, "redirect to " + *location);
        else if (++t->redirects > configuration.maximumRedirects)
            refused = URLError::make(URLError::HTTPTooManyRedirects);
        else if (!configuration.redirectPolicy(t->request, *next))
            refused = URLError::make(URLError::RedirectRefused, next->scheme() + "://" + next->host());
        releaseCurl(*t);
        if (t->download && !t->tempPath.empty()) {
            std::error_code ec;
            fs::remove(t->tempPath, ec);
            t->tempPath.clear();
        }
        if (refused) {
            ZMLOG("Request {}://{}{} not redirected: {}", t->request.url.scheme(), t->request.url.host(),
                  loggedPath(t->request), refused->detail);
            deliverError(t, std::move(*refused));
            return true;
        }
        URLRequest& r = t->request;
        const bool becomesGet = t->status == 303 ? r.httpMethod != "HEAD"
                                                 : (t->status == 301 || t->status == 302) && r.httpMethod == "POST";
        if (becomesGet) {
            r.httpMethod = "GET";
            r.httpBody.clear();
            r.headers.remove("Content-Length");
            r.headers.remove("Content-Type");
        }
        if (!r.url.isSameOrigin(*next)) {
            r.headers.remove("Authorization");
            r.headers.remove("Cookie");
        }
        r.url = *next;
        t->status = 0;
        t->responseHeaders.clear();
        t->body.clear();
        t->received = 0;
        t->expected = -1;
        t->encoded = false;
        t->lastUpload = 0;
        t->errorBuffer[0] = 0;
        start(t);
        return true;
    }

    void finish(const std::shared_ptr<URLSessionTaskState>& t, CURLcode code) {
        if (followRedirect(t, code)) return;
        std::optional<URLResponse> response;
        if (t->status > 0) {
            URLResponse rsp;
            char* effective = nullptr;
            curl_easy_getinfo(t->easy, CURLINFO_EFFECTIVE_URL, &effective);
            auto url = effective ? URL::parse(effective) : std::nullopt;
            rsp.url = url ? *url : t->request.url;
            rsp.statusCode = t->status;
            rsp.headers = t->responseHeaders;
            response = std::move(rsp);
        }
        std::optional<ZMError> error;
        using A = URLSessionTaskState::Abort;
        switch (t->abort) {
        case A::Cancelled: error = URLError::make(URLError::Cancelled); break;
        case A::TimedOut: error = URLError::make(URLError::TimedOut); break;
        case A::TooLarge:
            error = URLError::make(URLError::DataLengthExceedsMaximum, std::to_string(t->maximumSize) + " bytes");
            break;
        case A::WriteFailed: error = URLError::make(URLError::CannotWriteToFile, t->destination); break;
        case A::None:
            if (code != CURLE_OK)
                error = URLError::make(errorCodeFor(code), t->errorBuffer[0] ? t->errorBuffer : curl_easy_strerror(code));
            break;
        }
        if (error && error->code != URLError::Cancelled)
            ZMLOG("Request {}://{}{}{} failed: {}", t->request.url.scheme(), t->request.url.host(),
                  t->request.url.port() ? ":" + std::to_string(*t->request.url.port()) : std::string(),
                  loggedPath(t->request), error->detail);  // without the query: it may carry keys

        FILE* file = std::exchange(t->file, nullptr);
        releaseCurl(*t);
        if (!error && t->received > 0) postProgress(t, true);

        std::function<void(Outcome&)> prepare;
        std::string data = error ? std::string() : std::move(t->body);  // no half bodies
        if (t->download) {
            // The file is made durable and moved into place on the session's queue.
            prepare = [file, temp = t->tempPath, destination = t->destination](Outcome& o) {
                bool written = file && fflush(file) == 0 && fsync(fileno(file)) == 0;
                if (file) written = fclose(file) == 0 && written;
                std::error_code ec;
                if (!o.error && !written) o.error = URLError::make(URLError::CannotWriteToFile, destination);
                if (!o.error && o.response && o.response->isSuccess()) {
                    fs::rename(temp, destination, ec);
                    if (ec)
                        o.error = URLError::make(URLError::CannotWriteToFile, ec.message());
                    else
                        o.location = destination;
                }
                if (!o.location) fs::remove(temp, ec);
            };
        } else if (auto cache = t->session->configuration().urlCache; cache && !error && response) {
            if (response->statusCode == 304 && t->revalidating) {
                // Our own revalidation came back unchanged: answer from the cache.
                URLCache::Entry entry = *t->revalidating;
                for (const auto& [n, v] : response->headers.fields())
                    if (!HTTPHeaderFields::namesEqual(n, "Content-Length")) entry.response.headers.set(n, v);
                entry.storedAt = std::time(nullptr);
                data = entry.data;
                response = entry.response;
                response->fromCache = true;
                prepare = [cache, entry = std::move(entry), request = t->request](Outcome&) {
                    cache->storeCachedResponse(entry, request);
                };
            } else if (URLCache::isStorable(t->request, *response, data.size(), cache->diskCapacity())) {
                prepare = [cache, entry = URLCache::Entry{*response, data, std::time(nullptr)},
                           request = t->request](Outcome&) { cache->storeCachedResponse(entry, request); };
            }
        }
        deliver(t, Outcome{std::move(data), std::nullopt, std::move(response), std::move(error)}, std::move(prepare));
    }

    CURLM* multi_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    bool stopping_ = false;
    std::vector<std::shared_ptr<URLSessionTaskState>> pendingAdds_, pendingCancels_;
    std::map<CURL*, std::shared_ptr<URLSessionTaskState>> active_;
};

// Answers from the cache when the policy allows, else hands the task to the
// network thread (with validators when a stale entry can be revalidated).
void startTask(const std::shared_ptr<URLSessionTaskState>& t) {
    const auto& config = t->session->configuration();
    auto cache = config.urlCache;
    auto policy = t->request.cachePolicy.value_or(config.requestCachePolicy);
    bool readsCache = cache && !t->download && t->request.httpMethod == "GET" && !t->request.isConditional() &&
                      policy != URLRequestCachePolicy::ReloadIgnoringLocalCacheData;
    if (readsCache) {
        auto entry = cache->cachedResponseForRequest(t->request);
        if (entry && (policy != URLRequestCachePolicy::UseProtocolCachePolicy ||
                      URLCache::isFresh(*entry, t->request, std::time(nullptr)))) {
            t->received = static_cast<int64_t>(entry->data.size());
            deliver(t, Outcome{std::move(entry->data), std::nullopt, std::move(entry->response), std::nullopt});
            return;
        }
        if (policy == URLRequestCachePolicy::ReturnCacheDataDontLoad) {
            deliverError(t, URLError::make(URLError::ResourceUnavailable));
            return;
        }
        if (entry && URLCache::canRevalidate(*entry)) {
            if (auto etag = entry->response.headers.value("ETag")) t->request.headers.set("If-None-Match", *etag);
            if (auto modified = entry->response.headers.value("Last-Modified"))
                t->request.headers.set("If-Modified-Since", *modified);
            t->revalidating = std::move(entry);
        }
    }
    Engine::instance().add(t);
}

}  // namespace

// ---- URLSessionTask ---------------------------------------------------------

namespace {
std::atomic<uint64_t> gStartedTransfers{0};
}

uint64_t URLSession::startedTransferCount() { return gStartedTransfers.load(); }

void URLSessionTask::resume() {
    auto expected = State::Suspended;
    if (!state_->state.compare_exchange_strong(expected, State::Running)) return;
    auto t = state_;
    if (!t->request.url.isHTTP()) {
        deliverError(t, URLError::make(URLError::UnsupportedURL, t->request.url.string()));
        return;
    }
    if (t->request.url.host().empty()) {
        deliverError(t, URLError::make(URLError::BadURL, t->request.url.string()));
        return;
    }
    gStartedTransfers.fetch_add(1);
    if (t->session->configuration().urlCache && !t->download)
        Dispatch::defaultQueue([t] { startTask(t); });  // the cache reads the disk: not on the caller's thread
    else
        Engine::instance().add(t);
}

void URLSessionTask::cancel() {
    auto previous = state_->state.load();
    do {
        if (previous == State::Completed || previous == State::Canceling) return;
    } while (!state_->state.compare_exchange_weak(previous, State::Canceling));
    state_->cancelRequested = true;
    if (previous == State::Suspended)
        deliverError(state_, URLError::make(URLError::Cancelled));
    else
        Engine::instance().cancel(state_);
}

URLSessionTask::State URLSessionTask::state() const { return state_->state.load(); }
uint64_t URLSessionTask::taskIdentifier() const { return state_->identifier; }
const URLRequest& URLSessionTask::originalRequest() const { return state_->originalRequest; }
int64_t URLSessionTask::countOfBytesReceived() const { return state_->received.load(); }
int64_t URLSessionTask::countOfBytesExpectedToReceive() const { return state_->expected.load(); }

void URLSessionTask::setProgressHandler(TaskProgressHandler handler) {
    std::lock_guard lock(state_->progressMutex);
    state_->progress = std::move(handler);
}

// ---- URLSessionConfiguration -------------------------------------------------

URLSessionConfiguration URLSessionConfiguration::defaultSessionConfiguration() {
    URLSessionConfiguration c;
    c.urlCache = URLCache::sharedURLCache();
    return c;
}

URLSessionConfiguration URLSessionConfiguration::ephemeralSessionConfiguration() { return URLSessionConfiguration{}; }

URLSessionConfiguration URLSessionConfiguration::noCacheConfigureation() {
    URLSessionConfiguration c = ephemeralSessionConfiguration();
    c.requestCachePolicy = URLRequestCachePolicy::ReloadIgnoringLocalCacheData;
    c.urlCache = nullptr;
    return c;
}

// ---- URLSession ------------------------------------------------------------

URLSession::URLSession(URLSessionConfiguration configuration)
    : configuration_(std::move(configuration)), queue_(Dispatch::SerialQueue::create("URLSession")) {
    Engine::instance();  // curl is initialised before any share handle exists
    CURLSH* share = curl_share_init();
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    share_ = share;
}

URLSession::~URLSession() {
    // Every transfer that used the share has ended: tasks keep their session alive.
    if (share_) curl_share_cleanup(static_cast<CURLSH*>(share_));
}

std::shared_ptr<URLSession> URLSession::sharedSession() {
    static auto session = [] {
        auto configuration = URLSessionConfiguration::defaultSessionConfiguration();
        // Pages, documents and images: none has reason to take longer.
        configuration.timeoutIntervalForResource = 120;
        return sessionWithConfiguration(configuration);
    }();
    return session;
}

std::shared_ptr<URLSession> URLSession::sessionWithConfiguration(URLSessionConfiguration configuration) {
    return std::shared_ptr<URLSession>(new URLSession(std::move(configuration)));
}

std::shared_ptr<URLSessionTask> URLSession::makeTask(const URLRequest& request, bool download, std::string destination,
                                                     DataTaskCompletion dataCompletion,
                                                     DownloadTaskCompletion downloadCompletion) {
    auto t = std::make_shared<URLSessionTaskState>();
    t->identifier = gNextIdentifier++;
    t->self = t;
    t->originalRequest = request;
    t->request = request;
    t->download = download;
    t->destination = std::move(destination);
    t->dataCompletion = std::move(dataCompletion);
    t->downloadCompletion = std::move(downloadCompletion);
    t->session = shared_from_this();
    t->queue = queue_;
    t->timeout = request.timeoutInterval.value_or(configuration_.timeoutIntervalForRequest);
    t->resourceTimeout = request.timeoutIntervalForResource.value_or(configuration_.timeoutIntervalForResource);
    t->maximumSize = request.maximumBodySize.value_or(download ? configuration_.maximumDownloadSize
                                                               : configuration_.maximumDataTaskBodySize);
    {
        std::lock_guard lock(mutex_);
        std::erase_if(tasks_, [](const auto& w) { return w.expired(); });
        tasks_.push_back(t);
    }
    return std::make_shared<URLSessionTask>(t);
}

std::shared_ptr<URLSessionTask> URLSession::dataTaskWithRequest(const URLRequest& request,
                                                                DataTaskCompletion completion) {
    return makeTask(request, false, {}, std::move(completion), nullptr);
}

std::shared_ptr<URLSessionTask> URLSession::dataTaskWithURL(const URL& url, DataTaskCompletion completion) {
    return dataTaskWithRequest(URLRequest(url), std::move(completion));
}

std::shared_ptr<URLSessionTask> URLSession::downloadTaskWithRequest(const URLRequest& request,
                                                                    std::string destinationPath,
                                                                    DownloadTaskCompletion completion) {
    return makeTask(request, true, std::move(destinationPath), nullptr, std::move(completion));
}

void URLSession::invalidateAndCancel() {
    std::vector<std::shared_ptr<URLSessionTaskState>> live;
    {
        std::lock_guard lock(mutex_);
        for (auto& w : tasks_)
            if (auto t = w.lock()) live.push_back(t);
        tasks_.clear();
    }
    for (auto& t : live) URLSessionTask(t).cancel();
}
