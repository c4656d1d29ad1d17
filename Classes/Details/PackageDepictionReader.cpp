#include "Details/PackageDepictionReader.h"

#include <QPointer>

#include "Database/ZMRPackage.h"
#include "Depictions/ZMDepictionBudget.h"
#include "Depictions/ZMDepictionChoice.h"
#include "Depictions/ZMDepictionRequests.h"
#include "Depictions/ZMDepictionsParser.h"
#include "Depictions/ZMNativeDepiction.h"
#include "Details/PackageDetailsHeader.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/ZMScreenshotQtCodec.h"
#include "Dispatch/Dispatch.h"
#include "Dispatch/SerialQueue.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPlatform.h"
#include "ZMPackageDescriptionReader.h"
#include "UIKit/UITextView.h"
#include "VostrellePersistentPreferences.h"
#include "Miscellaneous/ZMJSON.h"

namespace {

constexpr const char* kClassicUserAgent = "Telesphoreo APT-HTTP/1.0.592";
using TextFormat = PackageDetailsViewController::TextFormat;

QString q(const std::string& s) { return QString::fromStdString(s); }

std::shared_ptr<URLSession> noCacheSession() {
    static auto session = [] {
        auto configuration = URLSessionConfiguration::noCacheConfigureation();
        configuration.timeoutIntervalForResource = 60;  // a trickling host is not waited on for ever
        return URLSession::sessionWithConfiguration(configuration);
    }();
    return session;
}

}  // namespace


void PackageDepictionReader::runDepictionChoice(PackageDetailsViewController& page) {
    ++page.depictionChoiceCount_;
    ZMDepictionChoice::Inputs in;
    in.sourceUsesInfoJson = page.sourceUsesInfoJson();
    in.fetchWhateverTheNetwork =
        VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::GetCydiaPackageInfoFromDepiction);
    in.reach = page.reach_;
    in.sileoDepiction = page.text("sileoDepiction");
    in.sourceLocation = page.text("sourceLocation");
    switch (ZMDepictionChoice::decide(in, page.settings_)) {
        case ZMDepictionChoice::Reader::Native: getSileoDepiction(page); break;
        case ZMDepictionChoice::Reader::ClassicPage: getHtmlPageForCydiaPackage(page); break;
        case ZMDepictionChoice::Reader::None: break;
    }
}

// ---- the native depiction -------------------------------------------------------------------

void PackageDepictionReader::getSileoDepiction(PackageDetailsViewController& page) {
    QPointer<PackageDetailsViewController> weak(&page);
    ZMDepictionRequests::fetch(
        noCacheSession(), page.text("sileoDepiction"), ZMDepictionRequests::kMaximumDocumentSize,
        [weak, gone = page.pageWent()](std::string data, std::optional<URLResponse>, std::optional<ZMError> error) {
            if (error) {
                ZMLOG("Error : {}", error->localizedDescription());
                Dispatch::main([weak] {
                    if (weak) getHtmlPageForCydiaPackage(*weak);
                });
                return;
            }
            ZMDepictionBudget::queue()->async([weak, gone, data = std::move(data)] {
                if (gone()) return;
                auto depiction = ZMNativeDepiction::parse(data);
                Dispatch::main([weak, depiction = std::move(depiction)]() mutable {
                    if (weak) applyNativeDepiction(*weak, std::move(depiction));
                });
            });
        });
}

void PackageDepictionReader::applyNativeDepiction(PackageDetailsViewController& page, ZMNativeDepiction depiction) {
    page.hideBannerPlaceholder_ = !depiction.headerImage;
    if (depiction.headerImage) fetchBanner(page, *depiction.headerImage);
    for (const auto& address : depiction.changelogPages) fetchChangelogPage(page, address);
    // What the walk found is shown whatever its screenshots: the description
    // and the changelog tab's headings.
    if (depiction.hasChangelogTab) {
        page.changelogFromTab_ = depiction.changelog.has_value();
        page.cydiaPackageHaveChangelog_ = page.changelogFromTab_;
        if (depiction.changelog) {
            page.showText(page.changelogContentLbl_, *depiction.changelog, TextFormat::Markdown, true);
            page.changelogVersionLbl_->setText(q(page.text("version")));
        }
    } else if (depiction.changelogPages.empty()) {
        page.cydiaPackageHaveChangelog_ = false;
    }
    page.updateGetButtonTitle();
    if (depiction.description) showDescription(page, *depiction.description, TextFormat::Markdown);
    const auto& urls = depiction.screenshots;
    if (!urls.empty() && page.screenshotsDictionary_.empty() && urls != ZMJSON::stringList(page.packageDictionary_, "screenshots") &&
        ZMJSON::stringList(page.packageDictionary_, "screenshotsLocalPaths").empty()) {
        page.setPackageScreenshotsFromArray(urls);
        page.setContent();
        return;
    }
    page.refreshForCydiaPackages_ = true;
    page.screenshotRetrievingFail_ = false;
    page.setContent();
}

