#pragma once
// The failed refreshes of sources, told together. A refresh of many sources
// that fail would otherwise pile one popup per source under each other, most
// naming only a host: here every failure names its source (its name and the
// address the user added) with its reason, in one popup that takes the
// failures arriving while it is up (a source failing again keeps one entry,
// with its latest reason) and closes with one key.
#include <QObject>
#include <QPointer>
#include <string>
#include <utility>
#include <vector>

class ErrorViewController;

class ZMRefreshFailureReport : public QObject {
public:
    // Adds a failure. Returns a new popup for the caller to present when none
    // is up; otherwise the popup shown tells this failure too and the result is null.
    ErrorViewController* add(const std::string& location, const std::string& reason);
    // One failure in words: the source and its reason.
    static std::string describe(const std::string& location, const std::string& reason);
    // The popup while it is up.
    ErrorViewController* popup() const;

    // More entries than this are counted, not listed: the Manage tab marks every failed source.
    static constexpr size_t kListed = 5;

protected:
    // A popup closed is gone at once, though it is deleted later.
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void fill();
    QPointer<ErrorViewController> popup_;
    std::vector<std::pair<std::string, std::string>> entries_;  // location, its description
};
