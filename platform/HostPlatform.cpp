// Back-end selection from QXUPDATER_DEVICES / QXUPDATER_TRACE.
#include "platform/HostPlatform.h"

#include <cstdlib>

#include "platform/sim/SimBench.h"

#include "platform/RealClock.h"
#define QX_HAVE_REAL_CLOCK 1
#if defined(_WIN32)
// The Windows kernel services are the last piece of that back-end to arrive.
#if __has_include("platform/windows/WinKernel.h")
#include "platform/windows/WinDevices.h"
#include "platform/windows/WinKernel.h"
#include "platform/windows/WinSystem.h"
#define QX_HAVE_REAL_BACKEND 1
#endif
#else
#include "platform/linux/LinuxDevices.h"
#include "platform/linux/LinuxKernel.h"
#include "platform/linux/LinuxSystem.h"
#define QX_HAVE_REAL_BACKEND 1
#endif

namespace qx {

struct HostPlatform::Impl {
#if defined(QX_HAVE_REAL_CLOCK) && defined(QX_HAVE_REAL_BACKEND)
    RealClock clock;
#if defined(_WIN32)
    WinKernel kernel;
    std::unique_ptr<WinDevices> devices;
    std::unique_ptr<WinSystem> system;
#else
    LinuxKernel kernel;
    std::unique_ptr<LinuxDevices> devices;
    std::unique_ptr<LinuxSystem> system;
#endif
#endif
    std::unique_ptr<sim::SimBench> bench;
    Platform parts;
};

HostPlatform::HostPlatform() : impl_(std::make_unique<Impl>()) {}
HostPlatform::~HostPlatform() = default;

std::unique_ptr<HostPlatform> HostPlatform::select(const char* devices, const char* trace,
                                                   std::string& error) {
    error.clear();
    const std::string value = devices ? devices : "";
    std::unique_ptr<HostPlatform> host(new HostPlatform());
    Impl& d = *host->impl_;
#if defined(QX_HAVE_REAL_CLOCK) && defined(QX_HAVE_REAL_BACKEND)
    if (value.empty()) {
#if defined(_WIN32)
        d.devices = std::make_unique<WinDevices>();
        d.system = std::make_unique<WinSystem>();
#else
        d.devices = std::make_unique<LinuxDevices>();
        d.system = std::make_unique<LinuxSystem>();
#endif
        d.parts = Platform{&d.clock, d.devices.get(), d.system.get(), &d.kernel};
        return host;
    }
#else
    if (value.empty()) {
        error = "QXUPDATER_DEVICES: no real back-end in this build";
        return nullptr;
    }
#endif
    if (value != "sim" && value.rfind("sim:", 0) != 0) {
        error = "QXUPDATER_DEVICES=" + value +
                ": unknown value (leave it unset for the real disks, or use sim or sim:PATH)";
        return nullptr;
    }
    d.bench = sim::SimBench::fromSetting(value, error);
    if (!d.bench) {
        if (error.empty()) error = "QXUPDATER_DEVICES=" + value + ": the bench cannot be used";
        return nullptr;
    }
    if (trace && *trace) d.bench->setTracePath(trace);
#if defined(QX_HAVE_REAL_CLOCK) && defined(QX_HAVE_REAL_BACKEND)
    d.parts = d.bench->platform(&d.kernel, &d.clock);
#else
    d.parts = d.bench->platform();
#endif
    return host;
}

std::unique_ptr<HostPlatform> HostPlatform::fromEnvironment(std::string& error) {
    return select(std::getenv("QXUPDATER_DEVICES"), std::getenv("QXUPDATER_TRACE"), error);
}

void HostPlatform::install() const { installPlatform(impl_->parts); }

const Platform& HostPlatform::parts() const { return impl_->parts; }

sim::SimBench* HostPlatform::bench() const { return impl_->bench.get(); }

Kernel* HostPlatform::hostKernel() const {
#if defined(QX_HAVE_REAL_CLOCK) && defined(QX_HAVE_REAL_BACKEND)
    return &impl_->kernel;
#else
    return nullptr;
#endif
}

void HostPlatform::setPowerOffHandler(std::function<int()> handler) {
#if defined(QX_HAVE_REAL_BACKEND) && !defined(_WIN32)
    impl_->kernel.setShutdownHandler(std::move(handler));
#else
    (void)handler;
#endif
}

}  // namespace qx
