// The trace of QXUPDATER_TRACE on any back-end: a device I/O and a system source that pass
// every call on to the back-end's own and append one JSON line per control call, failed
// open and system query to the trace file (docs/trace.md). Data read from a drive is kept
// in base64, so the run can be replayed (platform/TraceReplay.h); data written appears only
// as its SHA-256, and a block carrying a password not at all.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Platform.h"

namespace qx {

class TraceRecorder {
public:
    // Null with `error` set when the file cannot be opened for appending.
    static std::unique_ptr<TraceRecorder> open(const std::string& path, DeviceIo& devices,
                                               SystemInfoSource& system, Clock& clock,
                                               std::string& error);
    ~TraceRecorder();
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    DeviceIo& devices();
    SystemInfoSource& system();

private:
    TraceRecorder(std::FILE* file, DeviceIo& devices, SystemInfoSource& system, Clock& clock);
    struct Devices;
    struct System;
    void write(const std::string& line);

    std::FILE* file_;
    DeviceIo& innerDevices_;
    SystemInfoSource& innerSystem_;
    Clock& clock_;
    std::mutex mutex_;
    std::map<DeviceHandle, std::string> paths_;
    std::unique_ptr<Devices> devices_;
    std::unique_ptr<System> system_;
};

}  // namespace qx
