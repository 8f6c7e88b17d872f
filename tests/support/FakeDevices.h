// A recording DeviceIo for transport tests. It keeps every open (path, access, share) and
// every control call with a copy of the request bytes, and answers from a script: one
// FakeAnswer per open, taken in order (the default answer once the script is used up).
//
//   qx::test::FakePlatform p;                      // installs clock, devices and kernel
//   p.devices.script({.status = 0x51, .error = 0x04});
//   ReadATACommandWithTimeOutValue("\\\\.\\ide#sda", &tf, buf, 512, 10);
//   p.devices.calls[0].ata().AtaFlags ...
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/DeviceIoctl.h"
#include "platform/Platform.h"
#include "support/CaptureKernel.h"

namespace qx::test {

struct FakeAnswer {
    bool openFails = false;
    uint32_t openError = 2;       // ERROR_FILE_NOT_FOUND
    bool callFails = false;
    uint32_t callError = 31;      // ERROR_GEN_FAILURE
    uint32_t errorAfterSuccess = 0;  // last error a successful call leaves behind
    // ATA: the returned status and error registers (the other registers come back as sent),
    // or a whole returned task file.
    uint8_t status = 0x50;
    uint8_t error = 0x00;
    std::optional<std::array<uint8_t, 8>> taskFile;
    // SCSI: the status byte and the sense bytes the device returns.
    uint8_t scsiStatus = kScsiStatusGood;
    std::vector<uint8_t> sense;
    // SMART: the driver error byte of the answer.
    uint8_t driverError = 0;
    StorageDeviceNumber deviceNumber{kFileDeviceDisk, 0, 0};
    // Data a data-in command returns (cut to the requested length).
    std::vector<uint8_t> data;
    // An underrun: the DataTransferLength the system hands back (ATA and SCSI), or the data
    // bytes behind the 16-byte answer header (SMART). Unset: everything asked for moved.
    std::optional<uint32_t> transferred;
    // Virtual milliseconds one control call takes.
    uint64_t elapsedMs = 0;
};

struct FakeOpen {
    std::string path;
    uint32_t access = 0;
    uint32_t share = 0;
    bool succeeded = false;
};

struct FakeCall {
    uint32_t code = 0;
    uint32_t inLen = 0;
    uint32_t outLen = 0;
    bool inIsOut = false;           // the same buffer was passed as input and output
    std::vector<uint8_t> request;   // copy of the input bytes
    std::vector<uint8_t> dataOut;   // SCSI: copy of the data buffer of a data-out request

    AtaPassThroughEx ata() const { return as<AtaPassThroughEx>(); }
    ScsiPassThroughDirect scsi() const { return as<ScsiPassThroughDirect>(); }
    SendCmdInParams smart() const {
        SendCmdInParams p{};
        std::memcpy(&p, request.data(), std::min(request.size(), sizeof(p)));
        return p;
    }
    // The data area behind an ATA header.
    std::vector<uint8_t> ataData() const;

private:
    template <class T>
    T as() const {
        T t{};
        std::memcpy(&t, request.data(), std::min(request.size(), sizeof(T)));
        return t;
    }
};

class FakeDevices final : public DeviceIo {
public:
    explicit FakeDevices(VirtualClock* clock = nullptr) : clock_(clock) {}

    void script(FakeAnswer answer) { script_.push_back(std::move(answer)); }
    FakeAnswer defaultAnswer;

    DeviceHandle open(const char* path, uint32_t access, uint32_t share) override;
    void close(DeviceHandle h) override;
    bool control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                 uint32_t outLen, uint32_t* bytesReturned) override;
    uint32_t lastError() override { return lastError_; }
    // The fake answers with Windows' codes, and gives Windows' texts for them.
    std::string errorText(uint32_t code) override;

    int openHandles() const { return static_cast<int>(handles_.size()); }

    std::vector<FakeOpen> opens;
    std::vector<FakeCall> calls;
    int closes = 0;

private:
    bool ata(const FakeAnswer& a, void* in, uint32_t inLen, void* out, uint32_t outLen);
    bool scsi(const FakeAnswer& a, FakeCall& call, void* in, uint32_t inLen, void* out,
              uint32_t outLen);
    bool smart(const FakeAnswer& a, void* out, uint32_t outLen);

    VirtualClock* clock_;
    std::deque<FakeAnswer> script_;
    std::vector<std::pair<DeviceHandle, FakeAnswer>> handles_;
    DeviceHandle next_ = 0x40;
    uint32_t lastError_ = 0;
};

// Installs a virtual clock, the fake devices and the capturing kernel as the process
// platform for the life of the object; the previous platform comes back afterwards.
class FakePlatform {
public:
    FakePlatform();
    ~FakePlatform();  // also drops the diagnostic log's kept lock
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    VirtualClock clock;
    FakeDevices devices{&clock};
    CaptureKernel kernel;

private:
    Platform previous_;
};

}  // namespace qx::test
