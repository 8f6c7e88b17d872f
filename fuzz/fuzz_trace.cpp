// The trace reader of the replay back-end: any bytes, read as a trace, then the replay built
// from it asked for its disk list and one IDENTIFY per path.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DeviceIoctl.h"
#include "platform/TraceReplay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qx::TraceLog log;
    std::string error;
    if (!qx::ParseTrace(std::string_view(reinterpret_cast<const char*>(data), size), log, error)) {
        return 0;
    }
    qx::TraceReplay replay(std::move(log));
    replay.setDiagnostics([](const std::string&) {});
    const auto paths = replay.system().diskInterfaces();
    if (!paths) return 0;
    qx::DeviceIo& io = replay.devices();
    for (const std::string& p : *paths) {
        const qx::DeviceHandle h = io.open(p.c_str(), qx::AccessRead | qx::AccessWrite, qx::ShareNone);
        if (h == qx::kInvalidDevice) continue;
        uint8_t buffer[sizeof(qx::AtaPassThroughEx) + 512] = {};
        qx::AtaPassThroughEx hdr{};
        hdr.Length = sizeof hdr;
        hdr.AtaFlags = qx::kAtaFlagsDataIn;
        hdr.DataTransferLength = 512;
        hdr.DataBufferOffset = sizeof hdr;
        hdr.CurrentTaskFile[1] = 1;
        hdr.CurrentTaskFile[5] = 0xE0;
        hdr.CurrentTaskFile[6] = 0xEC;
        __builtin_memcpy(buffer, &hdr, sizeof hdr);
        uint32_t returned = 0;
        io.control(h, qx::kIoctlAtaPassThrough, buffer, sizeof buffer, buffer, sizeof buffer, &returned);
        io.close(h);
    }
    return 0;
}
