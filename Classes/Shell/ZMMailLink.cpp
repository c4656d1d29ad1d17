#include "ZMMailLink.h"

#include <QPointer>

#include "Miscellaneous/ZMLocalization.h"
#include "UIKit/UIApplication.h"
#include "ZMVostrelle.h"

void ZMMailLink::open(const QUrl& mailto) {
    const std::string address = mailto.path(QUrl::FullyDecoded).toStdString();
    QPointer<ZMVostrelle> delegate(&ZMVostrelle::sharedVostrelle());
    UIApplication::openMailURL(mailto, [delegate, address](bool opened) {
        if (opened || !delegate) return;
        delegate->showAlert(ZMLocalizedString("No Mail Program"),
                            ZMLocalization::fill(ZMLocalizedString("No mail program is set up on this desktop, so no message to "
                                                                   "%@ could be started. Write to that address from your mail, "
                                                                   "or set a mail program in the desktop's settings (or with "
                                                                   "xdg-settings) and try again."),
                                                 {address}));
    });
}