void PackageDepictionReader::fetchBanner(PackageDetailsViewController& page, const std::string& url) {
    QPointer<PackageDetailsViewController> weak(&page);
    ZMDepictionRequests::fetch(URLSession::sharedSession(), url, ZMDepictionRequests::kMaximumImageSize,
                               [weak](std::string data, std::optional<URLResponse> response, std::optional<ZMError> error) {
                                   if (error || !response || !response->isSuccess() || data.empty()) return;
                                   Dispatch::defaultQueue([weak, data = std::move(data)] {
                                       QImage image = ZMScreenshotQtCodec::decodeImage(data, ZMScreenshotQtCodec::cacheBox());
                                       Dispatch::main([weak, image] {
                                           if (!weak) return;
                                           if (image.isNull()) return;
                                           weak->hasBannerImage_ = true;
                                           weak->bannerImage_ = image;
                                           weak->updateBannerPixmap();
                                           weak->colorNavigationBarForBanner();
                                       });
                                   });
                               });
}

void PackageDepictionReader::fetchChangelogPage(PackageDetailsViewController& page, const std::string& url) {
    QPointer<PackageDetailsViewController> weak(&page);
    ZMDepictionRequests::fetch(
        noCacheSession(), url, ZMDepictionRequests::kMaximumDocumentSize,
        [weak, gone = page.pageWent()](std::string data, std::optional<URLResponse>, std::optional<ZMError> error) {
            if (error) {
                // What the depiction already showed stays: only the changelog is missing.
                ZMLOG("Error : {}", error->localizedDescription());
                Dispatch::main([weak] {
                    if (weak) weak->setContent();
                });
                return;
            }
            ZMDepictionBudget::queue()->async([weak, gone, data = std::move(data)] {
                auto changelog = ZMNativeDepiction::changelogFromPage(data, gone);
                Dispatch::main([weak, changelog] {
                    if (!weak) return;
                    // A page without a changelog hides none that another source gave.
                    if (changelog && !weak->changelogFromTab_) showChangelog(*weak, *changelog);
                    weak->setContent();
                });
            });
        });
}

void PackageDepictionReader::showChangelog(PackageDetailsViewController& page, const std::string& plainText) {
    page.cydiaPackageHaveChangelog_ = true;
    page.showText(page.changelogContentLbl_, plainText, TextFormat::Plain);
    page.changelogVersionLbl_->setText(q(page.text("version")));
}

// ---- classic information pages ---------------------------------------------------------------

