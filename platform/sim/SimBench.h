// The simulated drive bench: drives, bridges, volumes and the system itself behind the
// same platform seam as the real back-ends. Used by tests, benchmarks and the demo.
//
// A bench is described by a SimBenchSpec (built in code, parsed from a bench file, or the
// built-in demo bench). Every control call is recorded (calls()) and can be traced as one
// JSON line (docs/trace.md). The bench file format is described in docs/bench-file.md.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace qx::sim {

// What goes wrong with a command. A fault matches a command by its key and fires at the
// given occurrence of that key on its disk (1-based; 0 = every occurrence). Keys:
//   "open"            opening the disk path
//   "devnum"          IOCTL_STORAGE_GET_DEVICE_NUMBER on the disk
//   "ata:XX"          an ATA command with command byte XX (hex) reaching the drive through the
//                     ATA pass-through or an ATA PASS-THROUGH CDB; "ata:XX/FF" only with
//                     features FF (e.g. "ata:ef/dc", "ata:b0/d0")
//   "scsi:XX"         a SCSI pass-through whose CDB starts with XX ("scsi:12", "scsi:a1")
//   "smart:XX"        SMART_RCV_DRIVE_DATA with command register XX ("smart:ec")
//   "vendor-write"    the vendor command sector write (0x88/0x8F at LBA 0x1234FF)
//   "vendor-read"     the vendor answer sector read (0x86/0x8A at LBA 0x1234FF)
//   "vendor:XX"       a vendor data phase with sub-opcode XX (LBA 0x1234XX)
//   "call"            every control call on the disk, in order (the N-th call of a run)
enum class FaultKind {
    OpenFails,        // the device path does not open (lastError `lastError`, default 2)
    ControlFails,     // the control call itself fails (lastError `lastError`, default 1117)
    AtaError,         // status 0x51 with ERR set, error register = `errorReg`
    Hang,             // the command takes `ms` more milliseconds on the clock, then completes
    CheckCondition,   // SCSI: CHECK CONDITION with sense key/ASC/ASCQ (ATA paths: ATA error)
    ShortData,        // data-in delivers only `bytes` bytes (rest of the host area untouched)
    TimeOut,          // the system gives up: the call takes the request's time-out and one
                      // second more on the clock, then fails with ERROR_SEM_TIMEOUT (121);
                      // the drive never carries the command out
};

struct SimFault {
    std::string key;          // see above, lower-case hex
    int occurrence = 0;
    FaultKind kind = FaultKind::ControlFails;
    uint8_t errorReg = 0x04;  // ABRT
    uint32_t ms = 0;
    uint8_t senseKey = 0x05, asc = 0x24, ascq = 0x00;
    uint32_t bytes = 0;
    uint32_t lastError = 0;   // OpenFails / ControlFails; 0 = the default code
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

    // Controller information record (maker controllers). `buildInfo` and `firmware` are the
    // starting values: a successful download changes the drive state, not the setup.
    std::array<uint8_t, 64> buildInfo{};
    uint8_t pageSizeCode = 1;
    std::array<uint16_t, 4> systemBlocks = {0x10, 0x11, 0x20, 0x21};
    int signatureBlock = 0;               // index of the system block whose page is valid; -1 none
    // false: a downloaded image is written to flash, but the controller goes on running the
    // old firmware (IDENTIFY and the record show it) until the drive is powered off and on,
    // as ATA DOWNLOAD MICROCODE allows ("activate at next power-up").
    bool newFirmwareAtOnce = true;

    // Security (master password erase): IDENTIFY word 82 bit 1 and word 128 bit 0
    // (supported), bit 3 (frozen), bit 4 (attempt count expired). Frozen, expired or
    // unsupported security aborts SECURITY ERASE PREPARE and UNIT.
    std::string masterPassword = "QXMASTER";
    bool securitySupported = true;
    bool securityFrozen = false;
    bool securityAttemptsExpired = false;
    // IDENTIFY word 89, the drive's estimate of a normal erase (0: none given), and the time
    // SECURITY ERASE UNIT takes on the clock. An erase that takes longer than the request's
    // time-out is given up by the system after the time-out and one second more (error 121,
    // ERROR_SEM_TIMEOUT), while the drive goes on and erases.
    uint16_t eraseTimeWord = 0;
    uint32_t eraseMs = 0;

    // SMART sectors.
    std::array<uint8_t, 512> smartData{};
    std::array<uint8_t, 512> smartThresholds{};
};

enum class SimBus { Ide, Scsi, Usb, Sbp2, Other };

