// The controller's vendor command channel: the SATA framing of a vendor command block (a
// command sector written to LBA 0x1234FF, then an optional data phase at LBA 0x1234xx),
// vendor mode on/off through SET FEATURES, the vendor-mode probe of the scan, and the
// standard IDENTIFY DEVICE and INQUIRY blocks with the drive-size query built on them.
#include "QXLib/V_Access.h"

#include <cstring>

#include "QXLib/DbgLog.h"
#include "QXLib/Transport.h"
#include "platform/LittleEndian.h"
#include "platform/Platform.h"

namespace qx {

// DMA framing until a scan chooses otherwise: the mode of directly attached drives.
uint8_t VendorXferMode = 2;

namespace {

constexpr int kBlockLength = 12;
constexpr uint32_t kSectorBytes = 512;
constexpr uint32_t kMaxSectorsPerCommand = kMaxTransferLength / kSectorBytes;  // 128

// The vendor command addresses: LBA 0x1234xx.
constexpr uint8_t kCommandSectorLba = 0xFF;
constexpr uint8_t kVendorLbaMid = 0x34;
constexpr uint8_t kVendorLbaHigh = 0x12;
constexpr uint8_t kDevice = 0xE0;

constexpr uint8_t kSubReadCodeFromMem = 0x86;
constexpr uint8_t kSubSysReadPage = 0x04;

constexpr uint8_t kSetFeatures = 0xEF;
constexpr uint8_t kFeatureVendorMode = 0xDC;
constexpr uint8_t kIdentifyDevice = 0xEC;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kInquiryLength = 40;

// Byte 434 of IDENTIFY DEVICE: low byte of word 217, nominal media rotation rate.
constexpr std::size_t kRotationRateByte = 434;
constexpr uint8_t kNonRotating = 1;

// The probe asks a drive that answers wrongly six times, one whose reads fail twice.
constexpr int kMaxWrongAnswerRounds = 5;
constexpr int kMaxFailedReadRounds = 1;
constexpr uint32_t kProbeWaitMs = 200;

constexpr uint32_t kSaturated28 = 0x0FFFFFFFu;
constexpr uint64_t kMask48 = 0xFFFFFFFFFFFFull;

bool dmaFraming() { return VendorXferMode == 2; }

CommandBlock framingBlock(bool write, uint8_t sectors, uint8_t lbaLow) {
    const bool dma = dmaFraming();
    CommandBlock b{};
    b[0] = 0xA1;
    if (write) {
        b[1] = dma ? 0x16 : 0x0A;  // UDMA data-out : PIO data-out
        b[2] = 0x03;               // to the device, length from the transfer
        b[9] = dma ? 0x88 : 0x8F;
    } else {
        b[1] = dma ? 0x14 : 0x08;  // UDMA data-in : PIO data-in
        b[2] = 0x0B;               // from the device, length from the transfer
        b[9] = dma ? 0x86 : 0x8A;
    }
    b[3] = 0;
    b[4] = sectors;
    b[5] = lbaLow;
    b[6] = kVendorLbaMid;
    b[7] = kVendorLbaHigh;
    b[8] = kDevice;
    return b;
}

void putBigEndian16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void putBigEndian32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint64_t littleEndian64(const uint8_t* p) {
    return static_cast<uint64_t>(ReadLe32(p)) | static_cast<uint64_t>(ReadLe32(p + 4)) << 32;
}

int toResult(bool ok) { return ok ? 1 : 2; }

}  // namespace

int VC_SATA_WriteCmd(uint8_t device, const uint8_t* data, uint8_t sectors, uint8_t lbaLow) {
    const CommandBlock block = framingBlock(true, sectors, lbaLow);
    // The transport only reads from the buffer of a data-out command.
    const int r = ExecDeviceCommand(device, 0, block, kBlockLength, const_cast<uint8_t*>(data),
                                    static_cast<int32_t>(sectors * kSectorBytes));
    if (r != 1) {
        DbgPrintf("FAILED(VC_SATA_WriteCmd)\r\n");
        return 2;
    }
    return 1;
}

int VC_SATA_ReadCmd(uint8_t device, uint8_t* data, uint8_t sectors, uint8_t lbaLow) {
    const CommandBlock block = framingBlock(false, sectors, lbaLow);
    const int r = ExecDeviceCommand(device, 1, block, kBlockLength, data,
                                    static_cast<int32_t>(sectors * kSectorBytes));
    if (r != 1) {
        DbgPrintf("FAILED(VC_SATA_ReadCmd)\r\n");
        return 2;
    }
    return 1;
}

bool VC_ExecVendorCmd(uint8_t device, bool fromDevice, const VendorCmdBlock& block,
                      uint8_t* data, uint8_t sectors) {
    // A data phase the transport would refuse is not announced to the controller at all:
    // a command sector without its data phase would leave the controller waiting for it.
    if (sectors > kMaxSectorsPerCommand || (sectors != 0 && data == nullptr)) return false;

    uint8_t commandSector[kSectorBytes] = {};
    std::memcpy(commandSector, block.data(), block.size());
    int last = VC_SATA_WriteCmd(device, commandSector, 1, kCommandSectorLba);
    if (last == 1 && sectors != 0) {
        last = fromDevice ? VC_SATA_ReadCmd(device, data, sectors, block[2])
                          : VC_SATA_WriteCmd(device, data, sectors, block[2]);
    }
    return last == 1;
}

bool VA_EnableVendorCmd(uint8_t device, bool on) {
    // The value is the code of the first ("on") or second ("off") character of "QX".
    const uint32_t value = on ? 0x51u : 0x58u;
    CommandBlock block{};
    block[0] = 0xA1;
    block[1] = 0x06;  // non-data
    block[2] = 0x00;
    block[3] = kFeatureVendorMode;
    PutLe32(&block[4], value);
    block[8] = kDevice;
    block[9] = kSetFeatures;
    return ExecDeviceCommand(device, 0, block, kBlockLength, nullptr, 0) == 1;
}

bool VA_CheckVendorMode(uint8_t device, VendorProbeNote* note) {
    uint8_t buffer[kSectorBytes] = {};
    // Whether the IDENTIFY worked does not matter: a cleared buffer reads as rotating.
    const int identified = VC_IdentifyDevice(device, buffer, 1);
    if (note != nullptr) {
        note->identifyOk = identified == 1;
        note->rotationRate = ReadLe16(buffer + kRotationRateByte);
    }
    if (buffer[kRotationRateByte] != kNonRotating) return false;

    Clock* clock = platform().clock;
    int rounds = 0;
    for (;;) {
        VA_EnableVendorCmd(device, true);
        // Cleared every round, so an earlier round's bytes can never pass for an answer.
        std::memset(buffer, 0, sizeof(buffer));
        const int r = VC_SATA_ReadCmd(device, buffer, 1, kCommandSectorLba);
        if (note != nullptr) {
            ++note->rounds;
            note->answers.push_back({buffer[0], buffer[1], buffer[2], buffer[3]});
            note->readOk.push_back(r == 1);
        }
        if (r == 1 && std::memcmp(buffer, VendorAnswer.data(), VendorAnswer.size()) == 0) {
            return true;
        }
        ++rounds;
        if (clock != nullptr) clock->sleep(kProbeWaitMs);
        const int limit = r == 1 ? kMaxWrongAnswerRounds : kMaxFailedReadRounds;
        if (rounds > limit) break;
    }
    return false;
}

int VA_ReadCodeFromMem(uint8_t device, uint8_t space, uint32_t address, uint8_t* data,
                       uint8_t sectors) {
    VendorCmdBlock block{};
    block[0] = 0xFF;
    block[1] = 0xE5;
    block[2] = kSubReadCodeFromMem;
    block[3] = space;
    putBigEndian32(&block[4], address);
    return toResult(VC_ExecVendorCmd(device, true, block, data, sectors));
}

int VA_SysReadPage(uint8_t device, uint8_t bank, uint16_t blockUnit, uint16_t page,
                   uint8_t eccMode, uint8_t layoutVersion, uint8_t* data, uint8_t sectors,
                   uint32_t byteOffset) {
    VendorCmdBlock block{};
    block[0] = 0xFF;
    block[1] = 0xE5;
    block[2] = kSubSysReadPage;
    block[3] = 0xFF;
    block[4] = bank;
    putBigEndian16(&block[5], blockUnit);
    putBigEndian16(&block[7], page);
    block[9] = eccMode;
    block[10] = layoutVersion;
    block[11] = 0;
    putBigEndian32(&block[12], byteOffset);
    return toResult(VC_ExecVendorCmd(device, true, block, data, sectors));
}

int VC_IdentifyDevice(uint8_t device, uint8_t* buffer, uint32_t sectors) {
    // The transport moves at most 64 KiB per command; larger requests are refused here.
    if (buffer == nullptr || sectors == 0 || sectors > kMaxSectorsPerCommand) return 2;
    CommandBlock block{};
    block[0] = 0xA1;
    block[1] = 0x08;  // PIO data-in
    block[2] = 0x0B;
    block[3] = 0;
    PutLe32(&block[4], sectors);
    block[8] = kDevice;
    block[9] = kIdentifyDevice;
    const int r = ExecDeviceCommand(device, 1, block, kBlockLength, buffer,
                                    static_cast<int32_t>(sectors * kSectorBytes));
    return toResult(r == 1);
}

int VC_Inquiry(uint8_t device, uint8_t* buffer40) {
    if (buffer40 == nullptr) return 2;
    // A short answer leaves the rest zero rather than whatever the buffer held.
    std::memset(buffer40, 0, kInquiryLength);
    CommandBlock block{};
    block[0] = kInquiry;
    block[4] = kInquiryLength;
    const int r = ExecDeviceCommand(device, 1, block, kBlockLength, buffer40, kInquiryLength);
    return toResult(r == 1);
}

uint64_t GetDriveSectorCount(uint8_t device) {
    uint8_t identify[kSectorBytes] = {};
    if (VC_IdentifyDevice(device, identify, 1) != 1) return 0;

    const uint32_t count28 = ReadLe32(&identify[120]);  // words 60-61
    if (count28 != kSaturated28) {
        // A 28-bit count cannot exceed 0x0FFFFFFF; more is no size at all (all ones from
        // a bridge without a drive, for example).
        return count28 > kSaturated28 ? 0 : count28;
    }
    // Saturated: the drive is larger than 128 GiB and words 100-103 hold the 48-bit count.
    const uint64_t count48 = littleEndian64(&identify[200]) & kMask48;
    if (count48 == 0 || count48 == kMask48) return 0;
    return count48;
}

uint64_t GetDriveCapacityMB(uint8_t device) { return GetDriveSectorCount(device) >> 11; }

}  // namespace qx
