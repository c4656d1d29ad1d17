#include "CydiaStoreLoginWebView.h"

#include <QApplication>
#include <QDateTime>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <map>
#include <tuple>

#include "Services/ZMCydiaStore.h"
#include "WebEscapeKey.h"

namespace {

using CookieKey = std::tuple<QByteArray, QString, QString>;  // name, domain, path
std::map<CookieKey, QNetworkCookie>& cookies() {
    static std::map<CookieKey, QNetworkCookie> jar;
    return jar;
}
CookieKey keyOf(const QNetworkCookie& c) { return {c.name(), c.domain(), c.path()}; }

bool domainMatches(const QString& cookieDomain, const QString& host) {
    if (cookieDomain.isEmpty()) return false;
    QString domain = cookieDomain.toLower();
    const QString h = host.toLower();
    if (!domain.startsWith('.')) return h == domain;
    domain.remove(0, 1);
    return h == domain || h.endsWith('.' + domain);
}

bool pathMatches(const QString& cookiePath, const QString& path) {
    if (cookiePath.isEmpty() || cookiePath == "/") return true;
    return path == cookiePath || (path.startsWith(cookiePath) && (cookiePath.endsWith('/') || path.at(cookiePath.size()) == '/'));
}

}  // namespace

bool CydiaStoreLoginPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    if (ZMCydiaStore::isSignOutAddress(url.toString(QUrl::FullyEncoded).toStdString())) ZMCydiaStore::signOut();
    return VostrelleWebPage::acceptNavigationRequest(url, type, isMainFrame);
}

void CydiaStoreRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info) {
    if (!ZMCydiaStore::isStoreOrigin(info.requestUrl().toString(QUrl::FullyEncoded).toStdString())) return;
    for (const auto& [name, value] : ZMCydiaStore::headerStamp())
        info.setHttpHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
}

QWebEngineProfile* CydiaStoreLoginWebView::profile() {
    static QWebEngineProfile* profile = [] {
        auto* p = VostrelleWebPage::makeProfile(qApp);  // off the record
        p->setUrlRequestInterceptor(new CydiaStoreRequestInterceptor(p));
        auto* store = p->cookieStore();
        QObject::connect(store, &QWebEngineCookieStore::cookieAdded, p,
                         [](const QNetworkCookie& c) { cookies()[keyOf(c)] = c; });
        QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, p,
                         [](const QNetworkCookie& c) { cookies().erase(keyOf(c)); });
        return p;
    }();
    return profile;
}

std::string CydiaStoreLoginWebView::cookieHeaderFor(const QUrl& url) {
    const bool secure = url.scheme().compare("https", Qt::CaseInsensitive) == 0;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::string header;
    for (const auto& [key, c] : cookies()) {
        if (!domainMatches(c.domain(), url.host()) || !pathMatches(c.path(), url.path())) continue;
        if ((c.isSecure() && !secure) || (!c.isSessionCookie() && c.expirationDate() < now)) continue;
        if (!header.empty()) header += "; ";
        header += c.name().toStdString() + "=" + c.value().toStdString();
    }
    return header;
}

CydiaStoreLoginWebView::CydiaStoreLoginWebView(QWidget* parent) : QWebEngineView(parent) {
    page_ = new CydiaStoreLoginPage(profile(), this);
    setPage(page_);
    WebEscapeKey::install(this);
}

CydiaStoreLoginWebView::~CydiaStoreLoginWebView() {
    // The page goes with the view, well before the shared profile.
    setPage(nullptr);
    delete page_;
}
