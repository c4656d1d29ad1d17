#pragma once
// The small pieces the sections of the package details page are made of: a
// section title, a plain-text label (every text of the page comes from an
// index or a server), a thin separator, a link-style button and the gap above
// a view (its layout's top margin).
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace DetailsSectionWidgets {

QLabel* titleLabel(const char* objectName, const QString& text);
QLabel* plainLabel(const char* objectName, bool wraps = false);
// A 1-point line; its colour comes with the palette (objectName "separator").
QWidget* separator(const char* objectName = "separator");
QPushButton* linkButton(const char* objectName, const QString& title);
// A rounded, filled button (the contact and leave-review buttons).
QPushButton* filledButton(const char* objectName, const QString& title);
// A row: `caption` at the left, `value` at the right (wrapping, right-aligned).
QWidget* row(const char* objectName, QLabel* caption, QLabel* value);
// The gap above `view`: the top margin of its layout (a view without a layout gets one).
void setTopGap(QWidget* view, int gap);
int topGap(const QWidget* view);
// Colours a separator line.
void colorSeparators(QWidget* root, const QColor& color);

}  // namespace DetailsSectionWidgets
