#include "ZMRefreshFailureReport.h"

#include <QEvent>
#include <algorithm>
#include <exception>

#include "Database/ZMRSource.h"
#include "ErrorViewController.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"

std::string ZMRefreshFailureReport::describe(const std::string& location, const std::string& reason) {
    std::string name;
    try {
        if (auto source = ZMRSource::objectForPrimaryKey(location)) name = source->name;
    } catch (const std::exception& e) {
        ZMLOG("no name for {}: {}", location, e.what());
    }
    // A source not refreshed yet is named by its address.
    const std::string source = name.empty() || name == location ? location : name + " — " + location;
    return source + "\n" + reason;
}

ErrorViewController* ZMRefreshFailureReport::popup() const {
    return popup_ && !popup_->isBeingDismissed() ? popup_.data() : nullptr;
}

ErrorViewController* ZMRefreshFailureReport::add(const std::string& location, const std::string& reason) {
    const bool shown = popup() != nullptr;
    if (!shown) entries_.clear();
    const std::string text = describe(location, reason);
    auto same = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == location; });
    if (same != entries_.end()) same->second = text;
    else entries_.emplace_back(location, text);
    if (!shown) {
        popup_ = new ErrorViewController;
        popup_->installEventFilter(this);
    }
    fill();
    return shown ? nullptr : popup_.data();
}

bool ZMRefreshFailureReport::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::Hide && watched == popup_) popup_ = nullptr;
    return false;
}

void ZMRefreshFailureReport::fill() {
    std::string message;
    for (size_t i = 0; i < entries_.size() && i < kListed; ++i) message += (i ? "\n\n" : "") + entries_[i].second;
    if (entries_.size() > kListed)
        message += "\n\n" + ZMLocalization::format("%@ more sources could not be refreshed; the Manage tab marks them.",
                                                   {std::to_string(entries_.size() - kListed)});
    const std::string title = entries_.size() == 1 ? ZMLocalizedString("Source Not Refreshed")
                                                   : ZMLocalizedString("Sources Not Refreshed");
    popup_->showWithTitle(title, message, 1, ZMLocalizedString("OK"));
}
