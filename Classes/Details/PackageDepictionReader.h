#pragma once
// Where the package details page gets more than the index gives: the
// depiction choice, and the two readers it picks from.
//
//   native depiction   GET of "sileoDepiction" without cache: banner,
//                      description, changelog (its tab, or its pages),
//                      screenshots; on a network error the classic page
//   classic page       one of the four classic repositories' HTML
//                      information pages: name, description, changelog,
//                      screenshots (the device's identifier only to their hosts)
//   stored index       the whole Description from the Packages file the
//                      source's refresh stored (the record keeps only its
//                      synopsis), read off the main thread when the page opens
//
// Each reader ends by laying the page out again. Every completion holds the
// page weakly: a closed page gets nothing. Texts are read and their documents
// built off the GUI thread; the page shows each one once it is built.
#include <string>

#include "Details/PackageDetailsViewController.h"

struct ZMNativeDepiction;

class PackageDepictionReader {
public:
    static void runDepictionChoice(PackageDetailsViewController& page);
    static void getSileoDepiction(PackageDetailsViewController& page);
    static void getHtmlPageForCydiaPackage(PackageDetailsViewController& page);
    static void applyNativeDepiction(PackageDetailsViewController& page, ZMNativeDepiction depiction);
    static void readIndexDescription(PackageDetailsViewController& page);

private:
    static void fetchChangelogPage(PackageDetailsViewController& page, const std::string& url);
    static void fetchBanner(PackageDetailsViewController& page, const std::string& url);
    static void showChangelog(PackageDetailsViewController& page, const std::string& plainText);
    // A depiction's description, which the index's whole description arriving later leaves in place.
    static void showDescription(PackageDetailsViewController& page, const std::string& text,
                                PackageDetailsViewController::TextFormat format);
};
