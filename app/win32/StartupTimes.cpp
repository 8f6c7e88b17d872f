// Start-up timing against the system clock.
#include "app/win32/StartupTimes.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "app/win32/MainForm.h"

namespace qx::win32 {

double StartupTimes::epochMs() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr unsigned long long kEpochDifference = 116444736000000000ull;  // 1601 to 1970, 100 ns units
    return static_cast<double>(ticks - kEpochDifference) / 10000.0;
}

void StartupTimes::record(const char* name) {
    const char* path = std::getenv("QXUPDATER_STARTUP_TIMES");
    if (!path || !*path) return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s %.1f\n", name, epochMs());
        std::fclose(f);
    }
}

void StartupTimes::watch(TMainForm& form) {
    const char* path = std::getenv("QXUPDATER_STARTUP_TIMES");
    if (!path || !*path) return;
    form.onMilestone = [](const char* milestone) { record(milestone); };
}

}  // namespace qx::win32
