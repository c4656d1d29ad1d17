#pragma once
// The Debian version ordering the collections need to choose between upgrade,
// downgrade and reinstall. Same declaration as the version-comparison category.
#include <string_view>

// <0, 0 or >0 as a orders before, the same as, or after b.
int ZMVersionCompare(std::string_view a, std::string_view b);
