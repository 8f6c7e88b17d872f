// The drive list's own rules, kept free of the toolkit so they can be tested without
// widgets: the single-check rule with its click recount, which of the list's reports are
// changes of a check box, and the colouring of a cell by its text.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

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

// The list's check boxes as the toolkit reports them. A list reports a change of a row
// whether its text or its box changed, and reports the boxes of rows as it adds them: this
// keeps the state last seen of each row's box and lets through only a real change of a box
// (by the mouse, the keyboard or the single-check rule), which the front end passes on to
// ListView1ItemChecked. A click is the release of the left button in the list, after the
// box has changed; the front end passes it on to ListView1Click (the recount is idempotent,
// so a click the list reports a second time counts the same as once).
class CheckBoxEdges {
public:
    // While the guard lives, rows are added or removed: the changes the list reports
    // meanwhile are not the user's, and none goes on.
    class RowsChanging {
    public:
        explicit RowsChanging(CheckBoxEdges& edges) : edges_(edges), was_(edges.adding_) { edges_.adding_ = true; }
        ~RowsChanging() { edges_.adding_ = was_; }
        RowsChanging(const RowsChanging&) = delete;
        RowsChanging& operator=(const RowsChanging&) = delete;

    private:
        CheckBoxEdges& edges_;
        bool was_;
    };

    // The list has `rows` rows after one was appended: the new last row's box is unchecked.
    void appended(int rows);
    // The list has no rows any more.
    void cleared() { known_.clear(); }
    // The list reported a change of `row`, whose box is now `checked`. True when the box
    // itself changed since it was last seen; false for a change of the row's text, while
    // rows are added or removed, and for no row (negative).
    bool changed(int row, bool checked);

private:
    std::vector<bool> known_;  // last seen state of each row's box
    bool adding_ = false;
};

// How a sub-item cell is drawn, chosen by the text it contains.
struct CellStyle {
    uint8_t red = 0, green = 0, blue = 0;
    bool bold = false;
};
CellStyle SubItemStyle(std::string_view text);

}  // namespace qx
