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

// Which of the list's reports are changes of a check box: the list reports a row's change
// whether its text or its box changed, and reports the boxes of rows it is adding.
TEST(CheckBoxEdges, OnlyARealChangeOfABoxGoesOn) {
    CheckBoxEdges edges;
    {
        const CheckBoxEdges::RowsChanging adding(edges);
        EXPECT_FALSE(edges.changed(0, false));  // the new row's box, while it is added
        edges.appended(1);
    }
    EXPECT_FALSE(edges.changed(0, false));  // a change of the row's text: the box is as it was
    EXPECT_TRUE(edges.changed(0, true));    // checked
    EXPECT_FALSE(edges.changed(0, true));   // the same state reported again
    EXPECT_TRUE(edges.changed(0, false));   // unchecked
    EXPECT_FALSE(edges.changed(-1, true));  // no row
}

TEST(CheckBoxEdges, NothingGoesOnWhileRowsAreAddedOrRemovedAndTheGuardRestores) {
    CheckBoxEdges edges;
    {
        const CheckBoxEdges::RowsChanging adding(edges);
        EXPECT_FALSE(edges.changed(0, true));
        {
            const CheckBoxEdges::RowsChanging inner(edges);
            EXPECT_FALSE(edges.changed(0, true));
        }
        EXPECT_FALSE(edges.changed(0, true));  // still adding after the inner guard went
        edges.appended(1);
    }
    // An error while adding leaves the reports on again.
    try {
        const CheckBoxEdges::RowsChanging adding(edges);
        throw 1;
    } catch (int) {
    }
    EXPECT_TRUE(edges.changed(0, true));
}

TEST(CheckBoxEdges, ClearedAndAppendedRowsStartUnchecked) {
    CheckBoxEdges edges;
    edges.appended(1);
    edges.appended(2);
    EXPECT_TRUE(edges.changed(1, true));
    EXPECT_TRUE(edges.changed(0, true));
    edges.cleared();  // the scan rebuilds the list
    edges.appended(1);
    edges.appended(2);
    EXPECT_FALSE(edges.changed(0, false));  // the new rows' boxes are unchecked
    EXPECT_FALSE(edges.changed(1, false));
    EXPECT_TRUE(edges.changed(1, true));
}

TEST(CheckBoxEdges, ClearingForgetsTheBoxesSeen) {
    CheckBoxEdges edges;
    edges.appended(1);
    edges.appended(2);
    EXPECT_TRUE(edges.changed(1, true));
    edges.cleared();
    EXPECT_TRUE(edges.changed(1, true));  // row 1 was checked before the list was emptied
}

TEST(CheckBoxEdges, ARowNotSeenBeforeCountsAsUnchecked) {
    CheckBoxEdges edges;
    EXPECT_FALSE(edges.changed(5, false));
    EXPECT_TRUE(edges.changed(3, true));
    EXPECT_TRUE(edges.changed(5, true));
    EXPECT_FALSE(edges.changed(4, false));
}

// The edges in front of the single-check rule, as a front end wires them: a change that the
// rule makes itself is reported by the list, passes the edges and re-enters the rule.
class EdgeList : public CheckBoxes {
public:
    EdgeList(MainState& state, int rows) : state_(state) {
        for (int i = 0; i < rows; ++i) {
            const CheckBoxEdges::RowsChanging adding(edges_);
            boxes_.push_back(false);
            report(i);  // the list reports the new row's box
            edges_.appended(count());
        }
    }
    int count() override { return static_cast<int>(boxes_.size()); }
    bool checked(int row) override { return boxes_.at(static_cast<size_t>(row)); }
    void setChecked(int row, bool on) override {
        boxes_.at(static_cast<size_t>(row)) = on;
        report(row);  // the list reports every change it is told of, changed or not
    }
    void report(int row) {
        if (edges_.changed(row, checked(row))) {
            ++ruleRuns;
            ListView1ItemChecked(state_, *this, row);
        }
    }
    int ruleRuns = 0;

private:
    MainState& state_;
    CheckBoxEdges edges_;
    std::vector<bool> boxes_;
};

TEST(CheckBoxEdges, InFrontOfTheRuleKeepOneRowCheckedWithOneRunPerRealChange) {
    MainState state;
    EdgeList list(state, 3);
    EXPECT_EQ(list.ruleRuns, 0);  // adding rows runs nothing
    list.setChecked(0, true);
    ListView1Click(state, list);
    EXPECT_EQ(list.ruleRuns, 1);
    list.report(0);  // a change of text of the checked row
    EXPECT_EQ(list.ruleRuns, 1);
    list.setChecked(2, true);  // unchecks row 0 inside, which re-enters once
    EXPECT_EQ(list.ruleRuns, 3);
    EXPECT_FALSE(list.checked(0));
    EXPECT_TRUE(list.checked(2));
    EXPECT_EQ(state.CheckedIndex, 2);
}

}  // namespace
}  // namespace qx
