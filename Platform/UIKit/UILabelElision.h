#pragma once
// One-line labels that do not fit end with an ellipsis, and show their whole
// text as a tooltip on hover. The label keeps its text (text() stays whole);
// only the drawing is shortened, so a later setText() is elided the same way.
#include <QLabel>

namespace UILabelElision {

// Makes `label` elide itself from now on; it may also shrink below its text's
// width (a layout gives the room to its neighbours).
void install(QLabel* label);
// What `label` shows now: its text, elided to its width when it is installed.
QString shownText(const QLabel* label);
bool isElided(const QLabel* label);

}  // namespace UILabelElision
