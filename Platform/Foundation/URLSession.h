#pragma once
// HTTP(S) transfers on libcurl in place of the platform's URL sessions.
//
// A session hands out tasks; a task starts with resume(). All transfers of
// all sessions run on one network thread (curl multi), so many sessions and
// requests cost no extra threads. Each session delivers its completions and
// progress callbacks one at a time, in order, on its own serial queue (a
// strand on the default-priority pool, never the main thread). At exit the
// network thread drops every transfer unanswered and is joined before static
// destruction.
//
// Only http and https URLs are fetched: any other scheme, also one reached
// through a redirect, fails with URLError::UnsupportedURL. An HTTP status is
// not an error: 404 or 304 arrive as the response's statusCode.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Dispatch/SerialQueue.h"
#include "Miscellaneous/ZMError.h"
#include "URLCache.h"
#include "URLError.h"
#include "URLRequest.h"
#include "URLResponse.h"
#include "URLSessionConfiguration.h"

// (data, response, error): response is empty when no answer arrived.
using DataTaskCompletion =
    std::function<void(std::string data, std::optional<URLResponse> response, std::optional<ZMError> error)>;
// (location, response, error): location is the destination path, given only
// when a 2xx body was written there completely.
using DownloadTaskCompletion =
    std::function<void(std::optional<std::string> location, std::optional<URLResponse> response,
                       std::optional<ZMError> error)>;
// (bytes received so far, bytes expected or -1 when the server did not say).
using TaskProgressHandler = std::function<void(int64_t received, int64_t expected)>;

class URLSession;
struct URLSessionTaskState;

class URLSessionTask {
public:
    enum class State { Suspended, Running, Canceling, Completed };

    // Starts the transfer (a no-op after the first call).
    void resume();
    // Stops the transfer; the completion runs with URLError::Cancelled unless
    // it has already been delivered or queued.
    void cancel();
    State state() const;
    uint64_t taskIdentifier() const;
    const URLRequest& originalRequest() const;
    int64_t countOfBytesReceived() const;
    int64_t countOfBytesExpectedToReceive() const;
    // Called on the session's queue while the body arrives (at most about
    // ten times a second, and once at the end). Set it before resume().
    void setProgressHandler(TaskProgressHandler handler);

    explicit URLSessionTask(std::shared_ptr<URLSessionTaskState> state) : state_(std::move(state)) {}

private:
    std::shared_ptr<URLSessionTaskState> state_;
};
using URLSessionDataTask = URLSessionTask;
using URLSessionDownloadTask = URLSessionTask;

class URLSession : public std::enable_shared_from_this<URLSession> {
public:
    // The process-wide session with the default configuration (disk cache),
    // for pages, documents and images: a transfer ends after 120 s at the latest.
    static std::shared_ptr<URLSession> sharedSession();
    static std::shared_ptr<URLSession> sessionWithConfiguration(URLSessionConfiguration configuration);
    ~URLSession();

    const URLSessionConfiguration& configuration() const { return configuration_; }
    // The serial queue that completions and progress callbacks run on.
    const std::shared_ptr<Dispatch::SerialQueue>& delegateQueue() const { return queue_; }

    std::shared_ptr<URLSessionTask> dataTaskWithRequest(const URLRequest& request, DataTaskCompletion completion);
    std::shared_ptr<URLSessionTask> dataTaskWithURL(const URL& url, DataTaskCompletion completion);
    // Streams the body into a temporary file beside `destinationPath` and
    // moves it there when complete. The body is never held in memory.
    std::shared_ptr<URLSessionTask> downloadTaskWithRequest(const URLRequest& request, std::string destinationPath,
                                                            DownloadTaskCompletion completion);
    // Cancels every task of the session that has not completed.
    void invalidateAndCancel();
    // Transfers handed to the network (or the cache) by resume() in this
    // process, of every session: what shows that a road sent nothing.
    static uint64_t startedTransferCount();

    // Internal: the per-session cookie store shared by its transfers.
    void* cookieShare() const { return share_; }

private:
    explicit URLSession(URLSessionConfiguration configuration);
    std::shared_ptr<URLSessionTask> makeTask(const URLRequest& request, bool download, std::string destination,
                                             DataTaskCompletion dataCompletion,
                                             DownloadTaskCompletion downloadCompletion);

    URLSessionConfiguration configuration_;
    std::shared_ptr<Dispatch::SerialQueue> queue_;
    void* share_ = nullptr;
    std::mutex mutex_;
    std::vector<std::weak_ptr<URLSessionTaskState>> tasks_;
};
