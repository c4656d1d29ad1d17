#include "Details/DetailsImages.h"
#include "ZMSvgPixmap.h"

#include <map>

static void initDetailsResources() { Q_INIT_RESOURCE(Details); }

namespace DetailsImages {

QIcon named(const std::string& name) {
    static const bool ready = (initDetailsResources(), true);
    (void)ready;
    static const std::map<std::string, QString> files = {
        {"Fav", "Fav"}, {"Not Fav", "NotFav"}, {"Share", "Share"}, {"Website", "Website"}, {"Donate", "Donate"}};
    auto it = files.find(name);
    if (it == files.end()) return {};
    return ZMSvgPixmap::icon(QStringLiteral(":/Images/Details/%1.svg").arg(it->second));
}

}  // namespace DetailsImages
