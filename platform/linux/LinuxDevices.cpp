// SG_IO back-end of the device I/O seam. Requests arrive in the Windows layouts of
// DeviceIoctl.h and are checked against their own lengths before anything is sent.
#include "platform/linux/LinuxDevices.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>

#include "QXLib/DbgLog.h"
#include "QXLib/SenseData.h"
#include "platform/linux/LinuxPaths.h"

namespace qx {

namespace {

constexpr uint8_t kAtaPassThrough16 = 0x85;
constexpr uint8_t kProtocolNonData = 3;
constexpr uint8_t kProtocolPioIn = 4;
constexpr uint8_t kProtocolPioOut = 5;
constexpr uint8_t kProtocolDma = 6;
constexpr uint8_t kCkCond = 0x20;
constexpr uint8_t kTDirIn = 0x08;
constexpr uint8_t kBytBlok = 0x04;
constexpr uint8_t kTLengthInCount = 0x02;  // transfer length in the sector count field

constexpr uint8_t kStatusReady = 0x50;  // DRDY | DSC: what a completed command shows
constexpr uint8_t kErrorAbort = 0x04;   // ABRT

constexpr unsigned kDriverSense = 0x08;
constexpr std::size_t kSgSenseLength = 64;
constexpr uint32_t kSmartTimeoutSeconds = 10;

// SG_IO time-outs are in milliseconds; UINT_MAX would mean "none", so stay below it.
unsigned timeoutMs(uint32_t seconds) {
    const uint64_t ms = uint64_t{seconds} * 1000u;
    const uint64_t cap = std::numeric_limits<unsigned>::max() - 1u;
    return static_cast<unsigned>(ms < cap ? ms : cap);
}

class KernelSgIo final : public SgIo {
public:
    int sgIo(int fd, sg_io_hdr_t& hdr) override {
        return ::ioctl(fd, SG_IO, &hdr) == 0 ? 0 : errno;
    }
};

KernelSgIo g_kernelSgIo;

// Node names of open descriptors, for log lines about a control call.
std::map<int, std::string>& nodeNames() {
    static std::map<int, std::string> names;
    return names;
}

std::string nodeName(int fd) {
    const auto it = nodeNames().find(fd);
    return it != nodeNames().end() ? it->second : std::string("fd ") + std::to_string(fd);
}

// A host adapter or driver error other than "sense data follows": the command was not
// carried out as asked, whatever the status byte says.
bool transportFailed(const sg_io_hdr_t& h) {
    return h.host_status != 0 || (h.driver_status & 0x0F & ~kDriverSense) != 0;
}

uint32_t transportError(const sg_io_hdr_t& h) {
    constexpr unsigned kDidTimeOut = 0x03;
    return h.host_status == kDidTimeOut ? ETIMEDOUT : EIO;
}

bool readText(const std::filesystem::path& p, std::string& text) {
    std::ifstream f(p);
    if (!f) return false;
    std::getline(f, text);
    return true;
}

bool parseUnsigned(const std::string& text, uint32_t limit, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > limit) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// "8:0" as written in a sysfs dev file.
bool parseDevText(const std::string& text, uint32_t& major, uint32_t& minor) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) return false;
    return parseUnsigned(text.substr(0, colon), 0xFFF, major) &&
           parseUnsigned(text.substr(colon + 1), 0xFFFFF, minor);
}

// The SG_IO header of one command: `sense` must have kSgSenseLength bytes.
sg_io_hdr_t sgHeader(uint8_t* cdb, uint8_t cdbLength, int direction, void* data, uint32_t length,
                     uint32_t timeoutSeconds, uint8_t* sense) {
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.cmd_len = cdbLength;
    h.mx_sb_len = kSgSenseLength;
    h.cmdp = cdb;
    h.sbp = sense;
    h.dxfer_len = length;
    h.dxferp = length > 0 ? data : nullptr;
    h.dxfer_direction = length == 0 ? SG_DXFER_NONE : direction;
    h.timeout = timeoutMs(timeoutSeconds);
    return h;
}

}  // namespace

