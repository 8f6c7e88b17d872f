// The user seam: the one interface through which the procedures (scan, update, erase,
// SMART read) talk to the user. The Qt main window implements it; tests implement a
// scripted one that records every call; a command-line front end can answer from prompts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qx {

struct CandidateNote;  // devices/Scan.h

enum class BoxIcon { None, Warning, Error, Information };

// One row of the drive list as the scan adds it.
struct DriveRow {
    std::string caption;   // "Disk": index + 1
    std::string model;
    std::string serial;
    std::string firmware;
    std::string capacity;  // "Capacity(GB)"
};

// Why a drive did not pass: a code from the table of reasons in docs/cli.md, with details
// (name, text) a front end may show, such as the drive's build codes.
struct OutcomeReason {
    std::string code;
    std::vector<std::pair<std::string, std::string>> details;
};

class UserSeam {
public:
    virtual ~UserSeam() = default;

    // Task-modal question with OK and Cancel. True when the user answered OK.
    virtual bool confirm(const std::string& caption, const std::string& text, BoxIcon icon) = 0;
    // Message box with only OK.
    virtual void notice(const std::string& caption, const std::string& text, BoxIcon icon) = 0;
    // The toolkit's text input box. The default when cancelled (as the toolkit does).
    virtual std::string askText(const std::string& caption, const std::string& prompt,
                                const std::string& def) = 0;
    // File-open dialog. `filter` uses the "Description|pattern" form. Empty when cancelled.
    // `initialDir` is in and out: the dialog keeps its last directory between calls.
    virtual std::string chooseFile(const std::string& filter, const std::string& defaultExt,
                                   std::string& initialDir) = 0;

    // Log box Memo1.
    virtual void appendLog(const std::string& line) = 0;
    virtual void clearLog() = 0;

    // Drive list ListView1.
    virtual int rowCount() = 0;
    virtual bool rowChecked(int row) = 0;
    virtual void setRowStatus(int row, const std::string& text) = 0;
    virtual void clearRows() = 0;
    virtual void addRow(const DriveRow& row) = 0;

    // Buttons: "Scan for Drives" and "Exit" together; the three action buttons together.
    virtual void enableScanAndExit(bool on) = 0;
    virtual void enableActions(bool on) = 0;

    // Waits `ms` milliseconds on the platform clock while the window keeps processing its
    // messages.
    virtual void pause(uint32_t ms) = 0;

    // Shows the shutdown prompt modally and returns when it is closed.
    virtual void showShutdownPrompt() = 0;
    // Shows the SMART window modally and returns when it is closed.
    virtual void showSmartWindow() = 0;

    // What the scan found out about one candidate disk, listed or passed over; told once
    // per candidate, in discovery order. Front ends that do not explain the scan ignore it.
    virtual void candidateExamined(const CandidateNote& note) { (void)note; }
    // Bytes of the image sent to the drive of `row` so far, out of `total`, after each
    // DOWNLOAD MICROCODE command that succeeded.
    virtual void downloadProgress(int row, uint32_t sent, uint32_t total) {
        (void)row, (void)sent, (void)total;
    }
    // Why the drive of `row` did not pass, told beside its Status; row -1: the action
    // stopped before any drive (every checked row). Told before the row's Status is set.
    virtual void outcomeReason(int row, const OutcomeReason& reason) { (void)row, (void)reason; }
    // The 64-byte BuildInfo block of the image the drive of `row` was given; told before
    // the row's Status is set to "Pass".
    virtual void imageWritten(int row, const std::vector<uint8_t>& buildInfo) { (void)row, (void)buildInfo; }
    // SECURITY ERASE UNIT goes to the drive of `row` (`estimateSeconds`: the drive's own
    // estimate, 0 when it gives none) and has come back. The call blocks in between.
    virtual void eraseUnitStarted(int row, uint32_t estimateSeconds) {
        (void)row, (void)estimateSeconds;
    }
    virtual void eraseUnitEnded(int row) { (void)row; }
};

}  // namespace qx
