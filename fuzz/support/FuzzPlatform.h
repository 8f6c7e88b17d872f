// A platform whose every device answer comes from the fuzz input: the drive or bridge at
// the other end of each control call is whatever the fuzzer makes of it. Each call takes
// its fate (failed call, returned registers, SCSI status, sense bytes, how much data came
// back, the data itself) from the input in the order the calls are made; an exhausted
// input answers with a successful call and zero bytes. Installed as the process platform
// for its lifetime, on a virtual clock.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qx::fuzz {

class FuzzPlatform {
public:
    FuzzPlatform(const uint8_t* data, size_t size);
    ~FuzzPlatform();
    FuzzPlatform(const FuzzPlatform&) = delete;
    FuzzPlatform& operator=(const FuzzPlatform&) = delete;

    FuzzedDataProvider& input() { return input_; }
    VirtualClock& clock() { return clock_; }

    // What the system reports; set by the target before it runs the code under test.
    std::vector<std::string> disks;
    uint32_t logicalDrives = 0;
    OsVersion os{true, true, 6, 1, 0};

    // Control calls made so far.
    uint64_t calls() const { return calls_; }

private:
    class Devices;
    class System;
    class Kernel;

    FuzzedDataProvider input_;
    VirtualClock clock_;
    uint64_t calls_ = 0;
    Devices* devices_;
    System* system_;
    Kernel* kernel_;
    Platform previous_;
};

// Makes inputs for FuzzPlatform from a run over a bench that behaves like real drives
// (the seed corpora): every answer of the wrapped DeviceIo is stored in the order and form
// FuzzPlatform reads it back. FuzzedDataProvider takes byte runs from the front of the
// input and integers from its end, so the recorder keeps the two apart.
class InputRecorder {
public:
    explicit InputRecorder(DeviceIo& inner);
    ~InputRecorder();
    InputRecorder(const InputRecorder&) = delete;
    InputRecorder& operator=(const InputRecorder&) = delete;

    // The DeviceIo to install in place of the inner one.
    DeviceIo& devices();
    // What ConsumeBytes will return, and an integer of `bytes` bytes (ConsumeIntegral,
    // ConsumeIntegralInRange with a range that fits, ConsumeBool).
    void bytes(const uint8_t* data, size_t size);
    void integral(uint64_t value, size_t bytes = 1);
    std::vector<uint8_t> input() const;

private:
    class Devices;
    Devices* devices_;
    std::vector<uint8_t> front_;
    std::vector<uint8_t> back_;  // in the order it is consumed, i.e. from the end
};

// The process-wide tables of the core back to their starting state (drive table, slots,
// SMART data, system information), so one input does not depend on the one before.
void ResetCoreState();

// A file of the target's own in a folder made by mkdtemp, rewritten for every input.
class ScratchFile {
public:
    explicit ScratchFile(const char* name);
    ~ScratchFile();
    const std::string& path() const { return path_; }
    // Replaces the contents: `size` bytes at `offset` (the bytes before it read as zeros;
    // the file is sparse). False when the file cannot be written.
    bool write(const uint8_t* data, size_t size, uint64_t offset = 0);

private:
    std::string dir_;
    std::string path_;
};

}  // namespace qx::fuzz
