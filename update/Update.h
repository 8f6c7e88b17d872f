// The firmware update procedure behind "Update Firmware".
#pragma once

#include "app/MainState.h"
#include "app/UserSeam.h"

namespace qx {

void DownloadCodeBtnClick(MainState& state, UserSeam& user);

// The operating-system gate shared by the update and the secure erase: true when the
// system is older than Windows XP Service Pack 2.
bool OsRefused();

}  // namespace qx
