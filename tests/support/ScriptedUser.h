// A user seam for tests: records every call in order and answers from a script.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/core/UserSeam.h"
#include "platform/Platform.h"

namespace qx::test {

struct UserCall {
    std::string what;     // "confirm", "notice", "askText", "chooseFile", "appendLog", ...
    std::string caption;
    std::string text;
    BoxIcon icon = BoxIcon::None;
};

struct ScriptedRow {
    DriveRow row;
    bool checked = false;
    bool hasStatus = false;
    std::string status;
};

class ScriptedUser : public UserSeam {
public:
    // Answers, consumed in order; when a queue is empty: confirm → true, askText → default,
    // chooseFile → empty (cancelled).
    std::deque<bool> confirmAnswers;
    std::deque<std::string> textAnswers;
    std::deque<std::string> fileAnswers;

    // Called at each pause (after the clock advanced), e.g. to change a check box.
    std::function<void(uint32_t ms)> onPause;
    std::function<void()> onShutdownPrompt;
    std::function<void()> onSmartWindow;

    std::vector<UserCall> calls;
    std::vector<std::string> log;      // Memo1 lines
    std::vector<ScriptedRow> rows;     // ListView1
    bool scanAndExitEnabled = true;
    bool actionsEnabled = false;
    std::vector<uint32_t> pauses;
    int shutdownPrompts = 0;
    int smartWindows = 0;
    std::map<int, std::string> reasons;  // outcomeReason's code by row
    std::vector<uint32_t> eraseEstimates;  // eraseUnitStarted, in order
    int eraseUnitsEnded = 0;
    // Last file dialog settings.
    std::string lastFilter, lastDefaultExt, lastInitialDir;

    bool confirm(const std::string& caption, const std::string& text, BoxIcon icon) override;
    void notice(const std::string& caption, const std::string& text, BoxIcon icon) override;
    std::string askText(const std::string& caption, const std::string& prompt,
                        const std::string& def) override;
    std::string chooseFile(const std::string& filter, const std::string& defaultExt,
                           std::string& initialDir) override;
    void appendLog(const std::string& line) override;
    void clearLog() override;
    int rowCount() override;
    bool rowChecked(int row) override;
    void setRowStatus(int row, const std::string& text) override;
    void clearRows() override;
    void addRow(const DriveRow& row) override;
    void enableScanAndExit(bool on) override;
    void enableActions(bool on) override;
    void pause(uint32_t ms) override;
    void showShutdownPrompt() override;
    void showSmartWindow() override;
    void outcomeReason(int row, const OutcomeReason& reason) override { reasons[row] = reason.code; }
    void eraseUnitStarted(int, uint32_t estimateSeconds) override {
        eraseEstimates.push_back(estimateSeconds);
    }
    void eraseUnitEnded(int) override { ++eraseUnitsEnded; }

    // Convenience for tests.
    void check(int row, bool on = true) { rows.at(static_cast<size_t>(row)).checked = on; }
    std::vector<std::string> noticeTexts() const;
    int count(const std::string& what) const;
};

}  // namespace qx::test
