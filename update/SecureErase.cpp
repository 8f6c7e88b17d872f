// The secure erase behind "Secure Erase": confirmation, operating-system gate, one typed
// password, then SECURITY ERASE PREPARE and SECURITY ERASE UNIT (master password, normal
// erase) for every checked drive. Before a drive is erased, IDENTIFY DEVICE is read again:
// the same drive as scanned, a security state that allows the erase, and the drive's own
// estimate of the erase time, which sets the time-out of SECURITY ERASE UNIT; then its disk
// is held (no mounted file system, never the system's disk) until the pair has been sent.
// The password is never logged, and every buffer that held it is wiped before the handler
// returns.
#include "update/SecureErase.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "QXLib/DbgLog.h"
#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "devices/Discovery.h"
#include "devices/DriveTable.h"
#include "platform/LittleEndian.h"
#include "platform/Wipe.h"
#include "update/SleepHold.h"
#include "update/Update.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace qx {

namespace {

constexpr const char* kEraseQuestion =
    "Please close all other \"applications\" before performing the secure erase.\n"
    "Click \"OK\" to proceed.";
constexpr const char* kOsRefusedText =
    "The program must be running on Microsoft Windows XP Service Pack 2 (SP2) or later!";

constexpr size_t kPasswordField = 2;
constexpr size_t kPasswordWidth = 32;

// Wipes a string on every way out of a scope.
class WipeOnExit {
public:
    explicit WipeOnExit(std::string& s) : s_(s) {}
    ~WipeOnExit() { WipeString(s_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    std::string& s_;
};

#if !defined(_WIN32)
// Windows-1252 for the code points it has; '?' (the ANSI default character) otherwise.
char toWindows1252(uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    static constexpr std::pair<uint16_t, uint8_t> kHigh[] = {
        {0x20AC, 0x80}, {0x0081, 0x81}, {0x201A, 0x82}, {0x0192, 0x83}, {0x201E, 0x84},
        {0x2026, 0x85}, {0x2020, 0x86}, {0x2021, 0x87}, {0x02C6, 0x88}, {0x2030, 0x89},
        {0x0160, 0x8A}, {0x2039, 0x8B}, {0x0152, 0x8C}, {0x008D, 0x8D}, {0x017D, 0x8E},
        {0x008F, 0x8F}, {0x0090, 0x90}, {0x2018, 0x91}, {0x2019, 0x92}, {0x201C, 0x93},
        {0x201D, 0x94}, {0x2022, 0x95}, {0x2013, 0x96}, {0x2014, 0x97}, {0x02DC, 0x98},
        {0x2122, 0x99}, {0x0161, 0x9A}, {0x203A, 0x9B}, {0x0153, 0x9C}, {0x009D, 0x9D},
        {0x017E, 0x9E}, {0x0178, 0x9F},
    };
    for (const auto& [code, byte] : kHigh) {
        if (code == cp) return static_cast<char>(byte);
    }
    return '?';
}

// Decodes one UTF-8 sequence at `i`; a malformed one yields U+FFFD and skips one byte.
uint32_t nextCodePoint(const std::string& s, size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    size_t extra = 0;
    uint32_t cp = 0;
    uint32_t minimum = 0;
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, cp = b0 & 0x1Fu, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, cp = b0 & 0x0Fu, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, cp = b0 & 0x07u, minimum = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + extra >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (size_t k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3Fu);
    }
    i += extra + 1;
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
    return cp;
}
#endif

// Word `w` of a 512-byte IDENTIFY DEVICE answer (little-endian).
uint16_t identifyWord(const uint8_t* identify, size_t w) {
    return ReadLe16(identify + 2 * w);
}

// The reason code and the line for the log box when the drive's security state refuses the
// erase. A drive frozen on Windows was frozen by Windows' own storage driver, which sends
// SECURITY FREEZE LOCK when it starts (Vista and 7) or lets security commands through only
// under WinPE (8 and later): Microsoft's storage documentation, "Security group commands".
// USB mass storage does not go through that driver.
std::pair<const char*, std::string> refusalText(SecurityRefusal refusal, int l) {
    switch (refusal) {
        case SecurityRefusal::NotSupported:
            return {"security-not-supported",
                    "the drive does not support the security feature set, so it cannot be erased this way."};
        case SecurityRefusal::AttemptsExpired:
            return {"attempts-expired",
                    "the drive has counted too many wrong passwords and refuses the erase until it is "
                    "powered off and on again; shut the computer down (or disconnect the drive), then try "
                    "again."};
        case SecurityRefusal::Frozen: {
            SystemInfoSource* system = platform().system;
            const bool bridged = DriveInfo[l].busKind == DEVICE_USB;
            if (bridged) {
                return {"frozen",
                        "the drive's security is frozen, so it refuses the erase. Disconnect the drive and "
                        "connect it again, then try again."};
            }
            if (system != nullptr && system->isWindows()) {
                return {"frozen",
                        "Windows' storage driver froze the drive's security when it started (the drive "
                        "itself is not at fault), so the erase is refused. Attach the drive through the "
                        "maker's USB bridge, or erase it from another system, then try again."};
            }
            return {"frozen",
                    "the drive's security is frozen, so it refuses the erase. Suspend and resume the "
                    "computer, or attach the drive through the maker's USB bridge, then try again."};
        }
        case SecurityRefusal::None:
            break;
    }
    return {nullptr, {}};
}

}  // namespace

std::string PasswordToAnsi(const std::string& utf8) {
    std::string ansi;
    if (utf8.empty()) return ansi;
#if defined(_WIN32)
    // The system's ANSI code page, as the toolkit's text conversion does it.
    const int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                               static_cast<int>(utf8.size()), nullptr, 0);
    if (wideLength <= 0) return ansi;
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        wideLength);
    const int ansiLength =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (ansiLength > 0) {
        ansi.assign(static_cast<size_t>(ansiLength), '\0');
        WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, ansi.data(), ansiLength, nullptr,
                            nullptr);
    }
    wide.resize(wide.capacity());
    WipeBytes(wide.data(), wide.size() * sizeof(wchar_t));
