// The simulated bench: the platform parts (device I/O, system information, kernel, clock)
// over a set of simulated disks. The device I/O decodes the Windows request structures of
// platform/DeviceIoctl.h in the native layout and hands ATA registers to the SimDrive.
#include "platform/sim/SimBench.h"

#include "platform/RealClock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/Ascii.h"
#include "platform/BinaryFile.h"
#include "platform/DeviceIoctl.h"
#include "platform/WinErrorCodes.h"
#include "platform/sim/Sha256.h"
#include "platform/sim/SimDrive.h"
#include "platform/sim/SimProfile.h"
#include "platform/sim/SimTrace.h"

namespace qx::sim {

namespace {

constexpr size_t kMaxRecordedCalls = size_t{1} << 20;
constexpr size_t kMaxDebugLines = 100000;


std::string hexByte(uint8_t b) {
    static const char* d = "0123456789abcdef";
    return std::string{d[b >> 4], d[b & 15]};
}


class NoOpLock final : public NamedLock {
public:
    void lock() override {}
    void unlock() override {}
};

struct Handle {
    int disk = -1;        // index of the disk, or -1 for a volume
    char volume = 0;      // volume letter for volume handles
    uint32_t access = 0;
    uint32_t share = 0;
    std::string path;
};

// What the faults of a disk do to one command.
struct FaultEffect {
    const SimFault* failing = nullptr;  // OpenFails / ControlFails / AtaError / CheckCondition
    const SimFault* shortData = nullptr;
    uint32_t hangMs = 0;
};

std::vector<uint8_t> makeSense(uint8_t key, uint8_t asc, uint8_t ascq,
                               const std::array<uint8_t, 8>* tf) {
    std::vector<uint8_t> s = {0x72, key, asc, ascq, 0, 0, 0, 0};
    if (tf != nullptr) {
        const auto& r = *tf;
        const uint8_t d[14] = {0x09, 0x0C, 0, r[0], 0, r[1], 0, r[2], 0, r[3], 0, r[4], r[5], r[6]};
        s.insert(s.end(), d, d + 14);
        s[7] = 14;
    }
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------------------
struct SimBench::Impl {
    SimBenchSpec setup;
    VirtualClock vclock;
    RealClock rclock;  // real time for the demo
    bool realClock = false;
    Clock* hostClock = nullptr;
    Kernel* hostKernel = nullptr;

    std::vector<std::unique_ptr<SimDrive>> drives;   // one per disk (also for empty ones)
    std::vector<std::vector<uint32_t>> faultCounts;  // per disk, per fault
    std::vector<int> openCounts;
    std::map<DeviceHandle, Handle> handles;
    DeviceHandle nextHandle = 0x100;
    uint32_t lastError = 0;

    std::vector<SimCall> calls;
    bool record = true;
    std::FILE* trace = nullptr;
    std::recursive_mutex mutex;

    std::vector<std::string> debug;
    std::set<std::string> instances;
    int deviceLockTakes = 0;
    bool deviceLockHeld = false;
    int shutdowns = 0;
    std::vector<SimSleepHold> sleepHolds;
    int rescans = 0;
    SimDriveState noDrive;

    struct ClockPart;
    struct Devices;
    struct System;
    struct KernelPart;
    std::unique_ptr<ClockPart> clockPart;
    std::unique_ptr<Devices> devices;
    std::unique_ptr<System> system;
    std::unique_ptr<KernelPart> kernel;

    explicit Impl(SimBenchSpec s);
    ~Impl() {
        if (trace != nullptr) std::fclose(trace);
    }

    Clock& activeClock() {
        if (hostClock != nullptr) return *hostClock;
        if (realClock) return rclock;
        return vclock;
    }
    uint64_t now() { return hostClock != nullptr || realClock ? activeClock().tickCount() : vclock.now(); }
    void advance(uint32_t ms) {
        if (ms != 0) activeClock().sleep(ms);
    }
    // The last error of a control call that a fault makes fail. A time-out first takes the
    // request's time-out and one second more (the system's reset after it) on the clock.
    uint32_t failedCallError(const SimFault& f, uint32_t timeoutSeconds) {
        if (f.kind == FaultKind::TimeOut) {
            advance(static_cast<uint32_t>(std::min<uint64_t>(uint64_t{timeoutSeconds} * 1000u + 1000u,
                                                             UINT32_MAX)));
            return kErrSemTimeout;
        }
        return f.lastError != 0 ? f.lastError : kErrIoDevice;
    }
    static bool failsTheCall(const SimFault& f) {
        return f.kind == FaultKind::ControlFails || f.kind == FaultKind::OpenFails ||
               f.kind == FaultKind::TimeOut;
    }

    // Keeps one drive per disk; setups are read live, so rebinding follows reallocation.
    void sync() {
        const size_t n = setup.disks.size();
        if (drives.size() > n) drives.resize(n);
        for (size_t i = 0; i < drives.size(); ++i) drives[i]->rebind(setup.disks[i].drive);
        while (drives.size() < n) drives.push_back(std::make_unique<SimDrive>(setup.disks[drives.size()].drive));
        // Windows' inbox ATA and AHCI drivers freeze the security of the drives they start
        // (Microsoft's storage documentation, "Security group commands"); USB mass storage
        // and SBP-2 do not go through them.
        for (size_t i = 0; i < n; ++i) {
            const SimBus bus = setup.disks[i].bus;
            drives[i]->state().frozenBySystem =
                setup.securityFreezeAtStart && (bus == SimBus::Ide || bus == SimBus::Scsi);
        }
        faultCounts.resize(n);
        openCounts.resize(n, 0);
        for (size_t i = 0; i < n; ++i) faultCounts[i].resize(setup.disks[i].faults.size(), 0);
    }

    FaultEffect collect(size_t disk, const std::vector<std::string>& keys) {
        FaultEffect e;
        auto& faults = setup.disks[disk].faults;
        for (size_t i = 0; i < faults.size(); ++i) {
            const SimFault& f = faults[i];
            bool match = false;
            for (const auto& k : keys) match = match || EqualNoCaseAscii(f.key, k);
            if (!match) continue;
            const uint32_t count = ++faultCounts[disk][i];
            if (f.occurrence != 0 && count != static_cast<uint32_t>(f.occurrence)) continue;
            switch (f.kind) {
                case FaultKind::Hang: e.hangMs += f.ms; break;
                case FaultKind::ShortData: if (e.shortData == nullptr) e.shortData = &f; break;
                default: if (e.failing == nullptr) e.failing = &f; break;
            }
        }
        return e;
    }

    static std::vector<std::string> ataKeys(const std::array<uint8_t, 8>& tf) {
        std::vector<std::string> k;
        const uint8_t cmd = tf[kRegCommand];
        k.push_back("ata:" + hexByte(cmd));
        k.push_back("ata:" + hexByte(cmd) + "/" + hexByte(tf[kRegFeatures]));
        const bool vendorLba = tf[kRegLbaMid] == 0x34 && tf[kRegLbaHigh] == 0x12;
        if (vendorLba && (cmd == 0x88 || cmd == 0x8F || cmd == 0x86 || cmd == 0x8A)) {
            const bool write = cmd == 0x88 || cmd == 0x8F;
            if (tf[kRegLbaLow] == 0xFF) {
                k.push_back(write ? "vendor-write" : "vendor-read");
            } else {
                k.push_back("vendor:" + hexByte(tf[kRegLbaLow]));
            }
        }
        return k;
    }

    // One ATA command to the drive of `disk` with its faults applied.
    struct AtaRun {
        bool controlOk = true;
        uint32_t error = 0;
        bool checkCondition = false;
        const SimFault* sense = nullptr;
        uint32_t moved = 0;
    };
    AtaRun runAta(size_t disk, std::vector<std::string> keys, std::array<uint8_t, 8>& tf,
                  DataDir dir, uint8_t* data, uint32_t length, bool scsi, uint32_t timeoutSeconds) {
        AtaRun r;
        FaultEffect e;
        if (!setup.disks[disk].faults.empty()) {
            if (keys.empty() || keys.front().rfind("smart:", 0) != 0) {
                const auto more = ataKeys(tf);
                keys.insert(keys.end(), more.begin(), more.end());
            }
            e = collect(disk, keys);
        }
        advance(e.hangMs);
        if (e.failing != nullptr) {
            const SimFault& f = *e.failing;
            if (failsTheCall(f)) {
                r.controlOk = false;
                r.error = failedCallError(f, timeoutSeconds);
                return r;
            }
            if (f.kind == FaultKind::CheckCondition && scsi) {
                r.checkCondition = true;
                r.sense = &f;
                return r;
            }
            tf[0] = f.kind == FaultKind::AtaError ? f.errorReg : kErrorAbort;
            tf[kRegCommand] = kStatusError;
            return r;
        }
        SimDrive& drive = *drives[disk];
        if (e.shortData != nullptr && dir == DataDir::In && length > 0) {
            std::vector<uint8_t> scratch(data, data + length);
            const uint32_t moved = drive.execute(tf, dir, scratch.data(), length);
            r.moved = std::min(moved, e.shortData->bytes);
            std::memcpy(data, scratch.data(), r.moved);
            return r;
        }
        const bool eraseUnit = tf[kRegCommand] == 0xF4;
        r.moved = drive.execute(tf, dir, data, length);
        const uint32_t eraseMs = setup.disks[disk].drive.eraseMs;
        if (eraseUnit && tf[kRegCommand] == kStatusGood && eraseMs != 0) {
            // The drive takes its time; past the request's time-out the system gives up on
            // the command and resets the link, while the drive finishes the erase.
            const uint64_t limitMs = uint64_t{timeoutSeconds} * 1000u;
            if (eraseMs > limitMs) {
                advance(static_cast<uint32_t>(std::min<uint64_t>(limitMs + 1000u, UINT32_MAX)));
                r.controlOk = false;
                r.error = kErrSemTimeout;
                r.moved = 0;
                return r;
            }
            advance(eraseMs);
        }
        return r;
    }

    void finish(SimCall& c) {
        c.elapsedMs = static_cast<uint32_t>(now() - c.time);
        if (trace != nullptr) {
            const std::string line = formatTraceLine(c);
            std::fwrite(line.data(), 1, line.size(), trace);
            std::fputc('\n', trace);
            std::fflush(trace);
        }
        if (record && calls.size() < kMaxRecordedCalls) calls.push_back(std::move(c));
    }
    bool wantsDigest() const { return record || trace != nullptr; }

    // ------------------------------------------------------------------- device I/O
    DeviceHandle open(const char* path, uint32_t access, uint32_t share);
    void close(DeviceHandle h);
    bool control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                 uint32_t outLen, uint32_t* bytesReturned);
    bool ata(const Handle& h, SimCall& c, void* in, uint32_t inLen, void* out, uint32_t outLen,
             uint32_t* bytesReturned);
    bool scsi(const Handle& h, SimCall& c, void* in, uint32_t inLen, void* out, uint32_t outLen,
              uint32_t* bytesReturned);
    bool smartRcv(const Handle& h, SimCall& c, void* in, uint32_t inLen, void* out,
                  uint32_t outLen, uint32_t* bytesReturned);
    bool deviceNumber(const Handle& h, SimCall& c, void* out, uint32_t outLen,
                      uint32_t* bytesReturned);
    bool volumeControl(const Handle& h, SimCall& c, uint32_t code);
    bool failCall(SimCall& c, uint32_t error) {
        lastError = error;
        c.result = false;
        c.lastError = error;
        c.lastErrorText = WindowsErrorText(error);
        return false;
    }
};

// ---------------------------------------------------------------------------------------
// The clock handed out in the platform follows the bench's choice at every call, so
// switching to the real clock after the platform was installed takes effect at once.
struct SimBench::Impl::ClockPart final : Clock {
    Impl& b;
    explicit ClockPart(Impl& impl) : b(impl) {}
    uint32_t tickCount() override { return b.activeClock().tickCount(); }
    void sleep(uint32_t ms) override { b.activeClock().sleep(ms); }
};

struct SimBench::Impl::Devices final : DeviceIo {
    Impl& b;
    explicit Devices(Impl& impl) : b(impl) {}
    DeviceHandle open(const char* path, uint32_t access, uint32_t share) override {
        return b.open(path, access, share);
    }
    void close(DeviceHandle h) override { b.close(h); }
    bool control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                 uint32_t outLen, uint32_t* bytesReturned) override {
        return b.control(h, code, in, inLen, out, outLen, bytesReturned);
    }
    uint32_t lastError() override { return b.lastError; }
    std::string errorText(uint32_t code) override { return WindowsErrorText(code); }
};

struct SimBench::Impl::System final : SystemInfoSource {
    Impl& b;
    explicit System(Impl& impl) : b(impl) {}
    std::optional<std::vector<std::string>> diskInterfaces() override {
        if (b.setup.enumerationFails) return std::nullopt;
        std::vector<std::string> paths;
        for (const auto& d : b.setup.disks) paths.push_back(d.path);
        return paths;
    }
    uint32_t logicalDrives() override {
        uint32_t mask = 0;
        const auto add = [&mask](char c) {
            c = UpperAscii(c);
            if (c >= 'A' && c <= 'Z') mask |= 1u << (c - 'A');
        };
        for (const auto& d : b.setup.disks) {
            for (char v : d.volumes) add(v);
        }
        add(b.setup.systemLetter);
        return mask;
    }
    std::string windowsDirectory() override {
        const char c = UpperAscii(b.setup.systemLetter);
        if (c < 'A' || c > 'Z') return {};
        return std::string(1, c) + ":\\WINDOWS";
    }
    OsVersion osVersion() override { return b.setup.os; }
    PowerSource powerSource() override { return {!b.setup.acPower, b.setup.batteryPercent}; }
    bool isWindows() override { return b.setup.windows; }
    int rescan(uint32_t* code) override {
        ++b.rescans;
        if (code != nullptr) *code = 0;
        if (b.setup.rescanFailsAt == 1 || b.setup.rescanFailsAt == 2) {
            if (code != nullptr) *code = 0x13;  // CR_FAILURE
            return b.setup.rescanFailsAt;
        }
        return 0;
    }
};

struct SimBench::Impl::KernelPart final : Kernel {
    Impl& b;
    explicit KernelPart(Impl& impl) : b(impl) {}
    std::string executablePath() override {
        if (!b.setup.executablePath.empty()) return b.setup.executablePath;
        return b.hostKernel != nullptr ? b.hostKernel->executablePath() : std::string();
    }
    int64_t executableListedSize() override {
        if (b.setup.executablePath.empty() && b.hostKernel != nullptr) {
            return b.hostKernel->executableListedSize();
        }
        return b.setup.executableSize;
    }
    // The bench's system, never the host's.
    bool runsElevated() override { return b.setup.elevated; }
    bool acquireSingleInstance(const char* name) override {
        if (b.hostKernel != nullptr) return b.hostKernel->acquireSingleInstance(name);
        return b.instances.insert(name != nullptr ? name : "").second;
    }
    void debugOutput(const char* text) override {
        if (b.debug.size() < kMaxDebugLines) b.debug.emplace_back(text != nullptr ? text : "");
        if (b.hostKernel != nullptr) b.hostKernel->debugOutput(text);
    }
    std::unique_ptr<NamedLock> openNamedLock(const char* name) override {
        if (b.hostKernel != nullptr) return b.hostKernel->openNamedLock(name);
        return std::make_unique<NoOpLock>();
    }
    std::string profileString(const std::string& section, const std::string& key,
                              const std::string& def, const std::string& path) override {
        if (b.hostKernel != nullptr) return b.hostKernel->profileString(section, key, def, path);
        return profileFileString(section, key, def, path);
    }
    int32_t profileInt(const std::string& section, const std::string& key, int32_t def,
                       const std::string& path) override {
        if (b.hostKernel != nullptr) return b.hostKernel->profileInt(section, key, def, path);
        return profileFileInt(section, key, def, path);
    }
    bool writeProfileString(const std::string& section, const std::string& key,
                            const std::string& value, const std::string& path) override {
        if (b.hostKernel != nullptr) {
            return b.hostKernel->writeProfileString(section, key, value, path);
        }
        return profileFileWrite(section, key, value, path);
    }
    // Never powers anything off, whatever the host: the request is only counted.
    int shutDownComputer() override {
        ++b.shutdowns;
        return 1;
    }
    // The configuration file lies where the host kernel puts it.
    std::string systemConfigurationPath() override {
        return b.hostKernel != nullptr ? b.hostKernel->systemConfigurationPath() : std::string();
    }
    bool folderTakesConfiguration(const std::string& folder) override {
        return b.hostKernel == nullptr || b.hostKernel->folderTakesConfiguration(folder);
    }
    // Only recorded, whatever the host.
    std::unique_ptr<PowerHold> holdOffSleep(const std::string& why) override;
    DeviceLockAttempt lockDevices() override;
};

DeviceLockAttempt SimBench::Impl::KernelPart::lockDevices() {
    if (b.hostKernel != nullptr) return b.hostKernel->lockDevices();
    struct Lock final : DeviceLock {
        Impl& bench;
        explicit Lock(Impl& i) : bench(i) {}
        ~Lock() override {
            std::lock_guard<std::recursive_mutex> guard(bench.mutex);
            bench.deviceLockHeld = false;
        }
    };
    std::lock_guard<std::recursive_mutex> guard(b.mutex);
    DeviceLockAttempt a;
    if (b.setup.deviceLock == SimBenchSpec::DeviceLockState::CannotBeMade) {
        a.state = DeviceLockAttempt::State::Unavailable;
        a.detail = "the bench's lock cannot be made";
    } else if (b.setup.deviceLock == SimBenchSpec::DeviceLockState::HeldByOther || b.deviceLockHeld) {
        a.state = DeviceLockAttempt::State::Busy;
        a.holderPid = b.setup.deviceLockHolder;
    } else {
        ++b.deviceLockTakes;
        b.deviceLockHeld = true;
        a.lock = std::make_unique<Lock>(b);
    }
    return a;
}

std::unique_ptr<PowerHold> SimBench::Impl::KernelPart::holdOffSleep(const std::string& why) {
    // The hold marks its record released when it goes.
    struct Hold final : PowerHold {
        Impl& bench;
        size_t index;
        Hold(Impl& b, size_t i) : bench(b), index(i) {}
        ~Hold() override {
            std::lock_guard<std::recursive_mutex> guard(bench.mutex);
            SimSleepHold& h = bench.sleepHolds.at(index);
            h.releasedAt = bench.calls.size();
            h.released = true;
        }
    };
    std::lock_guard<std::recursive_mutex> guard(b.mutex);
    if (b.setup.sleepHoldFails) return nullptr;
    b.sleepHolds.push_back({why, b.calls.size(), 0, false});
    return std::make_unique<Hold>(b, b.sleepHolds.size() - 1);
}

SimBench::Impl::Impl(SimBenchSpec s) : setup(std::move(s)) {
    clockPart = std::make_unique<ClockPart>(*this);
    devices = std::make_unique<Devices>(*this);
    system = std::make_unique<System>(*this);
    kernel = std::make_unique<KernelPart>(*this);
    sync();
}

// ---------------------------------------------------------------------------------------
DeviceHandle SimBench::Impl::open(const char* path, uint32_t access, uint32_t share) {
    std::lock_guard<std::recursive_mutex> guard(mutex);
    sync();
    if (path == nullptr) {
        lastError = kErrFileNotFound;
        return kInvalidDevice;
    }
    const std::string_view p(path);
    Handle h;
    h.access = access;
    h.share = share;
    h.path = path;
    for (size_t i = 0; i < setup.disks.size(); ++i) {
        if (!setup.disks[i].path.empty() && EqualNoCaseAscii(setup.disks[i].path, p)) {
            h.disk = static_cast<int>(i);
            break;
        }
    }
    if (h.disk < 0) {
        // A volume: "\\.\X:".
        if (p.size() == 6 && p.substr(0, 4) == "\\\\.\\" && p[5] == ':') {
            const char letter = UpperAscii(p[4]);
            bool known = UpperAscii(setup.systemLetter) == letter;
            for (const auto& d : setup.disks) {
                for (char v : d.volumes) known = known || UpperAscii(v) == letter;
            }
            if (known) h.volume = letter;
        }
        if (h.volume == 0) {
            lastError = kErrFileNotFound;
            return kInvalidDevice;
        }
    } else {
        const size_t d = static_cast<size_t>(h.disk);
        ++openCounts[d];
        if (!setup.disks[d].faults.empty()) {
            const FaultEffect e = collect(d, {"open"});
            advance(e.hangMs);
            if (e.failing != nullptr) {
                lastError = e.failing->lastError != 0 ? e.failing->lastError : kErrFileNotFound;
                return kInvalidDevice;
            }
        }
        // Sharing: an open that asks for access the holders do not share, or that refuses
        // to share what a holder has, is a sharing violation. Opens without read or write
        // access take part in neither.
        const uint32_t rw = AccessRead | AccessWrite;
        const auto conflicts = [&](uint32_t hAccess, uint32_t hShare) {
            if ((access & rw) == 0 || (hAccess & rw) == 0) return false;
            return ((access & AccessRead) && !(hShare & ShareRead)) ||
                   ((access & AccessWrite) && !(hShare & ShareWrite)) ||
                   ((hAccess & AccessRead) && !(share & ShareRead)) ||
                   ((hAccess & AccessWrite) && !(share & ShareWrite));
        };
        bool violation = false;
        const SimHold hold = setup.disks[d].heldByOther;
        if (hold != SimHold::None) {
            violation = conflicts(rw, hold == SimHold::Shared ? (ShareRead | ShareWrite) : 0u);
        }
        for (const auto& [id, other] : handles) {
            if (other.disk == h.disk) violation = violation || conflicts(other.access, other.share);
        }
        if (violation) {
            lastError = kErrSharingViolation;
            return kInvalidDevice;
        }
    }
    const DeviceHandle id = nextHandle++;
    handles.emplace(id, std::move(h));
    lastError = 0;
    return id;
}

void SimBench::Impl::close(DeviceHandle h) {
    std::lock_guard<std::recursive_mutex> guard(mutex);
    handles.erase(h);
}

bool SimBench::Impl::control(DeviceHandle id, uint32_t code, void* in, uint32_t inLen,
                             void* out, uint32_t outLen, uint32_t* bytesReturned) {
    std::lock_guard<std::recursive_mutex> guard(mutex);
    sync();
    if (bytesReturned != nullptr) *bytesReturned = 0;
    SimCall c;
    c.time = now();
    c.control = code;
    uint32_t ignored = 0;
    uint32_t* returned = bytesReturned != nullptr ? bytesReturned : &ignored;
    switch (code) {
        case kIoctlAtaPassThrough: c.kind = "ata"; break;
        case kIoctlScsiPassThroughDirect: c.kind = "scsi"; break;
        case kSmartRcvDriveData: c.kind = "smart"; break;
        case kIoctlStorageGetDeviceNumber: c.kind = "devnum"; break;
        default: c.kind = "other"; break;
    }
    const auto it = handles.find(id);
    bool ok = false;
    if (it == handles.end()) {
        ok = failCall(c, kErrInvalidHandle);
    } else {
        const Handle h = it->second;
        c.path = h.path;
        if (h.disk >= 0) advance(setup.disks[static_cast<size_t>(h.disk)].commandMs);
        switch (code) {
            case kIoctlAtaPassThrough: ok = ata(h, c, in, inLen, out, outLen, returned); break;
            case kIoctlScsiPassThroughDirect: ok = scsi(h, c, in, inLen, out, outLen, returned); break;
            case kSmartRcvDriveData: ok = smartRcv(h, c, in, inLen, out, outLen, returned); break;
            case kIoctlStorageGetDeviceNumber: ok = deviceNumber(h, c, out, outLen, returned); break;
            case kFsctlLockVolume:
            case kFsctlDismountVolume: ok = volumeControl(h, c, code); break;
            default: ok = failCall(c, kErrInvalidFunction); break;
        }
    }
    if (ok) {
        lastError = 0;
        c.result = true;
        c.lastError = 0;
    }
    finish(c);
    return ok;
}

bool SimBench::Impl::ata(const Handle& h, SimCall& c, void* in, uint32_t inLen, void* out,
                         uint32_t outLen, uint32_t* bytesReturned) {
    constexpr uint32_t kHeader = sizeof(AtaPassThroughEx);
    if (in == nullptr || out == nullptr || inLen < kHeader || outLen < kHeader) {
        return failCall(c, kErrInvalidParameter);
    }
    AtaPassThroughEx hdr;
    std::memcpy(&hdr, in, kHeader);
    recordAtaRequest(hdr, c);
    const bool flagIn = (hdr.AtaFlags & kAtaFlagsDataIn) != 0;
    const bool flagOut = (hdr.AtaFlags & kAtaFlagsDataOut) != 0;
    const DataDir dir = flagIn ? DataDir::In : flagOut ? DataDir::Out : DataDir::None;
    if (hdr.Length != kHeader || (flagIn && flagOut)) return failCall(c, kErrInvalidParameter);
    const uint32_t length = hdr.DataTransferLength;
    uint8_t* data = nullptr;
    if (length > 0) {
        const uint64_t offset = hdr.DataBufferOffset;
        const uint64_t room = flagIn ? outLen : inLen;
        if (dir == DataDir::None || offset < kHeader || offset + length > room) {
            return failCall(c, kErrInvalidParameter);
        }
        data = static_cast<uint8_t*>(flagIn ? out : in) + offset;
    }
    if ((h.access & (AccessRead | AccessWrite)) != (AccessRead | AccessWrite)) {
        return failCall(c, kErrAccessDenied);
    }
    const size_t disk = static_cast<size_t>(h.disk);
    if (h.disk < 0) return failCall(c, kErrInvalidFunction);
    const SimDiskSpec& ds = setup.disks[disk];
    if (ds.bus != SimBus::Ide && ds.bus != SimBus::Scsi) return failCall(c, kErrInvalidFunction);
    if (!ds.hasDrive) return failCall(c, kErrIoDevice);
    if (dir == DataDir::Out && data != nullptr && wantsDigest() &&
        !isPasswordCommand(c.taskFileIn[kRegCommand])) {
        c.dataSha256 = Sha256::hex(data, length);
    }
    std::array<uint8_t, 8> tf = c.taskFileIn;
    const AtaRun r = runAta(disk, {"call"}, tf, dir, data, length, false, hdr.TimeOutValue);
    if (!r.controlOk) return failCall(c, r.error);
    if (out != in) std::memmove(out, in, kHeader);
    std::memcpy(static_cast<uint8_t*>(out) + offsetof(AtaPassThroughEx, CurrentTaskFile), tf.data(), 8);
    // As the system does on an underrun, DataTransferLength comes back as the bytes moved.
    const uint32_t returnedLength = dir == DataDir::In ? std::min(r.moved, length) : length;
    std::memcpy(static_cast<uint8_t*>(out) + offsetof(AtaPassThroughEx, DataTransferLength),
                &returnedLength, sizeof(returnedLength));
    c.taskFileOut = tf;
    c.transferred = r.moved;
    *bytesReturned = kHeader + (dir == DataDir::In ? returnedLength : 0);
    return true;
}

bool SimBench::Impl::scsi(const Handle& h, SimCall& c, void* in, uint32_t inLen, void* out,
                          uint32_t outLen, uint32_t* bytesReturned) {
    constexpr uint32_t kHeader = sizeof(ScsiPassThroughDirect);
    if (in == nullptr || out == nullptr || inLen < kHeader || outLen < kHeader) {
        return failCall(c, kErrInvalidParameter);
    }
    ScsiPassThroughDirect hdr;
    std::memcpy(&hdr, in, kHeader);
    recordScsiRequest(hdr, c);
    const uint32_t length = hdr.DataTransferLength;
    if (hdr.Length != kHeader || hdr.CdbLength == 0 || hdr.CdbLength > 16) {
        return failCall(c, kErrInvalidParameter);
    }
    if (length > 0 && hdr.DataBuffer == nullptr) return failCall(c, kErrInvalidParameter);
    if (hdr.SenseInfoLength > 0 &&
        (hdr.SenseInfoOffset < kHeader ||
         uint64_t{hdr.SenseInfoOffset} + hdr.SenseInfoLength > outLen)) {
        return failCall(c, kErrInvalidParameter);
    }
    if ((h.access & (AccessRead | AccessWrite)) != (AccessRead | AccessWrite)) {
        return failCall(c, kErrAccessDenied);
    }
    if (h.disk < 0) return failCall(c, kErrInvalidFunction);
    const size_t disk = static_cast<size_t>(h.disk);
    const SimDiskSpec& ds = setup.disks[disk];
    auto* buffer = static_cast<uint8_t*>(hdr.DataBuffer);
    const uint8_t satCommand = hdr.Cdb[0] == 0xA1 ? hdr.Cdb[9] : hdr.Cdb[0] == 0x85 ? hdr.Cdb[14] : 0;
    if (length > 0 && hdr.DataIn != kScsiDataIn && wantsDigest() && !isPasswordCommand(satCommand)) {
        c.dataSha256 = Sha256::hex(buffer, length);
    }

    uint8_t status = kScsiStatusGood;
    std::vector<uint8_t> sense;
    uint32_t moved = 0;
    const auto check = [&](uint8_t key, uint8_t asc, uint8_t ascq,
                           const std::array<uint8_t, 8>* tf) {
        status = kScsiStatusCheckCondition;
        sense = makeSense(key, asc, ascq, tf);
    };
    const uint8_t op = hdr.Cdb[0];
    const std::string opKey = "scsi:" + hexByte(op);
    if (op == 0xA1 || op == 0x85) {
        const bool twelve = op == 0xA1;
        const uint8_t* cdb = hdr.Cdb;
        std::array<uint8_t, 8> tf{};
        if (twelve) {
            tf = {cdb[3], cdb[4], cdb[5], cdb[6], cdb[7], cdb[8], cdb[9], 0};
        } else {
            tf = {cdb[4], cdb[6], cdb[8], cdb[10], cdb[12], cdb[13], cdb[14], 0};
        }
        const uint8_t protocol = static_cast<uint8_t>((cdb[1] >> 1) & 0x0F);
        const uint8_t flags = cdb[2];
        DataDir dir = DataDir::None;
        bool valid = hdr.CdbLength >= (twelve ? 12 : 16);
        switch (protocol) {
            case 3: dir = DataDir::None; break;
            case 4: case 10: dir = DataDir::In; break;
            case 5: case 11: dir = DataDir::Out; break;
            case 6: case 12: dir = (flags & 0x08) ? DataDir::In : DataDir::Out; break;
            default: valid = false; break;
        }
        if (valid && dir != DataDir::None && length > 0) {
            valid = (dir == DataDir::In) == (hdr.DataIn == kScsiDataIn);
        }
        // storahci translates ATA PASS-THROUGH(16) only: its SCSI-to-ATA translation
        // (Windows-driver-samples, storage/miniports/storahci/src/common.c,
        // SrbConvertToATACommand) names SCSIOP_ATA_PASSTHROUGH16 and ends every other
        // operation code as an invalid request.
        const bool refusedByDriver = twelve && ds.bus == SimBus::Scsi && !setup.scsiAta12;
        if (!ds.passesAta || refusedByDriver) {
            if (!ds.faults.empty()) {
                const FaultEffect e = collect(disk, {opKey, "call"});
                advance(e.hangMs);
                if (e.failing && failsTheCall(*e.failing)) {
                    return failCall(c, failedCallError(*e.failing, hdr.TimeOutValue));
                }
            }
            check(0x05, 0x20, 0x00, nullptr);
        } else if (!ds.hasDrive) {
            check(0x02, 0x3A, 0x00, nullptr);
        } else if (!valid) {
            check(0x05, 0x24, 0x00, nullptr);
        } else {
            c.hasTaskFile = true;
            c.taskFileIn = tf;
            const AtaRun r = runAta(disk, {opKey, "call"}, tf, dir, buffer,
                                    dir == DataDir::None ? 0 : length, true, hdr.TimeOutValue);
            if (!r.controlOk) return failCall(c, r.error);
            c.taskFileOut = tf;
            moved = r.moved;
            if (r.checkCondition) {
                check(r.sense->senseKey, r.sense->asc, r.sense->ascq, nullptr);
            } else if (tf[kRegCommand] & kAtaStatusErr) {
                check(0x0B, 0x00, 0x00, &tf);
            } else if (flags & 0x20) {
                check(0x01, 0x00, 0x1D, &tf);  // CK_COND: ATA PASS-THROUGH INFORMATION AVAILABLE
            }
        }
    } else {
        FaultEffect e;
        if (!ds.faults.empty()) e = collect(disk, {opKey, "call"});
        advance(e.hangMs);
        if (e.failing != nullptr) {
            const SimFault& f = *e.failing;
            if (failsTheCall(f)) return failCall(c, failedCallError(f, hdr.TimeOutValue));
            if (f.kind == FaultKind::CheckCondition) {
                check(f.senseKey, f.asc, f.ascq, nullptr);
            } else {
                check(0x0B, 0x00, 0x00, nullptr);
            }
        } else if (op == 0x12) {
            const uint8_t* cdb = hdr.Cdb;
            if ((cdb[1] & 0x01) != 0 || (length > 0 && hdr.DataIn != kScsiDataIn)) {
                check(0x05, 0x24, 0x00, nullptr);
            } else {
                std::array<uint8_t, 96> inq{};
                const bool removable = ds.bus == SimBus::Usb || ds.bus == SimBus::Sbp2;
                const uint32_t total = std::min<uint32_t>(ds.inquiryLength, 96);
                inq[0] = 0x00;
                inq[1] = removable ? 0x80 : 0x00;
                inq[2] = 0x06;
                inq[3] = 0x02;
                inq[4] = static_cast<uint8_t>(total >= 5 ? total - 5 : 0);
                const auto put = [&inq](size_t at, size_t width, const std::string& text) {
                    for (size_t i = 0; i < width; ++i) {
                        inq[at + i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
                    }
                };
                put(8, 8, removable ? "Quorvex" : "ATA");
                put(16, 16, ds.hasDrive ? ds.drive.model : std::string("USB to SATA"));
                put(32, 4, ds.hasDrive ? drives[disk]->state().firmware : std::string("0001"));
                std::memcpy(inq.data() + 36, ds.inquiryCode.data(), 4);
                const uint32_t alloc = (uint32_t{cdb[3]} << 8) | cdb[4];
                moved = std::min({alloc, total, length});
                if (e.shortData != nullptr) moved = std::min(moved, e.shortData->bytes);
                if (moved > 0) std::memcpy(buffer, inq.data(), moved);
            }
        } else if (op == 0x00) {
            // TEST UNIT READY
            if (!ds.hasDrive) check(0x02, 0x3A, 0x00, nullptr);
        } else {
            check(0x05, 0x20, 0x00, nullptr);
        }
    }

    hdr.ScsiStatus = status;
    hdr.DataTransferLength = moved;
    const uint32_t senseOut = std::min<uint32_t>(hdr.SenseInfoLength, static_cast<uint32_t>(sense.size()));
    hdr.SenseInfoLength = static_cast<uint8_t>(senseOut);
    std::memcpy(out, &hdr, kHeader);
    if (senseOut > 0) std::memcpy(static_cast<uint8_t*>(out) + hdr.SenseInfoOffset, sense.data(), senseOut);
    c.scsiStatus = status;
    c.sense = sense;
    c.transferred = moved;
    *bytesReturned = senseOut > 0 ? hdr.SenseInfoOffset + senseOut : kHeader;
    return true;
}

bool SimBench::Impl::smartRcv(const Handle& h, SimCall& c, void* in, uint32_t inLen, void* out,
                              uint32_t outLen, uint32_t* bytesReturned) {
    c.direction = "in";
    if (in == nullptr || out == nullptr || inLen < kSmartRequestLength || outLen < kSmartAnswerLength) {
        return failCall(c, kErrInvalidParameter);
    }
    SendCmdInParams p{};
    std::memcpy(&p, in, kSmartRequestLength);
    recordSmartRequest(p, c);
    c.length = 512;
    std::array<uint8_t, 8> tf = c.taskFileIn;
    const uint8_t cmd = tf[kRegCommand];
    const bool smartRead = cmd == 0xB0 && (tf[kRegFeatures] == 0xD0 || tf[kRegFeatures] == 0xD1);
    if (cmd != 0xEC && !smartRead) return failCall(c, kErrInvalidParameter);
    if ((h.access & (AccessRead | AccessWrite)) != (AccessRead | AccessWrite)) {
        return failCall(c, kErrAccessDenied);
    }
    if (h.disk < 0) return failCall(c, kErrInvalidFunction);
    const size_t disk = static_cast<size_t>(h.disk);
    const SimDiskSpec& ds = setup.disks[disk];
    if (ds.bus != SimBus::Ide && ds.bus != SimBus::Scsi) return failCall(c, kErrInvalidFunction);
    if (!ds.hasDrive) return failCall(c, kErrIoDevice);
    auto* answer = static_cast<uint8_t*>(out);
    // The request has no time-out of its own; the disk driver's is 10 seconds.
    const AtaRun r = runAta(disk, {"smart:" + hexByte(cmd), "call"}, tf, DataDir::In, answer + 16,
                            512, false, 10);
    if (!r.controlOk) return failCall(c, r.error);
    const bool error = (tf[kRegCommand] & kAtaStatusErr) != 0;
    SendCmdOutParams head{};
    head.cBufferSize = error ? 0 : r.moved;
    head.DriverStatus.bDriverError = error ? 1 : 0;  // SMART_IDE_ERROR
    head.DriverStatus.bIDEError = error ? tf[0] : 0;
    std::memcpy(answer, &head, 16);
    c.taskFileOut = tf;
    c.driverError = head.DriverStatus.bDriverError;
    c.transferred = r.moved;
    *bytesReturned = 16 + r.moved;
    return true;
}

// FSCTL_LOCK_VOLUME and FSCTL_DISMOUNT_VOLUME on a volume handle. A lock fails with
// ERROR_ACCESS_DENIED while files are open on the volume (the disk's `busy-volumes`), as
// the file systems answer it; a dismount always succeeds.
bool SimBench::Impl::volumeControl(const Handle& h, SimCall& c, uint32_t code) {
    c.direction = "none";
    if (h.volume == 0) return failCall(c, kErrInvalidFunction);
    if (code != kFsctlLockVolume) return true;
    if (UpperAscii(setup.systemLetter) == h.volume) return failCall(c, kErrAccessDenied);
    for (const auto& d : setup.disks) {
        for (const char v : d.busyVolumes) {
            if (UpperAscii(v) == h.volume) return failCall(c, kErrAccessDenied);
        }
    }
    return true;
}

bool SimBench::Impl::deviceNumber(const Handle& h, SimCall& c, void* out, uint32_t outLen,
                                  uint32_t* bytesReturned) {
    c.direction = "in";
    c.length = outLen;
    if (out == nullptr || outLen < sizeof(StorageDeviceNumber)) {
        return failCall(c, kErrInsufficientBuffer);
    }
    StorageDeviceNumber n{kFileDeviceDisk, 0, 0};
    if (h.disk >= 0) {
        const size_t disk = static_cast<size_t>(h.disk);
        if (!setup.disks[disk].faults.empty()) {
            const FaultEffect e = collect(disk, {"devnum", "call"});
            advance(e.hangMs);
            if (e.failing != nullptr) return failCall(c, failedCallError(*e.failing, 10));
        }
        n.DeviceNumber = static_cast<uint32_t>(disk);
    } else {
        // A volume of a bench disk, or the system volume of a disk the bench does not list.
        n.DeviceNumber = static_cast<uint32_t>(setup.disks.size());
        n.PartitionNumber = 1;
        for (size_t d = 0; d < setup.disks.size(); ++d) {
            const auto& v = setup.disks[d].volumes;
            for (size_t k = 0; k < v.size(); ++k) {
                if (UpperAscii(v[k]) == h.volume) {
                    n.DeviceNumber = static_cast<uint32_t>(d);
                    n.PartitionNumber = static_cast<uint32_t>(k + 1);
                    d = setup.disks.size() - 1;
                    break;
                }
            }
        }
    }
    std::memcpy(out, &n, sizeof n);
    c.deviceNumber = {n.DeviceType, n.DeviceNumber, n.PartitionNumber};
    c.transferred = sizeof n;
    *bytesReturned = sizeof n;
    return true;
}

// ---------------------------------------------------------------------------------------
SimBench::SimBench(SimBenchSpec setup) : impl_(std::make_unique<Impl>(std::move(setup))) {}
SimBench::~SimBench() = default;

std::unique_ptr<SimBench> SimBench::demo() {
    std::string error;
    auto bench = fromText(demoBenchText(), error);
    return bench;
}

std::unique_ptr<SimBench> SimBench::fromText(const std::string& text, std::string& error) {
    SimBenchSpec setup;
    if (!parseBenchText(text, setup, error)) return nullptr;
    error.clear();
    return std::make_unique<SimBench>(std::move(setup));
}

std::unique_ptr<SimBench> SimBench::fromFile(const std::string& path, std::string& error) {
    constexpr int64_t kMaxFile = 1 << 20;
    BinaryFile f(path);
    if (!f.isOpen()) {
        error = "cannot open bench file '" + path + "'";
        return nullptr;
    }
    const int64_t size = f.size();
    if (size < 0 || size > kMaxFile) {
        error = "bench file '" + path + "' is larger than 1 MiB";
        return nullptr;
    }
    std::string text(static_cast<size_t>(size), '\0');
    if (!f.seek(0) || f.read(text.data(), text.size()) != text.size()) {
        error = "cannot read bench file '" + path + "'";
        return nullptr;
    }
    auto bench = fromText(text, error);
    if (!bench) error = path + ": " + error;
    return bench;
}

std::unique_ptr<SimBench> SimBench::fromSetting(const std::string& value, std::string& error) {
    if (value == "sim") return demo();
    if (value.rfind("sim:", 0) == 0 && value.size() > 4) return fromFile(value.substr(4), error);
    error = "unknown device setting '" + value + "' (expected sim or sim:PATH)";
    return nullptr;
}

Platform SimBench::platform(Kernel* hostKernel, Clock* hostClock) {
    std::lock_guard<std::recursive_mutex> guard(impl_->mutex);
    impl_->hostKernel = hostKernel;
    impl_->hostClock = hostClock;
    Platform p;
    p.clock = impl_->clockPart.get();
    p.devices = impl_->devices.get();
    p.system = impl_->system.get();
    p.kernel = impl_->kernel.get();
    return p;
}

VirtualClock& SimBench::clock() { return impl_->vclock; }

int SimBench::deviceLockTakes() const { return impl_->deviceLockTakes; }
bool SimBench::deviceLockHeld() const { return impl_->deviceLockHeld; }

void SimBench::setTracePath(const std::string& path) {
    std::lock_guard<std::recursive_mutex> guard(impl_->mutex);
    if (impl_->trace != nullptr) {
        std::fclose(impl_->trace);
        impl_->trace = nullptr;
    }
    if (!path.empty()) impl_->trace = std::fopen(path.c_str(), "ab");
}

const std::vector<SimCall>& SimBench::calls() const { return impl_->calls; }
void SimBench::clearCalls() { impl_->calls.clear(); }
void SimBench::setRecordCalls(bool on) { impl_->record = on; }

SimDriveState& SimBench::driveState(size_t diskIndex) {
    impl_->sync();
    if (diskIndex >= impl_->drives.size()) return impl_->noDrive;
    return impl_->drives[diskIndex]->state();
}

SimBenchSpec& SimBench::setup() { return impl_->setup; }

int SimBench::openCount(size_t diskIndex) const {
    return diskIndex < impl_->openCounts.size() ? impl_->openCounts[diskIndex] : 0;
}
int SimBench::openHandles() const { return static_cast<int>(impl_->handles.size()); }
int SimBench::rescanCount() const { return impl_->rescans; }

const std::vector<std::string>& SimBench::debugOutput() const { return impl_->debug; }
int SimBench::shutdownRequests() const { return impl_->shutdowns; }
const std::vector<SimSleepHold>& SimBench::sleepHolds() const { return impl_->sleepHolds; }

void SimBench::useRealClock(bool on) {
    std::lock_guard<std::recursive_mutex> guard(impl_->mutex);
    impl_->realClock = on;
}

// ---------------------------------------------------------------------------------------
std::string WindowsErrorText(uint32_t code) {
    switch (code) {
        case 1: return "Incorrect function.";
        case 2: return "The system cannot find the file specified.";
        case 3: return "The system cannot find the path specified.";
        case 5: return "Access is denied.";
        case 6: return "The handle is invalid.";
        case 21: return "The device is not ready.";
        case 31: return "A device attached to the system is not functioning.";
        case 32: return "The process cannot access the file because it is being used by another process.";
        case 50: return "The request is not supported.";
        case 87: return "The parameter is incorrect.";
        case 121: return "The semaphore timeout period has expired.";
        case 122: return "The data area passed to a system call is too small.";
        case 1117: return "The request could not be performed because of an I/O device error.";
        case 1167: return "The device is not connected.";
        default: return {};
    }
}

std::array<uint8_t, 64> makeBuildInfo(std::string_view text, uint8_t option) {
    std::array<uint8_t, 64> b{};
    std::memcpy(b.data(), text.data(), std::min<size_t>(63, text.size()));
    b[63] = option;
    return b;
}

std::array<uint8_t, 512> makeSmartData(const std::vector<SmartEntry>& entries) {
    std::array<uint8_t, 512> s{};
    s[0] = 0x10;
    for (size_t i = 0; i < entries.size() && i < 30; ++i) {
        uint8_t* e = s.data() + 2 + 12 * i;
        e[0] = entries[i].id;
        e[1] = 0x32;
        e[3] = entries[i].current;
        e[4] = entries[i].worst;
        for (size_t k = 0; k < 6; ++k) e[5 + k] = static_cast<uint8_t>(entries[i].raw >> (8 * k));
    }
    uint8_t sum = 0;
    for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + s[i]);
    s[511] = static_cast<uint8_t>(0x100 - sum);
    return s;
}

std::array<uint8_t, 512> makeSmartThresholds(const std::vector<std::pair<uint8_t, uint8_t>>& t) {
    std::array<uint8_t, 512> s{};
    s[0] = 0x10;
    for (size_t i = 0; i < t.size() && i < 30; ++i) {
        s[2 + 12 * i] = t[i].first;
        s[3 + 12 * i] = t[i].second;
    }
    uint8_t sum = 0;
    for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + s[i]);
    s[511] = static_cast<uint8_t>(0x100 - sum);
    return s;
}

}  // namespace qx::sim
