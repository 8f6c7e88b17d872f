// The watched back-end of qxupdater-cli (CliBackend.h).
#include "cli/CliBackend.h"

#include <cerrno>

namespace qx::cli {

namespace {

// Access denied as the back-ends report it: the Windows code on Windows and on the bench and
// replay (which speak Windows codes), errno values on the Linux back-end.
bool deniedCode(uint32_t code, bool windowsCodes) {
    if (windowsCodes) return code == 5;  // ERROR_ACCESS_DENIED
    return code == EACCES || code == EPERM;
}

}  // namespace

struct CliBackend::Watch final : DeviceIo, SystemInfoSource {
    DeviceIo& io;
    SystemInfoSource& system;
    bool windowsCodes;
    bool denied = false;
    bool enumerationFailed = false;

    Watch(DeviceIo& d, SystemInfoSource& s, bool windows) : io(d), system(s), windowsCodes(windows) {}

    DeviceHandle open(const char* path, uint32_t access, uint32_t share) override {
        const DeviceHandle h = io.open(path, access, share);
        if (h == kInvalidDevice) denied = denied || deniedCode(io.lastError(), windowsCodes);
        return h;
    }
    void close(DeviceHandle h) override { io.close(h); }
    bool control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                 uint32_t outLen, uint32_t* bytesReturned) override {
        const bool ok = io.control(h, code, in, inLen, out, outLen, bytesReturned);
        if (!ok) denied = denied || deniedCode(io.lastError(), windowsCodes);
        return ok;
    }
    uint32_t lastError() override { return io.lastError(); }
    std::string errorText(uint32_t code) override { return io.errorText(code); }

    std::optional<std::vector<std::string>> diskInterfaces() override {
        auto paths = system.diskInterfaces();
        if (!paths) enumerationFailed = true;
        return paths;
    }
    uint32_t logicalDrives() override { return system.logicalDrives(); }
    std::string windowsDirectory() override { return system.windowsDirectory(); }
    OsVersion osVersion() override { return system.osVersion(); }
    int rescan(uint32_t* code) override { return system.rescan(code); }
    PowerSource powerSource() override { return system.powerSource(); }
    bool isWindows() override { return system.isWindows(); }
    std::optional<DiskClaimResult> claimForErase(const std::string& path) override {
        return system.claimForErase(path);
    }
};

CliBackend::~CliBackend() = default;

std::unique_ptr<CliBackend> CliBackend::open(const std::string& devices, const std::string& trace,
                                             const HostOptions& options, std::string& error) {
    std::unique_ptr<CliBackend> b(new CliBackend());
    b->host_ = HostPlatform::select(devices.c_str(), trace.empty() ? nullptr : trace.c_str(),
                                    error, options);
    if (!b->host_) return nullptr;
    b->simulated_ = !devices.empty();
    const Platform& parts = b->host_->parts();
    if (parts.devices == nullptr || parts.system == nullptr) {
        error = "the device back-end has no devices";
        return nullptr;
    }
#if defined(_WIN32)
    const bool windowsCodes = true;
#else
    const bool windowsCodes = b->simulated_;
#endif
    b->watch_ = std::make_unique<Watch>(*parts.devices, *parts.system, windowsCodes);
    return b;
}

void CliBackend::install() const {
    Platform p = host_->parts();
    p.devices = watch_.get();
    p.system = watch_.get();
    installPlatform(p);
}

bool CliBackend::permissionDenied() const { return watch_->denied; }
bool CliBackend::enumerationFailed() const { return watch_->enumerationFailed; }

}  // namespace qx::cli
