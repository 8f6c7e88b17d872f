// The user seam on a terminal: the procedures' questions are answered from the command
// line (the confirmation was given before the procedure started, the password comes from
// a file or standard input, the image file from --image), the log box goes to standard
// error, and the drive list and the Status cells are kept for the program's own output.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <ostream>
#include <thread>
#include <string>
#include <vector>

#include "app/core/UserSeam.h"
#include "devices/Scan.h"

namespace qx::cli {

struct TerminalRow {
    DriveRow row;
    bool checked = false;
    std::string status;
    OutcomeReason reason;  // why it did not pass, when the procedure told
    std::vector<uint8_t> imageBuildInfo;  // the BuildInfo block of the image it was given
};

class TerminalUser final : public UserSeam {
public:
    TerminalUser(std::ostream& err, bool errIsTerminal, bool echoLog)
        : err_(err), errIsTerminal_(errIsTerminal), echoLog_(echoLog) {}
    ~TerminalUser() override;

    // Answers given to the procedures.
    void setSecret(const std::string& secret);  // askText; wiped when replaced or destroyed
    void setImagePath(const std::string& path) { imagePath_ = path; }

    bool confirm(const std::string& caption, const std::string& text, BoxIcon icon) override;
    void notice(const std::string& caption, const std::string& text, BoxIcon icon) override;
    std::string askText(const std::string& caption, const std::string& prompt,
                        const std::string& def) override;
    std::string chooseFile(const std::string& filter, const std::string& defaultExt,
                           std::string& initialDir) override;
    void appendLog(const std::string& line) override;
    void clearLog() override {}
    int rowCount() override { return static_cast<int>(rows_.size()); }
    bool rowChecked(int row) override;
    void setRowStatus(int row, const std::string& text) override;
    void clearRows() override { rows_.clear(); }
    void addRow(const DriveRow& row) override { rows_.push_back({row, false, {}, {}, {}}); }
    void enableScanAndExit(bool) override {}
    void enableActions(bool) override {}
    void pause(uint32_t ms) override;
    void showShutdownPrompt() override { ++shutdownPrompts_; }
    void showSmartWindow() override;
    void candidateExamined(const CandidateNote& note) override { notes_.push_back(note); }
    void downloadProgress(int row, uint32_t sent, uint32_t total) override;
    void outcomeReason(int row, const OutcomeReason& reason) override;
    void imageWritten(int row, const std::vector<uint8_t>& buildInfo) override {
        if (row >= 0 && static_cast<size_t>(row) < rows_.size()) rows_[static_cast<size_t>(row)].imageBuildInfo = buildInfo;
    }
    // On a terminal, a line on standard error counts the seconds of a running erase against
    // the drive's estimate, once a second, until the command comes back.
    void eraseUnitStarted(int row, uint32_t estimateSeconds) override;
    void eraseUnitEnded(int row) override;

    std::vector<TerminalRow>& rows() { return rows_; }
    const std::vector<std::string>& log() const { return log_; }
    const std::vector<std::string>& notices() const { return notices_; }
    const std::vector<CandidateNote>& notes() const { return notes_; }
    int shutdownPrompts() const { return shutdownPrompts_; }
    // Why the action stopped before the drives, when the procedure told.
    const OutcomeReason& actionReason() const { return actionReason_; }
    // The SMART window's result: whether "Get Smart Info" succeeded, and its lines.
    bool smartRead() const { return smartRead_; }
    const std::vector<std::string>& smartLines() const { return smartLines_; }

private:
    std::ostream& err_;
    bool errIsTerminal_;
    bool echoLog_;
    std::string secret_;
    std::string imagePath_;
    std::vector<TerminalRow> rows_;
    std::vector<std::string> log_;
    std::vector<std::string> notices_;
    std::vector<CandidateNote> notes_;
    int shutdownPrompts_ = 0;
    OutcomeReason actionReason_;
    bool smartRead_ = false;
    std::vector<std::string> smartLines_;
    bool progressOpen_ = false;
    std::thread eraseTicker_;
    std::mutex tickerMutex_;
    std::condition_variable tickerWake_;
    bool tickerStop_ = false;
};

// "Disk 2 erasing: 3:05 of about 8:00" (no estimate: "Disk 2 erasing: 3:05").
std::string EraseElapsedLine(int row, uint32_t elapsedSeconds, uint32_t estimateSeconds);

}  // namespace qx::cli
