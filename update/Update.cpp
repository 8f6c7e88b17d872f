// The firmware update behind "Update Firmware": confirmation, operating-system gate, the
// choice of the image file (file mode), and the per-drive pass that reads the running
// firmware's build codes, finds the image meant for the drive, personalises, seals and
// downloads it, and reports the outcome in the log box and the row's Status cell.
#include "update/Update.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "QXLib/DbgLog.h"
#include "QXLib/MicroCode.h"
#include "QXLib/SystemInfo.h"
#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "devices/DriveTable.h"
#include "platform/AtaString.h"
#include "platform/Platform.h"
#include "update/Package.h"
#include "update/SleepHold.h"

namespace qx {

namespace {

constexpr const char* kUpdateQuestion =
    "Please close all other \"applications\" before performing the firmware update.\n"
    "Click \"OK\" to proceed.";
constexpr const char* kOsRefusedText =
    "The program must be running on Microsoft Windows XP Service Pack 2 (SP2) or later";

// BuildInfo field positions (bytes within the 64-byte block).
constexpr size_t kSvnAt = 6, kSvnWidth = 6;
constexpr size_t kDateAt = 15, kDateWidth = 11;
constexpr size_t kFwVerAt = 41, kFwVerWidth = 2;
constexpr size_t kBinCodeAt = 43, kBinCodeWidth = 4;
constexpr size_t kCustomerAt = 48, kCustomerWidth = 4;

// The shortest image that holds its own BuildInfo block; a shorter one would be matched
// by bytes that are not part of it.
constexpr uint64_t kMinImageLength = kBuildInfoOffset + kBuildInfoSize;
constexpr size_t kVersionTextBytes = 10;  // of the header's version text

// The comparison values of one side, each a fixed-width group of raw bytes; the texts
// shown in the log are cut at the first NUL.
struct BuildCodes {
    std::string fwVer;
    std::string binCode;
    std::string customerId;
    std::string svn;
    std::string date;

