// The fuzzed platform and the helpers the fuzz targets share.
#include "support/FuzzPlatform.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "QXLib/DbgLog.h"
#include "QXLib/Smart.h"
#include "QXLib/SystemInfo.h"
#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "devices/DriveTable.h"
#include "devices/Scan.h"
#include "platform/DeviceIoctl.h"

namespace qx::fuzz {

namespace {

constexpr DeviceHandle kHandle = 7;

// Fills `length` bytes at `dst`: a count chosen by the input (the whole area, or less for a
// short transfer), then that many input bytes. Returns the count.
uint32_t fillFromInput(FuzzedDataProvider& in, uint8_t* dst, uint32_t length, bool shortAllowed) {
    if (dst == nullptr || length == 0) return 0;
    uint32_t count = length;
    if (shortAllowed) count = in.ConsumeIntegralInRange<uint32_t>(0, length);
    const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(count);
    if (!bytes.empty()) std::memcpy(dst, bytes.data(), bytes.size());
    return count;
}

}  // namespace

class FuzzPlatform::Devices final : public DeviceIo {
public:
    explicit Devices(FuzzPlatform& owner) : p_(owner) {}

    DeviceHandle open(const char* path, uint32_t, uint32_t) override {
        if (path == nullptr) return kInvalidDevice;
        // 0xFF: the path does not open.
        if (p_.input_.ConsumeIntegral<uint8_t>() == 0xFF) {
            error_ = 2;
            return kInvalidDevice;
        }
        error_ = 0;
        ++open_;
        return kHandle;
    }

    void close(DeviceHandle h) override {
        if (h == kHandle && open_ > 0) --open_;
    }

    bool control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                 uint32_t outLen, uint32_t* bytesReturned) override {
        ++p_.calls_;
        if (bytesReturned != nullptr) *bytesReturned = 0;
        if (h != kHandle) {
            error_ = 6;  // ERROR_INVALID_HANDLE
            return false;
        }
        FuzzedDataProvider& input = p_.input_;
        const uint8_t fate = input.ConsumeIntegral<uint8_t>();
        if ((fate & 0x80) != 0) {  // the control call itself fails
            error_ = 1117;         // ERROR_IO_DEVICE
            return false;
        }
        error_ = 0;
        const bool shortData = (fate & 0x40) != 0;
        uint32_t returned = 0;
        switch (code) {
            case kIoctlAtaPassThrough:
                returned = ata(input, in, inLen, out, outLen, shortData);
                break;
            case kIoctlScsiPassThroughDirect:
                returned = scsi(input, in, inLen, out, outLen, shortData);
                break;
            case kSmartRcvDriveData:
            case kIoctlStorageGetDeviceNumber:
            default:
                returned = fillFromInput(input, static_cast<uint8_t*>(out), outLen, shortData);
                break;
        }
        if (bytesReturned != nullptr) *bytesReturned = returned;
        // Now and then the call reports success with an error code left behind.
        if ((fate & 0x20) != 0 && (fate & 0x10) != 0) error_ = input.ConsumeIntegral<uint8_t>();
        return true;
    }

    uint32_t lastError() override { return error_; }

private:
    // The request and the answer share one buffer: header, then the data area.
    uint32_t ata(FuzzedDataProvider& input, void* in, uint32_t inLen, void* out, uint32_t outLen,
                 bool shortData) {
        if (in == nullptr || out == nullptr || inLen < sizeof(AtaPassThroughEx) ||
            outLen < sizeof(AtaPassThroughEx))
            return 0;
        AtaPassThroughEx header;
        std::memcpy(&header, in, sizeof header);
        auto* bytes = static_cast<uint8_t*>(out);
        const uint32_t room = outLen - static_cast<uint32_t>(sizeof header);
        uint32_t moved = 0;
        if ((header.AtaFlags & kAtaFlagsDataIn) != 0 && header.DataBufferOffset <= outLen) {
            const uint32_t want = std::min(header.DataTransferLength, room);
            moved = fillFromInput(input, bytes + sizeof header, want, shortData);
        } else if ((header.AtaFlags & kAtaFlagsDataOut) != 0) {
            moved = header.DataTransferLength;
        }
        // The registers the drive hands back: error, count, LBA, device, status.
        const std::vector<uint8_t> regs = input.ConsumeBytes<uint8_t>(8);
        if (!regs.empty()) std::memcpy(header.CurrentTaskFile, regs.data(), regs.size());
        if (regs.size() < 8) std::memset(header.CurrentTaskFile + regs.size(), 0, 8 - regs.size());
        header.DataTransferLength = moved;
        std::memcpy(out, &header, sizeof header);
        return static_cast<uint32_t>(sizeof header) + moved;
    }

