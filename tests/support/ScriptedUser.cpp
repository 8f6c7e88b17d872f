#include "support/ScriptedUser.h"

namespace qx::test {

bool ScriptedUser::confirm(const std::string& caption, const std::string& text, BoxIcon icon) {
    calls.push_back({"confirm", caption, text, icon});
    if (confirmAnswers.empty()) return true;
    bool answer = confirmAnswers.front();
    confirmAnswers.pop_front();
    return answer;
}

void ScriptedUser::notice(const std::string& caption, const std::string& text, BoxIcon icon) {
    calls.push_back({"notice", caption, text, icon});
}

std::string ScriptedUser::askText(const std::string& caption, const std::string& prompt,
                                  const std::string& def) {
    calls.push_back({"askText", caption, prompt, BoxIcon::None});
    if (textAnswers.empty()) return def;
    std::string answer = textAnswers.front();
    textAnswers.pop_front();
    return answer;
}

std::string ScriptedUser::chooseFile(const std::string& filter, const std::string& defaultExt,
                                     std::string& initialDir) {
    calls.push_back({"chooseFile", filter, defaultExt, BoxIcon::None});
    lastFilter = filter;
    lastDefaultExt = defaultExt;
    lastInitialDir = initialDir;
    if (fileAnswers.empty()) return {};
    std::string answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

void ScriptedUser::appendLog(const std::string& line) {
    calls.push_back({"appendLog", {}, line, BoxIcon::None});
    log.push_back(line);
}

void ScriptedUser::clearLog() {
    calls.push_back({"clearLog", {}, {}, BoxIcon::None});
    log.clear();
}

int ScriptedUser::rowCount() { return static_cast<int>(rows.size()); }

bool ScriptedUser::rowChecked(int row) {
    return row >= 0 && row < rowCount() && rows[static_cast<size_t>(row)].checked;
}

void ScriptedUser::setRowStatus(int row, const std::string& text) {
    calls.push_back({"setRowStatus", std::to_string(row), text, BoxIcon::None});
    if (row < 0 || row >= rowCount()) return;
    auto& r = rows[static_cast<size_t>(row)];
    r.hasStatus = true;
    r.status = text;
}

void ScriptedUser::clearRows() {
    calls.push_back({"clearRows", {}, {}, BoxIcon::None});
    rows.clear();
}

void ScriptedUser::addRow(const DriveRow& row) {
    calls.push_back({"addRow", row.caption, row.model, BoxIcon::None});
    rows.push_back({row, false, false, {}});
}

void ScriptedUser::enableScanAndExit(bool on) {
    calls.push_back({"enableScanAndExit", {}, on ? "1" : "0", BoxIcon::None});
    scanAndExitEnabled = on;
}

void ScriptedUser::enableActions(bool on) {
    calls.push_back({"enableActions", {}, on ? "1" : "0", BoxIcon::None});
    actionsEnabled = on;
}

void ScriptedUser::pause(uint32_t ms) {
    calls.push_back({"pause", {}, std::to_string(ms), BoxIcon::None});
    pauses.push_back(ms);
    // The real window waits on the platform clock; the scripted one advances it at once.
    if (Clock* clock = platform().clock) {
        const uint32_t start = clock->tickCount();
        while (clock->tickCount() - start < ms) clock->sleep(ms - (clock->tickCount() - start));
    }
    if (onPause) onPause(ms);
}

void ScriptedUser::showShutdownPrompt() {
    calls.push_back({"showShutdownPrompt", {}, {}, BoxIcon::None});
    ++shutdownPrompts;
    if (onShutdownPrompt) onShutdownPrompt();
}

void ScriptedUser::showSmartWindow() {
    calls.push_back({"showSmartWindow", {}, {}, BoxIcon::None});
    ++smartWindows;
    if (onSmartWindow) onSmartWindow();
}

std::vector<std::string> ScriptedUser::noticeTexts() const {
    std::vector<std::string> out;
    for (const auto& c : calls)
        if (c.what == "notice") out.push_back(c.text);
    return out;
}

int ScriptedUser::count(const std::string& what) const {
    int n = 0;
    for (const auto& c : calls)
        if (c.what == what) ++n;
    return n;
}

}  // namespace qx::test