// Another process holding the disk open (for the sharing rules of open).
enum class SimHold { None, Shared, Exclusive };

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
    // Volumes that something holds files open on: FSCTL_LOCK_VOLUME on them fails with
    // ERROR_ACCESS_DENIED (5).
    std::vector<char> busyVolumes;
    uint32_t commandMs = 1;      // time each control call takes on the clock
    SimHold heldByOther = SimHold::None;
    std::vector<SimFault> faults;
};

struct SimBenchSpec {
    OsVersion os{true, true, 6, 2, 0};
    char systemLetter = 'C';     // the volume that holds the Windows directory
    bool enumerationFails = false;
    int rescanFailsAt = 0;       // 0: rescan works; 1 locate fails; 2 re-enumerate fails
    std::string executablePath;  // empty: the host kernel's path (or empty)
    int64_t executableSize = -1; // the executable's size as the file system lists it; -1 unknown
    bool sleepHoldFails = false; // the kernel refuses to hold off sleep and shutdown
    bool elevated = true;        // false: the process runs without administrator rights
    // false: the SCSI pass-through to disks on SCSI paths refuses ATA PASS-THROUGH(12), as
    // Windows' inbox AHCI driver (storahci) does: it translates only ATA PASS-THROUGH(16).
    bool scsiAta12 = true;
    bool acPower = true;         // mains power; false: the computer runs on its battery
    int batteryPercent = -1;     // the system battery's charge; -1: no battery
    // The device lock of a bench without a host kernel (a bench with one takes the host's
    // lock keyed to its file): free, held by another process (`deviceLockHolder`: its id,
    // 0 when the system does not tell), or impossible to make.
    enum class DeviceLockState { Free, HeldByOther, CannotBeMade };
    DeviceLockState deviceLock = DeviceLockState::Free;
    int64_t deviceLockHolder = 0;
    bool windows = true;         // the system stands for Windows (SystemInfoSource::isWindows)
    // The system froze the security of every directly attached drive (ide and scsi paths,
    // not USB or SBP-2) when it started, as Windows' inbox storage drivers do.
    bool securityFreezeAtStart = false;
    std::vector<SimDiskSpec> disks;
};

// One control call as the bench saw it (also the source of a trace line).
struct SimCall {
    uint64_t time = 0;           // clock milliseconds when the call started
    uint32_t elapsedMs = 0;      // time the call took on the clock
    std::string path;
    uint32_t control = 0;
    std::string kind;            // "ata", "scsi", "smart", "devnum", "other"
    // Request header fields as sent.
    uint32_t headerLength = 0;   // Length (ata, scsi) / cBufferSize (smart)
    uint16_t ataFlags = 0;
    uint64_t dataBufferOffset = 0;
    uint8_t targetId = 0;
    uint8_t senseInfoLength = 0;
    uint32_t senseInfoOffset = 0;
    uint8_t driveNumber = 0;     // smart
    bool hasTaskFile = false;    // ata, smart, and SCSI ATA PASS-THROUGH that reached a drive
    std::array<uint8_t, 8> taskFileIn{}, taskFileOut{};
    std::array<uint8_t, 16> cdb{};
    uint8_t cdbLength = 0;
    uint8_t dataIn = 0;          // scsi: the DataIn field
    std::string direction;       // "none", "in", "out"
    uint32_t length = 0;         // data length requested
    uint32_t transferred = 0;    // data bytes moved
    uint32_t timeout = 0;        // seconds
    bool result = false;         // the control call's own result
    uint32_t lastError = 0;
    std::string lastErrorText;   // the system's text for lastError (empty when none known)
    uint8_t scsiStatus = 0;
    std::vector<uint8_t> sense;  // sense bytes returned (scsi)
    uint8_t driverError = 0;     // smart
    std::array<uint32_t, 3> deviceNumber{};  // devnum: type, number, partition
    std::string dataSha256;      // of data written to the device, empty otherwise
    // Filled by the trace recorder of the real back-ends (platform/TraceRecorder.h) and by a
    // trace read back; the bench leaves them at their defaults.
    std::vector<uint8_t> readData;  // data read from the device
    bool hasReturned = false;       // `returned` holds the bytes the call returned
    uint32_t returned = 0;
    bool taskFileOutKnown = true;   // false: the call does not hand back the registers
    uint8_t ideError = 0;           // smart: bIDEError of the answer
};