    uint32_t scsi(FuzzedDataProvider& input, void* in, uint32_t inLen, void* out, uint32_t outLen,
                  bool shortData) {
        if (in == nullptr || out == nullptr || inLen < sizeof(ScsiPassThroughDirectWithSense) ||
            outLen < sizeof(ScsiPassThroughDirectWithSense))
            return 0;
        auto* request = static_cast<ScsiPassThroughDirectWithSense*>(out);
        ScsiPassThroughDirect& sptd = request->sptd;
        uint32_t moved = 0;
        if (sptd.DataIn == kScsiDataIn && sptd.DataBuffer != nullptr) {
            moved = fillFromInput(input, static_cast<uint8_t*>(sptd.DataBuffer),
                                  sptd.DataTransferLength, shortData);
        } else {
            moved = sptd.DataTransferLength;
        }
        sptd.DataTransferLength = moved;
        sptd.ScsiStatus = input.ConsumeIntegral<uint8_t>();
        if (sptd.ScsiStatus != kScsiStatusGood) {
            // The sense length the system reports may be anything, even more than the room.
            sptd.SenseInfoLength = input.ConsumeIntegral<uint8_t>();
            fillFromInput(input, request->Sense, sizeof request->Sense, false);
        } else {
            sptd.SenseInfoLength = 0;
        }
        return static_cast<uint32_t>(sizeof(ScsiPassThroughDirectWithSense));
    }

    FuzzPlatform& p_;
    uint32_t error_ = 0;
    int open_ = 0;
};

class FuzzPlatform::System final : public SystemInfoSource {
public:
    explicit System(FuzzPlatform& owner) : p_(owner) {}
    std::optional<std::vector<std::string>> diskInterfaces() override { return p_.disks; }
    uint32_t logicalDrives() override { return p_.logicalDrives; }
    std::string windowsDirectory() override { return "C:\\WINDOWS"; }
    OsVersion osVersion() override { return p_.os; }
    int rescan(uint32_t* code) override {
        if (code != nullptr) *code = 0;
        return 0;
    }

private:
    FuzzPlatform& p_;
};

namespace {
class NoLock final : public NamedLock {
public:
    void lock() override {}
    void unlock() override {}
};
}  // namespace

class FuzzPlatform::Kernel final : public qx::Kernel {
public:
    std::string executablePath() override { return {}; }
    bool acquireSingleInstance(const char*) override { return true; }
    void debugOutput(const char* text) override {
        // Read the whole line, as a debugger would: an unterminated text shows here.
        if (text != nullptr) sink_ += std::strlen(text);
    }
    std::unique_ptr<NamedLock> openNamedLock(const char*) override { return std::make_unique<NoLock>(); }
    std::string profileString(const std::string&, const std::string&, const std::string& def,
                              const std::string&) override {
        return def;
    }
    int32_t profileInt(const std::string&, const std::string&, int32_t def, const std::string&) override {
        return def;
    }
    bool writeProfileString(const std::string&, const std::string&, const std::string&,
                            const std::string&) override {
        return false;
    }
    int shutDownComputer() override { return 0; }

private:
    size_t sink_ = 0;
};

FuzzPlatform::FuzzPlatform(const uint8_t* data, size_t size)
    : input_(data, size),
      devices_(new Devices(*this)),
      system_(new System(*this)),
      kernel_(new Kernel()),
      previous_(platform()) {
    ResetCoreState();
    Platform p;
    p.clock = &clock_;
    p.devices = devices_;
    p.system = system_;
    p.kernel = kernel_;
    installPlatform(p);
}

FuzzPlatform::~FuzzPlatform() {
    ResetCoreState();
    DbgReleaseLock();
    installPlatform(previous_);
    delete kernel_;
    delete system_;
    delete devices_;
}

void ResetCoreState() {
    ResetDeviceSlots();
    ResetDriveTable();
    ResetSystemInfoState();
    DriveCount = 0;
    VendorXferMode = 2;
    SmartDrive = 0;
    SmartData.fill(0);
    SmartThresholds.fill(0);
    RDMode = false;
}

class InputRecorder::Devices final : public DeviceIo {
public:
    Devices(InputRecorder& owner, DeviceIo& inner) : r_(owner), inner_(inner) {}

