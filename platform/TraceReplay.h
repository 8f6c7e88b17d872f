// The replay back-end of QXUPDATER_DEVICES=replay:PATH: a device I/O, a system source and a
// virtual clock that answer every call from a recorded trace (docs/trace.md), and fail a
// call the trace does not hold with a diagnostic that names it.
//
// A call is matched by its request (control, path, registers or CDB, direction, length, the
// digest of the data written); equal requests take the recorded answers in trace order. A
// system query takes its recorded answers in order and repeats the last one.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimTrace.h"

namespace qx {

// A trace read back.
struct TraceLog {
    std::vector<sim::SimCall> calls;                  // control lines, in file order
    std::vector<std::size_t> callLines;               // their line numbers (1-based)
    std::vector<sim::TraceSystemAnswer> system;       // system lines, in file order
    std::vector<std::pair<std::string, uint32_t>> openFailures;  // path, last error
    std::map<uint32_t, std::string> errorTexts;  // the recorded system's text per error code
};

// Limits of a trace read back: anything beyond is refused, never read.
constexpr std::size_t kMaxTraceBytes = std::size_t{256} << 20;
constexpr std::size_t kMaxTraceLine = std::size_t{1} << 20;
constexpr std::size_t kMaxTraceRecords = std::size_t{1} << 22;

// Reads the lines of a trace. False with "line N: what is wrong" for a line that is not a
// JSON object or holds a field of the wrong type or size; lines of kinds it does not know
// (neither a control call, an open nor a system query) are passed over.
bool ParseTrace(std::string_view text, TraceLog& log, std::string& error);

class TraceReplay {
public:
    explicit TraceReplay(TraceLog log);
    ~TraceReplay();
    TraceReplay(const TraceReplay&) = delete;
    TraceReplay& operator=(const TraceReplay&) = delete;

    // Null with `error` set when the file cannot be read or is not a trace.
    static std::unique_ptr<TraceReplay> fromFile(const std::string& path, std::string& error);

    DeviceIo& devices();
    SystemInfoSource& system();
    VirtualClock& clock() { return clock_; }

    // Where diagnostics go (standard error when not set); all of them are also kept.
    void setDiagnostics(std::function<void(const std::string&)> sink) { sink_ = std::move(sink); }
    const std::vector<std::string>& diagnostics() const { return diagnostics_; }

private:
    struct Devices;
    struct System;
    void diagnose(const std::string& text);

    TraceLog log_;
    VirtualClock clock_;
    std::map<std::string, std::vector<std::size_t>> byRequest_;   // key -> call indices
    std::map<std::string, std::size_t> nextOfRequest_;
    std::map<std::string, std::vector<std::size_t>> systemByQuery_;
    std::map<std::string, std::size_t> nextOfQuery_;
    std::map<std::string, std::size_t> openFailuresLeft_;         // lower-cased path
    std::map<std::string, bool> knownPaths_;
    std::function<void(const std::string&)> sink_;
    std::vector<std::string> diagnostics_;
    std::unique_ptr<Devices> devices_;
    std::unique_ptr<System> system_;
};

}  // namespace qx