namespace linuxos {

void BuildAtaPassThrough16(const uint8_t taskFile[8], uint16_t ataFlags, uint32_t length,
                           uint8_t cdb[16]) {
    std::memset(cdb, 0, 16);
    const bool in = (ataFlags & kAtaFlagsDataIn) != 0;
    const bool dma = (ataFlags & kAtaFlagsUseDma) != 0;
    uint8_t protocol = kProtocolNonData;
    uint8_t transfer = kCkCond;
    if (length > 0) {
        protocol = dma ? kProtocolDma : in ? kProtocolPioIn : kProtocolPioOut;
        transfer = static_cast<uint8_t>(transfer | kTLengthInCount | (in ? kTDirIn : 0));
        // Whole 512-byte blocks are counted in blocks, anything else in bytes.
        if (length % 512 == 0) transfer = static_cast<uint8_t>(transfer | kBytBlok);
    }
    cdb[0] = kAtaPassThrough16;
    cdb[1] = static_cast<uint8_t>(protocol << 1);  // 28-bit command: EXTEND clear
    cdb[2] = transfer;
    cdb[4] = taskFile[0];   // features
    cdb[6] = taskFile[1];   // sector count
    cdb[8] = taskFile[2];   // LBA 7:0
    cdb[10] = taskFile[3];  // LBA 15:8
    cdb[12] = taskFile[4];  // LBA 23:16
    cdb[13] = taskFile[5];  // device
    cdb[14] = taskFile[6];  // command
}

std::optional<StorageDeviceNumber> StorageNumberFromSysfs(const std::string& sysRoot,
                                                          uint32_t major, uint32_t minor) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path link =
        fs::path(sysRoot) / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor));
    const fs::path dir = fs::canonical(link, ec);
    if (ec) return std::nullopt;

    StorageDeviceNumber n{kFileDeviceDisk, 0, 0};
    uint32_t diskMajor = major;
    uint32_t diskMinor = minor;
    std::string text;
    if (readText(dir / "partition", text)) {
        // A partition sits in its disk's directory; the disk's own dev file names it.
        if (!parseUnsigned(text, 0xFFFFFFFFu, n.PartitionNumber)) return std::nullopt;
        std::string dev;
        if (!readText(dir.parent_path() / "dev", dev) || !parseDevText(dev, diskMajor, diskMinor)) {
            return std::nullopt;
        }
    }
    if (diskMajor > 0xFFF || diskMinor > 0xFFFFF) return std::nullopt;
    n.DeviceNumber = (diskMajor << 20) | diskMinor;
    return n;
}

}  // namespace linuxos

LinuxDevices::LinuxDevices()
    : sg_(&g_kernelSgIo), resolver_(&linuxos::DeviceNodeForPath), sysRoot_("/sys") {}

LinuxDevices::LinuxDevices(SgIo& sg, DeviceNodeResolver resolver, std::string sysRoot)
    : sg_(&sg), resolver_(std::move(resolver)), sysRoot_(std::move(sysRoot)) {}

DeviceHandle LinuxDevices::open(const char* path, uint32_t, uint32_t) {
    if (path == nullptr || !resolver_) {
        lastError_ = EINVAL;
        return kInvalidDevice;
    }
    const std::optional<std::string> node = resolver_(path);
    if (!node) {
        lastError_ = ENOENT;
        return kInvalidDevice;
    }
    const int fd = ::open(node->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        lastError_ = e != 0 ? static_cast<uint32_t>(e) : EIO;
        if (e == EACCES || e == EPERM) {
            // Group rights on the node open it, but SG_IO pass-through needs CAP_SYS_RAWIO.
            DbgPrintf("Cannot open %s: permission denied (raw pass-through needs CAP_SYS_RAWIO: "
                      "start the utility from its menu entry, which asks for administrator "
                      "rights, or as root)\r\n",
                      node->c_str());
        }
        return kInvalidDevice;
    }
    nodeNames()[fd] = *node;
    lastError_ = 0;
    return fd;
}

