#pragma once
// A process-wide notification centre: names, an optional object, user info.
// Observers choose where they are called: on the posting thread, or on the
// main thread (through Dispatch::main). An observation ends when its token is
// destroyed, so an owner that keeps its tokens as members is removed with it.
#include <any>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct Notification {
    std::string name;
    std::any object;          // empty, a std::string, a bool, or whatever the poster documents
    nlohmann::json userInfo;  // null or an object

    // The object as text: the string it holds, or "" when it holds none.
    std::string objectString() const;
    bool hasObject() const { return object.has_value(); }
};

class NotificationCenter;

// Ends the observation when destroyed (or when reset()).
class ObserverToken {
public:
    ObserverToken() = default;
    ObserverToken(ObserverToken&&) noexcept = default;
    ObserverToken& operator=(ObserverToken&&) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;
    ~ObserverToken();
    void reset();
    bool isActive() const { return entry_ != nullptr; }

    struct Entry;  // internal to the centre

private:
    friend class NotificationCenter;
    explicit ObserverToken(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
    std::shared_ptr<Entry> entry_;
};

// A bag of tokens for an owner that observes several names.
class ObserverBag {
public:
    void add(ObserverToken token) { tokens_.push_back(std::move(token)); }
    void clear() { tokens_.clear(); }
    size_t size() const { return tokens_.size(); }

private:
    std::vector<ObserverToken> tokens_;
};

class NotificationCenter {
public:
    enum class Queue { Posting, Main };
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    // Observes `name`; when `object` is given, only notifications whose object
    // is that string.
    [[nodiscard]] ObserverToken addObserver(const std::string& name, Queue queue, Handler handler,
                                            std::optional<std::string> object = std::nullopt);

    // Delivers to every observer of the name: Posting observers at once on
    // this thread, Main observers through the main queue.
    void post(const Notification& notification);
    void post(const std::string& name, std::any object = {}, nlohmann::json userInfo = nullptr);
    // Posts from the main thread (hops there first).
    void postOnMain(const std::string& name, std::any object = {}, nlohmann::json userInfo = nullptr);

    size_t observerCount(const std::string& name) const;

private:
    friend class ObserverToken;
    void remove(const std::shared_ptr<ObserverToken::Entry>& entry);
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<ObserverToken::Entry>> entries_;
};
