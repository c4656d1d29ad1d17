#include "ZMStoreCallbackSchemeHandler.h"

#include <QBuffer>
#include <QPointer>
#include <QTimer>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "Miscellaneous/ZMLocalization.h"

void ZMStoreCallbackSchemeHandler::registerScheme() {
    QWebEngineUrlScheme scheme(kScheme);
    // "sileo://authentication_success?..." names its kind in the host.
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

ZMStoreCallbackSchemeHandler::ZMStoreCallbackSchemeHandler(std::function<void(const std::string&)> deliver, QObject* parent)
    : QWebEngineUrlSchemeHandler(parent), deliver_(std::move(deliver)) {}

void ZMStoreCallbackSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
    const std::string url = job->requestUrl().toString(QUrl::FullyEncoded).toStdString();
    const QString text = QString::fromStdString(ZMLocalizedString("You can close this page.")).toHtmlEscaped();
    auto* body = new QBuffer(job);
    body->setData(QStringLiteral("<!DOCTYPE html><html><body><p>%1</p></body></html>").arg(text).toUtf8());
    body->open(QIODevice::ReadOnly);
    job->reply("text/html", body);
    // Later: handing it over may close the page that is still loading this answer.
    QPointer<ZMStoreCallbackSchemeHandler> self(this);
    QTimer::singleShot(0, this, [self, url] {
        if (self && self->deliver_) self->deliver_(url);
    });
}
