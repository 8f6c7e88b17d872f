// Creation of the main window's state and the common steps of the action buttons.
#include "app/core/MainState.h"

#include <cstdio>
#include <limits>
#include <utility>

#include "QXLib/DbgLog.h"
#include "config/Config.h"
#include "devices/DeviceLock.h"
#include "platform/Platform.h"
#include "platform/BinaryFile.h"
#include "update/Package.h"

namespace qx {

namespace {

int32_t clamped(int64_t size) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(size > kMax ? kMax : size);
}

// Size of the executable as an open-and-seek-to-end reports it; 0 when it can't be opened.
// The position is 64-bit on every platform, so a size beyond the signed 32-bit range is
// clamped instead of wrapping into a negative (file-mode) value.
int32_t executableSize(const std::string& path) {
    if (path.empty()) return 0;
    BinaryFile in(path);
    if (!in.isOpen()) return 0;
    const int64_t end = in.size();
    if (end <= 0) return 0;
    return clamped(end);
}

// Each 8-bit character as the Unicode character of the same number, in UTF-8.
std::string latin1ToUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

}  // namespace

const char* const kNotElevatedNotice =
    "The program is not running as administrator, so the system lets it send no command to "
    "the drives and no drive can be listed.\nClose it and start it again as administrator.";

const char* const kUnreadableSelfNotice =
    "The program could not read its own file:\n%s\nIts size says it carries firmware, but the "
    "firmware cannot be reached from there (a program run as administrator does not see the "
    "network drives the user mapped, for example).\nCopy the program to a folder on a local "
    "disk and start it from there.";

std::string StartTitle() { return std::string("Quorvex ") + kControllerModel + " Toolbox " + kVersionText; }

std::string PackageCaption(const std::array<uint8_t, 512>& header) {
    return latin1ToUtf8(HeaderProductName(header)) + " " + kVersionText + " [" +
           latin1ToUtf8(HeaderVersionText(header)) + "]";
}

PackageShowing ReadPackageShowing(MainState& state) {
    PackageStartup startup = ReadPackageStartup(state.ExePath);
    state.PackageHeader = startup.header;
    PackageShowing showing;
    showing.opened = startup.opened;
    showing.pictureFlag = HeaderPictureFlag(state.PackageHeader);
    if (showing.opened) {
        showing.caption = PackageCaption(state.PackageHeader);
        showing.decodePicture = showing.pictureFlag;
        if (showing.decodePicture) showing.picture = std::move(startup.picture);
    }
    return showing;
}

std::string CreateMainState(MainState& state, UserSeam& user) {
    const std::string creationTitle = StartTitle();
    state.caption = creationTitle;
    state.appTitle = creationTitle;

    RDMode = false;
    state.firmwareVer.clear();

    Kernel* kernel = platform().kernel;
    state.ExePath = kernel ? kernel->executablePath() : std::string();
    state.IniPath = ChooseIniPath(state.ExePath);
    state.ExeFileSize = executableSize(state.ExePath);
    // A file that cannot be opened counts as empty (file mode), unless the file system lists
    // it with a package's size: such a copy carries firmware it cannot read, and is told so
    // instead of passing silently for a copy without a package.
    bool unreadablePackage = false;
    state.startupNotices.clear();
    state.startupNoticesShown = false;
    if (state.ExeFileSize == 0 && !state.ExePath.empty() && kernel != nullptr) {
        const int64_t listed = kernel->executableListedSize();
        if (listed >= kPackageModeThreshold) {
            state.ExeFileSize = clamped(listed);
            unreadablePackage = true;
        }
    }

    if (state.ExeFileSize < kPackageModeThreshold) {
        state.PackageMode = 0;
        Configuration config;
        std::string error;
        if (!LoadConfiguration(state.IniPath, user, config, error)) return error;
        state.firmwareVer = config.firmwareVer;
        state.customTitle = config.customTitle;
        state.customBkImage = config.customBkImage;
        state.enFilterBinFile = config.enFilterBinFile;
    } else {
        state.PackageMode = 1;
        state.customTitle.clear();
        if (unreadablePackage) {
            DbgPrintf("CreateMainState: %s is listed with %d bytes but cannot be read\r\n",
                      state.ExePath.c_str(), static_cast<int>(state.ExeFileSize));
            char text[1024];
            std::snprintf(text, sizeof text, kUnreadableSelfNotice, state.ExePath.c_str());
            state.startupNotices.emplace_back(text);
        }
    }

    if (HasCustomTitle(state.customTitle)) {
        const std::string title = state.customTitle + " Toolbox " + kVersionText;
        state.caption = title;
        state.appTitle = title;
    }
    return {};
}

void ShowStartupNotices(MainState& state, UserSeam& user) {
    if (state.startupNoticesShown) return;
    state.startupNoticesShown = true;
    Kernel* kernel = platform().kernel;
    if (kernel != nullptr && !kernel->runsElevated()) {
        DbgPrintf("The process runs without administrator rights\r\n");
        user.notice(state.caption, kNotElevatedNotice, BoxIcon::Warning);
    }
    for (const std::string& text : state.startupNotices) user.notice(state.caption, text, BoxIcon::Error);
    state.startupNotices.clear();
}

void LockButtons(MainState& state, UserSeam& user) {
    state.actionRunning = true;
    user.clearLog();
    user.enableScanAndExit(false);
    if (user.rowCount() > 0) user.enableActions(false);
}

void UnlockButtons(MainState& state, UserSeam& user) {
    user.enableScanAndExit(true);
    if (user.rowCount() > 0) user.enableActions(true);
    state.actionRunning = false;
}

int CountCheckedRows(MainState& state, UserSeam& user) {
    (void)state;
    int checked = 0;
    const int rows = user.rowCount();
    for (int row = 0; row < rows; ++row) {
        SetRowStatus(user, row, "");
        if (user.rowChecked(row)) ++checked;
    }
    return checked;
}

void SetRowStatus(UserSeam& user, int row, const std::string& text) { user.setRowStatus(row, text); }

void PauseWhilePumping(uint32_t ms, const std::function<bool()>& pumpMessages) {
    Clock* clock = platform().clock;
    const uint32_t start = clock->tickCount();
    for (;;) {
        if (!pumpMessages()) break;
        const uint32_t elapsed = clock->tickCount() - start;  // unsigned: survives the wrap
        if (elapsed >= ms) break;
        clock->sleep(elapsed + 10 < ms ? 10 : ms - elapsed);
    }
}

void RunAction(MainState& state, UserSeam& user, void (*procedure)(MainState&, UserSeam&)) {
    if (state.actionRunning) return;
    // Every action counts as a writer: a SMART read too is refused when the lock cannot be
    // made, rather than telling actions apart by their procedure.
    const DeviceHold hold(state, DeviceUse::Write);
    if (!hold.grantedOrNotice(user)) return;
    state.actionRunning = true;
    try {
        procedure(state, user);
    } catch (...) {
        // An action cut off by an error must not leave the window locked.
        state.actionRunning = false;
        UnlockButtons(state, user);
        throw;
    }
    state.actionRunning = false;
}

}  // namespace qx
