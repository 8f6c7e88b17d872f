// Setup API, configuration manager and the small kernel queries of discovery.
#include "platform/windows/WinSystem.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstddef>
#include <cstring>

namespace qx {

namespace {

// GUID_DEVINTERFACE_DISK {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}.
const GUID kDiskInterfaceClass = {0x53F56307, 0xB6BF, 0x11D0,
                                  {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

constexpr DWORD kDetailBufferSize = 1024;
constexpr UINT kWindowsDirBufferSize = 512;

// The size field of the detail record is the size of its fixed part in this build: 5 for
// 32-bit programs (a DWORD and one character, packed), 8 for 64-bit ones. A 64-bit system
// rejects the 32-bit value with ERROR_INVALID_USER_BUFFER.
#if defined(_WIN64)
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
#endif
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == 4);
static_assert(sizeof(OSVERSIONINFOEXA) == 156);
static_assert(sizeof(OSVERSIONINFOA) == 148);

// Releases the information set on every way out.
class DeviceInfoSet {
public:
    explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
    ~DeviceInfoSet() {
        if (ok()) SetupDiDestroyDeviceInfoList(set_);
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
    bool ok() const { return set_ != INVALID_HANDLE_VALUE; }
    HDEVINFO get() const { return set_; }

private:
    HDEVINFO set_;
};

}  // namespace

std::optional<std::vector<std::string>> WinSystem::diskInterfaces() {
    DeviceInfoSet set(SetupDiGetClassDevsA(&kDiskInterfaceClass, nullptr, nullptr,
                                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.ok()) return std::nullopt;

    // Aligned for the record's DWORD; zero-filled so every path ends in NUL.
    alignas(8) unsigned char buffer[kDetailBufferSize];
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
    constexpr std::size_t kPathRoom =
        kDetailBufferSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

    std::vector<std::string> paths;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data;
        std::memset(&data, 0, sizeof(data));
        data.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
        // The normal end is ERROR_NO_MORE_ITEMS.
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &kDiskInterfaceClass, index, &data)) {
            break;
        }
        std::memset(buffer, 0, sizeof(buffer));
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set.get(), &data, detail, kDetailBufferSize,
                                              nullptr, nullptr)) {
            // A path that does not fit the buffer could never be a candidate anyway; the
            // interfaces after it still can.
            if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) continue;
            break;
        }
        paths.emplace_back(detail->DevicePath, strnlen(detail->DevicePath, kPathRoom));
    }
    return paths;
}

uint32_t WinSystem::logicalDrives() { return static_cast<uint32_t>(GetLogicalDrives()); }

std::string WinSystem::windowsDirectory() {
    char buffer[kWindowsDirBufferSize] = {};
    const UINT n = GetWindowsDirectoryA(buffer, kWindowsDirBufferSize);
    if (n == 0 || n >= kWindowsDirBufferSize) return {};
    return std::string(buffer, n);
}

OsVersion WinSystem::osVersion() {
    OsVersion v;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    // Without a compatibility manifest, later systems report 6.2 here, as intended.
    OSVERSIONINFOEXA ex;
    std::memset(&ex, 0, sizeof(ex));
    ex.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex))) {
        v.extendedOk = true;
        v.basicOk = true;
        v.major = ex.dwMajorVersion;
        v.minor = ex.dwMinorVersion;
        v.servicePackMajor = ex.wServicePackMajor;
        return v;
    }
    OSVERSIONINFOA basic;
    std::memset(&basic, 0, sizeof(basic));
    basic.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (GetVersionExA(&basic)) {
        v.basicOk = true;
        v.major = basic.dwMajorVersion;
        v.minor = basic.dwMinorVersion;
    }
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return v;
}

PowerSource WinSystem::powerSource() {
    PowerSource power;
    SYSTEM_POWER_STATUS status{};
    if (!GetSystemPowerStatus(&status)) return power;
    const bool battery = status.BatteryFlag != 255 && (status.BatteryFlag & 128) == 0;
    power.onBattery = battery && status.ACLineStatus == 0;
    if (battery && status.BatteryLifePercent <= 100) power.batteryPercent = status.BatteryLifePercent;
    return power;
}

int WinSystem::rescan(uint32_t* code) {
    DEVINST root = 0;
    CONFIGRET cr = CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL);
    if (cr != CR_SUCCESS) {
        if (code != nullptr) *code = static_cast<uint32_t>(cr);
        return 1;
    }
    // Returns before the enumeration is done.
    cr = CM_Reenumerate_DevNode(root, CM_REENUMERATE_NORMAL);
    if (cr != CR_SUCCESS) {
        if (code != nullptr) *code = static_cast<uint32_t>(cr);
        return 2;
    }
    if (code != nullptr) *code = 0;
    return 0;
}

}  // namespace qx
