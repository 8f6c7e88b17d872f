// The simulated drive bench: drives, bridges, volumes and the system itself behind the
// same platform seam as the real back-ends. Used by tests, benchmarks and the demo.
//
// A bench is described by a SimBenchSpec (built in code, parsed from a bench file, or the
// built-in demo bench). Every control call can be traced as one JSON line.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qx::sim {

// What goes wrong with a command. A fault matches a command by its key (see SimCommandKey)
// and fires at the given occurrence of that key (1-based; 0 = every occurrence).
enum class FaultKind {
    OpenFails,        // the device path does not open
    ControlFails,     // the control call itself fails (lastError set)
    AtaError,         // status with ERR set, error register = `errorReg`
    Hang,             // the command takes `ms` milliseconds on the virtual clock
    CheckCondition,   // SCSI: CHECK CONDITION with the given sense key/ASC/ASCQ
    ShortData,        // data-in delivers only `bytes` bytes (rest untouched)
};

struct SimFault {
    std::string key;          // e.g. "ata:ec", "ata:92", "scsi:12", "smart:ec", "vendor:86"
    int occurrence = 0;
    FaultKind kind = FaultKind::ControlFails;
    uint8_t errorReg = 0x04;  // ABRT
    uint32_t ms = 0;
    uint8_t senseKey = 0x05, asc = 0x24, ascq = 0x00;
    uint32_t bytes = 0;
};

enum class ControllerKind { Maker, Foreign, HardDisk };

struct SimDriveSpec {
    ControllerKind controller = ControllerKind::Maker;
    std::string model = "QX SSD";
    std::string serial = "QX0000000001";
    std::string firmware = "1.00";
    uint32_t sectors28 = 250069680;       // words 60-61
    uint64_t sectors48 = 250069680;       // words 100-103
    uint16_t rotationRate = 1;            // word 217
    std::array<uint16_t, 4> wwn = {0x5000, 0x0000, 0x0000, 0x0001};

    // Controller information record (maker controllers).
    std::array<uint8_t, 64> buildInfo{};
    uint8_t pageSizeCode = 1;
    std::array<uint16_t, 4> systemBlocks = {0x10, 0x11, 0x20, 0x21};
    int signatureBlock = 0;               // index of the system block whose page is valid; -1 none

    // Security (master password erase).
    std::string masterPassword = "QXMASTER";
    bool securityFrozen = false;

    // SMART sectors.
    std::array<uint8_t, 512> smartData{};
    std::array<uint8_t, 512> smartThresholds{};
};

enum class SimBus { Ide, Scsi, Usb, Sbp2, Other };

struct SimDiskSpec {
    std::string path;            // device interface path as the system lists it
    SimBus bus = SimBus::Ide;
    bool hasDrive = true;        // false: an empty enclosure or a device without ATA drive
    SimDriveSpec drive;
    // USB / SBP-2 enclosures: bytes 36-39 of the INQUIRY answer, and whether the bridge
    // passes ATA PASS-THROUGH(12) on to the drive.
    std::array<uint8_t, 4> inquiryCode = {'n', 'o', 'n', 'e'};
    uint32_t inquiryLength = 40;
    bool passesAta = true;
    std::vector<char> volumes;   // drive letters of its volumes
    uint32_t commandMs = 1;      // virtual time each command takes
    std::vector<SimFault> faults;
};

struct SimBenchSpec {
    OsVersion os{true, true, 6, 2, 0};
    char systemLetter = 'C';     // the volume that holds the Windows directory
    bool enumerationFails = false;
    int rescanFailsAt = 0;       // 0: rescan works; 1 locate fails; 2 re-enumerate fails
    std::string executablePath;  // empty: the real executable path
    std::vector<SimDiskSpec> disks;
};

// One control call as the bench saw it (also the source of a trace line).
struct SimCall {
    std::string path;
    uint32_t control = 0;
    std::string kind;            // "ata", "scsi", "smart", "devnum"
    std::array<uint8_t, 8> taskFileIn{}, taskFileOut{};
    std::array<uint8_t, 16> cdb{};
    uint8_t cdbLength = 0;
    uint16_t ataFlags = 0;
    uint8_t dataIn = 0;
    uint32_t length = 0;
    uint32_t timeout = 0;
    bool result = false;
    uint8_t scsiStatus = 0;
    std::string dataSha256;      // of data written to the device, empty otherwise
};

// The observable state of one simulated drive after commands.
struct SimDriveState {
    bool vendorMode = false;
    std::string firmware;                 // what IDENTIFY now reports
    std::array<uint8_t, 64> buildInfo{};
    std::vector<uint8_t> downloaded;      // blocks collected by DOWNLOAD MICROCODE
    int downloadCommands = 0;
    bool firmwareUpdated = false;
    bool erased = false;
    int eraseCount = 0;
    bool erasePrepared = false;
};

class SimBench {
public:
    explicit SimBench(SimBenchSpec spec);
    ~SimBench();

    // The built-in demo bench, a bench file, or an error text.
    static std::unique_ptr<SimBench> demo();
    static std::unique_ptr<SimBench> fromFile(const std::string& path, std::string& error);
    static std::unique_ptr<SimBench> fromText(const std::string& text, std::string& error);

    // The platform parts served by the bench (clock, devices, system, kernel).
    Platform platform();
    VirtualClock& clock();

    // Trace: one JSON line per control call appended to this file (empty: none).
    void setTracePath(const std::string& path);

    const std::vector<SimCall>& calls() const;
    void clearCalls();
    SimDriveState& driveState(size_t diskIndex);
    SimBenchSpec& spec();

    // Kernel side effects.
    const std::vector<std::string>& debugOutput() const;
    int shutdownRequests() const;

    // Use the real clock instead of the virtual one (the demo).
    void useRealClock(bool on);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qx::sim
