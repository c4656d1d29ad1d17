#include "Depictions/ZMDepictionRequests.h"

namespace ZMDepictionRequests {

namespace {

constexpr int kMaximumRedirects = 16;

bool isRedirect(int status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

struct Guarded {
    std::shared_ptr<URLSession> session;
    std::vector<std::string> fields;
    std::function<bool(const std::string&)> mayReceive;
    Completion completion;
    int redirects = 0;
};

void step(std::shared_ptr<Guarded> g, URLRequest request) {
    if (!g->mayReceive(request.url.host()))
        for (const auto& field : g->fields) request.headers.remove(field);
    request.followsRedirects = false;
    g->session
        ->dataTaskWithRequest(request, [g, request](std::string data, std::optional<URLResponse> response,
                                                    std::optional<ZMError> error) mutable {
            if (!error && response && isRedirect(response->statusCode)) {
                auto location = response->valueForHTTPHeaderField("Location");
                auto next = location ? request.url.resolving(*location) : std::nullopt;
                if (!next || !next->isHTTP() || next->host().empty()) {
                    g->completion({}, std::nullopt, URLError::make(URLError::UnsupportedURL, location.value_or("")));
                    return;
                }
                if (++g->redirects > kMaximumRedirects) {
                    g->completion({}, std::nullopt, URLError::make(URLError::HTTPTooManyRedirects));
                    return;
                }
                const bool sameHost = next->host() == request.url.host();
                request.url = *next;
                if (response->statusCode == 303) request.httpMethod = "GET";
                // Leaving for another host drops the guarded fields for good,
                // even should the chain come back.
                if (!sameHost)
                    for (const auto& field : g->fields) request.headers.remove(field);
                step(g, std::move(request));
                return;
            }
            g->completion(std::move(data), std::move(response), std::move(error));
        })
        ->resume();
}

}  // namespace

std::optional<URLRequest> request(const std::string& text, uint64_t maximumBodySize) {
    auto url = URL::parse(text);
    if (!url || !url->isHTTP() || url->host().empty()) return std::nullopt;
    URLRequest r(*url);
    r.maximumBodySize = maximumBodySize;
    return r;
}

void fetchGuarded(const std::shared_ptr<URLSession>& session, URLRequest request, std::vector<std::string> guarded,
                  std::function<bool(const std::string& host)> mayReceive, Completion completion) {
    auto g = std::make_shared<Guarded>();
    g->session = session;
    g->fields = std::move(guarded);
    g->mayReceive = std::move(mayReceive);
    g->completion = std::move(completion);
    step(std::move(g), std::move(request));
}

void fetch(const std::shared_ptr<URLSession>& session, const std::string& url, uint64_t maximumBodySize,
           Completion completion) {
    auto r = request(url, maximumBodySize);
    if (!r) {
        completion({}, std::nullopt, URLError::make(URLError::UnsupportedURL, url));
        return;
    }
    session->dataTaskWithRequest(*r, std::move(completion))->resume();
}

}  // namespace ZMDepictionRequests
