// The recording decorators of QXUPDATER_TRACE (TraceRecorder.h).
#include "platform/TraceRecorder.h"

#include "platform/TraceCodec.h"
#include "platform/BinaryFile.h"
#include "platform/sim/SimTrace.h"

namespace qx {

struct TraceRecorder::Devices final : DeviceIo {
    TraceRecorder& r;
    explicit Devices(TraceRecorder& recorder) : r(recorder) {}

    DeviceHandle open(const char* path, uint32_t access, uint32_t share) override {
        const DeviceHandle h = r.innerDevices_.open(path, access, share);
        const std::string p = path != nullptr ? path : "";
        if (h == kInvalidDevice) {
            const uint32_t error = r.innerDevices_.lastError();
            r.write(sim::formatOpenFailureLine(r.clock_.tickCount(), p, error,
                                               r.innerDevices_.errorText(error)));
        } else {
            std::lock_guard<std::mutex> guard(r.mutex_);
            r.paths_[h] = p;
        }
        return h;
    }
    void close(DeviceHandle h) override {
        {
            std::lock_guard<std::mutex> guard(r.mutex_);
            r.paths_.erase(h);
        }
        r.innerDevices_.close(h);
    }
    bool control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                 uint32_t outLen, uint32_t* bytesReturned) override {
        sim::SimCall c;
        {
            std::lock_guard<std::mutex> guard(r.mutex_);
            const auto it = r.paths_.find(h);
            if (it != r.paths_.end()) c.path = it->second;
        }
        TraceBuffers b;
        DecodeTraceRequest(code, in, inLen, out, outLen, c, b);
        const uint32_t start = r.clock_.tickCount();
        c.time = start;
        uint32_t returned = 0;
        const bool ok = r.innerDevices_.control(h, code, in, inLen, out, outLen, &returned);
        if (bytesReturned != nullptr) *bytesReturned = returned;
        c.elapsedMs = r.clock_.tickCount() - start;
        c.result = ok;
        c.lastError = ok ? 0 : r.innerDevices_.lastError();
        if (!ok) c.lastErrorText = r.innerDevices_.errorText(c.lastError);
        CaptureTraceAnswer(b, out, outLen, returned, c);
        r.write(sim::formatTraceLine(c));
        return ok;
    }
    uint32_t lastError() override { return r.innerDevices_.lastError(); }
    std::string errorText(uint32_t code) override { return r.innerDevices_.errorText(code); }
};

struct TraceRecorder::System final : SystemInfoSource {
    TraceRecorder& r;
    explicit System(TraceRecorder& recorder) : r(recorder) {}

    void record(const sim::TraceSystemAnswer& a) { r.write(sim::formatSystemLine(r.clock_.tickCount(), a)); }

    std::optional<std::vector<std::string>> diskInterfaces() override {
        auto paths = r.innerSystem_.diskInterfaces();
        sim::TraceSystemAnswer a;
        a.query = "diskInterfaces";
        a.ok = paths.has_value();
        if (paths) a.paths = *paths;
        record(a);
        return paths;
    }
    uint32_t logicalDrives() override {
        sim::TraceSystemAnswer a;
        a.query = "logicalDrives";
        a.mask = r.innerSystem_.logicalDrives();
        record(a);
        return a.mask;
    }
    std::string windowsDirectory() override {
        sim::TraceSystemAnswer a;
        a.query = "windowsDirectory";
        a.text = r.innerSystem_.windowsDirectory();
        record(a);
        return a.text;
    }
    OsVersion osVersion() override {
        sim::TraceSystemAnswer a;
        a.query = "osVersion";
        a.os = r.innerSystem_.osVersion();
        record(a);
        return a.os;
    }
    // Not recorded: a replay answers mains power.
    PowerSource powerSource() override { return r.innerSystem_.powerSource(); }
    int rescan(uint32_t* code) override {
        sim::TraceSystemAnswer a;
        a.query = "rescan";
        uint32_t c = 0;
        a.step = r.innerSystem_.rescan(&c);
        a.code = c;
        if (code != nullptr) *code = c;
        record(a);
        return a.step;
    }
    // Not recorded: the system's own answers; the device calls they make are.
    bool isWindows() override { return r.innerSystem_.isWindows(); }
    std::optional<DiskClaimResult> claimForErase(const std::string& path) override {
        return r.innerSystem_.claimForErase(path);
    }
};

TraceRecorder::TraceRecorder(std::FILE* file, DeviceIo& devices, SystemInfoSource& system, Clock& clock)
    : file_(file), innerDevices_(devices), innerSystem_(system), clock_(clock) {
    devices_ = std::make_unique<Devices>(*this);
    system_ = std::make_unique<System>(*this);
}

TraceRecorder::~TraceRecorder() {
    if (file_ != nullptr) std::fclose(file_);
}

std::unique_ptr<TraceRecorder> TraceRecorder::open(const std::string& path, DeviceIo& devices,
                                                   SystemInfoSource& system, Clock& clock,
                                                   std::string& error) {
    std::FILE* f = OpenForAppending(path);
    if (f == nullptr) {
        error = "QXUPDATER_TRACE=" + path + ": the trace file cannot be opened for appending";
        return nullptr;
    }
    return std::unique_ptr<TraceRecorder>(new TraceRecorder(f, devices, system, clock));
}

DeviceIo& TraceRecorder::devices() { return *devices_; }
SystemInfoSource& TraceRecorder::system() { return *system_; }

void TraceRecorder::write(const std::string& line) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

}  // namespace qx