#else
    // No ANSI code page here: Windows-1252, the ANSI page of western Windows systems, and
    // '?' for characters it lacks, as the conversion's default character.
    ansi.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) ansi.push_back(toWindows1252(nextCodePoint(utf8, i)));
#endif
    return ansi;
}

SecurityRefusal SecurityRefusalOf(const uint8_t* identify) {
    const uint16_t commandSets = identifyWord(identify, 82);
    const uint16_t security = identifyWord(identify, 128);
    if ((commandSets & 0x0002) == 0 || (security & 0x0001) == 0) return SecurityRefusal::NotSupported;
    if ((security & 0x0008) != 0) return SecurityRefusal::Frozen;
    if ((security & 0x0010) != 0) return SecurityRefusal::AttemptsExpired;
    return SecurityRefusal::None;
}

EraseEstimate NormalEraseEstimate(const uint8_t* identify) {
    const uint16_t w89 = identifyWord(identify, 89);
    EraseEstimate e;
    // The largest value of each format means "more than" the value below it (ATA command
    // set: 255 is more than 508 minutes, 7FFFh more than 65,532 minutes).
    const bool extended = (w89 & 0x8000) != 0;
    const uint32_t largest = extended ? 0x7FFFu : 0xFFu;
    const uint32_t units = w89 & largest;
    e.atLeast = units == largest;
    e.minutes = 2 * (e.atLeast ? units - 1 : units);
    return e;
}

uint32_t EraseUnitTimeoutSeconds(const EraseEstimate& estimate) {
    constexpr uint32_t kMaxSeconds = 12 * 3600;
    const uint64_t twice = uint64_t{estimate.minutes} * 60u * 2u;
    return static_cast<uint32_t>(
        std::clamp<uint64_t>(twice, kCommandTimeoutSeconds, kMaxSeconds));
}