std::string LinuxDevices::errorText(uint32_t code) {
    if (code == 0 || code > 4095) return {};
    return std::strerror(static_cast<int>(code));
}

void LinuxDevices::close(DeviceHandle h) {
    if (h < 0 || h > std::numeric_limits<int>::max()) return;
    const int fd = static_cast<int>(h);
    nodeNames().erase(fd);
    ::close(fd);
}

bool LinuxDevices::control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                           uint32_t outLen, uint32_t* bytesReturned) {
    uint32_t ignored = 0;
    uint32_t* returned = bytesReturned != nullptr ? bytesReturned : &ignored;
    *returned = 0;
    if (h < 0 || h > std::numeric_limits<int>::max()) return fail(EBADF);
    const int fd = static_cast<int>(h);
    bool ok = false;
    switch (code) {
        case kIoctlAtaPassThrough: ok = ataPassThrough(fd, in, inLen, out, outLen, returned); break;
        case kIoctlScsiPassThroughDirect: ok = scsiPassThrough(fd, in, inLen, out, outLen, returned); break;
        case kSmartRcvDriveData: ok = smartReceive(fd, in, inLen, out, outLen, returned); break;
        case kIoctlStorageGetDeviceNumber: ok = deviceNumber(fd, out, outLen, returned); break;
        default: return fail(ENOTTY);
    }
    if (ok) lastError_ = 0;
    return ok;
}

bool LinuxDevices::send(int fd, sg_io_hdr_t& h, const char* permissionNote) {
    const int e = sg_->sgIo(fd, h);
    if (e != 0) {
        if (e == EPERM || e == EACCES) {
            DbgPrintf("SG_IO on %s: permission denied (%s)\r\n", nodeName(fd).c_str(), permissionNote);
        }
        return fail(static_cast<uint32_t>(e));
    }
    if (transportFailed(h)) return fail(transportError(h));
    return true;
}

bool LinuxDevices::runAta(int fd, uint8_t taskFile[8], uint16_t ataFlags, uint8_t* data,
                          uint32_t length, uint32_t timeoutSeconds, uint32_t* transferred) {
    uint8_t cdb[16];
    linuxos::BuildAtaPassThrough16(taskFile, ataFlags, length, cdb);
    uint8_t sense[kSgSenseLength] = {};
    const int direction = (ataFlags & kAtaFlagsDataIn) != 0 ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    sg_io_hdr_t h = sgHeader(cdb, sizeof(cdb), direction, data, length, timeoutSeconds, sense);
    if (!send(fd, h, "ATA commands need root rights")) return false;
    // What the data phase moved, as ATA_PASS_THROUGH_EX reports it in DataTransferLength.
    const uint32_t resid = h.resid > 0 ? static_cast<uint32_t>(h.resid) : 0u;
    *transferred = resid < length ? length - resid : 0u;

    const std::size_t senseLength = std::min<std::size_t>(h.sb_len_wr, sizeof(sense));
    const std::optional<SenseData> decoded =
        senseLength > 0 ? DecodeSenseData(sense, senseLength) : std::nullopt;
    if (h.status == kScsiStatusGood) {
        if (decoded && decoded->ataRegisters) {
            std::memcpy(taskFile, decoded->ataRegisters->data(), 7);
        } else {
            // The translator ignored CK_COND: the command completed, registers unknown.
            taskFile[0] = 0;
            taskFile[6] = kStatusReady;
        }
        return true;
    }
    if (h.status != kScsiStatusCheckCondition) return fail(EIO);
    // CHECK CONDITION: either the registers that CK_COND asked for, or an error.
    if (!decoded) return fail(EIO);
    const bool keyOk = decoded->senseKey == kSenseKeyNoSense ||
                       decoded->senseKey == kSenseKeyRecoveredError;
    if (decoded->ataRegisters) {
        std::memcpy(taskFile, decoded->ataRegisters->data(), 7);
    } else {
        taskFile[0] = 0;
        taskFile[6] = kStatusReady;
    }
    if (!keyOk) {
        // The translator reports a failure; make sure the returned status says so.
        taskFile[6] = static_cast<uint8_t>(taskFile[6] | kAtaStatusErr);
        if (taskFile[0] == 0) taskFile[0] = kErrorAbort;
    }
    return true;
}

