#pragma once
// The advertisement area of the package details page, for the packages of
// the classic repository whose information pages carry one. It stays empty
// (and collapsed) unless an advertisement snippet is configured
// (ZMDepictionSettings::advertisementSnippet). A configured snippet is shown
// in a confined page (VostrelleWebPage: its own off-the-record profile, no
// downloads, windows or permissions) under the package's https address on
// that repository's host, and everything it loads must be https: any other
// request is refused. Nothing of the device is sent with it.
#include <QUrl>
#include <QWidget>
#include <string>

class QWebEngineView;
class VostrelleWebPage;

class PackageAdvertisementView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 300;
    static constexpr int kHeight = 250;

    explicit PackageAdvertisementView(QWidget* parent = nullptr);
    ~PackageAdvertisementView() override;

    // Shows `snippet` under `pageURL`; false (and nothing shown) unless both
    // are given and the address is https.
    bool load(const std::string& snippet, const QUrl& pageURL);
    bool isLoaded() const { return page_ != nullptr; }
    QUrl baseURL() const { return baseURL_; }
    VostrelleWebPage* page() const { return page_; }

    // Whether the snippet may load `url`: https with a host (and the snippet itself).
    static bool allowsRequest(const QUrl& url);

private:
    QUrl baseURL_;
    VostrelleWebPage* page_ = nullptr;
    QWebEngineView* view_ = nullptr;
};
