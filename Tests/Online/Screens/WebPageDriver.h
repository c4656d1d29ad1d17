#pragma once
// Drives a real web page as a user would: waits for an element to be there,
// then types and clicks through page script.
#include <QPointer>
#include <QWebEnginePage>
#include <chrono>
#include <memory>

#include "Online/Screens/ZMStorePages.h"
#include "Support/Gui/GuiTestSupport.h"
#include "WebViewViewController.h"

namespace WebPageDriver {

// Waits until the page shows an element with this id (the first page load
// of a test starts the web engine, which takes a while).
inline bool waitForElement(QWebEnginePage* page, const QString& id,
                           std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    QPointer<QWebEnginePage> guard(page);
    auto found = std::make_shared<bool>(false);
    auto lastAsked = std::chrono::steady_clock::time_point{};
    return GuiTest::waitUntil(
        [&] {
            // Asked again now and then: an answer is lost when the page navigates meanwhile.
            if (guard && !*found && std::chrono::steady_clock::now() - lastAsked > std::chrono::milliseconds(250)) {
                lastAsked = std::chrono::steady_clock::now();
                guard->runJavaScript(QStringLiteral("!!document.getElementById('%1')").arg(id),
                                     [found](const QVariant& v) { *found = *found || v.toBool(); });
            }
            return *found;
        },
        timeout);
}

inline void run(QWebEnginePage* page, const QString& script) { page->runJavaScript(script); }

// The store page ZMStorePages opened last, once it shows the element; null
// when none does.
inline QWebEnginePage* lastStorePage(const QString& element) {
    QPointer<WebViewViewController> web;
    auto& pages = ZMStorePages::shared();
    if (!GuiTest::waitUntil([&] { return (web = pages.pageScreen(pages.lastPage())) != nullptr; }, std::chrono::seconds(30)) ||
        !waitForElement(web->page(), element))
        return nullptr;
    return web->page();
}

}  // namespace WebPageDriver
