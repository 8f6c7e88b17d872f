// Kernel services on Windows: the real Win32 calls for the executable path, the
// single-instance mapping, the debugger output, named mutexes, the profile functions and
// the power-off.
#pragma once

#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qx {

// Keeps every DLL the process loads from now on to the system folder: an elevated program
// started from a Downloads folder would otherwise load a planted DLL of a system name from
// there. Called first thing by both Windows programs. SetDefaultDllDirectories
// (LOAD_LIBRARY_SEARCH_SYSTEM32) exists from Windows 8 on and on Windows 7 with update
// KB2533623; it is looked up, so the program still starts without it, and then at least the
// current directory leaves the search (SetDllDirectoryW). True when the search is restricted.
bool RestrictDllSearchToSystem32();

class WinKernel final : public Kernel {
public:
    // GetModuleFileNameW, in UTF-8.
    std::string executablePath() override;
    // The token holds the Administrators group enabled (CheckTokenMembership): an
    // administrator's unelevated token holds it deny-only, and the disks admit only
    // administrators for raw commands.
    bool runsElevated() override;
    // GetFileAttributesExW of the executable path.
    int64_t executableListedSize() override;
    // A named 4-byte file mapping; false when it already exists. The handle is never
    // closed, so the name stays taken until the process ends.
    bool acquireSingleInstance(const char* name) override;
    void debugOutput(const char* text) override;
    // A named mutex, opened when it exists, created (not owned) otherwise.
    std::unique_ptr<NamedLock> openNamedLock(const char* name) override;
    // The wide profile functions; texts converted between UTF-8 and UTF-16.
    std::string profileString(const std::string& section, const std::string& key,
                              const std::string& def, const std::string& path) override;
    int32_t profileInt(const std::string& section, const std::string& key, int32_t def,
                       const std::string& path) override;
    bool writeProfileString(const std::string& section, const std::string& key,
                            const std::string& value, const std::string& path) override;
    // Enables the shutdown privilege and asks for a forced power-off.
    int shutDownComputer() override;
    // SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) on the calling thread,
    // back to ES_CONTINUOUS when the hold goes: the system does not sleep meanwhile. Windows
    // offers a program without a window no way to hold off a shutdown, so `why` is unused.
    std::unique_ptr<PowerHold> holdOffSleep(const std::string& why) override;

    // The device lock: the named mutex "Global\QXUpdaterDevices" for the machine (one
    // name for every session, so a desktop program and a CLI over a remote shell see each
    // other), "Global\QXUpdaterBench-<hash of the full path>" for a bench file. Windows
    // tells no holder's process id for a mutex.
    DeviceLockAttempt lockDevices() override;
    void setDeviceLockTarget(DeviceLockTarget target, const std::string& benchFile = {});
    // One try of the mutex of this name (also the test seam).
    static DeviceLockAttempt lockDeviceMutex(const std::string& name);
    // The mutex name of a bench file.
    static std::string benchLockName(const std::string& benchFile);

private:
    DeviceLockTarget lockTarget_ = DeviceLockTarget::Machine;
    std::string lockBenchFile_;
};

}  // namespace qx