    DeviceHandle open(const char* path, uint32_t access, uint32_t share) override {
        const DeviceHandle h = inner_.open(path, access, share);
        r_.integral(h == kInvalidDevice ? 0xFF : 0x00);
        return h;
    }
    void close(DeviceHandle h) override { inner_.close(h); }
    uint32_t lastError() override { return inner_.lastError(); }
    std::string errorText(uint32_t code) override { return inner_.errorText(code); }

    bool control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                 uint32_t outLen, uint32_t* bytesReturned) override {
        // What was asked, before the answer overwrites the shared buffer.
        AtaPassThroughEx ataAsked{};
        if (code == kIoctlAtaPassThrough && in != nullptr && inLen >= sizeof ataAsked)
            std::memcpy(&ataAsked, in, sizeof ataAsked);
        uint32_t scsiAsked = 0;
        bool scsiIn = false;
        void* scsiBuffer = nullptr;
        if (code == kIoctlScsiPassThroughDirect && in != nullptr &&
            inLen >= sizeof(ScsiPassThroughDirectWithSense)) {
            const auto* rq = static_cast<const ScsiPassThroughDirectWithSense*>(in);
            scsiAsked = rq->sptd.DataTransferLength;
            scsiIn = rq->sptd.DataIn == kScsiDataIn;
            scsiBuffer = rq->sptd.DataBuffer;
        }
        const bool ok = inner_.control(h, code, in, inLen, out, outLen, bytesReturned);
        if (!ok) {
            r_.integral(0x80);
            return false;
        }
        r_.integral(0x00);
        if (code == kIoctlAtaPassThrough) {
            if (out == nullptr || outLen < sizeof(AtaPassThroughEx)) return ok;
            const auto* bytes = static_cast<const uint8_t*>(out);
            if ((ataAsked.AtaFlags & kAtaFlagsDataIn) != 0 && ataAsked.DataBufferOffset <= outLen) {
                const uint32_t room = outLen - static_cast<uint32_t>(sizeof(AtaPassThroughEx));
                r_.bytes(bytes + sizeof(AtaPassThroughEx), std::min(ataAsked.DataTransferLength, room));
            }
            r_.bytes(bytes + offsetof(AtaPassThroughEx, CurrentTaskFile), 8);
        } else if (code == kIoctlScsiPassThroughDirect) {
            if (out == nullptr || outLen < sizeof(ScsiPassThroughDirectWithSense)) return ok;
            const auto* rq = static_cast<const ScsiPassThroughDirectWithSense*>(out);
            if (scsiIn && scsiBuffer != nullptr)
                r_.bytes(static_cast<const uint8_t*>(scsiBuffer), scsiAsked);
            r_.integral(rq->sptd.ScsiStatus);
            if (rq->sptd.ScsiStatus != kScsiStatusGood) {
                r_.integral(rq->sptd.SenseInfoLength);
                r_.bytes(rq->Sense, sizeof rq->Sense);
            }
        } else if (out != nullptr) {
            r_.bytes(static_cast<const uint8_t*>(out), outLen);
        }
        return ok;
    }

private:
    InputRecorder& r_;
    DeviceIo& inner_;
};

InputRecorder::InputRecorder(DeviceIo& inner) : devices_(new Devices(*this, inner)) {}
InputRecorder::~InputRecorder() { delete devices_; }
DeviceIo& InputRecorder::devices() { return *devices_; }

void InputRecorder::bytes(const uint8_t* data, size_t size) {
    if (data != nullptr) front_.insert(front_.end(), data, data + size);
}

void InputRecorder::integral(uint64_t value, size_t bytes) {
    // ConsumeIntegral builds its value most significant byte first.
    for (size_t k = bytes; k-- > 0;) back_.push_back(static_cast<uint8_t>(value >> (8 * k)));
}

std::vector<uint8_t> InputRecorder::input() const {
    std::vector<uint8_t> all = front_;
    all.insert(all.end(), back_.rbegin(), back_.rend());
    return all;
}

ScratchFile::ScratchFile(const char* name) {
    std::string pattern = (std::filesystem::temp_directory_path() / "qxfuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
    path_ = dir_ + "/" + name;
}

ScratchFile::~ScratchFile() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

bool ScratchFile::write(const uint8_t* data, size_t size, uint64_t offset) {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = true;
    if (offset > 0 && ::ftruncate(fd, static_cast<off_t>(offset)) != 0) ok = false;
    size_t done = 0;
    while (ok && done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    ::close(fd);
    return ok;
}

}  // namespace qx::fuzz
