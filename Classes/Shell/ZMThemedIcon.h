#pragma once
// Icons of the desktop's theme, by their freedesktop names ("view-refresh"),
// with a picture of our own behind each: a theme may lack a name (some have
// only "view-refresh-symbolic"), and a missing icon draws a blank button.
#include <QIcon>

namespace ZMThemedIcon {

// The theme's icon of that name, else its "-symbolic" form, else the one
// bundled under ":/Images/Icons/<name>.svg".
QIcon named(const char* name);

}  // namespace ZMThemedIcon
