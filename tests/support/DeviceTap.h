// A device I/O in front of the installed one, for tests that must see what the bench itself
// keeps no record of: the bytes each control call wrote to the device (the bench traces only
// a digest, and none of a password block), and where the request lay in memory, so a test can
// look at that memory again after the command.
//
//   qx::test::ProcedureBench b(...);
//   qx::test::DeviceTap tap;               // installed over b's platform until it goes
//   SecureEraseBtnClick(b.state, b.user);
//   tap.written(0xF4) ...
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Platform.h"

namespace qx::test {

class DeviceTap final : public DeviceIo {
public:
    struct Call {
        uint32_t code = 0;
        uint8_t command = 0;               // ATA command register (ATA path, ATA PASS-THROUGH CDB)
        const uint8_t* request = nullptr;  // the request buffer the transport handed over
        uint32_t requestLength = 0;
        std::vector<uint8_t> written;      // the data sent to the device, as it was at the call
    };

    DeviceTap();
    ~DeviceTap() override;
    DeviceTap(const DeviceTap&) = delete;
    DeviceTap& operator=(const DeviceTap&) = delete;

    // The data written by the calls with this ATA command, in order.
    std::vector<std::vector<uint8_t>> written(uint8_t command) const;

    DeviceHandle open(const char* path, uint32_t access, uint32_t share) override;
    void close(DeviceHandle h) override;
    bool control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                 uint32_t outLen, uint32_t* bytesReturned) override;
    uint32_t lastError() override;
    std::string errorText(uint32_t code) override;

    std::vector<Call> calls;

private:
    Platform previous_;
    DeviceIo* inner_;
};

}  // namespace qx::test
