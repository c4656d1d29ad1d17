#pragma once
// Debian version ordering ([epoch:]upstream[-revision]) and the syntax checks
// that keep bad index entries away from apt/dpkg command lines.
//
// Ordering: identical to `dpkg --compare-versions` for every version dpkg
// accepts (including the ones it accepts with a warning, such as a version
// that does not start with a digit or holds characters outside the grammar).
// Surrounding spaces and tabs are ignored, as dpkg does (a "\n" or "\r" is an
// ordinary, if invalid, character to dpkg and so it is here).
//
// Versions dpkg refuses have no Debian order; they are still ordered totally
// and consistently so sorting never misbehaves:
//   empty (or only whitespace)  <  refused by dpkg  <  accepted by dpkg
// Refused versions ("1 0", "1.0 \n", ":1", "a:1", "1:", "1.0-", "-1", an epoch above
// 2147483647, embedded NUL bytes, ...) order among themselves by the same
// character rules applied to the whole text, then byte by byte.
// Two empty versions ("", " ") are equal. (dpkg's command line also takes the literal
// "<unknown>" as empty; that is a quirk of its front end and is not copied.)
#include <string_view>

// <0, 0 or >0 as a orders before, the same as, or after b.
int ZMVersionCompare(std::string_view a, std::string_view b);

// The receiver orders strictly before the argument.
inline bool lessThan(std::string_view a, std::string_view b) { return ZMVersionCompare(a, b) < 0; }

// dpkg would compare this version (possibly warning about it): not empty, no
// embedded space or tab (or NUL), a numeric epoch 0..2147483647 followed by something,
// a non-empty upstream part and no empty revision after a final hyphen.
bool ZMVersionIsComparable(std::string_view version);

// Strict policy grammar: optional epoch of digits and ':', an upstream part
// that starts with a digit and holds only [A-Za-z0-9.+~] plus '-' (only when
// a revision follows) and ':' (only after an epoch), and an optional revision
// of [A-Za-z0-9.+~]. No whitespace at all, not even around it.
bool isValidDebianVersion(std::string_view version);

// Policy package names: [a-z0-9][a-z0-9+.-]+ (lower case, two characters or more).
bool isValidDebianPackageName(std::string_view name);