    std::string binFileName() const { return "SYS_" + shown(binCode) + ".bin"; }
    static std::string shown(const std::string& field) { return field.substr(0, field.find('\0')); }
};

std::string field(const uint8_t* buildInfo, size_t at, size_t width) {
    return std::string(reinterpret_cast<const char*>(buildInfo) + at, width);
}

BuildCodes codesOf(const uint8_t* buildInfo) {
    BuildCodes c;
    c.fwVer = field(buildInfo, kFwVerAt, kFwVerWidth);
    c.binCode = field(buildInfo, kBinCodeAt, kBinCodeWidth);
    c.customerId = field(buildInfo, kCustomerAt, kCustomerWidth);
    c.svn = field(buildInfo, kSvnAt, kSvnWidth);
    c.date = field(buildInfo, kDateAt, kDateWidth);
    return c;
}

BuildCodes initialDriveCodes() {
    BuildCodes c;
    c.fwVer = "00";
    c.binCode = "####";
    return c;
}

bool sameCodes(const BuildCodes& drive, const BuildCodes& image) {
    return drive.binCode == image.binCode && drive.customerId == image.customerId &&
           drive.fwVer == image.fwVer;
}

void logDriveLine(int l, const BuildCodes& d) {
    DbgPrintf("[%d]CurrentMemFwVer = %s, CurrentMemBinFileName = %s, SVN ver = %s, "
              "CurrentMemCustomerID = %s\r\n",
              l, BuildCodes::shown(d.fwVer).c_str(), d.binFileName().c_str(),
              BuildCodes::shown(d.svn).c_str(), BuildCodes::shown(d.customerId).c_str());
}

void logImageLine(int l, const BuildCodes& i) {
    DbgPrintf("[%d]ExtractBinFwVer = %s, ExtractBinFileName = %s, ExtractBinCustomerID = %s\r\n",
              l, BuildCodes::shown(i.fwVer).c_str(), i.binFileName().c_str(),
              BuildCodes::shown(i.customerId).c_str());
}

// An image that cannot be sent whole from the image area, or that ends before its own
// BuildInfo block, never matches. Logs why and returns false for such a length.
bool usableLength(int l, uint64_t length) {
    if (length == 0) {
        DbgPrintf("[%d]Image length is 0: the image is not used\r\n", l);
        return false;
    }
    if (length > kImageArea) {
        DbgPrintf("[%d]Image length %llu exceeds the %u-byte image area: the image is not used\r\n",
                  l, static_cast<unsigned long long>(length), static_cast<unsigned>(kImageArea));
        return false;
    }
    if (length < kMinImageLength) {
        DbgPrintf("[%d]Image length %llu ends before its BuildInfo block: the image is not used\r\n",
                  l, static_cast<unsigned long long>(length));
        return false;
    }
    return true;
}

bool isEither(const std::string& date, const char* a, const char* b) {
    return date == a || date == b;
}

// The two refusal rules of file mode.
bool refusedInFileMode(const BuildCodes& drive, const BuildCodes& image) {
    if ((drive.fwVer == "42" || image.fwVer == "42") && drive.date != image.date &&
        (isEither(drive.date, "Sep 18 2012", "Sep 20 2012") ||
         isEither(image.date, "Sep 18 2012", "Sep 20 2012"))) {
        return true;
    }
    if (drive.svn.size() < kSvnWidth) return false;
    const std::string lastThree = drive.svn.substr(kSvnWidth - 3, 3);
    return lastThree == "232" || lastThree == "241";
}

}  // namespace

std::string DiskLine(const char* format, int disk) {
    char text[128];
    std::snprintf(text, sizeof text, format, disk);
    return text;
}

namespace {

std::string executableDirectory(const MainState& state) {
    std::string exe = state.ExePath;
    if (exe.empty() && platform().kernel != nullptr) exe = platform().kernel->executablePath();
    // The folder part of the path, as the bytes came (UTF-8); a drive root keeps its separator.
    const size_t sep = exe.find_last_of("\\/");
    if (sep == std::string::npos) return std::string();
    return exe.substr(0, sep == 0 || exe[sep - 1] == ':' ? sep + 1 : sep);
}

// Package mode: the first 10 bytes of the header's version text, cut at a NUL; the
// personalisation writes at most 8 of them.
std::string packageRevisionText(const MainState& state) {
    const auto begin = state.PackageHeader.begin();
    const auto end = std::find(begin, begin + kVersionTextBytes, uint8_t{0});
    return std::string(begin, end);
}

// The drive runs exactly the image's build: SVN version, build date and the three codes.
bool sameBuild(const BuildCodes& drive, const BuildCodes& image) {
    return sameCodes(drive, image) && drive.svn == image.svn && drive.date == image.date;
}

// The firmware revision an image is personalised with.
std::string writtenRevision(const MainState& state) {
    return state.PackageMode != 0 ? packageRevisionText(state) : state.firmwareVer;
}

// A build as shown: the SVN version and the build date.
std::string buildText(const BuildCodes& codes) {
    return BuildCodes::shown(codes.svn) + " " + BuildCodes::shown(codes.date);
}

// File mode, step before the pass: the name of the image the checked drives run, from the
// last checked drive whose controller information could be read.
std::string targetFileName(MainState& state, UserSeam& user, std::vector<uint8_t>& work) {
    BuildCodes target = initialDriveCodes();
    const int rows = ActionRowCount(state, user);
    for (int row = 0; row < rows; ++row) {
        if (!user.rowChecked(row)) continue;
        const auto device = static_cast<uint8_t>(row);
        VA_EnableVendorCmd(device, true);
        if (VP_GetSystemInfo(device, work.data())) {
            target.binCode = field(DriveBuildInfo.data(), kBinCodeAt, kBinCodeWidth);
            DbgPrintf("Target bin file - %s\r\n", target.binFileName().c_str());
        }
    }
    return target.binFileName();
}

struct Match {
    bool found = false;
    uint32_t length = 0;
};

// `slotRowEnd`: where the checked package's last slot ends (CheckPackageWhole), so that
// bytes behind the slots (a signature) are never taken for one.
Match findPackageImage(const MainState& state, int32_t slotRowEnd, int l, const BuildCodes& drive,
                       std::vector<uint8_t>& image) {
    Match m;
    const bool pictureFlag = HeaderPictureFlag(state.PackageHeader);
    const int slot = EnumeratePackageImages(
        state.ExePath, pictureFlag, slotRowEnd, image,
        [&](int, uint32_t length, const std::vector<uint8_t>& area) {
            if (area.size() < kImageArea) return false;
            const BuildCodes offered = codesOf(area.data() + kBuildInfoOffset);
            logImageLine(l, offered);
            if (!sameCodes(drive, offered) || !usableLength(l, length)) return false;
            // A damaged image is never sealed anew and sent.
            if (!ImageChecksumValid(area.data(), length)) {
                DbgPrintf("[%d]Image checksum is wrong: the image is not used\r\n", l);
                return false;
            }
            m.length = length;
            return true;
        });
    m.found = slot >= 0 && image.size() >= kImageArea;
    return m;
}

Match findFileImage(const std::string& path, int l, const BuildCodes& drive,
                    std::vector<uint8_t>& image) {
    Match m;
    uint64_t length = 0;
    if (!LoadImageFile(path, image, length) || image.size() < kImageArea) {
        DbgPrintf("[%d]Cannot open %s\r\n", l, path.c_str());
        return m;
    }
    const BuildCodes offered = codesOf(image.data() + kBuildInfoOffset);
    logImageLine(l, offered);
    if (!sameCodes(drive, offered) || !usableLength(l, length)) return m;
    if (refusedInFileMode(drive, offered)) return m;
    m.found = true;
    m.length = static_cast<uint32_t>(length);
    return m;
}

// The identity of a drive as text to compare: reading order, cut at the first NUL, blanks
// removed at both ends.
struct Identity {
    std::string serial;
    std::string model;
    std::string wwn;
};

Identity scannedIdentity(int l) {
    const uint8_t* identify = DriveInfo[l].identify;
    return {IdentifyTextTrimmed(identify, kSerialOffset, kSerialWidth),
            IdentifyTextTrimmed(identify, kModelOffset, kModelWidth), WwnToText(identify + kWwnOffset)};
}

// A text field of IDENTIFY DEVICE data as the drive sends it (swapped byte pairs), with
// blanks removed at both ends.
std::string reportedText(const uint8_t* identify, int offset, int width) {
    return ReadAtaString(identify + offset, static_cast<size_t>(width), AtaNul::EndsText);
}

// The identity the drive reports now, from IDENTIFY DEVICE data as the drive sends it.
Identity reportedIdentity(const uint8_t* identify) {
    return {reportedText(identify, kSerialOffset, kSerialWidth),
            reportedText(identify, kModelOffset, kModelWidth), WwnToText(identify + kWwnOffset)};
}

}  // namespace

bool SameDriveAsScanned(int l, DriveCheck purpose, uint8_t* identifyOut) {
    const bool erase = purpose == DriveCheck::BeforeErase;
    const Identity scanned = scannedIdentity(l);
    if (scanned.serial.empty() || scanned.model.empty()) {
        DbgPrintf("[%d]The drive's %s is empty: %s, nothing is sent\r\n", l,
                  scanned.serial.empty() ? "serial number" : "model number",
                  erase ? "the drive cannot be told from another" : "the image is not personalised");
        return false;
    }
    uint8_t identify[512] = {};
    if (VC_IdentifyDevice(static_cast<uint8_t>(l), identify, 1) != 1) {
        DbgPrintf("[%d]IDENTIFY DEVICE failed before %s: nothing is sent\r\n", l,
                  erase ? "the secure erase" : "personalising");
        return false;
    }
    if (identifyOut != nullptr) std::memcpy(identifyOut, identify, sizeof identify);
    const Identity now = reportedIdentity(identify);
    const char* differs = now.serial != scanned.serial ? "serial number"
                          : now.model != scanned.model ? "model number"
                          : now.wwn != scanned.wwn     ? "world wide name"
                                                       : nullptr;
    if (differs != nullptr) {
        DbgPrintf("[%d]The drive's %s differs from the scan's (serial number '%s', now '%s'): "
                  "nothing is sent\r\n",
                  l, differs, scanned.serial.c_str(), now.serial.c_str());
        return false;
    }
    return true;
}

DriveAfterUpdate ReadDriveAfterUpdate(int l, const std::vector<uint8_t>& imageBuildInfo) {
    DriveAfterUpdate after;
    const auto device = static_cast<uint8_t>(l);
    uint8_t identify[512] = {};
    if (VC_IdentifyDevice(device, identify, 1) != 1) {
        DbgPrintf("[%d]IDENTIFY DEVICE failed after the update\r\n", l);
        after.reason = "read-back-identify-failed";
        return after;
    }
    after.firmware = reportedText(identify, kFirmwareOffset, kFirmwareWidth);
    std::vector<uint8_t> work(kWorkBufferSize, 0);
    VA_EnableVendorCmd(device, true);
    const bool read = VP_GetSystemInfo(device, work.data());
    VA_EnableVendorCmd(device, false);
    if (!read || imageBuildInfo.size() < kBuildInfoSize) {
        DbgPrintf("[%d]The controller information record could not be read after the update\r\n", l);
        after.reason = "read-back-record-unreadable";
        return after;
    }
    const BuildCodes running = codesOf(DriveBuildInfo.data());
    after.build = buildText(running);
    after.running = sameBuild(running, codesOf(imageBuildInfo.data()));
    return after;
}

namespace {

// Prepares the accepted image for drive l and downloads it. Empty when every command
// succeeded, otherwise the reason code of the failure (docs/cli.md).
std::string flashDrive(const MainState& state, UserSeam& user, int l, const BuildCodes& drive,
                       std::vector<uint8_t>& image, uint32_t length) {
    const auto device = static_cast<uint8_t>(l);
    ApplyOptionRule(drive.svn.c_str(), image.data());
    user.appendLog(DiskLine("Disk %d starting update.", l + 1));
    user.appendLog(DiskLine("Disk %d update in progress...............................", l + 1));
    user.pause(1000);

    const std::string revision = writtenRevision(state);
    if (!SameDriveAsScanned(l, DriveCheck::BeforeUpdate)) return "drive-changed";
    const uint8_t* identify = DriveInfo[l].identify;
    const std::string serial = IdentifyText(identify, kSerialOffset, kSerialWidth);
    const std::string model = IdentifyText(identify, kModelOffset, kModelWidth);
    const std::string wwn = WwnToText(identify + kWwnOffset);
    if (!PersonaliseAndSeal(image.data(), length, serial, model, wwn, revision)) return "image-not-prepared";
    const SleepHold hold(SleepHoldReason("Firmware update", l));  // until the download ends
    const bool sent = VP_PROC_DownloadMicroCode(device, image.data(), length, [&](uint32_t done, uint32_t total) {
        user.downloadProgress(l, done, total);
    });
    return sent ? std::string() : std::string("download-failed");
}

// The drive's own build codes as the details of a reason.
OutcomeReason reasonWithCodes(const char* code, const BuildCodes& d) {
    return {code,
            {{"fwVer", BuildCodes::shown(d.fwVer)},
             {"binFileName", d.binFileName()},
             {"customerId", BuildCodes::shown(d.customerId)},
             {"svnVersion", BuildCodes::shown(d.svn)},
             {"buildDate", BuildCodes::shown(d.date)}}};
}

}  // namespace

std::string BatteryRefusal(const PowerSource& power) {
    if (!power.onBattery || power.batteryPercent < 0 || power.batteryPercent >= kMinBatteryPercent) return {};
    return "The computer runs on its battery at " + std::to_string(power.batteryPercent) +
           " %: connect it to mains power before updating the firmware (below " +
           std::to_string(kMinBatteryPercent) + " % the update is refused). Nothing was sent to the drives.";
}

std::string PackageRefusalText(const std::string& reason) {
    return "The firmware package cannot be used: " + reason + ". Nothing was sent to the drives.";
}

bool OsRefused() {
    SystemInfoSource* system = platform().system;
    if (system == nullptr) return false;
    const OsVersion v = system->osVersion();
    if (!v.extendedOk && !v.basicOk) return false;  // unknown: let the action proceed
    const uint16_t servicePack = v.extendedOk ? v.servicePackMajor : 0;
    if (v.major == 5 && v.minor == 0) return true;
    return v.major == 5 && v.minor == 1 && servicePack <= 1;
}

int ActionRowCount(const MainState& state, UserSeam& user) {
    const int rows = std::max(0, user.rowCount());
    const auto entries = static_cast<int>(std::min<size_t>(state.DeviceList.size(), kMaxDrives));
    return std::min(rows, entries);
}

bool StartDriveAction(MainState& state, UserSeam& user, const ActionTexts& texts) {
    LockButtons(state, user);
    if (!user.confirm("Warning", texts.question, BoxIcon::Warning)) {
        user.outcomeReason(-1, {"cancelled", {}});
        user.notice(state.caption, texts.cancelled, BoxIcon::None);
    } else if (OsRefused()) {
        user.outcomeReason(-1, {"os-refused", {}});
        // The toolkit's simple message box: captioned with the application title.
        user.notice(state.appTitle, texts.osRefused, BoxIcon::None);
    } else if (CountCheckedRows(state, user) == 0) {
        user.notice(state.caption, texts.noDisk, BoxIcon::None);
    } else {
        return true;
    }
    UnlockButtons(state, user);
    return false;
}

void DownloadCodeBtnClick(MainState& state, UserSeam& user) {
    if (!StartDriveAction(state, user,
                          {kUpdateQuestion, "Update cancelled", kOsRefusedText,
                           "Please select a disk"})) {
        return;
    }

    // A computer that runs on a low battery may go off half-way through a flash.
    const PowerSource power = platform().system != nullptr ? platform().system->powerSource() : PowerSource{};
    const std::string battery = BatteryRefusal(power);
    if (!battery.empty()) {
        DbgPrintf("%s\r\n", battery.c_str());
        user.outcomeReason(-1, {"battery-low", {{"batteryPercent", std::to_string(power.batteryPercent)}}});
        user.notice(state.caption, battery, BoxIcon::Warning);
        UnlockButtons(state, user);
        return;
    }

    const bool packageMode = state.PackageMode != 0;
    // The whole package is checked before the first command: a package cut short or
    // without a usable image is refused, never taken for one that fits no drive.
    PackageSoundness package;
    if (packageMode) {
        package = CheckPackageWhole(state.ExePath, HeaderPictureFlag(state.PackageHeader));
        if (!package.sound) {
            DbgPrintf("The firmware package is refused: %s\r\n", package.reason.c_str());
            user.outcomeReason(-1, {"package-refused", {{"package", package.reason}}});
            user.notice(state.caption, PackageRefusalText(package.reason), BoxIcon::Error);
            UnlockButtons(state, user);
            return;
        }
    }

    std::vector<uint8_t> work(kWorkBufferSize, 0);
    std::string chosenFile;
    if (!packageMode) {
        const std::string name = targetFileName(state, user, work);
        const std::string filter = state.enFilterBinFile != 0
                                       ? "Firmware bin file(*.bin)|" + name
                                       : std::string("Firmware bin file(*.bin)|*.bin");
        if (state.openDialogInitialDir.empty()) state.openDialogInitialDir = executableDirectory(state);
        chosenFile = user.chooseFile(filter, ".bin", state.openDialogInitialDir);
        if (chosenFile.empty()) {
            user.notice(state.appTitle, "No disk update", BoxIcon::None);
            UnlockButtons(state, user);
            return;
        }
    }

    std::vector<uint8_t> image(kImageArea, 0);
    bool anyPassed = false;
    const int rows = ActionRowCount(state, user);
    for (int l = 0; l < rows; ++l) {
        if (user.rowChecked(l)) {
            const auto device = static_cast<uint8_t>(l);
            BuildCodes drive = initialDriveCodes();
            VA_EnableVendorCmd(device, true);
            const bool read = VP_GetSystemInfo(device, work.data());
            VA_EnableVendorCmd(device, false);

            Match match;
            // Without the drive's own codes no image can be meant for it, so none is
            // looked at.
            if (read) {
                drive = codesOf(DriveBuildInfo.data());
                logDriveLine(l, drive);
                match = packageMode ? findPackageImage(state, package.slotRowEnd, l, drive, image)
                                    : findFileImage(chosenFile, l, drive, image);
            }

            if (!read) {
                // A drive whose controller record cannot be read is not known to need no
                // update: it was not updated, and that is a failure the user must see.
                DbgPrintf("[%d]The controller information record could not be read: the drive "
                          "is not updated\r\n",
                          l);
                user.appendLog(DiskLine("Disk %d update fail", l + 1));
                user.outcomeReason(l, {"controller-record-unreadable", {}});
                SetRowStatus(user, l, "Fail");
            } else if (!match.found) {
                user.appendLog(packageMode
                                   ? DiskLine("Disk %d no update, the firmware file isn't exist", l + 1)
                                   : std::string("\"Firmware Mismatch\""));
                user.outcomeReason(l, reasonWithCodes("no-image-for-drive", drive));
                SetRowStatus(user, l, "No update needed");
            } else if (state.skipCurrent && sameBuild(drive, codesOf(image.data() + kBuildInfoOffset))) {
                // The drive already runs this very build: nothing is sent.
                DbgPrintf("[%d]The drive runs the image's build already: nothing is sent\r\n", l);
                user.appendLog(DiskLine("Disk %d is up to date", l + 1));
                user.outcomeReason(l, reasonWithCodes("firmware-current", drive));
                SetRowStatus(user, l, "Up to date");
            } else if (const std::string failure = flashDrive(state, user, l, drive, image, match.length);
                       failure.empty()) {
                user.pause(2000);
                user.appendLog(
                    DiskLine("Disk %d updated successfully, please shut down your system", l + 1));
                // What the drive was given; it may run it only from its next power cycle.
                // No command is added here: the command line reads the drive back.
                const std::vector<uint8_t> written(image.begin() + kBuildInfoOffset,
                                                   image.begin() + kBuildInfoOffset + kBuildInfoSize);
                DbgPrintf("[%d]Written: firmware %s, build %s; the drive runs it from its next "
                          "power cycle at the latest\r\n",
                          l, writtenRevision(state).c_str(), buildText(codesOf(written.data())).c_str());
                user.imageWritten(l, written);
                SetRowStatus(user, l, "Pass");
                anyPassed = true;
            } else {
                user.appendLog(DiskLine("Disk %d update fail", l + 1));
                user.outcomeReason(l, {failure, {}});
                SetRowStatus(user, l, "Fail");
            }
        }
        user.appendLog("");
    }

    if (anyPassed) user.showShutdownPrompt();
    UnlockButtons(state, user);
}

}  // namespace qx