// One hold on sleep and shutdown taken through the bench's kernel. The positions count the
// control calls recorded in calls() before the hold was taken and before it was released.
struct SimSleepHold {
    std::string why;
    size_t takenAt = 0;
    size_t releasedAt = 0;
    bool released = false;
};

// The observable state of one simulated drive after commands.
struct SimDriveState {
    bool vendorMode = false;
    std::string firmware;                 // what IDENTIFY now reports
    std::array<uint8_t, 64> buildInfo{};
    std::vector<uint8_t> downloaded;      // bytes collected by DOWNLOAD MICROCODE (or installed)
    int downloadCommands = 0;
    bool firmwareUpdated = false;
    int downloadRejections = 0;
    std::string downloadVerdict;          // "", "installed", or why the image was rejected
    bool erased = false;
    int eraseCount = 0;
    bool erasePrepared = false;
    bool frozenBySystem = false;          // the system froze its security at start
    uint64_t commandCount = 0;            // ATA commands that reached the drive
};

class SimBench {
public:
    explicit SimBench(SimBenchSpec setup);
    ~SimBench();
    SimBench(const SimBench&) = delete;
    SimBench& operator=(const SimBench&) = delete;

    // The built-in demo bench, a bench file, or an error text ("line N: ...").
    static std::unique_ptr<SimBench> demo();
    static std::unique_ptr<SimBench> fromFile(const std::string& path, std::string& error);
    static std::unique_ptr<SimBench> fromText(const std::string& text, std::string& error);
    // The value of QXUPDATER_DEVICES: "sim" (demo) or "sim:PATH" (bench file). Anything
    // else gives null with an error text. The caller applies QXUPDATER_TRACE itself.
    static std::unique_ptr<SimBench> fromSetting(const std::string& value, std::string& error);

    // The platform parts served by the bench: clock, devices, system, kernel.
    // With a host kernel, the bench kernel forwards single instance, named locks, debugger
    // output, profile functions, the configuration file's place and (when the setup gives
    // none) the executable path to it; the power-off and sleep holds are always only
    // recorded. With a host clock, the bench runs on it
    // (commands and hangs then take real time); otherwise on its own clock.
    Platform platform(Kernel* hostKernel = nullptr, Clock* hostClock = nullptr);
    VirtualClock& clock();

    // Trace: one JSON line per control call appended to this file (empty: none).
    void setTracePath(const std::string& path);

    const std::vector<SimCall>& calls() const;
    void clearCalls();
    // Recording into calls() (on by default; at most 1,048,576 calls are kept).
    void setRecordCalls(bool on);
    SimDriveState& driveState(size_t diskIndex);
    SimBenchSpec& setup();

    // Opens of a disk path so far (successful or not), and handles open now.
    int openCount(size_t diskIndex) const;
    int openHandles() const;
    int rescanCount() const;

    // Kernel side effects.
    const std::vector<std::string>& debugOutput() const;
    int shutdownRequests() const;
    // Device locks taken through the bench's own kernel (no host kernel), and whether one
    // is held now.
    int deviceLockTakes() const;
    bool deviceLockHeld() const;
    // Every hold on sleep and shutdown, in the order taken; never forwarded to the host.
    const std::vector<SimSleepHold>& sleepHolds() const;

    // Use the real clock instead of the virtual one (the demo).
    void useRealClock(bool on);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------------------------------
// Helpers for building setups in code.

// The 64-byte BuildInfo block: the text NUL-filled to byte 62, then the option byte.
std::array<uint8_t, 64> makeBuildInfo(std::string_view text, uint8_t option = 0);

// One SMART attribute entry: id, 48-bit raw value (raw byte 0 = lowest byte).
struct SmartEntry {
    uint8_t id = 0;
    uint64_t raw = 0;
    uint8_t current = 100;
    uint8_t worst = 100;
};
// A SMART data sector (revision 0x0010, entries in order, checksum in byte 511).
std::array<uint8_t, 512> makeSmartData(const std::vector<SmartEntry>& entries);
// A SMART thresholds sector: (id, threshold) pairs.
std::array<uint8_t, 512> makeSmartThresholds(const std::vector<std::pair<uint8_t, uint8_t>>& t);

// The text Windows gives for the system error codes the bench reports (FormatMessage,
// English); empty for a code it does not know.
std::string WindowsErrorText(uint32_t code);

// The bench file parser (docs/bench-file.md). False with "line N: ..." on bad input.
bool parseBenchText(const std::string& text, SimBenchSpec& setup, std::string& error);
// The text of the built-in demo bench.
const char* demoBenchText();

}  // namespace qx::sim