void PackageDepictionReader::getHtmlPageForCydiaPackage(PackageDetailsViewController& page) {
    using Family = ZMDepictionSettings::Family;
    const Family family = page.settings_.familyForSource(page.text("sourceLocation"));
    if (family == Family::None) return;
    std::string pageURL = family == Family::Orvane ? page.settings_.storeInformationPage(page.packageIdentifier_).value_or("")
                                                   : page.text("website");
    QPointer<PackageDetailsViewController> weak(&page);
    auto noData = [weak] {
        Dispatch::main([weak] {
            if (weak) weak->getPackageInformation();
        });
    };
    auto request = ZMDepictionRequests::request(pageURL, ZMDepictionRequests::kMaximumDocumentSize);
    if (!request) {
        noData();
        return;
    }
    request->setValue(kClassicUserAgent, "User-Agent");
    request->setValue(ZMPlatform::deviceModelID(), "X-Machine");
    request->setValue(ZMPlatform::firmwareVersion(), "X-Firmware");
    request->setValue(ZMPlatform::deviceUDID(), "X-Unique-ID");
    const ZMDepictionSettings settings = page.settings_;
    const std::string identifier = page.packageIdentifier_;
    const std::function<bool()> gone = page.pageWent();
    ZMDepictionRequests::fetchGuarded(
        URLSession::sharedSession(), *request, {"X-Unique-ID"},
        [settings](const std::string& host) { return settings.isClassicHost(host); },
        [weak, family, pageURL, identifier, settings, noData, gone](std::string data, std::optional<URLResponse>,
                                                                    std::optional<ZMError>) {
            if (data.empty()) {
                noData();
                return;
            }
            ZMDepictionBudget::queue()->async([=, data = std::move(data)] {
                auto parser = ZMDepictionsParser::depictionsParserWithData(data, pageURL, gone);
                if (gone()) return;
                // A page read past the budget gives its description as plain text.
                const TextFormat descriptionFormat = parser->overBudget() ? TextFormat::Plain : TextFormat::Markdown;
                auto onMain = [weak](auto apply) {
                    return [weak, apply](auto value) {
                        Dispatch::main([weak, apply, value] {
                            if (weak) apply(*weak, value);
                        });
                    };
                };
                auto name = onMain([](PackageDetailsViewController& page, std::optional<std::string> v) {
                    if (v) page.header_->nameLbl()->setText(q(*v));
                });
                auto description = onMain([descriptionFormat](PackageDetailsViewController& page, std::optional<std::string> v) {
                    if (v) showDescription(page, *v, descriptionFormat);
                });
                auto changelog = onMain([](PackageDetailsViewController& page, std::optional<std::string> v) {
                    if (v) showChangelog(page, *v);
                    else page.cydiaPackageHaveChangelog_ = false;
                    page.setContent();
                });
                auto screenshots = onMain([](PackageDetailsViewController& page, std::optional<std::vector<std::string>> v) {
                    if (v && !v->empty() && page.screenshotsDictionary_.empty() &&
                        ZMJSON::stringList(page.packageDictionary_, "screenshotsLocalPaths").empty()) {
                        page.setPackageScreenshotsFromArray(*v);
                        return;
                    }
                    page.refreshForCydiaPackages_ = true;
                    page.screenshotRetrievingFail_ = false;
                    page.setContent();
                });
                switch (family) {
                    case ZMDepictionSettings::Family::Marlgate:
                        parser->retrieveNameFromMarlgateDepictionWithCompletionHandler(settings.marlgateSiteName, name);
                        parser->retrieveDescriptionFromMarlgateDepictionWithCompletionHandler(description);
                        parser->retrieveChangelogFromMarlgateDepictionWithCompletionHandler(changelog);
                        parser->retrieveScreenshotsFromMarlgateDepictionForPackageWithURL(pageURL, screenshots);
                        break;
                    case ZMDepictionSettings::Family::Orvane:
                        parser->retrieveNameFromOrvaneTypeDepictionWithCompletionHandler(name);
                        parser->retrieveDescriptionFromOrvaneTypeDepictionWithCompletionHandler(description);
                        parser->retrieveChangelogFromOrvaneTypeDepictionForPackageWithIdentifier(identifier, changelog);
                        parser->retrieveScreenshotsFromOrvaneTypeDepictionWithCompletionHandler(screenshots);
                        break;
                    case ZMDepictionSettings::Family::Kestrum:
                        parser->retrieveDescriptionFromKestrumDepictionWithCompletionHandler(description);
                        parser->retrieveChangelogFromKestrumDepictionForPackageWithURL(pageURL, changelog);
                        parser->retrieveScreenshotsFromKestrumDepictionForPackageWithURL(pageURL, screenshots);
                        break;
                    case ZMDepictionSettings::Family::None: break;
                }
            });
        });
}

void PackageDepictionReader::showDescription(PackageDetailsViewController& page, const std::string& text, TextFormat format) {
    page.descriptionFromIndex_ = false;
    page.showText(page.descriptionLbl_, text, format);
}

// ---- the stored index ---------------------------------------------------------------------

void PackageDepictionReader::readIndexDescription(PackageDetailsViewController& page) {
    // A source of information files gives its Markdown whole already.
    if (page.sourceUsesInfoJson()) return;
    const std::string location = page.text("sourceLocation"), version = page.text("version");
    const std::string identifier = page.packageIdentifier_, synopsis = page.text("Description");
    QPointer<PackageDetailsViewController> weak(&page);
    Dispatch::defaultQueue([weak, location, identifier, version, synopsis] {
        auto whole = ZMPackageDescriptionReader::fullDescription(location, identifier, version);
        if (!whole || *whole == synopsis) return;
        Dispatch::main([weak, whole = std::move(*whole)] {
            if (!weak) return;
            weak->indexDescription_ = whole;
            // A depiction's own description, when it came first, stays.
            if (!weak->descriptionFromIndex_) return;
            weak->showText(weak->descriptionLbl_, whole, TextFormat::Plain);
            weak->setContent();
        });
    });
}
