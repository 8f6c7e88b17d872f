// Start-up timing of the Windows utility: with QXUPDATER_STARTUP_TIMES=PATH set, the
// milliseconds from process creation to the first painted showing and to the filled drive
// list are appended to PATH ("first-paint 41", "list-filled 1350"). Used by the timed start
// runs of scripts/measure-startup.sh; without the variable nothing is recorded.
#pragma once

class TMainForm;

namespace qx::win32 {

class StartupTimes {
public:
    static void watch(TMainForm& form);
    // Milliseconds since the process was created.
    static double sinceProcessStart();
    // Appends "name ms" to the file named by QXUPDATER_STARTUP_TIMES (when set).
    static void record(const char* name);
};

}  // namespace qx::win32
