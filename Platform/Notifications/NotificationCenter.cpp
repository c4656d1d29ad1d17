#include "NotificationCenter.h"

#include <algorithm>
#include <atomic>

#include "Dispatch/Dispatch.h"

struct ObserverToken::Entry {
    std::string name;
    std::optional<std::string> object;
    NotificationCenter::Queue queue;
    NotificationCenter::Handler handler;
    NotificationCenter* center = nullptr;
    std::atomic<bool> alive{true};
    // Held while the handler runs, so that removal waits for a running call
    // on another thread and never frees state the handler still uses.
    std::recursive_mutex running;
};

std::string Notification::objectString() const {
    if (const auto* s = std::any_cast<std::string>(&object)) return *s;
    if (const auto* c = std::any_cast<const char*>(&object)) return *c ? *c : "";
    return {};
}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
    if (this != &other) {
        reset();
        entry_ = std::move(other.entry_);
    }
    return *this;
}

ObserverToken::~ObserverToken() { reset(); }

void ObserverToken::reset() {
    if (!entry_) return;
    auto entry = std::move(entry_);
    entry_.reset();
    entry->alive = false;
    {
        // Wait for a call in progress on another thread; a handler that ends
        // its own observation holds the recursive lock already.
        std::lock_guard lock(entry->running);
    }
    if (entry->center) entry->center->remove(entry);
}

NotificationCenter& NotificationCenter::defaultCenter() {
    static auto* center = new NotificationCenter;
    return *center;
}

ObserverToken NotificationCenter::addObserver(const std::string& name, Queue queue, Handler handler,
                                              std::optional<std::string> object) {
    auto entry = std::make_shared<ObserverToken::Entry>();
    entry->name = name;
    entry->object = std::move(object);
    entry->queue = queue;
    entry->handler = std::move(handler);
    entry->center = this;
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
    return ObserverToken(entry);
}

void NotificationCenter::remove(const std::shared_ptr<ObserverToken::Entry>& entry) {
    std::lock_guard lock(mutex_);
    entries_.erase(std::remove(entries_.begin(), entries_.end(), entry), entries_.end());
}

static void deliver(const std::shared_ptr<ObserverToken::Entry>& entry, const Notification& n) {
    if (!entry->alive) return;
    std::lock_guard lock(entry->running);
    if (!entry->alive) return;
    entry->handler(n);
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<std::shared_ptr<ObserverToken::Entry>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : entries_) {
            if (e->name != notification.name) continue;
            if (e->object && *e->object != notification.objectString()) continue;
            matching.push_back(e);
        }
    }
    for (const auto& e : matching) {
        if (e->queue == Queue::Posting) {
            deliver(e, notification);
        } else {
            Dispatch::main([e, notification] { deliver(e, notification); });
        }
    }
}

void NotificationCenter::post(const std::string& name, std::any object, nlohmann::json userInfo) {
    post(Notification{name, std::move(object), std::move(userInfo)});
}

void NotificationCenter::postOnMain(const std::string& name, std::any object, nlohmann::json userInfo) {
    Notification n{name, std::move(object), std::move(userInfo)};
    Dispatch::main([this, n = std::move(n)] { post(n); });
}

size_t NotificationCenter::observerCount(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(),
                                             [&](const auto& e) { return e->name == name; }));
}
