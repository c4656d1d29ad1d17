#pragma once
// The line a screen of the maker's online service shows, in place of what it
// would ask the service, when no service is configured: most users run
// without one, and a blank page, an error popup or a sign-in that cannot work
// would tell them nothing.
#include <QLabel>

namespace OnlineServiceNotice {

// Whether the service is configured now (the setting is read at each call).
bool serviceConfigured();
// A plain-text label holding the line (object name "onlineServiceNotice"),
// shown only while the service is not configured.
QLabel* make(QWidget* parent = nullptr);
// Shows or hides the label as the configuration is now; returns whether it shows.
bool update(QLabel* notice);

}  // namespace OnlineServiceNotice