bool LinuxDevices::ataPassThrough(int fd, void* in, uint32_t inLen, void* out, uint32_t outLen,
                                  uint32_t* bytesReturned) {
    constexpr uint32_t kHeader = sizeof(AtaPassThroughEx);
    if (in == nullptr || out == nullptr || inLen < kHeader || outLen < kHeader) return fail(EINVAL);
    AtaPassThroughEx hdr;
    std::memcpy(&hdr, in, kHeader);
    const bool dataIn = (hdr.AtaFlags & kAtaFlagsDataIn) != 0;
    const bool dataOut = (hdr.AtaFlags & kAtaFlagsDataOut) != 0;
    if (hdr.Length != kHeader || (dataIn && dataOut) ||
        (hdr.AtaFlags & kAtaFlags48BitCommand) != 0) {
        return fail(EINVAL);
    }
    const uint32_t length = hdr.DataTransferLength;
    uint8_t* data = nullptr;
    if (length > 0) {
        const uint64_t room = dataIn ? outLen : inLen;
        if ((!dataIn && !dataOut) || hdr.DataBufferOffset < kHeader ||
            uint64_t{hdr.DataBufferOffset} + length > room) {
            return fail(EINVAL);
        }
        data = static_cast<uint8_t*>(dataIn ? out : in) + hdr.DataBufferOffset;
    }
    uint8_t taskFile[8];
    std::memcpy(taskFile, hdr.CurrentTaskFile, 8);
    uint32_t moved = 0;
    if (!runAta(fd, taskFile, hdr.AtaFlags, data, length, hdr.TimeOutValue, &moved)) return false;
    if (out != in) std::memmove(out, in, kHeader);
    std::memcpy(static_cast<uint8_t*>(out) + offsetof(AtaPassThroughEx, CurrentTaskFile), taskFile, 8);
    // A data-in command that moved less says so, as the system does on an underrun.
    const uint32_t returnedLength = dataIn ? moved : length;
    std::memcpy(static_cast<uint8_t*>(out) + offsetof(AtaPassThroughEx, DataTransferLength),
                &returnedLength, sizeof(returnedLength));
    *bytesReturned = kHeader + (dataIn ? returnedLength : 0);
    return true;
}

bool LinuxDevices::scsiPassThrough(int fd, void* in, uint32_t inLen, void* out, uint32_t outLen,
                                   uint32_t* bytesReturned) {
    constexpr uint32_t kHeader = sizeof(ScsiPassThroughDirect);
    if (in == nullptr || out == nullptr || inLen < kHeader || outLen < kHeader) return fail(EINVAL);
    ScsiPassThroughDirect hdr;
    std::memcpy(&hdr, in, kHeader);
    if (hdr.Length != kHeader || hdr.CdbLength == 0 || hdr.CdbLength > sizeof(hdr.Cdb)) {
        return fail(EINVAL);
    }
    if (hdr.DataTransferLength > 0 && hdr.DataBuffer == nullptr) return fail(EINVAL);
    const uint32_t senseRoom = hdr.SenseInfoLength;
    if (senseRoom > 0 && (hdr.SenseInfoOffset < kHeader ||
                          uint64_t{hdr.SenseInfoOffset} + senseRoom > outLen)) {
        return fail(EINVAL);
    }

    uint8_t cdb[16];
    std::memcpy(cdb, hdr.Cdb, sizeof(cdb));
    uint8_t sense[kSgSenseLength] = {};
    const int direction = hdr.DataIn == kScsiDataIn ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    sg_io_hdr_t h = sgHeader(cdb, hdr.CdbLength, direction, hdr.DataBuffer,
                             hdr.DataTransferLength, hdr.TimeOutValue, sense);
    if (!send(fd, h, "this command needs root rights")) return false;

    hdr.ScsiStatus = h.status;
    if (h.resid > 0 && static_cast<uint32_t>(h.resid) <= hdr.DataTransferLength) {
        hdr.DataTransferLength -= static_cast<uint32_t>(h.resid);
    }
    const std::size_t senseOut =
        std::min({std::size_t{h.sb_len_wr}, sizeof(sense), std::size_t{senseRoom}});
    hdr.SenseInfoLength = static_cast<uint8_t>(senseOut);
    if (out != in) std::memmove(out, in, std::min(inLen, outLen));
    std::memcpy(out, &hdr, kHeader);
    if (senseOut > 0) std::memcpy(static_cast<uint8_t*>(out) + hdr.SenseInfoOffset, sense, senseOut);
    *bytesReturned = senseOut > 0 ? hdr.SenseInfoOffset + static_cast<uint32_t>(senseOut) : kHeader;
    return true;
}

