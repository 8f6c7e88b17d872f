// Start-up timing: process creation time against the system clock.
#include "app/win32/StartupTimes.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "app/win32/MainForm.h"

namespace qx::win32 {

double StartupTimes::sinceProcessStart() {
    FILETIME created{}, exited{}, kernel{}, user{}, now{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(now) - ticks(created)) / 10000.0;  // 100 ns units
}

void StartupTimes::record(const char* name) {
    const char* path = std::getenv("QXUPDATER_STARTUP_TIMES");
    if (!path || !*path) return;
    if (FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s %.1f\n", name, sinceProcessStart());
        std::fclose(f);
    }
}

void StartupTimes::watch(TMainForm& form) {
    const char* path = std::getenv("QXUPDATER_STARTUP_TIMES");
    if (!path || !*path) return;
    form.onMilestone = [](const char* milestone) { record(milestone); };
}

}  // namespace qx::win32
