// The recording fake DeviceIo and the platform that installs it.
#include "support/FakeDevices.h"

#include "platform/sim/SimBench.h"

#include <algorithm>
#include <cstddef>

#include "QXLib/DbgLog.h"

namespace qx::test {

std::vector<uint8_t> FakeCall::ataData() const {
    const AtaPassThroughEx h = ata();
    const std::size_t at = static_cast<std::size_t>(h.DataBufferOffset);
    if (at >= request.size()) return {};
    const std::size_t n = std::min<std::size_t>(h.DataTransferLength, request.size() - at);
    return {request.begin() + static_cast<std::ptrdiff_t>(at),
            request.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

DeviceHandle FakeDevices::open(const char* path, uint32_t access, uint32_t share) {
    FakeAnswer a = defaultAnswer;
    if (!script_.empty()) {
        a = std::move(script_.front());
        script_.pop_front();
    }
    FakeOpen o;
    o.path = path != nullptr ? path : "(null)";
    o.access = access;
    o.share = share;
    o.succeeded = !a.openFails;
    opens.push_back(o);
    if (a.openFails) {
        lastError_ = a.openError;
        return kInvalidDevice;
    }
    const DeviceHandle h = next_++;
    handles_.emplace_back(h, std::move(a));
    lastError_ = 0;
    return h;
}

void FakeDevices::close(DeviceHandle h) {
    ++closes;
    std::erase_if(handles_, [h](const auto& e) { return e.first == h; });
}

bool FakeDevices::control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                          uint32_t outLen, uint32_t* bytesReturned) {
    if (bytesReturned != nullptr) *bytesReturned = 0;
    FakeCall call;
    call.code = code;
    call.inLen = inLen;
    call.outLen = outLen;
    call.inIsOut = in == out;
    if (in != nullptr && inLen > 0) {
        const auto* b = static_cast<const uint8_t*>(in);
        call.request.assign(b, b + inLen);
    }
    const auto it = std::find_if(handles_.begin(), handles_.end(),
                                 [h](const auto& e) { return e.first == h; });
    if (it == handles_.end()) {
        calls.push_back(std::move(call));
        lastError_ = 6;  // ERROR_INVALID_HANDLE
        return false;
    }
    const FakeAnswer& a = it->second;
    if (clock_ != nullptr) clock_->advance(a.elapsedMs);
    bool ok = false;
    if (a.callFails) {
        ok = false;
    } else {
        switch (code) {
            case kIoctlAtaPassThrough: ok = ata(a, in, inLen, out, outLen); break;
            case kIoctlScsiPassThroughDirect: ok = scsi(a, call, in, inLen, out, outLen); break;
            case kSmartRcvDriveData: ok = smart(a, out, outLen); break;
            case kIoctlStorageGetDeviceNumber:
                ok = out != nullptr && outLen >= sizeof(StorageDeviceNumber);
                if (ok) std::memcpy(out, &a.deviceNumber, sizeof(StorageDeviceNumber));
                break;
            default: ok = false; break;
        }
    }
    calls.push_back(std::move(call));
    lastError_ = ok ? a.errorAfterSuccess : (a.callFails ? a.callError : 87);
    if (ok && bytesReturned != nullptr) {
        *bytesReturned = outLen;
        if (code == kSmartRcvDriveData && a.transferred) {
            *bytesReturned = std::min<uint32_t>(outLen, 16 + *a.transferred);
        }
    }
    return ok;
}

bool FakeDevices::ata(const FakeAnswer& a, void* in, uint32_t inLen, void* out, uint32_t outLen) {
    if (in == nullptr || out == nullptr || inLen < sizeof(AtaPassThroughEx) ||
        outLen < sizeof(AtaPassThroughEx)) {
        return false;
    }
    AtaPassThroughEx h;
    std::memcpy(&h, in, sizeof(h));
    if (out != in) std::memmove(out, in, std::min(inLen, outLen));
    std::array<uint8_t, 8> tf{};
    std::memcpy(tf.data(), h.CurrentTaskFile, 8);
    if (a.taskFile) {
        tf = *a.taskFile;
    } else {
        tf[0] = a.error;
        tf[6] = a.status;
    }
    std::memcpy(static_cast<uint8_t*>(out) + offsetof(AtaPassThroughEx, CurrentTaskFile),
                tf.data(), 8);
    if ((h.AtaFlags & kAtaFlagsDataIn) != 0 && h.DataBufferOffset < outLen) {
        const std::size_t room = outLen - static_cast<std::size_t>(h.DataBufferOffset);
        const std::size_t n = std::min({a.data.size(), room, std::size_t{h.DataTransferLength}});
        if (n > 0) {
            std::memcpy(static_cast<uint8_t*>(out) + h.DataBufferOffset, a.data.data(), n);
        }
    }
    if (a.transferred) {
        const uint32_t moved = std::min(*a.transferred, h.DataTransferLength);
        std::memcpy(static_cast<uint8_t*>(out) + offsetof(AtaPassThroughEx, DataTransferLength),
                    &moved, sizeof(moved));
    }
    return true;
}

bool FakeDevices::scsi(const FakeAnswer& a, FakeCall& call, void* in, uint32_t inLen, void* out,
                       uint32_t outLen) {
    if (in == nullptr || out == nullptr || inLen < sizeof(ScsiPassThroughDirect) ||
        outLen < sizeof(ScsiPassThroughDirect)) {
        return false;
    }
    ScsiPassThroughDirect h;
    std::memcpy(&h, in, sizeof(h));
    auto* buffer = static_cast<uint8_t*>(h.DataBuffer);
    if (h.DataIn == kScsiDataIn) {
        const std::size_t n = std::min<std::size_t>(a.data.size(), h.DataTransferLength);
        if (n > 0 && buffer != nullptr) std::memcpy(buffer, a.data.data(), n);
    } else if (buffer != nullptr && h.DataTransferLength > 0) {
        call.dataOut.assign(buffer, buffer + h.DataTransferLength);
    }
    if (out != in) std::memmove(out, in, std::min(inLen, outLen));
    h.ScsiStatus = a.scsiStatus;
    std::size_t senseOut = 0;
    if (h.SenseInfoOffset < outLen) {
        senseOut = std::min({a.sense.size(), std::size_t{h.SenseInfoLength},
                             std::size_t{outLen - h.SenseInfoOffset}});
        if (senseOut > 0) {
            std::memcpy(static_cast<uint8_t*>(out) + h.SenseInfoOffset, a.sense.data(), senseOut);
        }
    }
    h.SenseInfoLength = static_cast<uint8_t>(senseOut);
    if (a.transferred) h.DataTransferLength = std::min(*a.transferred, h.DataTransferLength);
    std::memcpy(out, &h, sizeof(h));
    return true;
}

bool FakeDevices::smart(const FakeAnswer& a, void* out, uint32_t outLen) {
    if (out == nullptr || outLen < kSmartAnswerLength) return false;
    auto* o = static_cast<uint8_t*>(out);
    std::memset(o, 0, kSmartAnswerLength);
    const uint32_t size = 512;
    std::memcpy(o, &size, 4);
    o[4] = a.driverError;
    if (!a.data.empty()) std::memcpy(o + 16, a.data.data(), std::min<std::size_t>(a.data.size(), 512));
    return true;
}

FakePlatform::FakePlatform() : previous_(platform()) {
    installPlatform(Platform{&clock, &devices, nullptr, &kernel});
}

FakePlatform::~FakePlatform() {
    DbgReleaseLock();  // it came from this platform's kernel
    installPlatform(previous_);
}

std::string FakeDevices::errorText(uint32_t code) { return sim::WindowsErrorText(code); }

}  // namespace qx::test
