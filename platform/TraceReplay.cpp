// Reading a trace back and answering from it (TraceReplay.h).
#include "platform/TraceReplay.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <limits>

#include "platform/DeviceIoctl.h"
#include "platform/WinErrorCodes.h"
#include "platform/TraceCodec.h"
#include "platform/Ascii.h"
#include "platform/BinaryFile.h"

namespace qx {

namespace {

using Json = nlohmann::json;

constexpr uint32_t kErrNotInTrace = kErrNotSupported;  // the trace holds no answer
constexpr std::size_t kMaxData = std::size_t{1} << 17;  // more than any one transfer
constexpr std::size_t kMaxPaths = 4096;
constexpr std::size_t kMaxText = 4096;

// Field readers: a missing field keeps the default; a field of the wrong type or beyond its
// bounds is an error.
class Fields {
public:
    explicit Fields(const Json& j) : j_(j) {}
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    bool has(const char* key) const { return j_.contains(key); }

    template <typename T>
    void number(const char* key, T& v, const Json* from = nullptr) {
        const Json& o = from != nullptr ? *from : j_;
        if (!o.contains(key)) return;
        const Json& x = o[key];
        if (!x.is_number_unsigned() || x.get<uint64_t>() > std::numeric_limits<T>::max()) {
            fail(key, "is not a number within range");
            return;
        }
        v = static_cast<T>(x.get<uint64_t>());
    }
    void boolean(const char* key, bool& v) {
        if (!j_.contains(key)) return;
        if (!j_[key].is_boolean()) return fail(key, "is not true or false");
        v = j_[key].get<bool>();
    }
    void text(const char* key, std::string& v, std::size_t maxLength = kMaxText) {
        if (!j_.contains(key)) return;
        if (!j_[key].is_string()) return fail(key, "is not a text");
        const auto& s = j_[key].get_ref<const std::string&>();
        if (s.size() > maxLength) return fail(key, "is too long");
        v = s;
    }
    // Hex bytes: exactly `exact` bytes, or at most `maxBytes` when exact is 0.
    void hex(const char* key, uint8_t* dst, std::size_t exact, std::size_t maxBytes,
             std::vector<uint8_t>* grow = nullptr) {
        std::string s;
        text(key, s, 2 * std::max(exact, maxBytes));
        if (!j_.contains(key) || !ok()) return;
        if (s.size() % 2 != 0 || (exact != 0 && s.size() != 2 * exact)) return fail(key, "has the wrong length");
        for (std::size_t i = 0; i < s.size(); i += 2) {
            const int hi = HexDigitValue(s[i]), lo = HexDigitValue(s[i + 1]);
            if (hi < 0 || lo < 0) return fail(key, "is not hexadecimal");
            const auto byte = static_cast<uint8_t>((hi << 4) | lo);
            if (grow != nullptr) {
                grow->push_back(byte);
            } else {
                dst[i / 2] = byte;
            }
        }
    }
    void base64(const char* key, std::vector<uint8_t>& out) {
        std::string s;
        text(key, s, (kMaxData + 2) / 3 * 4);
        if (!j_.contains(key) || !ok()) return;
        if (s.size() % 4 != 0) return fail(key, "is not base64");
        out.clear();
        out.reserve(s.size() / 4 * 3);
        for (std::size_t i = 0; i < s.size(); i += 4) {
            int v[4];
            int pad = 0;
            for (int k = 0; k < 4; ++k) {
                const char ch = s[i + static_cast<std::size_t>(k)];
                if (ch == '=' && i + 4 == s.size() && k >= 2) {
                    v[k] = 0;
                    ++pad;
                } else {
                    v[k] = sextet(ch);
                    if (v[k] < 0 || pad > 0) return fail(key, "is not base64");
                }
            }
            const uint32_t n = (uint32_t(v[0]) << 18) | (uint32_t(v[1]) << 12) | (uint32_t(v[2]) << 6) | uint32_t(v[3]);
            out.push_back(static_cast<uint8_t>(n >> 16));
            if (pad < 2) out.push_back(static_cast<uint8_t>(n >> 8));
            if (pad < 1) out.push_back(static_cast<uint8_t>(n));
        }
    }
    void fail(const char* key, const char* what) {
        if (error_.empty()) error_ = std::string("field ") + key + " " + what;
    }

private:
    static int sextet(char ch) {
        if (ch >= 'A' && ch <= 'Z') return ch - 'A';
        if (ch >= 'a' && ch <= 'z') return ch - 'a' + 26;
        if (ch >= '0' && ch <= '9') return ch - '0' + 52;
        if (ch == '+') return 62;
        if (ch == '/') return 63;
        return -1;
    }
    const Json& j_;
    std::string error_;
};

uint32_t controlCode(const std::string& name, const std::string& code, bool& ok) {
    ok = true;
    if (name == "IOCTL_ATA_PASS_THROUGH") return kIoctlAtaPassThrough;
    if (name == "IOCTL_SCSI_PASS_THROUGH_DIRECT") return kIoctlScsiPassThroughDirect;
    if (name == "SMART_RCV_DRIVE_DATA") return kSmartRcvDriveData;
    if (name == "IOCTL_STORAGE_GET_DEVICE_NUMBER") return kIoctlStorageGetDeviceNumber;
    if (code.size() > 2 && code.size() <= 10 && code.rfind("0x", 0) == 0) {
        uint32_t v = 0;
        for (std::size_t i = 2; i < code.size(); ++i) {
            const char ch = code[i];
            int d = -1;
            if (ch >= '0' && ch <= '9') d = ch - '0';
            if (ch >= 'a' && ch <= 'f') d = ch - 'a' + 10;
            if (d < 0) break;
            v = (v << 4) | static_cast<uint32_t>(d);
        }
        return v;
    }
    ok = false;
    return 0;
}

bool readCall(const Json& j, sim::SimCall& c, std::string& error) {
    Fields f(j);
    std::string name, code;
    f.text("control", name, 64);
    f.text("code", code, 16);
    bool known = false;
    const uint32_t control = controlCode(name, code, known);
    if (!known) f.fail("control", "names no control call");
    f.number("time", c.time);
    f.number("elapsedMs", c.elapsedMs);
    f.text("path", c.path);
    f.text("direction", c.direction, 8);
    f.number("length", c.length);
    f.number("timeout", c.timeout);
    f.boolean("result", c.result);
    f.number("lastError", c.lastError);
    f.text("lastErrorText", c.lastErrorText, 1024);
    // A trace that does not say what an ATA call moved counts it as whole, as traces of
    // earlier versions meant.
    if (f.has("transferred")) {
        f.number("transferred", c.transferred);
    } else if (control == kIoctlAtaPassThrough) {
        c.transferred = c.length;
    }
    f.number("scsiStatus", c.scsiStatus);
    f.hex("sense", nullptr, 0, 255, &c.sense);
    f.number("driverError", c.driverError);
    f.number("ideError", c.ideError);
    f.number("deviceType", c.deviceNumber[0]);
    f.number("deviceNumber", c.deviceNumber[1]);
    f.number("partitionNumber", c.deviceNumber[2]);
    if (f.has("returned")) {
        c.hasReturned = true;
        f.number("returned", c.returned);
    }
    f.base64("data", c.readData);
    f.text("dataSha256", c.dataSha256, 64);
    if (f.has("taskFileIn")) {
        c.hasTaskFile = true;
        f.hex("taskFileIn", c.taskFileIn.data(), 8, 8);
    }
    c.taskFileOutKnown = f.has("taskFileOut");
    f.hex("taskFileOut", c.taskFileOut.data(), 8, 8);
    if (f.has("cdb")) {
        std::vector<uint8_t> cdb;
        f.hex("cdb", nullptr, 0, 16, &cdb);
        std::copy(cdb.begin(), cdb.end(), c.cdb.begin());
        c.cdbLength = static_cast<uint8_t>(cdb.size());
    }
    if (f.has("request")) {
        if (!j["request"].is_object()) {
            f.fail("request", "is not an object");
        } else {
            const Json& r = j["request"];
            f.number("bDriveNumber", c.driveNumber, &r);
            f.number("AtaFlags", c.ataFlags, &r);
        }
    }
    c.control = control;
    switch (control) {
        case kIoctlAtaPassThrough: c.kind = "ata"; break;
        case kIoctlScsiPassThroughDirect: c.kind = "scsi"; break;
        case kSmartRcvDriveData: c.kind = "smart"; break;
        case kIoctlStorageGetDeviceNumber: c.kind = "devnum"; break;
        default: c.kind = "other"; break;
    }
    if (c.direction != "in" && c.direction != "out" && c.direction != "none") f.fail("direction", "is not in, out or none");
    if (c.readData.size() > kMaxData) f.fail("data", "is too long");
    error = f.error();
    return f.ok();
}

bool readSystem(const Json& j, sim::TraceSystemAnswer& a, std::string& error) {
    Fields f(j);
    f.text("query", a.query, 32);
    if (a.query == "diskInterfaces") {
        f.boolean("result", a.ok);
        if (f.has("paths")) {
            const Json& p = j["paths"];
            if (!p.is_array() || p.size() > kMaxPaths) {
                f.fail("paths", "is not a list of at most 4096 paths");
            } else {
                for (const Json& one : p) {
                    if (!one.is_string() || one.get_ref<const std::string&>().size() > kMaxText) {
                        f.fail("paths", "holds an entry that is not a path");
                        break;
                    }
                    a.paths.push_back(one.get<std::string>());
                }
            }
        }
    } else if (a.query == "logicalDrives") {
        f.number("mask", a.mask);
    } else if (a.query == "windowsDirectory") {
        f.text("text", a.text);
    } else if (a.query == "osVersion") {
        f.boolean("extendedOk", a.os.extendedOk);
        f.boolean("basicOk", a.os.basicOk);
        f.number("major", a.os.major);
        f.number("minor", a.os.minor);
        f.number("servicePackMajor", a.os.servicePackMajor);
    } else if (a.query == "rescan") {
        uint32_t step = 0;
        f.number("step", step);
        a.step = step > 2 ? 2 : static_cast<int>(step);
        f.number("code", a.code);
    } else {
        f.fail("query", "names no system query");
    }
    error = f.error();
    return f.ok();
}

}  // namespace

bool ParseTrace(std::string_view text, TraceLog& log, std::string& error) {
    log = TraceLog{};
    error.clear();
    if (text.size() > kMaxTraceBytes) {
        error = "the trace is larger than 256 MiB";
        return false;
    }
    std::size_t lineNumber = 0, records = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (line.size() > kMaxTraceLine) {
            error = where + "longer than 1 MiB";
            return false;
        }
        if (++records > kMaxTraceRecords) {
            error = where + "more than 4194304 records";
            return false;
        }
        const Json j = Json::parse(line.begin(), line.end(), nullptr, false);
        if (j.is_discarded() || !j.is_object()) {
            error = where + "not a JSON object";
            return false;
        }
        std::string what;
        if (j.contains("control")) {
            sim::SimCall c;
            if (!readCall(j, c, what)) {
                error = where + what;
                return false;
            }
            if (!c.lastErrorText.empty()) log.errorTexts[c.lastError] = c.lastErrorText;
            log.calls.push_back(std::move(c));
            log.callLines.push_back(lineNumber);
        } else if (j.contains("event") && j["event"] == "system") {
            sim::TraceSystemAnswer a;
            if (!readSystem(j, a, what)) {
                error = where + what;
                return false;
            }
            log.system.push_back(std::move(a));
        } else if (j.contains("event") && j["event"] == "open") {
            Fields f(j);
            std::string path;
            uint32_t lastError = kErrFileNotFound;
            std::string errorText;
            f.text("path", path);
            f.number("lastError", lastError);
            f.text("lastErrorText", errorText, 1024);
            if (!f.ok()) {
                error = where + f.error();
                return false;
            }
            if (!errorText.empty()) log.errorTexts[lastError] = errorText;
            log.openFailures.emplace_back(path, lastError);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------
struct TraceReplay::Devices final : DeviceIo {
    TraceReplay& r;
    std::map<DeviceHandle, std::string> open_;
    DeviceHandle next_ = 0x200;
    uint32_t lastError_ = 0;
    explicit Devices(TraceReplay& replay) : r(replay) {}

    DeviceHandle open(const char* path, uint32_t, uint32_t) override {
        const std::string p = path != nullptr ? path : "";
        const std::string key = LowerAscii(p);
        auto failures = r.openFailuresLeft_.find(key);
        const bool known = r.knownPaths_.count(key) != 0;
        // A path the trace saw failing to open and never using fails again.
        if (failures != r.openFailuresLeft_.end() && failures->second > 0 && !known) {
            --failures->second;
            lastError_ = kErrFileNotFound;
            for (const auto& [fp, code] : r.log_.openFailures) {
                if (LowerAscii(fp) == key) lastError_ = code;
            }
            return kInvalidDevice;
        }
        if (!known) {
            r.diagnose("replay: the trace holds no call on " + p + ": the open fails");
            lastError_ = kErrFileNotFound;
            return kInvalidDevice;
        }
        const DeviceHandle h = next_++;
        open_[h] = p;
        lastError_ = 0;
        return h;
    }
    void close(DeviceHandle h) override { open_.erase(h); }
    bool control(DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                 uint32_t outLen, uint32_t* bytesReturned) override {
        if (bytesReturned != nullptr) *bytesReturned = 0;
        const auto it = open_.find(h);
        if (it == open_.end()) {
            lastError_ = kErrInvalidHandle;
            return false;
        }
        sim::SimCall request;
        request.path = it->second;
        TraceBuffers b;
        DecodeTraceRequest(code, in, inLen, out, outLen, request, b);
        const std::string key = TraceRequestKey(request);
        const auto found = r.byRequest_.find(key);
        std::size_t& next = r.nextOfRequest_[key];
        if (found == r.byRequest_.end() || next >= found->second.size()) {
            const std::string why = found == r.byRequest_.end()
                                        ? "the trace holds no such call"
                                        : "the trace's " + std::to_string(found->second.size()) +
                                              " answers to it are used up";
            r.diagnose("replay: " + DescribeTraceRequest(request) + ": " + why);
            lastError_ = kErrNotInTrace;
            return false;
        }
        const sim::SimCall& answer = r.log_.calls[found->second[next++]];
        r.clock_.advance(answer.elapsedMs);
        if (!answer.result) {
            lastError_ = answer.lastError != 0 ? answer.lastError : kErrNotInTrace;
            return false;
        }
        const uint32_t n = ApplyTraceAnswer(answer, request, b, in, inLen, out, outLen);
        if (bytesReturned != nullptr) *bytesReturned = n;
        lastError_ = 0;
        return true;
    }
    uint32_t lastError() override { return lastError_; }
    // The text the recorded system gave for the code, when the trace holds it.
    std::string errorText(uint32_t code) override {
        const auto it = r.log_.errorTexts.find(code);
        return it != r.log_.errorTexts.end() ? it->second : std::string();
    }
};

struct TraceReplay::System final : SystemInfoSource {
    TraceReplay& r;
    explicit System(TraceReplay& replay) : r(replay) {}

    const sim::TraceSystemAnswer* take(const char* query) {
        const auto found = r.systemByQuery_.find(query);
        if (found == r.systemByQuery_.end() || found->second.empty()) {
            r.diagnose(std::string("replay: the trace holds no answer to the system query ") + query);
            return nullptr;
        }
        std::size_t& next = r.nextOfQuery_[query];
        const std::size_t index = found->second[std::min(next, found->second.size() - 1)];
        ++next;
        return &r.log_.system[index];
    }
    std::optional<std::vector<std::string>> diskInterfaces() override {
        const auto* a = take("diskInterfaces");
        if (a == nullptr || !a->ok) return std::nullopt;
        return a->paths;
    }
    uint32_t logicalDrives() override {
        const auto* a = take("logicalDrives");
        return a != nullptr ? a->mask : 0;
    }
    std::string windowsDirectory() override {
        const auto* a = take("windowsDirectory");
        return a != nullptr ? a->text : std::string();
    }
    OsVersion osVersion() override {
        const auto* a = take("osVersion");
        return a != nullptr ? a->os : OsVersion{};
    }
    int rescan(uint32_t* code) override {
        const auto* a = take("rescan");
        if (code != nullptr) *code = a != nullptr ? a->code : 0;
        return a != nullptr ? a->step : 2;
    }
};

TraceReplay::TraceReplay(TraceLog log) : log_(std::move(log)) {
    for (std::size_t i = 0; i < log_.calls.size(); ++i) {
        byRequest_[TraceRequestKey(log_.calls[i])].push_back(i);
        knownPaths_[LowerAscii(log_.calls[i].path)] = true;
    }
    for (std::size_t i = 0; i < log_.system.size(); ++i) systemByQuery_[log_.system[i].query].push_back(i);
    for (const auto& [path, code] : log_.openFailures) ++openFailuresLeft_[LowerAscii(path)];
    devices_ = std::make_unique<Devices>(*this);
    system_ = std::make_unique<System>(*this);
}

TraceReplay::~TraceReplay() = default;

std::unique_ptr<TraceReplay> TraceReplay::fromFile(const std::string& path, std::string& error) {
    BinaryFile f(path);
    if (!f.isOpen()) {
        error = "cannot open the trace '" + path + "'";
        return nullptr;
    }
    const int64_t size = f.size();
    if (size < 0 || static_cast<uint64_t>(size) > kMaxTraceBytes) {
        error = "the trace '" + path + "' is larger than 256 MiB";
        return nullptr;
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!f.seek(0) || f.read(text.data(), text.size()) != text.size()) {
        error = "cannot read the trace '" + path + "'";
        return nullptr;
    }
    TraceLog log;
    if (!ParseTrace(text, log, error)) {
        error = path + ": " + error;
        return nullptr;
    }
    return std::make_unique<TraceReplay>(std::move(log));
}

DeviceIo& TraceReplay::devices() { return *devices_; }
SystemInfoSource& TraceReplay::system() { return *system_; }

void TraceReplay::diagnose(const std::string& text) {
    if (diagnostics_.size() < 10000) diagnostics_.push_back(text);
    if (sink_) {
        sink_(text);
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}

}  // namespace qx
