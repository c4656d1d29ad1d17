#include "Details/PackageAdvertisementView.h"

#include <QHBoxLayout>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include "Miscellaneous/ZMLog.h"
#include "WebEscapeKey.h"
#include "WebViewViewController.h"

namespace {

class HttpsOnly : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        if (PackageAdvertisementView::allowsRequest(info.requestUrl())) return;
        ZMLOG("advertisement request refused: {}", info.requestUrl().toString().toStdString());
        info.block(true);
    }
};

}  // namespace

PackageAdvertisementView::PackageAdvertisementView(QWidget* parent) : QWidget(parent) {
    setObjectName("adsWebView");
    setFixedHeight(0);
}

PackageAdvertisementView::~PackageAdvertisementView() {
    // The page goes before its profile (a child of this view).
    delete view_;
    delete page_;
}

bool PackageAdvertisementView::allowsRequest(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (scheme == "data") return true;  // the snippet itself, handed over in place
    return scheme == "https" && !url.host().isEmpty();
}

bool PackageAdvertisementView::load(const std::string& snippet, const QUrl& pageURL) {
    if (snippet.empty() || !pageURL.isValid() || pageURL.scheme() != "https" || pageURL.host().isEmpty()) return false;
    if (page_ && baseURL_ == pageURL) return true;
    baseURL_ = pageURL;
    if (!view_) {
        auto* profile = VostrelleWebPage::makeProfile(this);
        profile->setUrlRequestInterceptor(new HttpsOnly(profile));
        page_ = new VostrelleWebPage(profile, nullptr);
        view_ = new QWebEngineView;
        view_->setPage(page_);
        WebEscapeKey::install(view_);
        view_->setFixedSize(kWidth, kHeight);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 20, 0, 0);
        row->addStretch(1);
        row->addWidget(view_);
        row->addStretch(1);
        setFixedHeight(kHeight + 20);
    }
    page_->setHtml(QString::fromStdString(snippet), baseURL_);
    return true;
}
