// The drive list's single-check rule, its click recount and the cell colouring.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "app/core/DriveListRules.h"

namespace qx {
namespace {

// A list whose check boxes report every real change to the single-check rule, as the list
// view does: a change made by the rule itself re-enters it.
class FakeList : public CheckBoxes {
public:
    FakeList(MainState& state, int rows) : state_(state), boxes_(static_cast<size_t>(rows)) {}

    int count() override { return static_cast<int>(boxes_.size()); }
    bool checked(int row) override { return boxes_.at(static_cast<size_t>(row)); }
    void setChecked(int row, bool on) override {
        if (boxes_.at(static_cast<size_t>(row)) == on) return;  // no change, no report
        boxes_[static_cast<size_t>(row)] = on;
        ++reports;
        ++depth_;
        maxDepth = std::max(maxDepth, depth_);
        ListView1ItemChecked(state_, *this, row);
        --depth_;
    }

    // The user clicks a row's check box with the mouse: the change, then the click.
    void mouseToggle(int row) {
        setChecked(row, !checked(row));
        ListView1Click(state_, *this);
    }
    // The space bar on a row: the change only.
    void keyToggle(int row) { setChecked(row, !checked(row)); }

    int reports = 0;
    int maxDepth = 0;

private:
    MainState& state_;
    std::vector<bool> boxes_;
    int depth_ = 0;
};

std::vector<bool> states(FakeList& list) {
    std::vector<bool> out;
    for (int i = 0; i < list.count(); ++i) out.push_back(list.checked(i));
    return out;
}

TEST(SingleCheckRule, CheckingASecondRowUnchecksTheFirstReentrantly) {
    MainState state;
    FakeList list(state, 3);
    list.mouseToggle(0);
    EXPECT_EQ(state.CheckedCount, 1);
    EXPECT_EQ(state.CheckedIndex, 0);

    list.reports = 0;
    list.maxDepth = 0;
    list.mouseToggle(1);
    EXPECT_EQ(states(list), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(state.CheckedCount, 1);
    EXPECT_EQ(state.CheckedIndex, 1);
    // The user's change and the rule's uncheck of row 1, which ran the rule a second time
    // inside the first run.
    EXPECT_EQ(list.reports, 2);
    EXPECT_EQ(list.maxDepth, 2);
}

TEST(SingleCheckRule, UncheckingTheOnlyCheckedRowLeavesNone) {
    MainState state;
    FakeList list(state, 2);
    list.mouseToggle(1);
    list.mouseToggle(1);
    EXPECT_EQ(states(list), (std::vector<bool>{false, false}));
    EXPECT_EQ(state.CheckedCount, 0);
    EXPECT_EQ(state.CheckedIndex, -1);
}

TEST(SingleCheckRule, KeyboardUncheckKeepsTheCountAndTheNextCheckStillWorks) {
    MainState state;
    FakeList list(state, 3);
    list.mouseToggle(0);
    list.keyToggle(0);  // no click follows
    EXPECT_EQ(states(list), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(state.CheckedCount, 1);
    EXPECT_EQ(state.CheckedIndex, 0);

    list.keyToggle(2);
    EXPECT_EQ(states(list), (std::vector<bool>{false, false, true}));
    EXPECT_EQ(state.CheckedCount, 1);
    EXPECT_EQ(state.CheckedIndex, 2);
}

TEST(SingleCheckRule, RememberedRowBeyondARebuiltListIsNotTouched) {
    MainState state;
    state.CheckedCount = 1;
    state.CheckedIndex = 5;  // from a list that a scan has since rebuilt with two rows
    FakeList list(state, 2);
    list.keyToggle(1);
    EXPECT_EQ(states(list), (std::vector<bool>{false, true}));
    EXPECT_EQ(state.CheckedIndex, 1);
    EXPECT_EQ(list.reports, 1);
}

// Row 1 checked, "Scan for Drives" (the list is rebuilt, the remembered row is kept), then a
// click on row 1's box: the box must end checked, not be unchecked by the rule as the
// "other" checked row.
TEST(SingleCheckRule, CheckingTheRememberedRowAfterARescanKeepsItChecked) {
    MainState state;
    FakeList before(state, 2);
    before.mouseToggle(0);
    ASSERT_EQ(state.CheckedIndex, 0);

    FakeList rebuilt(state, 2);  // the scan's new rows, unchecked
    rebuilt.mouseToggle(0);
    EXPECT_EQ(states(rebuilt), (std::vector<bool>{true, false}));
    EXPECT_EQ(state.CheckedCount, 1);
    EXPECT_EQ(state.CheckedIndex, 0);
    EXPECT_EQ(rebuilt.reports, 1);

    // And checking the other row afterwards still unchecks this one.
    rebuilt.mouseToggle(1);
    EXPECT_EQ(states(rebuilt), (std::vector<bool>{false, true}));
    EXPECT_EQ(state.CheckedIndex, 1);
}

TEST(SingleCheckRule, RecheckingAKeyboardUncheckedRowKeepsItChecked) {
    MainState state;
    FakeList list(state, 2);
    list.mouseToggle(1);
    list.keyToggle(1);  // unchecked, no click: CheckedCount stays 1, CheckedIndex 1
    list.keyToggle(1);
    EXPECT_EQ(states(list), (std::vector<bool>{false, true}));
    EXPECT_EQ(state.CheckedIndex, 1);
}

TEST(SingleCheckRule, TwoOrMoreCountedRowsAreLeftAlone) {
    MainState state;
    state.CheckedCount = 2;
    state.CheckedIndex = 0;
    FakeList list(state, 3);
    list.keyToggle(0);
    list.keyToggle(1);
    EXPECT_EQ(states(list), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(state.CheckedCount, 2);
    EXPECT_EQ(state.CheckedIndex, 0);
    ListView1Click(state, list);  // a click recounts
    EXPECT_EQ(state.CheckedCount, 2);
    EXPECT_EQ(state.CheckedIndex, 1);
}

TEST(SingleCheckRule, ClickOnAnEmptyListResets) {
    MainState state;
    state.CheckedCount = 1;
    state.CheckedIndex = 3;
    FakeList list(state, 0);
    ListView1Click(state, list);
    EXPECT_EQ(state.CheckedCount, 0);
    EXPECT_EQ(state.CheckedIndex, -1);
}

TEST(CellColouring, FirstMatchingWordDecides) {
    struct Case {
        const char* text;
        CellStyle style;
    } cases[] = {
        {"Fail", {255, 0, 0, true}},
        {"Pass", {0, 0, 255, true}},
        {"No update needed", {0, 128, 0, true}},
        {"", {0, 0, 0, false}},
        {"Quorvex QX-T74 256GB", {0, 0, 0, false}},
        {"Pass then Fail", {255, 0, 0, true}},     // "Fail" is tested first
        {"SuperPassDrive", {0, 0, 255, true}},     // a model text containing the word
        {"pass", {0, 0, 0, false}},                // case-sensitive
        {"No update needed, Pass", {0, 0, 255, true}},
    };
    for (const Case& c : cases) {
        const CellStyle s = SubItemStyle(c.text);
        EXPECT_EQ(s.red, c.style.red) << c.text;
        EXPECT_EQ(s.green, c.style.green) << c.text;
        EXPECT_EQ(s.blue, c.style.blue) << c.text;
        EXPECT_EQ(s.bold, c.style.bold) << c.text;
    }
}

}  // namespace
}  // namespace qx
