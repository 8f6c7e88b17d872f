// Chooses the platform back-end of the running utility from the environment and keeps it
// alive for the process.
//
//   QXUPDATER_DEVICES unset or empty  the real back-end of the build (Windows or Linux)
//   QXUPDATER_DEVICES=sim             the built-in demo bench
//   QXUPDATER_DEVICES=sim:PATH        the bench described by the file PATH
//   QXUPDATER_DEVICES=replay:PATH     answers from the trace PATH (docs/trace.md)
//   QXUPDATER_TRACE=PATH              one JSON line per control call, failed open and system
//                                     query of the real back-end or a bench, appended to PATH
//
// A bench runs on the real clock and forwards the single instance, the executable path, the
// profile files, the named locks and the debugger output to the real kernel; its power-off
// is only recorded. The device lock is the machine's on the real back-end, keyed to the
// file for sim:PATH, and none for sim and replay:PATH. The command line is never read.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qx {

namespace sim {
class SimBench;
}

// How a bench or a replay runs (the desktop utility and the command line take the defaults).
struct HostOptions {
    // Benches and replays on a virtual clock, where waits pass at once (tests, benchmarks).
    bool virtualClock = false;
    // Where a replay reports a call its trace does not hold; standard error when empty.
    // (A replay always runs on its own virtual clock.)
    std::function<void(const std::string&)> diagnostics;
};

class HostPlatform {
public:
    ~HostPlatform();
    HostPlatform(const HostPlatform&) = delete;
    HostPlatform& operator=(const HostPlatform&) = delete;

    // Builds the back-end for these setting values (null pointers count as unset). Null
    // with `error` set when the devices value is neither empty, "sim" nor "sim:PATH" or
    // the bench file cannot be used.
    static std::unique_ptr<HostPlatform> select(const char* devices, const char* trace,
                                                std::string& error,
                                                const HostOptions& options = {});
    // The same with QXUPDATER_DEVICES and QXUPDATER_TRACE of the environment.
    static std::unique_ptr<HostPlatform> fromEnvironment(std::string& error);

    // Makes this the process's platform (installPlatform). The object must outlive its use.
    void install() const;

    const Platform& parts() const;
    // The bench, or null on the real back-end.
    sim::SimBench* bench() const;
    bool simulated() const { return bench() != nullptr; }
    // The real kernel of the build, also under a bench (it serves the single instance and
    // the profile files there). On Linux it is a LinuxKernel (power-off handler).
    Kernel* hostKernel() const;
    // How the real kernel powers the computer off where the core cannot do it itself (on
    // Linux: a request to the service manager, made by the desktop utility). Returns 1 when
    // the request was issued. Under a bench the power-off stays only recorded.
    void setPowerOffHandler(std::function<int()> handler);
    // How the real kernel takes a sleep and shutdown hold where the core cannot do it itself
    // (on Linux: a logind inhibitor lock taken by the desktop utility; the handler answers
    // the lock's descriptor or -1). Under a bench the hold stays only recorded.
    void setSleepHoldHandler(std::function<int(const std::string& why)> handler);

private:
    HostPlatform();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qx
