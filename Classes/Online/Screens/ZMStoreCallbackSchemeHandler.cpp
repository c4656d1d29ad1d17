#include "ZMStoreCallbackSchemeHandler.h"

#include <QWebEngineUrlScheme>

void ZMStoreCallbackSchemeHandler::registerScheme() {
    QWebEngineUrlScheme scheme(kScheme);
    // "sileo://authentication_success?..." names its kind in the host.
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}
