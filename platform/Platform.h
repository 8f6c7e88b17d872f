// The platform seam: every facility of the operating system that the utility calls on.
//
// The core never calls an operating-system function directly; it asks the Platform that
// is installed for the process. Three back-ends provide one: Windows (the real Win32
// calls), Linux (SG_IO, sysfs, logind) and the simulated bench (tests, benchmarks, demo).
// Results are plain values; nothing here throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qx {

// ---------------------------------------------------------------------------------------
// Time. Every tick count, sleep and responsive pause goes through the clock, so tests and
// benchmarks run on a virtual clock where a sleep advances time at once.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start; wraps like GetTickCount.
    virtual uint32_t tickCount() = 0;
    virtual void sleep(uint32_t ms) = 0;
};

// A clock that only moves when told to. Sleep advances it at once.
class VirtualClock final : public Clock {
public:
    uint32_t tickCount() override { return static_cast<uint32_t>(nowMs_); }
    void sleep(uint32_t ms) override { nowMs_ += ms; }
    void advance(uint64_t ms) { nowMs_ += ms; }
    uint64_t now() const { return nowMs_; }

private:
    uint64_t nowMs_ = 1000;
};

// ---------------------------------------------------------------------------------------
// Device I/O, shaped like CreateFileA / DeviceIoControl / CloseHandle. Request buffers are
// the Windows structures in the native layout of the build (see DeviceIoctl.h).
using DeviceHandle = intptr_t;
constexpr DeviceHandle kInvalidDevice = -1;

enum DeviceAccess : uint32_t {
    AccessNone = 0,
    AccessRead = 0x80000000u,   // GENERIC_READ
    AccessWrite = 0x40000000u,  // GENERIC_WRITE
};
enum DeviceShare : uint32_t {
    ShareNone = 0,
    ShareRead = 1,   // FILE_SHARE_READ
    ShareWrite = 2,  // FILE_SHARE_WRITE
};

class DeviceIo {
public:
    virtual ~DeviceIo() = default;
    // Opens an existing device or volume. kInvalidDevice on failure; lastError() tells why.
    virtual DeviceHandle open(const char* path, uint32_t access, uint32_t share) = 0;
    virtual void close(DeviceHandle h) = 0;
    // One control call. `code` is the Windows control code (IOCTL_ATA_PASS_THROUGH, ...).
    // Returns true when the call succeeded; lastError() is 0 after a success.
    virtual bool control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                         uint32_t outLen, uint32_t* bytesReturned) = 0;
    // The calling thread's last system error code, as GetLastError.
    virtual uint32_t lastError() = 0;
    // The system's own text for an error code that lastError() gave (FormatMessage on
    // Windows, strerror on Linux), for the diagnostic log; empty when it has none.
    virtual std::string errorText(uint32_t code) {
        (void)code;
        return {};
    }
};

// ---------------------------------------------------------------------------------------
// Disk enumeration, drive letters, operating-system version, device-tree rescan.
struct OsVersion {
    bool extendedOk = false;  // the extended record (156 bytes) could be read
    bool basicOk = false;     // the basic record (148 bytes) could be read
    uint32_t major = 0;
    uint32_t minor = 0;
    uint16_t servicePackMajor = 0;  // only meaningful with the extended record
};

// Where the computer draws its power from, for the battery gate of the update.
struct PowerSource {
    bool onBattery = false;   // running from its battery now (no mains power)
    int batteryPercent = -1;  // charge of the system battery, 0-100; -1 unknown or none
};

// A disk held for a command that destroys its data (the secure erase): while the object
// lives, no file system of the disk is mounted and none can be. Released when destroyed.
class DiskClaim {
public:
    virtual ~DiskClaim() = default;
};

// The answer to a claim: the claim, or why the disk may not be erased.
struct DiskClaimResult {
    std::unique_ptr<DiskClaim> claim;  // null: refused
    std::string reason;                // "system-disk", "mounted" or "in-use" when refused
    std::string detail;                // what holds the disk, in words for the user
};

class SystemInfoSource {
public:
    virtual ~SystemInfoSource() = default;
    // Device interface paths of all present disks, in the order the system lists them.
    // An empty optional means the enumeration itself could not be started.
    virtual std::optional<std::vector<std::string>> diskInterfaces() = 0;
    // Bit mask of existing drive letters, bit 0 = "A" (GetLogicalDrives).
    virtual uint32_t logicalDrives() = 0;
    // The Windows directory (GetWindowsDirectoryA); empty when it cannot be read.
    virtual std::string windowsDirectory() = 0;
    virtual OsVersion osVersion() = 0;
    // Asks for a re-enumeration of the device tree. 0 on success, otherwise the failing
    // step: 1 locate root failed, 2 re-enumerate failed; `code` receives the error code.
    virtual int rescan(uint32_t* code) = 0;
    // The power source now. A system that cannot tell reports mains power.
    virtual PowerSource powerSource() { return {}; }
    // True on Windows (and on a bench that stands for Windows): its inbox storage drivers
    // freeze the security of directly attached drives.
    virtual bool isWindows() { return false; }
    // Claims the disk of `path` for the secure erase by the system's own rule. Nothing when
    // the system has none: the core then locks and dismounts the disk's volumes through the
    // device I/O (FSCTL_LOCK_VOLUME, FSCTL_DISMOUNT_VOLUME), as on Windows.
    virtual std::optional<DiskClaimResult> claimForErase(const std::string& path) {
        (void)path;
        return std::nullopt;
    }
};

