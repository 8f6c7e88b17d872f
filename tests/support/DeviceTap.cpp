// The device tap (see DeviceTap.h).
#include "support/DeviceTap.h"

#include <cstring>

#include "platform/DeviceIoctl.h"

namespace qx::test {

DeviceTap::DeviceTap() : previous_(platform()), inner_(previous_.devices) {
    Platform p = previous_;
    p.devices = this;
    installPlatform(p);
}

DeviceTap::~DeviceTap() { installPlatform(previous_); }

std::vector<std::vector<uint8_t>> DeviceTap::written(uint8_t command) const {
    std::vector<std::vector<uint8_t>> out;
    for (const Call& c : calls) {
        if (c.command == command) out.push_back(c.written);
    }
    return out;
}

DeviceHandle DeviceTap::open(const char* path, uint32_t access, uint32_t share) {
    return inner_->open(path, access, share);
}

void DeviceTap::close(DeviceHandle h) { inner_->close(h); }

uint32_t DeviceTap::lastError() { return inner_->lastError(); }
std::string DeviceTap::errorText(uint32_t code) { return inner_->errorText(code); }

bool DeviceTap::control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                        uint32_t outLen, uint32_t* bytesReturned) {
    Call c;
    c.code = code;
    c.request = static_cast<const uint8_t*>(in);
    c.requestLength = inLen;
    const auto* bytes = static_cast<const uint8_t*>(in);
    if (code == kIoctlAtaPassThrough && in != nullptr && inLen >= sizeof(AtaPassThroughEx)) {
        AtaPassThroughEx hdr;
        std::memcpy(&hdr, in, sizeof hdr);
        c.command = hdr.CurrentTaskFile[6];
        if ((hdr.AtaFlags & kAtaFlagsDataOut) != 0 && hdr.DataBufferOffset <= inLen &&
            hdr.DataTransferLength <= inLen - hdr.DataBufferOffset) {
            const uint8_t* data = bytes + hdr.DataBufferOffset;
            c.written.assign(data, data + hdr.DataTransferLength);
        }
    } else if (code == kIoctlScsiPassThroughDirect && in != nullptr &&
               inLen >= sizeof(ScsiPassThroughDirect)) {
        ScsiPassThroughDirect hdr;
        std::memcpy(&hdr, in, sizeof hdr);
        if (hdr.Cdb[0] == 0xA1) c.command = hdr.Cdb[9];
        if (hdr.DataIn != kScsiDataIn && hdr.DataBuffer != nullptr) {
            const auto* data = static_cast<const uint8_t*>(hdr.DataBuffer);
            c.written.assign(data, data + hdr.DataTransferLength);
        }
    }
    calls.push_back(std::move(c));
    return inner_->control(h, code, in, inLen, out, outLen, bytesReturned);
}

}  // namespace qx::test
