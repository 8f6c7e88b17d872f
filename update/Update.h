// The firmware update procedure behind "Update Firmware".
#pragma once

#include "app/MainState.h"
#include "app/UserSeam.h"

namespace qx {

void DownloadCodeBtnClick(MainState& state, UserSeam& user);

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

}  // namespace qx
