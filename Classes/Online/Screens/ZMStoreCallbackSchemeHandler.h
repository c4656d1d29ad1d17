#pragma once
// Serves the repository stores' "sileo://" callbacks inside the program: the
// store pages' profile answers the scheme itself, so a callback reaches the
// payment client (ZMRepoStoreAPI::storeCallbackReceived) only from a page the
// program opened, never from the desktop or another program. The page gets
// a short "you may close this" answer; the client then closes it.
//
// The scheme must be known to the web engine before the QApplication exists:
// the application's main and the GUI tests' main call registerScheme() first.
#include <QWebEngineUrlSchemeHandler>
#include <functional>
#include <string>

class ZMStoreCallbackSchemeHandler : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    static constexpr const char* kScheme = "sileo";
    static void registerScheme();

    // `deliver` receives each callback URL on the main thread, after the page got its answer.
    explicit ZMStoreCallbackSchemeHandler(std::function<void(const std::string& url)> deliver, QObject* parent = nullptr);
    void requestStarted(QWebEngineUrlRequestJob* job) override;

private:
    std::function<void(const std::string&)> deliver_;
};