// ---------------------------------------------------------------------------------------
// Kernel services used at start-up and by the diagnostic log.
class NamedLock {
public:
    virtual ~NamedLock() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

// A hold on the system's sleep, shutdown and idle actions (a logind inhibitor lock, the
// thread's execution state on Windows); the hold ends when the object is destroyed.
class PowerHold {
public:
    virtual ~PowerHold() = default;
};

// The machine-wide device lock: one process at a time sends commands to the drives (a scan,
// an update, an erase, a SMART read). The lock is held while the object lives.
class DeviceLock {
public:
    virtual ~DeviceLock() = default;
};

struct DeviceLockAttempt {
    enum class State {
        Held,         // `lock` holds it until destroyed
        Busy,         // another process holds it
        Unavailable,  // the lock could not be made at all (`detail` says why)
    };
    State state = State::Held;
    std::unique_ptr<DeviceLock> lock;
    int64_t holderPid = 0;  // Busy: the holder's process id where the system tells it; 0 unknown
    std::string detail;
};

// What the device lock of a host kernel guards: the machine's drives, the drives of one
// bench file (keyed to that file), or nothing (the built-in bench, a replay).
enum class DeviceLockTarget { Machine, BenchFile, None };

class Kernel {
public:
    virtual ~Kernel() = default;
    // Full path of the running executable (GetModuleFileName), in UTF-8 like every path the
    // core opens; empty when unknown.
    virtual std::string executablePath() = 0;
    // Creates the single-instance object of this name. Returns false when another
    // process already holds it (the caller then ends silently). Held until process end.
    virtual bool acquireSingleInstance(const char* name) = 0;
    // The debugger output sink (OutputDebugStringA).
    virtual void debugOutput(const char* text) = 0;
    // Opens or creates the named inter-process lock; never null.
    virtual std::unique_ptr<NamedLock> openNamedLock(const char* name) = 0;
    // Profile functions with the semantics of GetPrivateProfileStringW /
    // WritePrivateProfileStringW / GetPrivateProfileIntW. Texts are UTF-8 in and out.
    virtual std::string profileString(const std::string& section, const std::string& key,
                                      const std::string& def, const std::string& path) = 0;
    virtual int32_t profileInt(const std::string& section, const std::string& key, int32_t def,
                               const std::string& path) = 0;
    virtual bool writeProfileString(const std::string& section, const std::string& key,
                                    const std::string& value, const std::string& path) = 0;
    // Powers the computer off: 1 when the request was issued, 0 when the right to shut
    // down could not be obtained. Failures are silent.
    virtual int shutDownComputer() = 0;
    // The configuration file of an installed copy, whose own folder does not take it (full
    // path); empty where the file always lies beside the executable.
    virtual std::string systemConfigurationPath() { return {}; }
    // True when the executable's folder (with its trailing separator) may take the
    // configuration file: a folder the user can write that is not one the package manager
    // owns.
    virtual bool folderTakesConfiguration(const std::string& folder) {
        (void)folder;
        return true;
    }
    // False when the process runs without the rights that raw commands to the drives need
    // (an unelevated token on Windows, no CAP_SYS_RAWIO on Linux). A kernel that cannot tell
    // says true.
    virtual bool runsElevated() { return true; }
    // The size of the running executable's file as the file system lists it, without
    // opening the file for reading; -1 when unknown. Tells a copy that carries a package
    // but cannot read itself from a copy without one.
    virtual int64_t executableListedSize() { return -1; }
    // Holds off sleep, shutdown and idle actions while a firmware download or an erase runs;
    // `why` names the drive. Null when the system refused the hold. A kernel without such a
    // service holds nothing and hands out an empty hold.
    virtual std::unique_ptr<PowerHold> holdOffSleep(const std::string& why) {
        (void)why;
        return std::make_unique<PowerHold>();
    }
    // Tries the device lock once, without waiting. A kernel without drives of its own
    // holds nothing and always succeeds.
    virtual DeviceLockAttempt lockDevices() {
        DeviceLockAttempt a;
        a.lock = std::make_unique<DeviceLock>();
        return a;
    }
};

// ---------------------------------------------------------------------------------------
// The installed platform. Back-ends own their parts; the core only borrows them.
struct Platform {
    Clock* clock = nullptr;
    DeviceIo* devices = nullptr;
    SystemInfoSource* system = nullptr;
    Kernel* kernel = nullptr;
};

// The platform of the process. Installed once at start-up (or per test).
Platform& platform();
void installPlatform(const Platform& p);

}  // namespace qx
