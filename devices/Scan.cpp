// The drive scan: walks the discovered disks, recognises the maker's controllers (vendor
// answer on IDE/SATA and SCSI paths) and the maker's USB-to-SATA bridges (INQUIRY code),
// and fills DriveInfo, DeviceSlot, the list rows and DeviceList under one index.
#include "devices/Scan.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "QXLib/DbgLog.h"
#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "devices/DeviceLock.h"
#include "devices/Discovery.h"
#include "devices/DriveTable.h"
#include "platform/AtaString.h"

namespace qx {

int DriveCount = 0;

namespace {

constexpr int kInquiryLength = 40;
constexpr int kCodeOffset = 36;
constexpr int kCodeLength = 4;

enum class Match { Whole, Tail, Raw };

struct BridgeRow {
    Match match;
    const char* text;  // Whole: the code cut at its first NUL; Tail: bytes 37-39; Raw: 36-39
    int cls;
};

// Tried in this order; the first match gives the class.
constexpr BridgeRow kBridgeTable[] = {
    {Match::Whole, "k401", 1},
    {Match::Whole, "k402", 9},
    {Match::Whole, "k403", 4},
    {Match::Whole, "k404", 7},
    {Match::Whole, "k405", 8},
    {Match::Whole, "k406", 11},
    {Match::Whole, "k407", 12},
    {Match::Whole, "k408", 12},
    {Match::Whole, "k409", 13},
    {Match::Raw, "\x05\xE3\x07\x18", 14},
    {Match::Tail, "t51", 13},
    {Match::Tail, "t52", 13},
    {Match::Tail, "t53", 13},
    {Match::Tail, "t54", 13},
    {Match::Whole, "k410", 13},
    {Match::Whole, "k411", 13},
    {Match::Whole, "k412", 10},
    {Match::Whole, "R20X", 10},
    {Match::Whole, "ice ", 10},
    {Match::Whole, "k41x", 10},
    {Match::Whole, "R21X", 10},
};

void copyPath(DriveInfoRecord& record, const char* path) {
    std::memset(record.devicePath, 0, sizeof(record.devicePath));
    std::memcpy(record.devicePath, path, strnlen(path, sizeof(record.devicePath) - 1));
}

// The list row and the DeviceList entry of drive q.
void addDrive(MainState& state, UserSeam& user, int q, const std::string& busName,
              bool hasLetter, char letter) {
    const uint8_t* identify = DriveInfo[q].identify;
    DriveRow row;
    row.caption = std::to_string(q + 1);
    row.model = IdentifyTextTrimmed(identify, kModelOffset, kModelWidth);
    row.serial = IdentifyTextTrimmed(identify, kSerialOffset, kSerialWidth);
    row.firmware = IdentifyText(identify, kFirmwareOffset, kFirmwareWidth);
    row.capacity = std::to_string(GetDriveCapacityMB(static_cast<uint8_t>(q)) >> 10);
    user.addRow(row);

    std::string entry = "<<" + busName + ">> " + " " + row.model + " " + row.serial;
    if (hasLetter) entry += std::string(" (") + letter + ":)";
    state.DeviceList.push_back(entry);
}

// Kinds 1 and 2: a drive whose controller gives the vendor answer.
bool examineVendorDrive(MainState& state, UserSeam& user, int q, char* path, int position,
                        int32_t kind, const std::string& busName, CandidateNote& note) {
    DeviceSlotRecord& slot = DeviceSlot[q];
    slot.devicePath = path;
    slot.usbDirect = 0;
    slot.ata = kind == DEVICE_IDE ? 1 : 0;
    if (kind == DEVICE_IDE) {
        DbgPrintf("DEVICE_IDE");
    } else {
        DbgPrintf("DEVICE_SCSI");
    }
    VendorXferMode = 2;

    const uint8_t device = static_cast<uint8_t>(q);
    VendorProbeNote probe;
    const bool vendor = VA_CheckVendorMode(device, &probe);
    note.probed = true;
    note.identifyOk = probe.identifyOk;
    note.rotationRate = probe.rotationRate;
    note.probeRounds = probe.rounds;
    note.probeAnswers = probe.answers;
    note.probeReadOk = probe.readOk;
    if (!vendor) {
        note.reason = probe.rounds > 0      ? "no-vendor-answer"
                      : probe.identifyOk ? "rotating"
                                         : "identify-failed";
        return false;
    }

    uint8_t identify[512];
    GetIdentifyData(path, position, kind, identify);  // cleared when it fails
    std::memcpy(DriveInfo[q].identify, identify, sizeof(identify));
    copyPath(DriveInfo[q], path);
    slot.devicePath = DriveInfo[q].devicePath;

    char letter = 0;
    const bool hasLetter = kind == DEVICE_IDE && FindDriveLetter(path, letter);
    addDrive(state, user, q, busName, hasLetter, letter);
    return true;
}

// Kind 3: a USB or SBP-2 device, accepted on the code of one of the maker's bridges.
bool examineBridge(MainState& state, UserSeam& user, int q, char* path, std::string& busName,
                   CandidateNote& note) {
    DbgPrintf("DEVICE_USB");
    VendorXferMode = 2;
    DeviceSlotRecord& slot = DeviceSlot[q];
    slot.devicePath = path;
    slot.usbDirect = 1;
    slot.ata = 0;

    const uint8_t device = static_cast<uint8_t>(q);
    uint8_t inquiry[kInquiryLength] = {};
    note.inquiryAsked = true;
    note.inquiryOk = VC_Inquiry(device, inquiry) == 1;
    const int cls = note.inquiryOk ? ClassifyBridgeCode(inquiry) : 0;
    std::memcpy(note.inquiryCode.data(), inquiry + kCodeOffset, kCodeLength);
    note.bridgeClass = cls;
    if (!IsBridgeClass(cls)) {
        note.reason = !note.inquiryOk ? "inquiry-failed"
                      : cls == 10      ? "vendor-usb-device"
                                       : "unknown-bridge-code";
        return false;
    }
    slot.usbDirect = 0;
    if (cls == 1) VendorXferMode = 1;

    uint8_t identify[512] = {};
    note.bridgeIdentifyAsked = true;
    note.bridgeIdentifyOk = VC_IdentifyDevice(device, identify, 1) == 1;
    if (!note.bridgeIdentifyOk) {
        note.reason = "bridge-identify-failed";
        return false;
    }
    // The drive's own answer is kept whole (the world wide name among it); the three text
    // fields are turned into reading order with their blanks kept.
    SwapAtaPairs(identify + kModelOffset, kModelWidth);
    SwapAtaPairs(identify + kSerialOffset, kSerialWidth);
    SwapAtaPairs(identify + kFirmwareOffset, kFirmwareWidth);
    std::memcpy(DriveInfo[q].identify, identify, sizeof(identify));

    char letter = 0;
    const bool hasLetter = FindDriveLetter(path, letter);
    busName = " USB / SATA ";
    addDrive(state, user, q, busName, hasLetter, letter);
    copyPath(DriveInfo[q], path);
    slot.devicePath = DriveInfo[q].devicePath;
    return true;
}

}  // namespace

int ClassifyBridgeCode(const uint8_t* inquiry40) {
    if (inquiry40 == nullptr) return 0;
    const uint8_t* raw = inquiry40 + kCodeOffset;
    std::size_t codeLength = 0;
    while (codeLength < kCodeLength && raw[codeLength] != 0) ++codeLength;
    const std::string code(reinterpret_cast<const char*>(raw), codeLength);

    for (const BridgeRow& row : kBridgeTable) {
        bool match = false;
        switch (row.match) {
            case Match::Whole: match = code == row.text; break;
            case Match::Tail: match = std::memcmp(raw + 1, row.text, 3) == 0; break;
            case Match::Raw: match = std::memcmp(raw, row.text, kCodeLength) == 0; break;
        }
        if (match) return row.cls;
    }
    return 0;
}

int ClassifyBridge(uint8_t device) {
    uint8_t inquiry[kInquiryLength] = {};
    if (VC_Inquiry(device, inquiry) != 1) return 0;
    return ClassifyBridgeCode(inquiry);
}

bool IsBridgeClass(int cls) {
    switch (cls) {
        case 1: case 4: case 7: case 8: case 9: case 11: case 12: case 13: case 14:
            return true;
        default:
            return false;
    }
}

void GetQuorvexDevice(MainState& state, UserSeam& user) {
    std::string busName;
    auto table = std::make_unique<CandidateTable>();
    const int count = EnumDiskInterfaces(*table);
    DbgPrintf("nDevice = %d", count);

    int q = 0;
    user.clearRows();
    user.clearLog();
    state.DeviceList.clear();
    state.deviceListSelected = -1;

    for (int p = 0; p < count; ++p) {
        char* path = table->path[p];
        if (q == kMaxDrives) {
            // The drive table is full: the rest is not examined at all.
            for (int rest = p; rest < count; ++rest) {
                DbgPrintf("GetQuorvexDevice: drive table full (%d drives), candidate %d passed "
                          "over: %s\r\n",
                          kMaxDrives, rest, table->path[rest]);
                CandidateNote full;
                full.position = rest;
                full.path = table->path[rest];
                full.reason = "drive-table-full";
                user.candidateExamined(full);
            }
            break;
        }

        // Nothing of an earlier drive may show through a record this scan fills.
        std::memset(&DriveInfo[q], 0, sizeof(DriveInfo[q]));
        const int32_t kind = ClassifyDevicePath(path, busName);
        DriveInfo[q].busKind = kind;

        CandidateNote note;
        note.position = p;
        note.path = path;
        note.busKind = kind;
        note.busName = busName;
        note.reason = "no-bus-kind";
        bool accepted = false;
        switch (kind) {
            case DEVICE_IDE:
            case DEVICE_SCSI:
                accepted = examineVendorDrive(state, user, q, path, p, kind, busName, note);
                break;
            case DEVICE_USB:
                accepted = examineBridge(state, user, q, path, busName, note);
                break;
            default:
                break;
        }
        if (accepted) {
            note.listed = true;
            note.disk = q + 1;
            note.reason = "listed";
            note.busName = busName;
            ++q;
        }
        user.candidateExamined(note);
    }
    DriveCount = q;

    // Slots still pointing into the candidate table (the record after the last drive)
    // would dangle once it is released.
    const auto first = reinterpret_cast<uintptr_t>(table.get());
    const uintptr_t end = first + sizeof(CandidateTable);
    for (DeviceSlotRecord& slot : DeviceSlot) {
        const auto at = reinterpret_cast<uintptr_t>(slot.devicePath);
        if (at >= first && at < end) {
            slot.devicePath = nullptr;
            slot.usbDirect = 0;
            slot.ata = 0;
        }
    }
}

void ScanWork(MainState& state, UserSeam& user) {
    ShowStartupNotices(state, user);
    const DeviceHold hold(state, DeviceUse::Read);
    if (!hold.grantedOrNotice(user)) return;
    GetQuorvexDevice(state, user);
    user.enableActions(false);
    if (!state.DeviceList.empty()) {
        state.deviceListSelected = 0;
        user.enableActions(true);
    }
}

}  // namespace qx
