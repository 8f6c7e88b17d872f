// The user seam of qxupdater-cli (see TerminalUser.h).
#include "cli/TerminalUser.h"

#include <chrono>
#include <cstdio>

#include "platform/Platform.h"
#include "platform/Wipe.h"
#include "smart/SmartReport.h"

namespace qx::cli {

TerminalUser::~TerminalUser() {
    eraseUnitEnded(-1);
    WipeString(secret_);
}

namespace {
std::string minutesAndSeconds(uint32_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(seconds / 60),
                  static_cast<unsigned>(seconds % 60));
    return text;
}
}  // namespace

std::string EraseElapsedLine(int row, uint32_t elapsedSeconds, uint32_t estimateSeconds) {
    std::string line = "Disk " + std::to_string(row + 1) + " erasing: " + minutesAndSeconds(elapsedSeconds);
    if (estimateSeconds != 0) line += " of about " + minutesAndSeconds(estimateSeconds);
    return line;
}

void TerminalUser::eraseUnitStarted(int row, uint32_t estimateSeconds) {
    if (!errIsTerminal_ || eraseTicker_.joinable()) return;
    tickerStop_ = false;
    progressOpen_ = true;
    // The erase blocks this thread in one command; the terminal line is kept by another on
    // the real clock (only a terminal sees it, never a test or a JSON reader).
    eraseTicker_ = std::thread([this, row, estimateSeconds] {
        const auto start = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(tickerMutex_);
        while (!tickerStop_) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
                std::chrono::steady_clock::now() - start);
            err_ << "\r" << EraseElapsedLine(row, static_cast<uint32_t>(elapsed.count()), estimateSeconds)
                 << std::flush;
            tickerWake_.wait_for(lock, std::chrono::seconds(1), [this] { return tickerStop_; });
        }
    });
}

void TerminalUser::eraseUnitEnded(int) {
    if (!eraseTicker_.joinable()) return;
    {
        const std::lock_guard<std::mutex> lock(tickerMutex_);
        tickerStop_ = true;
    }
    tickerWake_.notify_all();
    eraseTicker_.join();
}

void TerminalUser::setSecret(const std::string& secret) {
    WipeString(secret_);
    secret_ = secret;
}

// The program asked before the procedure started (--yes or the typed serial number), so
// the procedure's own "Warning" question is answered with OK.
bool TerminalUser::confirm(const std::string&, const std::string&, BoxIcon) { return true; }

void TerminalUser::notice(const std::string&, const std::string& text, BoxIcon) {
    notices_.push_back(text);
    err_ << text << "\n";
}

std::string TerminalUser::askText(const std::string&, const std::string&, const std::string&) {
    return secret_;
}

std::string TerminalUser::chooseFile(const std::string&, const std::string&, std::string&) {
    return imagePath_;
}

void TerminalUser::appendLog(const std::string& line) {
    if (progressOpen_) {
        err_ << "\n";
        progressOpen_ = false;
    }
    log_.push_back(line);
    if (echoLog_) err_ << line << "\n";
}

bool TerminalUser::rowChecked(int row) {
    return row >= 0 && row < rowCount() && rows_[static_cast<size_t>(row)].checked;
}

void TerminalUser::setRowStatus(int row, const std::string& text) {
    if (row < 0 || row >= rowCount()) return;
    TerminalRow& r = rows_[static_cast<size_t>(row)];
    r.status = text;
    if (text.empty()) r.reason = {};  // a new action begins
}

void TerminalUser::pause(uint32_t ms) {
    Clock* clock = platform().clock;
    if (clock != nullptr) clock->sleep(ms);
}

void TerminalUser::showSmartWindow() {
    smartLines_.clear();
    smartRead_ = GetSMARTInfo(smartLines_);
}

void TerminalUser::downloadProgress(int row, uint32_t sent, uint32_t total) {
    if (!errIsTerminal_ || total == 0) return;
    constexpr int kWidth = 40;
    const int filled = static_cast<int>(uint64_t{sent} * kWidth / total);
    char line[160];
    std::snprintf(line, sizeof line, "\rDisk %d [%-*.*s] %u/%u bytes", row + 1, kWidth, filled,
                  "########################################", static_cast<unsigned>(sent),
                  static_cast<unsigned>(total));
    err_ << line << std::flush;
    progressOpen_ = true;
}

void TerminalUser::outcomeReason(int row, const OutcomeReason& reason) {
    if (row < 0) {
        actionReason_ = reason;
    } else if (static_cast<size_t>(row) < rows_.size()) {
        rows_[static_cast<size_t>(row)].reason = reason;
    }
}

}  // namespace qx::cli
