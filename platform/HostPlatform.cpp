// Back-end selection from QXUPDATER_DEVICES / QXUPDATER_TRACE.
#include "platform/HostPlatform.h"

#include <cstdlib>

#include "platform/RealClock.h"
#include "platform/TraceRecorder.h"
#include "platform/TraceReplay.h"
#include "platform/sim/SimBench.h"
#if defined(_WIN32)
#include "platform/windows/WinDevices.h"
#include "platform/windows/WinKernel.h"
#include "platform/windows/WinSystem.h"
#else
#include "platform/linux/LinuxDevices.h"
#include "platform/linux/LinuxKernel.h"
#include "platform/linux/LinuxSystem.h"
#endif

namespace qx {

#if defined(_WIN32)
using HostKernel = WinKernel;
using HostDevices = WinDevices;
using HostSystem = WinSystem;
#else
using HostKernel = LinuxKernel;
using HostDevices = LinuxDevices;
using HostSystem = LinuxSystem;
#endif

struct HostPlatform::Impl {
    // The real clock and kernel serve a bench too; devices and system only the real back-end.
    RealClock clock;
    HostKernel kernel;
    std::unique_ptr<HostDevices> devices;
    std::unique_ptr<HostSystem> system;
    std::unique_ptr<sim::SimBench> bench;
    std::unique_ptr<TraceReplay> replay;
    std::unique_ptr<TraceRecorder> recorder;
    Platform parts;

    // QXUPDATER_TRACE: every control call, failed open and system query of the back-end.
    bool record(const char* trace, std::string& error) {
        if (trace == nullptr || *trace == '\0') return true;
        recorder = TraceRecorder::open(trace, *parts.devices, *parts.system, *parts.clock, error);
        if (!recorder) return false;
        parts.devices = &recorder->devices();
        parts.system = &recorder->system();
        return true;
    }
};

HostPlatform::HostPlatform() : impl_(std::make_unique<Impl>()) {}
HostPlatform::~HostPlatform() = default;

std::unique_ptr<HostPlatform> HostPlatform::select(const char* devices, const char* trace,
                                                   std::string& error,
                                                   const HostOptions& options) {
    error.clear();
    const std::string value = devices ? devices : "";
    std::unique_ptr<HostPlatform> host(new HostPlatform());
    Impl& d = *host->impl_;
    if (value.empty()) {
        d.devices = std::make_unique<HostDevices>();
        d.system = std::make_unique<HostSystem>();
        d.parts = Platform{&d.clock, d.devices.get(), d.system.get(), &d.kernel};
        if (!d.record(trace, error)) return nullptr;
        return host;
    }
    if (value.rfind("replay:", 0) == 0 && value.size() > 7) {
        d.replay = TraceReplay::fromFile(value.substr(7), error);
        if (!d.replay) {
            error = "QXUPDATER_DEVICES=" + value + ": " + error;
            return nullptr;
        }
        if (options.diagnostics) d.replay->setDiagnostics(options.diagnostics);
        d.kernel.setDeviceLockTarget(DeviceLockTarget::None);  // no drive is reached
        d.parts = Platform{&d.replay->clock(), &d.replay->devices(), &d.replay->system(), &d.kernel};
        return host;
    }
    if (value != "sim" && value.rfind("sim:", 0) != 0) {
        error = "QXUPDATER_DEVICES=" + value +
                ": unknown value (leave it unset for the real disks, or use sim, sim:PATH or "
                "replay:PATH)";
        return nullptr;
    }
    d.bench = sim::SimBench::fromSetting(value, error);
    if (!d.bench) {
        if (error.empty()) error = "QXUPDATER_DEVICES=" + value + ": the bench cannot be used";
        return nullptr;
    }
    // Two processes on one bench file exclude each other like two on one machine; the
    // built-in bench belongs to its process alone.
    if (value == "sim") {
        d.kernel.setDeviceLockTarget(DeviceLockTarget::None);
    } else {
        d.kernel.setDeviceLockTarget(DeviceLockTarget::BenchFile, value.substr(4));
    }
    d.parts = d.bench->platform(&d.kernel, options.virtualClock ? nullptr : &d.clock);
    if (!d.record(trace, error)) return nullptr;
    return host;
}

std::unique_ptr<HostPlatform> HostPlatform::fromEnvironment(std::string& error) {
    return select(std::getenv("QXUPDATER_DEVICES"), std::getenv("QXUPDATER_TRACE"), error);
}

void HostPlatform::install() const { installPlatform(impl_->parts); }

const Platform& HostPlatform::parts() const { return impl_->parts; }

sim::SimBench* HostPlatform::bench() const { return impl_->bench.get(); }

Kernel* HostPlatform::hostKernel() const { return &impl_->kernel; }

void HostPlatform::setPowerOffHandler(std::function<int()> handler) {
#if defined(_WIN32)
    (void)handler;  // the Windows kernel powers off through its own token and ExitWindowsEx
#else
    impl_->kernel.setShutdownHandler(std::move(handler));
#endif
}

void HostPlatform::setSleepHoldHandler(std::function<int(const std::string& why)> handler) {
#if defined(_WIN32)
    (void)handler;  // the Windows kernel sets the thread's execution state itself
#else
    impl_->kernel.setSleepHoldHandler(std::move(handler));
#endif
}

}  // namespace qx