bool LinuxDevices::smartReceive(int fd, void* in, uint32_t inLen, void* out, uint32_t outLen,
                                uint32_t* bytesReturned) {
    if (in == nullptr || out == nullptr || inLen < kSmartRequestLength || outLen < kSmartAnswerLength) {
        return fail(EINVAL);
    }
    SendCmdInParams request{};
    std::memcpy(&request, in, kSmartRequestLength);
    // The disk driver takes only the identify and SMART commands on this path.
    const uint8_t command = request.irDriveRegs.bCommandReg;
    if (command != 0xEC && command != 0xA1 && command != 0xB0) return fail(EINVAL);

    uint8_t taskFile[8];
    std::memcpy(taskFile, &request.irDriveRegs, 8);
    uint8_t data[512] = {};
    uint32_t moved = 0;
    if (!runAta(fd, taskFile, kAtaFlagsDrdyRequired | kAtaFlagsDataIn, data, sizeof(data),
                kSmartTimeoutSeconds, &moved)) {
        return false;
    }
    auto* answer = static_cast<uint8_t*>(out);
    std::memset(answer, 0, kSmartAnswerLength);
    SendCmdOutParams head{};
    head.cBufferSize = moved;
    if ((taskFile[6] & kAtaStatusErr) != 0) {
        head.DriverStatus.bDriverError = 1;  // SMART_IDE_ERROR
        head.DriverStatus.bIDEError = taskFile[0];
    }
    std::memcpy(answer, &head, offsetof(SendCmdOutParams, bBuffer));
    if (head.DriverStatus.bDriverError == 0) {
        std::memcpy(answer + offsetof(SendCmdOutParams, bBuffer), data, sizeof(data));
    }
    // Fewer data bytes than the sector: the answer is shorter by as much.
    *bytesReturned = head.DriverStatus.bDriverError == 0
                         ? static_cast<uint32_t>(offsetof(SendCmdOutParams, bBuffer)) + moved
                         : kSmartAnswerLength;
    return true;
}

bool LinuxDevices::deviceNumber(int fd, void* out, uint32_t outLen, uint32_t* bytesReturned) {
    if (out == nullptr || outLen < sizeof(StorageDeviceNumber)) return fail(EINVAL);
    struct stat st{};
    if (::fstat(fd, &st) != 0) return fail(static_cast<uint32_t>(errno));
    if (!S_ISBLK(st.st_mode)) return fail(ENOTBLK);
    const std::optional<StorageDeviceNumber> n =
        linuxos::StorageNumberFromSysfs(sysRoot_, major(st.st_rdev), minor(st.st_rdev));
    if (!n) return fail(ENODEV);
    std::memcpy(out, &*n, sizeof(*n));
    *bytesReturned = sizeof(*n);
    return true;
}

}  // namespace qx
