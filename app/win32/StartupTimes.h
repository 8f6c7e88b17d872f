// Start-up timing of the Windows utility: with QXUPDATER_STARTUP_TIMES=PATH set, the moments
// of the first painted showing and of the filled drive list are appended to PATH as
// milliseconds of the Unix epoch ("first-paint 1765290000123.4"), so a timed start run
// (scripts/measure-startup.sh) can take them against its own start. Without the variable
// nothing is recorded.
#pragma once

class TMainForm;

namespace qx::win32 {

class StartupTimes {
public:
    static void watch(TMainForm& form);
    // Milliseconds since the Unix epoch, from the system clock.
    static double epochMs();
    // Appends "name ms" to the file named by QXUPDATER_STARTUP_TIMES (when set).
    static void record(const char* name);
};

}  // namespace qx::win32
