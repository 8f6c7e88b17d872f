// The ATA and SCSI pass-through transports, the SMART receive request and the command
// executors. Each operation opens the device path, issues one control call through the
// installed platform's DeviceIo and closes the handle again on every path.
#include "QXLib/Transport.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "QXLib/DbgLog.h"
#include "QXLib/SenseData.h"
#include "platform/DeviceIoctl.h"
#include "platform/Platform.h"
#include "platform/WinErrorCodes.h"
#include "platform/Wipe.h"

namespace qx {

DeviceSlotRecord DeviceSlot[kMaxDrives];

void ResetDeviceSlots() {
    for (DeviceSlotRecord& slot : DeviceSlot) slot = DeviceSlotRecord{};
}

namespace {

constexpr uint32_t kAtaHeaderLength = sizeof(AtaPassThroughEx);
constexpr uint8_t kReadDmaCommand = 0x86;   // vendor data-in phase in DMA mode
constexpr uint8_t kWriteDmaCommand = 0x88;  // vendor data-out phase in DMA mode
constexpr uint32_t kAtaBudgetSeconds = kCommandTimeoutSeconds;
constexpr uint32_t kScsiUsbDirectReadTimeout = 300;
constexpr uint32_t kScsiTimeout = 10;
constexpr std::size_t kCdbFieldLength = sizeof(ScsiPassThroughDirect::Cdb);

bool isEmptyPath(const char* path) { return path == nullptr || path[0] == '\0'; }

constexpr int kSharingRetries = 10;
constexpr uint32_t kSharingRetryMs = 100;

// Opens the path and closes the handle when the scope ends, whatever path the operation
// takes. A failed open is logged with the system's error. An exclusive open (the ATA path)
// that meets a sharing violation is tried again, kSharingRetries times kSharingRetryMs apart
// on the clock: a SMART monitor or a virus scanner holds a disk only for a moment. Every
// other error fails at once.
class OpenDevice {
public:
    OpenDevice(const char* path, uint32_t access, uint32_t share, const char* caller = nullptr) {
        io_ = platform().devices;
        if (io_ == nullptr || isEmptyPath(path)) return;
        handle_ = io_->open(path, access, share);
        for (int retry = 1; handle_ == kInvalidDevice && share == ShareNone &&
                            io_->lastError() == kErrSharingViolation && retry <= kSharingRetries;
             ++retry) {
            DbgPrintf("%s(): %s is held by another program (error %u, %s), open tried again in "
                      "%u ms (%d of %d)\r\n",
                      caller != nullptr ? caller : "CreateFile", path,
                      static_cast<unsigned>(kErrSharingViolation),
                      io_->errorText(kErrSharingViolation).c_str(),
                      static_cast<unsigned>(kSharingRetryMs), retry, kSharingRetries);
            if (Clock* clock = platform().clock) clock->sleep(kSharingRetryMs);
            handle_ = io_->open(path, access, share);
        }
        if (handle_ == kInvalidDevice) LogFailedCall("CreateFile", path, io_->lastError());
    }
    ~OpenDevice() {
        if (ok()) io_->close(handle_);
    }
    OpenDevice(const OpenDevice&) = delete;
    OpenDevice& operator=(const OpenDevice&) = delete;

    bool ok() const { return handle_ != kInvalidDevice; }
    bool control(uint32_t code, void* in, uint32_t inLen, void* out, uint32_t outLen,
                 uint32_t* returned = nullptr) {
        uint32_t ignored = 0;
        return io_->control(handle_, code, in, inLen, out, outLen,
                            returned != nullptr ? returned : &ignored);
    }
    uint32_t lastError() { return io_->lastError(); }

private:
    DeviceIo* io_ = nullptr;
    DeviceHandle handle_ = kInvalidDevice;
};

// The ATA request buffer: the header and the largest data area, kept for the process so a
// command costs no allocation. Only the part a command uses is cleared before it, and that
// part is wiped again after it on every path (a SECURITY ERASE UNIT block carries the
// password), so the buffer holds nothing of a command between commands.
class AtaRequest {
public:
    static constexpr std::size_t kSize = kAtaHeaderLength + static_cast<std::size_t>(kMaxTransferLength);

