// Single-check rule, click recount, check-box edges and cell colouring of the drive list.
#include "app/core/DriveListRules.h"

namespace qx {

void ListView1ItemChecked(MainState& state, CheckBoxes& boxes, int changedRow) {
    if (state.CheckedCount == 0) {
        for (int i = 0; i < boxes.count(); ++i) {
            if (boxes.checked(i)) {
                ++state.CheckedCount;
                state.CheckedIndex = i;
            }
        }
    } else if (state.CheckedCount == 1) {
        // The remembered row may belong to a list that a scan has rebuilt since: only a
        // row that exists now is unchecked, and never the row the user has just checked
        // (after a scan the remembered index names a new, unchecked row; checking that row
        // would otherwise undo itself). Unchecking it reports a change that runs this
        // handler again, inside this run; that run finds the same state and changes nothing.
        const bool justChecked = state.CheckedIndex == changedRow && changedRow >= 0 &&
                                 changedRow < boxes.count() && boxes.checked(changedRow);
        if (state.CheckedIndex >= 0 && state.CheckedIndex < boxes.count() && !justChecked)
            boxes.setChecked(state.CheckedIndex, false);
        for (int i = 0; i < boxes.count(); ++i)
            if (boxes.checked(i)) state.CheckedIndex = i;
    }
    // Two or more: left alone.
}

void ListView1Click(MainState& state, CheckBoxes& boxes) {
    state.CheckedCount = 0;
    state.CheckedIndex = -1;
    for (int i = 0; i < boxes.count(); ++i) {
        if (boxes.checked(i)) {
            ++state.CheckedCount;
            state.CheckedIndex = i;
        }
    }
}

void CheckBoxEdges::appended(int rows) {
    if (rows <= 0) return;
    known_.resize(static_cast<size_t>(rows), false);
    known_[static_cast<size_t>(rows) - 1] = false;
}

bool CheckBoxEdges::changed(int row, bool checked) {
    if (adding_ || row < 0) return false;
    const auto at = static_cast<size_t>(row);
    if (known_.size() <= at) known_.resize(at + 1, false);
    if (known_[at] == checked) return false;  // a change of text, not of the box
    known_[at] = checked;
    return true;
}

CellStyle SubItemStyle(std::string_view text) {
    if (text.find("Fail") != std::string_view::npos) return {255, 0, 0, true};
    if (text.find("Pass") != std::string_view::npos) return {0, 0, 255, true};
    if (text.find("No update needed") != std::string_view::npos) return {0, 128, 0, true};
    return {0, 0, 0, false};
}

}  // namespace qx