namespace {

// The volumes of one disk, locked and dismounted for as long as the claim lives (closing a
// handle releases its lock, and the system mounts the volume again on its next use).
class VolumeClaim final : public DiskClaim {
public:
    ~VolumeClaim() override {
        DeviceIo* io = platform().devices;
        for (const DeviceHandle h : handles) {
            if (io != nullptr) io->close(h);
        }
    }
    std::vector<DeviceHandle> handles;
};

std::string volumeName(char letter) { return std::string("\\\\.\\") + letter + ":"; }

// Windows' rule: the disk's volumes (those whose device number is the disk's) are locked,
// then dismounted; the volume of the Windows directory is never touched. FSCTL_LOCK_VOLUME
// fails while any file is open on the volume, and on the system volume or one holding a page
// file; the lock lasts until its handle is closed (Microsoft's documentation of
// FSCTL_LOCK_VOLUME and FSCTL_DISMOUNT_VOLUME).
DiskClaimResult claimVolumes(const char* devicePath) {
    DiskClaimResult r;
    SystemInfoSource* system = platform().system;
    DeviceIo* io = platform().devices;
    StorageDeviceNumber disk;
    if (system == nullptr || io == nullptr || !GetDeviceNumber(devicePath, disk)) {
        r.reason = "in-use";
        r.detail = "the disk's device number could not be read, so its volumes are unknown";
        return r;
    }
    const std::string windowsDir = system->windowsDirectory();
    const char systemLetter =
        windowsDir.empty() ? '\0' : static_cast<char>(std::toupper(static_cast<unsigned char>(windowsDir[0])));
    const uint32_t mask = system->logicalDrives();
    std::string letters;
    for (char c = 'A'; c <= 'Z'; ++c) {
        if ((mask & (1u << (c - 'A'))) == 0) continue;
        StorageDeviceNumber v;
        if (!GetDeviceNumber(volumeName(c).c_str(), v)) continue;
        if (v.DeviceType != disk.DeviceType || v.DeviceNumber != disk.DeviceNumber) continue;
        if (c == systemLetter) {
            r.reason = "system-disk";
            r.detail = std::string("it holds ") + c + ": with the running Windows";
            return r;
        }
        letters.push_back(c);
    }
    auto claim = std::make_unique<VolumeClaim>();
    for (const char c : letters) {
        const std::string name = volumeName(c);
        const DeviceHandle h = io->open(name.c_str(), AccessRead | AccessWrite, ShareRead | ShareWrite);
        bool held = h != kInvalidDevice;
        if (held) claim->handles.push_back(h);
        uint32_t returned = 0;
        held = held && io->control(h, kFsctlLockVolume, nullptr, 0, nullptr, 0, &returned);
        const uint32_t error = held ? 0 : io->lastError();
        held = held && io->control(h, kFsctlDismountVolume, nullptr, 0, nullptr, 0, &returned);
        if (!held) {
            DbgPrintf("Volume %c: not locked for the erase (error %u)\r\n", c,
                      static_cast<unsigned>(error != 0 ? error : io->lastError()));
            r.reason = "mounted";
            r.detail = std::string("volume ") + c + ": is in use and could not be locked; close what uses it";
            return r;  // the claim goes, and with it the locks taken so far
        }
    }
    r.claim = std::move(claim);
    return r;
}

}  // namespace

DiskClaimResult ClaimDiskForErase(const char* devicePath) {
    SystemInfoSource* system = platform().system;
    if (system != nullptr) {
        if (auto own = system->claimForErase(devicePath != nullptr ? devicePath : "")) return std::move(*own);
    }
    return claimVolumes(devicePath);
}

bool SecureEraseDrive(uint8_t device, const std::string& password, uint32_t unitTimeoutSeconds) {
    if (device >= kMaxDrives) return false;
    const CommandBlock prepare = {0xA1, 0x06, 0x00, 0x00, 0x00, 0x00,
                                  0x00, 0x00, 0xE0, 0xF3, 0x00, 0x00};
    if (ExecDeviceCommand(device, 0, prepare, static_cast<int>(prepare.size()), nullptr, 0) != 1)
        return false;

    const CommandBlock unit = {0xA1, 0x0A, 0x03, 0x00, 0x01, 0x00,
                               0x00, 0x00, 0xE0, 0xF4, 0x00, 0x00};
    // Control word 0x0001: compare the master password, normal erase. The password field
    // holds the first 32 characters in typed order, blank-filled; the rest is zero.
    std::array<uint8_t, 512> block{};
    block[0] = 0x01;
    std::memset(block.data() + kPasswordField, ' ', kPasswordWidth);
    std::memcpy(block.data() + kPasswordField, password.data(),
                std::min(password.size(), kPasswordWidth));
    const int result =
        ExecDeviceCommand(device, 0, unit, static_cast<int>(unit.size()), block.data(),
                          static_cast<int32_t>(block.size()), unitTimeoutSeconds);
    WipeBytes(block.data(), block.size());
    return result == 1;
}

