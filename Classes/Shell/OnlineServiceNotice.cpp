#include "OnlineServiceNotice.h"

#include "Services/ZMMakerAPI.h"

namespace OnlineServiceNotice {

bool serviceConfigured() { return ZMMakerAPI::isConfigured(); }

QLabel* make(QWidget* parent) {
    auto* notice = new QLabel(QString::fromStdString(ZMMakerAPI::notConfiguredText()), parent);
    notice->setObjectName("onlineServiceNotice");
    notice->setTextFormat(Qt::PlainText);
    notice->setWordWrap(true);
    notice->setAlignment(Qt::AlignCenter);
    notice->setContentsMargins(16, 8, 16, 8);
    notice->setForegroundRole(QPalette::PlaceholderText);
    update(notice);
    return notice;
}

bool update(QLabel* notice) {
    const bool shows = !serviceConfigured();
    if (notice) notice->setVisible(shows);
    return shows;
}

}  // namespace OnlineServiceNotice
