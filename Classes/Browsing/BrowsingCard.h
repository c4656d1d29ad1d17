#pragma once
// One card of the browsing screens' scrolling columns: a rounded CardView with
// a bold title (and room beside it for a button) above a table that is sized
// to its content and does not scroll itself.
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "UIKit/CardView.h"
#include "UIKit/UITableView.h"
#include "ZMPalette.h"

struct BrowsingCard {
    static constexpr int kTitleHeight = 40;
    static constexpr int kInnerTop = 16;
    static constexpr int kInnerBottom = 16;
    static constexpr int kTitleGap = 8;

    CardView* card = nullptr;
    QLabel* title = nullptr;
    QHBoxLayout* head = nullptr;  // the title's row: buttons go after it
    UITableView* table = nullptr;

    // Adds a card named `name` ("historyCard", "historyTitle", "historyTableView")
    // to the column.
    static BrowsingCard make(QVBoxLayout* column, const QString& titleText, const QString& name);
    // A vertically scrolling column added to `screen`'s vertical layout (made
    // when it has none); returns the column's layout.
    static QVBoxLayout* makeColumn(QWidget* screen, QScrollArea*& scrollView, const QString& name);

    // Card and title colours, a clear table with the palette's separators.
    void applyPalette(const ZMPalette& palette) const;
};
