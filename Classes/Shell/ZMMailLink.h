#pragma once
// Writing to an address from the program (Contact Developer, the e-mail
// buttons and links): the desktop's mail program gets the mailto: link. A
// desktop without one (or that refuses it) would show nothing at all, so an
// alert says so and names the address, to be written to by other means.
#include <QUrl>

class ZMMailLink {
public:
    static void open(const QUrl& mailto);
};