void SecureEraseBtnClick(MainState& state, UserSeam& user) {
    if (!StartDriveAction(state, user,
                          {kEraseQuestion, "Secure erase cancelled!", kOsRefusedText,
                           "Please select a disk!"})) {
        return;
    }

    std::string typed = user.askText("Please Input the Password", "Password", "");
    const WipeOnExit typedWiper(typed);
    std::string password = PasswordToAnsi(typed);
    const WipeOnExit passwordWiper(password);
    WipeString(typed);
    if (password.empty()) {
        user.notice(state.caption, "No password and secure erase cancelled!", BoxIcon::None);
        UnlockButtons(state, user);
        return;
    }

    const int rows = ActionRowCount(state, user);
    for (int k = 0; k < rows; ++k) {
        if (!user.rowChecked(k)) continue;
        const auto device = static_cast<uint8_t>(k);
        user.appendLog(DiskLine("Disk %d starting secure erase.", k + 1));
        const auto failed = [&](const char* reason, const std::string& why) {
            if (reason != nullptr) {
                user.appendLog(DiskLine("Disk %d: ", k + 1) + why);
                user.outcomeReason(k, {reason, {{"message", why}}});
            }
            user.appendLog(DiskLine("Disk %d secure erase fail!", k + 1));
            SetRowStatus(user, k, "Fail");
        };
        uint8_t identify[512] = {};
        if (!SameDriveAsScanned(k, DriveCheck::BeforeErase, identify)) {
            failed(nullptr, {});
            continue;
        }
        const SecurityRefusal refusal = SecurityRefusalOf(identify);
        if (refusal != SecurityRefusal::None) {
            DbgPrintf("[%d]IDENTIFY word 82 %04Xh, word 128 %04Xh: the erase is not sent\r\n", k,
                      identifyWord(identify, 82), identifyWord(identify, 128));
            const auto [reason, why] = refusalText(refusal, k);
            failed(reason, why);
            continue;
        }
        DiskClaimResult claim = ClaimDiskForErase(DriveInfo[k].devicePath);
        if (claim.claim == nullptr) {
            const bool system = claim.reason == "system-disk";
            failed(claim.reason.c_str(),
                   std::string(system ? "the disk of the running system is never erased: "
                                      : "the disk is in use, so it is not erased: ") +
                       claim.detail + ".");
            continue;
        }
        const EraseEstimate estimate = NormalEraseEstimate(identify);
        const uint32_t unitTimeout = EraseUnitTimeoutSeconds(estimate);
        if (estimate.minutes != 0) {
            user.appendLog(DiskLine("Disk %d: the drive estimates the erase at ", k + 1) +
                           (estimate.atLeast ? "more than " : "") + std::to_string(estimate.minutes) +
                           " minutes; it is given up to " + std::to_string((unitTimeout + 59) / 60) +
                           " minutes.");
        }
        VA_EnableVendorCmd(device, true);
        SleepHold hold(SleepHoldReason("Secure erase", k));
        user.eraseUnitStarted(k, estimate.minutes * 60);
        const bool erased = SecureEraseDrive(device, password, unitTimeout);
        user.eraseUnitEnded(k);
        hold.release();
        claim.claim.reset();
        user.pause(2000);
        if (erased) {
            user.appendLog(DiskLine("Disk %d secure erase successfully, please shut down your system.", k + 1));
            SetRowStatus(user, k, "Pass");
        } else {
            failed(nullptr, {});
        }
    }
    UnlockButtons(state, user);
}

}  // namespace qx
