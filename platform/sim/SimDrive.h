// The simulated drive: the ATA command set a drive of the bench answers. It honours what
// the utility relies on in a drive: the returned task file and status, IDENTIFY DEVICE, the
// maker controller's vendor mode and answer sector, the controller information record and
// system pages, DOWNLOAD MICROCODE with offsets, the security erase pair and SMART.
// The bench's device I/O decodes the request structures and hands the registers here.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/AtaString.h"
#include "platform/sim/SimBench.h"

namespace qx::sim {

enum class DataDir : uint8_t { None, In, Out };

// Task-file byte positions (IDEREGS order).
enum : size_t { kRegFeatures = 0, kRegCount, kRegLbaLow, kRegLbaMid, kRegLbaHigh, kRegDevice,
                kRegCommand, kRegReserved };

constexpr uint8_t kStatusGood = 0x50;   // DRDY | DSC
constexpr uint8_t kStatusError = 0x51;  // DRDY | DSC | ERR
constexpr uint8_t kErrorAbort = 0x04;   // ABRT

constexpr uint32_t kSystemInfoBytes = 4096;
constexpr uint32_t kMaxImageBytes = 163840;  // the image area of a package slot
constexpr uint32_t kMinImageBytes = 834;     // up to the BuildInfo block, marker and checksum

class SimDrive {
public:
    // The setup is read live (it must outlive the drive); the firmware revision and the
    // BuildInfo are copied into the state, where a successful download changes them.
    explicit SimDrive(const SimDriveSpec& setup);
    void rebind(const SimDriveSpec& setup) { spec_ = &setup; }

    // Runs one ATA command. `taskFile` holds the eight IDEREGS bytes sent and receives the
    // registers returned (byte 0 error, byte 6 status 0x50 or 0x51). `data` is the host's data
    // area of `length` bytes: filled for DataDir::In, read for DataDir::Out. Returns the number
    // of bytes moved.
    uint32_t execute(std::array<uint8_t, 8>& taskFile, DataDir dir, uint8_t* data,
                     uint32_t length);

    const SimDriveSpec& setup() const { return *spec_; }
    SimDriveState& state() { return state_; }
    const SimDriveState& state() const { return state_; }

    // What the drive would answer, for tests and the benchmark.
    std::array<uint8_t, 512> identifyData() const;
    std::array<uint8_t, kSystemInfoBytes> systemInfo() const;
    // The system page found at (block unit, byte offset), 4,096 bytes.
    std::array<uint8_t, 4096> systemPage(uint32_t blockUnit, uint32_t byteOffset) const;

private:
    struct Outcome {
        bool ok = true;
        uint8_t error = 0;
        uint32_t moved = 0;
    };
    static Outcome fail(uint8_t error = kErrorAbort) { return {false, error, 0}; }

    Outcome identify(DataDir dir, uint8_t* data, uint32_t length);
    Outcome setFeatures(const std::array<uint8_t, 8>& tf);
    Outcome vendorWrite(const std::array<uint8_t, 8>& tf, DataDir dir, const uint8_t* data,
                        uint32_t length);
    Outcome vendorRead(const std::array<uint8_t, 8>& tf, DataDir dir, uint8_t* data,
                       uint32_t length);
    Outcome download(const std::array<uint8_t, 8>& tf, DataDir dir, const uint8_t* data,
                     uint32_t length);
    Outcome finishDownload(uint32_t lastBlock);
    bool securityRefused() const;
    Outcome erasePrepare();
    Outcome eraseUnit(DataDir dir, const uint8_t* data, uint32_t length);
    Outcome smart(const std::array<uint8_t, 8>& tf, DataDir dir, uint8_t* data,
                  uint32_t length);

    const SimDriveSpec* spec_;
    SimDriveState state_;
    std::array<uint8_t, 8> firmwareField_{};  // IDENTIFY words 23-26 as reported
    std::array<uint8_t, 16> pendingBlock_{};  // the VendorCmdBlock of the last command sector
    bool hasPending_ = false;
    std::vector<bool> received_;              // download blocks received so far
};

// An ATA string field as the bench reads it back: NULs at its end pad like blanks.
inline std::string readAtaString(const uint8_t* field, size_t width) {
    return ReadAtaString(field, width, AtaNul::PadsEnd);
}

}  // namespace qx::sim
