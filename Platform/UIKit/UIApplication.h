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
// A mail link, answered later on the main thread: whether a program took it.
// The desktop's hand-off only starts its opener and calls that a success, so
// a desktop without a mail program would show nothing: here xdg-open's exit
// status answers (0: taken), and an opener still running after
// kMailHandOverSeconds has handed the link on. Without xdg-open, the
// hand-off's own answer. The opener's complaints go to our log.
void openMailURL(const QUrl& url, std::function<void(bool opened)> done);
inline constexpr int kMailHandOverSeconds = 5;
// Replaces the desktop hand-off (tests). nullptr restores it.
void setURLOpener(std::function<bool(const QUrl&)> opener);

}  // namespace UIApplication
