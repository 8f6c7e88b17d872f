// Device I/O on Windows: CreateFileA, DeviceIoControl and CloseHandle as they are. The
// request structures of DeviceIoctl.h are the system's own layouts, pinned against the
// Windows headers in WinDevices.cpp.
#pragma once

#include <string>

#include "platform/Platform.h"

namespace qx {

class WinDevices final : public DeviceIo {
public:
    // Opens an existing object with the given access and share rights.
    DeviceHandle open(const char* path, uint32_t access, uint32_t share) override;
    void close(DeviceHandle h) override;
    // The thread's last error is cleared before the call, so a success reports 0 unless the
    // system itself leaves an error code behind.
    bool control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                 uint32_t outLen, uint32_t* bytesReturned) override;
    uint32_t lastError() override { return lastError_; }
    // FormatMessage's text for the code (the system's language), without the line end.
    std::string errorText(uint32_t code) override;

private:
    uint32_t lastError_ = 0;
};

}  // namespace qx