    explicit AtaRequest(std::size_t used) : lock_(mutex()), used_(used) {
        std::memset(buffer(), 0, used_);
    }
    ~AtaRequest() { WipeBytes(buffer(), used_); }
    AtaRequest(const AtaRequest&) = delete;
    AtaRequest& operator=(const AtaRequest&) = delete;

    uint8_t* data() { return buffer(); }

private:
    static uint8_t* buffer() {
        alignas(8) static uint8_t storage[kSize];
        return storage;
    }
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    std::lock_guard<std::mutex> lock_;
    std::size_t used_;
};

// The part the read and the write share. `dataIn` selects the direction; `in` is the
// caller's data for a write, `out` receives the data of a read.
int ataPassThrough(const char* path, IDEREGS* taskFile, const uint8_t* in, uint8_t* out,
                   int32_t length, uint32_t timeoutSeconds, bool dataIn) {
    const char* name = dataIn ? "ReadATACommandWithTimeOutValue" : "WriteATACommandWithTimeOutValue";
    if (taskFile == nullptr) return -1;
    OpenDevice dev(path, AccessRead | AccessWrite, ShareNone, name);
    if (!dev.ok()) return 0;
    if (length < 0 || length > kMaxTransferLength) return -1;
    if (length != 0 && ((dataIn && out == nullptr) || (!dataIn && in == nullptr))) return -1;

    const uint32_t requestLength = kAtaHeaderLength + static_cast<uint32_t>(length);
    AtaRequest request(requestLength);
    AtaPassThroughEx header{};
    header.Length = static_cast<uint16_t>(kAtaHeaderLength);
    header.TimeOutValue = timeoutSeconds;
    header.DataBufferOffset = kAtaHeaderLength;

    if (length != 0) {
        const uint8_t dmaCommand = dataIn ? kReadDmaCommand : kWriteDmaCommand;
        uint16_t flags = static_cast<uint16_t>(kAtaFlagsDrdyRequired |
                                               (dataIn ? kAtaFlagsDataIn : kAtaFlagsDataOut));
        if (taskFile->bCommandReg == dmaCommand) flags = static_cast<uint16_t>(flags | kAtaFlagsUseDma);
        header.AtaFlags = flags;
        header.DataTransferLength = static_cast<uint32_t>(length);
        if (!dataIn) std::memcpy(request.data() + kAtaHeaderLength, in, static_cast<std::size_t>(length));
    }
    static_assert(sizeof(IDEREGS) == sizeof(header.CurrentTaskFile));
    std::memcpy(header.CurrentTaskFile, taskFile, sizeof(IDEREGS));
    std::memcpy(request.data(), &header, kAtaHeaderLength);

    if (!dev.control(kIoctlAtaPassThrough, request.data(), requestLength, request.data(),
                     requestLength)) {
        DbgPrintf("%s() fail\r\n", name);
        LogFailedCall("IOCTL_ATA_PASS_THROUGH", path, dev.lastError());
        return -1;
    }

    const uint8_t command = taskFile->bCommandReg;
    std::memcpy(taskFile, request.data() + offsetof(AtaPassThroughEx, CurrentTaskFile),
                sizeof(IDEREGS));
    if ((taskFile->bCommandReg & kAtaStatusErr) != 0) {
        DbgPrintf("%s(): command %02Xh ended with status %02Xh, error %02Xh\r\n", name, command,
                  taskFile->bCommandReg, taskFile->bFeaturesReg);
        return 0;
    }
    if (dataIn && length > 0) {
        // The system lowers DataTransferLength when the device moved less: the rest of the
        // data area would be bytes the device never sent.
        AtaPassThroughEx returned;
        std::memcpy(&returned, request.data(), kAtaHeaderLength);
        if (returned.DataTransferLength < static_cast<uint32_t>(length)) {
            DbgPrintf("%s(): %u of %d bytes transferred\r\n", name,
                      static_cast<unsigned>(returned.DataTransferLength), static_cast<int>(length));
            return -1;
        }
        std::memcpy(out, request.data() + kAtaHeaderLength, static_cast<std::size_t>(length));
    }
    return 1;
}

// The part the two SCSI operations share. `data` is used in place as the transfer buffer.
int scsiPassThrough(const char* path, const uint8_t* cdb, int cdbLength, uint8_t* data,
                    int32_t length, uint32_t timeoutSeconds, bool dataIn) {
    const char* name = dataIn ? "ReadSCSICommandWithTimeOutValue" : "WriteSCSICommandWithTimeOutValue";
    if (cdb == nullptr || cdbLength < 1 || cdbLength > static_cast<int>(kCdbFieldLength)) {
        DbgPrintf("%s(): command block length %d out of range\r\n", name, cdbLength);
        return 0;
    }
    if (length < 0 || length > kMaxTransferLength || (length > 0 && data == nullptr)) {
        DbgPrintf("%s(): data length %d out of range\r\n", name, static_cast<int>(length));
        return 0;
    }
    OpenDevice dev(path, AccessRead | AccessWrite, ShareRead | ShareWrite);
    if (!dev.ok()) {
        DbgPrintf("%s(INVALID_HANDLE_VALUE) = %s\r\n", name, path != nullptr ? path : "");
        return 0;
    }

    // Zeroed as a whole, so every Cdb byte beyond the block's length is 0.
    ScsiPassThroughDirectWithSense request{};
    ScsiPassThroughDirect& sptd = request.sptd;
    sptd.Length = static_cast<uint16_t>(sizeof(ScsiPassThroughDirect));
    sptd.TargetId = 1;
    sptd.CdbLength = static_cast<uint8_t>(cdbLength);
    sptd.SenseInfoLength = kSenseBufferLength;
    sptd.DataIn = dataIn ? kScsiDataIn : kScsiDataOut;
    sptd.DataTransferLength = static_cast<uint32_t>(length);
    sptd.TimeOutValue = timeoutSeconds;
    sptd.DataBuffer = data;
    sptd.SenseInfoOffset = static_cast<uint32_t>(offsetof(ScsiPassThroughDirectWithSense, Sense));
    std::memcpy(sptd.Cdb, cdb, static_cast<std::size_t>(cdbLength));

    const bool called = dev.control(kIoctlScsiPassThroughDirect, &request, sizeof(request),
                                    &request, sizeof(request));
    const uint32_t error = dev.lastError();
    if (!called || error != 0) {
        DbgPrintf("LastError(%s)[1] = %d\r\n", name, static_cast<int>(error));
        LogFailedCall("IOCTL_SCSI_PASS_THROUGH_DIRECT", path, error);
        return 0;
    }

    // The system delivered the command; the device's own verdict is in the status byte
    // and, after CHECK CONDITION, in the sense data.
    const std::size_t senseLength = sptd.SenseInfoLength < kSenseBufferLength
                                        ? sptd.SenseInfoLength
                                        : kSenseBufferLength;
    std::optional<SenseData> sense;
    if (ScsiCommandSucceeded(sptd.ScsiStatus, request.Sense, senseLength, &sense)) {
        // The system lowers DataTransferLength when the device moved less; the rest of the
        // caller's buffer would then be parsed as if the device had sent it.
        if (dataIn && sptd.DataTransferLength < static_cast<uint32_t>(length)) {
            DbgPrintf("%s(): %u of %d bytes transferred\r\n", name,
                      static_cast<unsigned>(sptd.DataTransferLength), static_cast<int>(length));
            return 0;
        }
        return 1;
    }
    if (sptd.ScsiStatus != kScsiStatusCheckCondition) {
        DbgPrintf("SCSI status %02Xh\r\n", sptd.ScsiStatus);
    } else if (!sense) {
        DbgPrintf("SCSI CHECK CONDITION: sense data unreadable (%u bytes)\r\n",
                  static_cast<unsigned>(senseLength));
    } else {
        DbgPrintf("SCSI CHECK CONDITION: sense key %02Xh, ASC %02Xh, ASCQ %02Xh\r\n",
                  sense->senseKey, sense->asc, sense->ascq);
        if (sense->ataRegisters && (sense->ataStatus() & kAtaStatusErr) != 0) {
            DbgPrintf("ATA status %02Xh, error %02Xh\r\n", sense->ataStatus(), sense->ataError());
        }
    }
    return 0;
}

}  // namespace

void LogFailedCall(const char* call, const char* path, uint32_t error) {
    DeviceIo* io = platform().devices;
    const std::string text = io != nullptr ? io->errorText(error) : std::string();
    DbgPrintf("%s on %s failed: error %u%s%s\r\n", call, path != nullptr ? path : "",
              static_cast<unsigned>(error), text.empty() ? "" : ", ", text.c_str());
}

int ReadATACommandWithTimeOutValue(const char* path, IDEREGS* taskFile, uint8_t* data,
                                   int32_t length, uint32_t timeoutSeconds) {
    return ataPassThrough(path, taskFile, nullptr, data, length, timeoutSeconds, true);
}

int WriteATACommandWithTimeOutValue(const char* path, IDEREGS* taskFile, const uint8_t* data,
                                    int32_t length, uint32_t timeoutSeconds) {
    return ataPassThrough(path, taskFile, data, nullptr, length, timeoutSeconds, false);
}

int ExecATACommand(const char* path, int direction, const CommandBlock& block, uint8_t* data,
                   int32_t length, uint32_t budgetSeconds) {
    if (isEmptyPath(path)) return -1;
    IDEREGS taskFile;
    taskFile.bFeaturesReg = block[3];
    taskFile.bSectorCountReg = block[4];
    taskFile.bSectorNumberReg = block[5];
    taskFile.bCylLowReg = block[6];
    taskFile.bCylHighReg = block[7];
    taskFile.bDriveHeadReg = block[8];
    taskFile.bCommandReg = block[9];
    taskFile.bReserved = 0;

    Clock* clock = platform().clock;
    const uint32_t start = clock != nullptr ? clock->tickCount() : 0;
    const int result =
        direction != 0
            ? ReadATACommandWithTimeOutValue(path, &taskFile, data, length, budgetSeconds)
            : WriteATACommandWithTimeOutValue(path, &taskFile, data, length, budgetSeconds);
    const uint32_t end = clock != nullptr ? clock->tickCount() : 0;
    // Unsigned difference, so a wrap of the tick counter still measures correctly.
    const uint32_t elapsedSeconds = static_cast<uint32_t>(end - start) / 1000u;
    if (elapsedSeconds > budgetSeconds) {
        DbgPrintf("Timeout = %d sec\r\n", static_cast<int>(elapsedSeconds));
        return 0;
    }
    return result != 0 ? result : -2;
}

int ExecDeviceCommand(uint8_t index, int direction, const CommandBlock& block,
                      int blockLength, uint8_t* data, int32_t length) {
    return ExecDeviceCommand(index, direction, block, blockLength, data, length, kAtaBudgetSeconds);
}

int ExecDeviceCommand(uint8_t index, int direction, const CommandBlock& block,
                      int blockLength, uint8_t* data, int32_t length, uint32_t timeoutSeconds) {
    if (index >= kMaxDrives) return -1;
    const DeviceSlotRecord& slot = DeviceSlot[index];
    const uint32_t budget = std::max(timeoutSeconds, kAtaBudgetSeconds);
    if (slot.ata != 0) {
        return ExecATACommand(slot.devicePath, direction, block, data, length, budget);
    }
    if (isEmptyPath(slot.devicePath)) return -1;
    // The block is a CommandBlock: a longer length would read past it.
    if (blockLength < 1 || blockLength > static_cast<int>(block.size())) return -1;
    int result = 0;
    if (direction != 0) {
        const uint32_t timeout =
            slot.usbDirect != 0 ? std::max(kScsiUsbDirectReadTimeout, budget) : std::max(kScsiTimeout, budget);
        result = ReadSCSICommandWithTimeOutValue(slot.devicePath, block.data(), blockLength,
                                                 data, length, timeout);
    } else {
        result = WriteSCSICommandWithTimeOutValue(slot.devicePath, block.data(), blockLength,
                                                  data, length, std::max(kScsiTimeout, budget));
    }
    return result != 0 ? result : -2;
}

int SmartReceiveData(const char* path, int driveNumber, const IDEREGS& taskFile,
                     uint8_t* answer512) {
    if (answer512 == nullptr) return -1;
    OpenDevice dev(path, AccessRead | AccessWrite, ShareRead | ShareWrite);
    if (!dev.ok()) return -1;

    SendCmdInParams request;
    std::memset(&request, 0, sizeof(request));
    request.cBufferSize = 512;
    static_assert(sizeof(IdeRegsRaw) == sizeof(IDEREGS));
    std::memcpy(&request.irDriveRegs, &taskFile, sizeof(IDEREGS));
    request.irDriveRegs.bDriveHeadReg = (driveNumber & 1) != 0 ? 0xB0 : 0xA0;
    request.bDriveNumber = static_cast<uint8_t>(driveNumber & 0xFF);

    uint8_t answer[kSmartAnswerLength] = {};
    uint32_t returned = 0;
    if (!dev.control(kSmartRcvDriveData, &request, kSmartRequestLength, answer,
                     kSmartAnswerLength, &returned)) {
        LogFailedCall("SMART_RCV_DRIVE_DATA", path, dev.lastError());
        return -1;
    }
    const uint8_t driverError =
        answer[offsetof(SendCmdOutParams, DriverStatus) + offsetof(DriverStatus, bDriverError)];
    if (driverError != 0) {
        DbgPrintf("SmartReceiveData(): command %02Xh ended with driver error %u, IDE error "
                  "%02Xh\r\n",
                  taskFile.bCommandReg, static_cast<unsigned>(driverError),
                  answer[offsetof(SendCmdOutParams, DriverStatus) + offsetof(DriverStatus, bIDEError)]);
        return -1;
    }
    // An answer shorter than its 512 data bytes leaves zeros where the drive sent nothing.
    if (returned < kSmartAnswerLength) {
        DbgPrintf("SmartReceiveData(): %u of %u bytes returned\r\n", static_cast<unsigned>(returned),
                  static_cast<unsigned>(kSmartAnswerLength));
        return -1;
    }
    std::memcpy(answer512, answer + offsetof(SendCmdOutParams, bBuffer), 512);
    return 0;
}

int ReadSCSICommandWithTimeOutValue(const char* path, const uint8_t* cdb, int cdbLength,
                                    uint8_t* data, int32_t length, uint32_t timeoutSeconds) {
    return scsiPassThrough(path, cdb, cdbLength, data, length, timeoutSeconds, true);
}

int WriteSCSICommandWithTimeOutValue(const char* path, const uint8_t* cdb, int cdbLength,
                                     const uint8_t* data, int32_t length,
                                     uint32_t timeoutSeconds) {
    // The request's buffer field is not const; the system only reads from it here.
    return scsiPassThrough(path, cdb, cdbLength, const_cast<uint8_t*>(data), length,
                           timeoutSeconds, false);
}

}  // namespace qx
