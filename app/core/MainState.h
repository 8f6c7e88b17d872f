// What the main window holds for the life of the process, kept free of the toolkit so
// the procedures and their tests can use it without widgets.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/UserSeam.h"

namespace qx {

class DeviceLock;  // platform/Platform.h

constexpr const char* kControllerModel = "t74";
constexpr const char* kVersionText = "A.1.19(RC2)";
constexpr int32_t kPackageModeThreshold = 0x300000;  // 3,145,728 bytes

struct MainState {
    int32_t PackageMode = 0;
    int32_t ExeFileSize = 0;
    std::array<uint8_t, 512> PackageHeader{};
    std::string ExePath;           // full path of the executable
    std::string IniPath;
    std::string customTitle;       // "CustomTitle"; empty in package mode
    int32_t customBkImage = 0;     // "CustomBKImage"
    int32_t enFilterBinFile = 0;   // "EnFilterBinFile"
    std::string firmwareVer;       // "FirmwareVer" (file mode)

    std::string caption;           // window caption
    std::string appTitle;          // application title (task bar, simple message boxes)
    bool FirstShow = true;

    // Hidden drop-down list: one entry per accepted drive of the last scan.
    std::vector<std::string> DeviceList;
    int deviceListSelected = -1;

    int32_t CheckedCount = 0;
    int32_t CheckedIndex = -1;

    // OpenDialog1's settings survive between updates.
    std::string openDialogInitialDir;

    // True while an action runs; closing the main window is refused meanwhile.
    bool actionRunning = false;

    // What start-up found wrong, shown once before the first scan (ShowStartupNotices).
    std::vector<std::string> startupNotices;
    bool startupNoticesShown = false;

    // Update: a drive that already runs the chosen image's build (SVN version, build date,
    // FwVer, BinFileName code, CustomerID) ends "Up to date" with nothing sent.
    bool skipCurrent = false;

    // The device lock while a scan or an action of this program sends commands
    // (devices/DeviceLock.h); empty otherwise.
    std::shared_ptr<DeviceLock> deviceLock;
};

// The notice of a process without administrator rights, and the one of a copy whose size
// says it carries a package that it cannot read (%s: its path).
extern const char* const kNotElevatedNotice;
extern const char* const kUnreadableSelfNotice;

// The title a main window has from its creation, for its caption and the application title:
// "Quorvex t74 Toolbox A.1.19(RC2)".
std::string StartTitle();

// The caption package mode gives the main window at its first showing: the header's product
// name, the utility's version text and, in square brackets, the header's version text. The
// header's texts are 8-bit characters of the maker's tool (Latin-1); the caption is UTF-8.
std::string PackageCaption(const std::array<uint8_t, 512>& header);

// What package mode's first showing puts up. `opened`: the executable could be opened, so
// the caption becomes `caption` (PackageCaption) and, with the header's picture flag set,
// `picture` (the picture area) is decoded into the background. The background shows
// exactly when `pictureFlag` is set.
struct PackageShowing {
    bool opened = false;
    bool pictureFlag = false;
    bool decodePicture = false;  // opened with the flag set: `picture` must decode, or the showing stops
    std::string caption;
    std::vector<uint8_t> picture;
};
// The start-up read of the package in package mode, its header kept in `PackageHeader`.
PackageShowing ReadPackageShowing(MainState& state);

// Creation of the main window, toolkit-free part: caption and application title, RDMode
// off, IniPath, ExeFileSize, PackageMode, configuration load in file mode, custom title.
// Returns an empty text on success, otherwise the error text that ends the program
// ("Unable to write to %s").
std::string CreateMainState(MainState& state, UserSeam& user);

// The common steps of the action buttons.
void LockButtons(MainState& state, UserSeam& user);
void UnlockButtons(MainState& state, UserSeam& user);
int CountCheckedRows(MainState& state, UserSeam& user);
void SetRowStatus(UserSeam& user, int row, const std::string& text);

// Runs one action procedure (Update Firmware, Secure Erase, Smart Info) unless one already
// runs, inside a hold of the device lock (a refusal is told in a notice and nothing runs). An error escaping it unlocks the window again and is passed on to the caller, which
// shows it in the toolkit's error box.
void RunAction(MainState& state, UserSeam& user, void (*procedure)(MainState&, UserSeam&));

// The user seam's pause: waits `ms` milliseconds on the platform clock, calling
// `pumpMessages` between short sleeps so the window keeps answering (on the virtual clock of
// tests the sleeps advance time at once). Ends early when `pumpMessages` returns false (the
// program is quitting).
void PauseWhilePumping(uint32_t ms, const std::function<bool()>& pumpMessages);

// Before the first scan, once: in the standard notice form (the main window's title, OK
// only), the process runs without administrator rights (asked of the kernel now), and the
// notices creation left in `startupNotices`.
void ShowStartupNotices(MainState& state, UserSeam& user);

// Scan work of FormShow: the start-up notices the first time, then the scan and the action
// buttons inside a hold of the device lock (a refusal is told in a notice and nothing is
// scanned).
void ScanWork(MainState& state, UserSeam& user);
}  // namespace qx
