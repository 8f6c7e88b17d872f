// The drive list's own rules, kept free of the toolkit so they can be tested without
// widgets: the single-check rule with its click recount, and the colouring of a cell by
// its text.
#pragma once

#include <cstdint>
#include <string_view>

#include "app/core/MainState.h"

namespace qx {

// The check boxes of the drive list as the rules see them. Changing a box through
// setChecked is a change like any other: the list reports it (ListView1ItemChecked runs
// again, inside the run that made it) when the state really changes.
class CheckBoxes {
public:
    virtual ~CheckBoxes() = default;
    virtual int count() = 0;
    virtual bool checked(int row) = 0;
    virtual void setChecked(int row, bool on) = 0;
};

// Runs on every change of a row's check box: keeps at most one row checked. `changedRow` is
// the row whose box changed (-1 when the front end cannot tell): when the remembered row is
// the row just checked (remembered from a list a scan has rebuilt since, or unchecked with
// the keyboard), it is not unchecked again. Every front end passes the row.
void ListView1ItemChecked(MainState& state, CheckBoxes& boxes, int changedRow = -1);
// Runs on every click in the list: counts the checked rows afresh.
void ListView1Click(MainState& state, CheckBoxes& boxes);

// How a sub-item cell is drawn, chosen by the text it contains.
struct CellStyle {
    uint8_t red = 0, green = 0, blue = 0;
    bool bold = false;
};
CellStyle SubItemStyle(std::string_view text);

}  // namespace qx
