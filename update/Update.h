// The firmware update procedure behind "Update Firmware".
#pragma once

#include <string>
#include <vector>

#include "app/core/MainState.h"
#include "app/core/UserSeam.h"
#include "platform/Platform.h"

namespace qx {

void DownloadCodeBtnClick(MainState& state, UserSeam& user);

// The battery gate of the update: on battery below this charge, nothing is sent.
constexpr int kMinBatteryPercent = 25;
// The refusal text when the computer runs on its battery below kMinBatteryPercent; empty
// on mains power, without a battery or when the charge is unknown.
std::string BatteryRefusal(const PowerSource& power);

// The notice of a package refused by its whole check (CheckPackageWhole), with its reason.
std::string PackageRefusalText(const std::string& reason);
// A log box line about one drive: `format` with its one %d replaced by `disk`.
std::string DiskLine(const char* format, int disk);

// The operating-system gate shared by the update and the secure erase: true when the
// system is older than Windows XP Service Pack 2.
bool OsRefused();

// The number of drive-list rows the action handlers walk: the rows of the list, never more
// than DeviceList has entries or the drive table has records.
int ActionRowCount(const MainState& state, UserSeam& user);

// The common start of the update and the secure erase: LockButtons, the "Warning"
// confirmation, the operating-system gate and the count of checked rows. False when the
// action ends there: the user has been told and the buttons are unlocked again.
struct ActionTexts {
    const char* question;   // the confirmation
    const char* cancelled;  // any answer but OK
    const char* osRefused;  // the gate refused the system
    const char* noDisk;     // no row checked
};
bool StartDriveAction(MainState& state, UserSeam& user, const ActionTexts& texts);

// Device names are reused after a hot-plug: before an image is personalised for drive l, or
// before drive l is erased, IDENTIFY DEVICE is read again and its serial number, model and
// world wide name must equal the scan's, or another drive would get this drive's identity
// in its firmware, or lose its data. A drive listed with a blank identity (its IDENTIFY
// failed at the scan) cannot be told from another and is refused before anything is sent.
// False, with the reason in the diagnostic log, when nothing may be sent. `identifyOut`
// (512 bytes, optional) receives the IDENTIFY data read.
enum class DriveCheck { BeforeUpdate, BeforeErase };
bool SameDriveAsScanned(int l, DriveCheck purpose, uint8_t* identifyOut = nullptr);

// What drive l reports after its update passed, read again from it: the firmware revision
// of IDENTIFY DEVICE and the build (SVN version and build date) of the controller record.
// `running`: the record shows the build of `imageBuildInfo` (the image's 64-byte BuildInfo
// block); a drive that takes the new firmware only at its next power cycle still shows the
// old one. `reason` is empty when both were read, else why not ("read-back-identify-failed",
// "read-back-record-unreadable"). Sends IDENTIFY DEVICE, then vendor mode on, the record,
// vendor mode off.
struct DriveAfterUpdate {
    std::string reason;
    std::string firmware;
    std::string build;
    bool running = false;
};
DriveAfterUpdate ReadDriveAfterUpdate(int l, const std::vector<uint8_t>& imageBuildInfo);

}  // namespace qx
