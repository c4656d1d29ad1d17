#pragma once
// Handing addresses to the desktop. Only http, https and mailto leave the
// program; anything else (file:, javascript:, other applications' schemes)
// is refused, so that a page or a package cannot make us open local files or
// run programs.
#include <QUrl>
#include <functional>

namespace UIApplication {

bool canOpenURL(const QUrl& url);
// Opens the address with the desktop's handler; false when refused or failed.
bool openURL(const QUrl& url);
// Replaces the desktop hand-off (tests). nullptr restores it.
void setURLOpener(std::function<bool(const QUrl&)> opener);

}  // namespace UIApplication
