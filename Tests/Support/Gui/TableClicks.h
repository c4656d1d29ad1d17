#pragma once
// Clicking a table row as a user does: scrolled into view, pressed and
// released with the left button inside the row.
#include <QTest>

#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UITableView.h"

namespace GuiTest {

// False when the row does not exist or shows no cell.
inline bool clickRow(UITableView* table, IndexPath ip) {
    if (!table || ip.section >= table->numberOfSections() || ip.row >= table->numberOfRows(ip.section)) return false;
    table->scrollToRow(ip, UITableView::ScrollPosition::None, false);
    pump(std::chrono::milliseconds(10));
    UITableViewCell* cell = table->cellForRow(ip);
    if (!cell) return false;
    QTest::mouseClick(cell, Qt::LeftButton, {}, QPoint(std::min(40, cell->width() / 2), cell->height() / 2));
    pump(std::chrono::milliseconds(10));
    return true;
}

}  // namespace GuiTest
