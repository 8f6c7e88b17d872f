// qxvmcheck: run by scripts/ci-vm.sh inside a virtual machine whose disks are QEMU's. For every
// disk the system lists it sends the commands the procedures send, through the core's own
// transports and the Linux back-end's SG_IO, and prints one JSON line per command:
//
//   IDENTIFY DEVICE, SMART READ DATA, one block of DOWNLOAD MICROCODE (mode 3) and SECURITY
//   ERASE PREPARE, each once on the ATA path (IOCTL_ATA_PASS_THROUGH, sent as ATA
//   PASS-THROUGH(16)) and once on the SCSI path (the ATA PASS-THROUGH(12) block as it is),
//   and the standard INQUIRY and the unit serial number page on the SCSI path;
//
// with the core's verdict (`result`, `success`) beside what the kernel answered at the SG_IO
// level (status, host and driver status, residue, sense bytes, the data read) and what the
// control call returned (registers, SCSI status, sense). tests/vm/check_vm.py judges them.
//
// Two more runs check what the erase and every command rely on, and send nothing to a disk:
//
//   --in-vm --hold-lock FIFO   takes the device lock through the core's own
//                              Kernel::lockDevices, prints "QXLOCK {...}", and holds it until
//                              a line arrives on FIFO (another qxupdater-cli runs meanwhile);
//   --in-vm --claim NAME       the erase's hold on disk NAME (sdX) through the core's own
//                              LinuxSystem::claimForErase, once with the mount table and once
//                              without it (the kernel's O_EXCL alone); a granted claim is held
//                              while a second O_EXCL open of the disk is tried. "QXCLAIM {...}"
//                              lines.
//
// DOWNLOAD MICROCODE and a security command go to every disk, so the program refuses to run
// unless the kernel was started with the word qxvm=1 (ci-vm.sh's command line) and it is
// given --in-vm: it must never meet a real drive.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "QXLib/MicroCode.h"
#include "QXLib/SenseData.h"
#include "QXLib/Smart.h"
#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "platform/DeviceIoctl.h"
#include "platform/HostPlatform.h"
#include "platform/linux/LinuxDevices.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/LinuxSystem.h"

namespace {

using nlohmann::json;

std::string hex(const uint8_t* p, std::size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    s.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        s.push_back(digits[p[i] >> 4]);
        s.push_back(digits[p[i] & 15]);
    }
    return s;
}

// SG_IO as the kernel answers it, every request and answer kept for the command's line.
class RecordingSgIo final : public qx::SgIo {
public:
    int sgIo(int fd, sg_io_hdr_t& h) override {
        const int rc = ::ioctl(fd, SG_IO, &h) == 0 ? 0 : errno;
        json r;
        r["cdb"] = hex(h.cmdp, h.cmd_len);
        r["ioctlErrno"] = rc;
        if (rc == 0) {
            r["status"] = h.status;
            r["hostStatus"] = h.host_status;
            r["driverStatus"] = h.driver_status;
            r["resid"] = h.resid;
            r["sense"] = hex(h.sbp, std::min<std::size_t>(h.sb_len_wr, h.mx_sb_len));
            if (h.dxfer_direction == SG_DXFER_FROM_DEV && h.dxferp != nullptr) {
                r["data"] = hex(static_cast<const uint8_t*>(h.dxferp), h.dxfer_len);
            }
        }
        records.push_back(std::move(r));
        return rc;
    }
    std::vector<json> records;
};

// The device I/O in front of the Linux back-end: what each control call handed back to the
// transport.
class ControlTap final : public qx::DeviceIo {
public:
    explicit ControlTap(qx::DeviceIo& inner) : inner_(inner) {}
    qx::DeviceHandle open(const char* path, uint32_t access, uint32_t share) override {
        return inner_.open(path, access, share);
    }
    void close(qx::DeviceHandle h) override { inner_.close(h); }
    uint32_t lastError() override { return inner_.lastError(); }

    bool control(qx::DeviceHandle h, uint32_t code, void* in, uint32_t inLen, void* out,
                 uint32_t outLen, uint32_t* bytesReturned) override {
        const bool ok = inner_.control(h, code, in, inLen, out, outLen, bytesReturned);
        json c;
        c["code"] = code;
        c["result"] = ok;
        c["lastError"] = inner_.lastError();
        if (ok && code == qx::kIoctlAtaPassThrough && outLen >= sizeof(qx::AtaPassThroughEx)) {
            qx::AtaPassThroughEx a;
            std::memcpy(&a, out, sizeof(a));
            c["taskFileOut"] = hex(a.CurrentTaskFile, 8);
            c["transferred"] = a.DataTransferLength;
        } else if (ok && code == qx::kIoctlScsiPassThroughDirect &&
                   outLen >= sizeof(qx::ScsiPassThroughDirect)) {
            qx::ScsiPassThroughDirect s;
            std::memcpy(&s, out, sizeof(s));
            c["scsiStatus"] = s.ScsiStatus;
            c["transferred"] = s.DataTransferLength;
            const std::size_t senseLength = s.SenseInfoLength;
            if (senseLength > 0 && uint64_t{s.SenseInfoOffset} + senseLength <= outLen) {
                const auto* sense = static_cast<const uint8_t*>(out) + s.SenseInfoOffset;
                c["sense"] = hex(sense, senseLength);
                if (const auto d = qx::DecodeSenseData(sense, senseLength)) {
                    c["senseKey"] = d->senseKey;
                    c["asc"] = d->asc;
                    c["ascq"] = d->ascq;
                    if (d->ataRegisters) c["taskFileOut"] = hex(d->ataRegisters->data(), 8);
                }
            }
        }
        calls.push_back(std::move(c));
        return ok;
    }
    std::vector<json> calls;

private:
    qx::DeviceIo& inner_;
};

bool startedForTheCheck() {
    std::ifstream f("/proc/cmdline");
    std::string word;
    while (f >> word) {
        if (word == "qxvm=1") return true;
    }
    return false;
}

// The bus word of a disk path, `\\.\<bus>#<kernel name>`.
std::string busWord(const std::string& path) {
    const auto start = path.find_last_of('\\');
    const auto hash = path.find('#');
    if (start == std::string::npos || hash == std::string::npos || hash < start) return {};
    return path.substr(start + 1, hash - start - 1);
}

// Holds the device lock the way every qxupdater-cli run takes it until a line arrives on
// `fifo`.
int holdLock(qx::Kernel& kernel, const char* fifo) {
    qx::DeviceLockAttempt a = kernel.lockDevices();
    json line;
    line["state"] = a.state == qx::DeviceLockAttempt::State::Held   ? "held"
                    : a.state == qx::DeviceLockAttempt::State::Busy ? "busy"
                                                                    : "unavailable";
    line["pid"] = static_cast<int64_t>(::getpid());
    line["holderPid"] = a.holderPid;
    line["detail"] = a.detail;
    std::printf("QXLOCK %s\n", line.dump().c_str());
    std::fflush(stdout);
    if (a.state != qx::DeviceLockAttempt::State::Held) return 1;
    std::ifstream release(fifo);  // blocks until the other side opens it
    std::string word;
    std::getline(release, word);
    return 0;
}

// The erase's hold on the disk `name`, through the real back-end; `mounts` stands for
// /proc/self/mounts (/dev/null: the kernel's O_EXCL alone decides).
int claim(const std::vector<std::string>& paths, const std::string& name, const char* mounts) {
    std::string path;
    const std::string suffix = "#" + name;
    for (const std::string& p : paths) {
        if (p.size() > suffix.size() && p.compare(p.size() - suffix.size(), suffix.size(), suffix) == 0) {
            path = p;
        }
    }
    json line;
    line["disk"] = name;
    line["path"] = path;
    line["mounts"] = mounts;
    qx::LinuxSystem system("/sys", mounts);
    std::optional<qx::DiskClaimResult> r = system.claimForErase(path);
    line["answered"] = r.has_value();
    line["granted"] = r && r->claim != nullptr;
    line["reason"] = r ? r->reason : std::string();
    line["detail"] = r ? r->detail : std::string();
    if (r && r->claim) {
        // While the claim holds the disk, the kernel must refuse a second exclusive open.
        const std::string node = "/dev/" + name;
        const int fd = ::open(node.c_str(), O_RDONLY | O_EXCL | O_NONBLOCK | O_CLOEXEC);
        line["secondOpenErrno"] = fd < 0 ? errno : 0;
        if (fd >= 0) ::close(fd);
        r->claim.reset();
        const int after = ::open(node.c_str(), O_RDONLY | O_EXCL | O_NONBLOCK | O_CLOEXEC);
        line["afterReleaseErrno"] = after < 0 ? errno : 0;
        if (after >= 0) ::close(after);
    }
    std::printf("QXCLAIM %s\n", line.dump().c_str());
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool lockRun = argc == 4 && std::strcmp(argv[2], "--hold-lock") == 0;
    const bool claimRun = argc == 4 && std::strcmp(argv[2], "--claim") == 0;
    if ((argc != 2 && !lockRun && !claimRun) || std::strcmp(argv[1], "--in-vm") != 0 ||
        !startedForTheCheck()) {
        std::fprintf(stderr,
                     "qxvmcheck sends DOWNLOAD MICROCODE and SECURITY ERASE PREPARE to every disk:"
                     " it runs only inside the CI virtual machine (--in-vm, kernel word qxvm=1)\n");
        return 2;
    }
    std::string error;
    auto host = qx::HostPlatform::select(nullptr, nullptr, error);
    if (!host) {
        std::fprintf(stderr, "qxvmcheck: %s\n", error.c_str());
        return 4;
    }
    if (lockRun) return holdLock(*host->parts().kernel, argv[3]);
    if (claimRun) {
        const auto disks = host->parts().system->diskInterfaces();
        if (!disks) {
            std::fprintf(stderr, "qxvmcheck: the disks could not be listed\n");
            return 4;
        }
        claim(*disks, argv[3], "/proc/self/mounts");
        return claim(*disks, argv[3], "/dev/null");
    }
    RecordingSgIo sg;
    qx::LinuxDevices devices(sg, &qx::linuxos::DeviceNodeForPath);
    ControlTap tap(devices);
    qx::Platform p = host->parts();
    p.devices = &tap;
    qx::installPlatform(p);

    const auto paths = p.system->diskInterfaces();
    if (!paths) {
        std::fprintf(stderr, "qxvmcheck: the disks could not be listed\n");
        return 4;
    }

    // One block of DOWNLOAD MICROCODE carries a recognisable, harmless pattern.
    std::vector<uint8_t> block(512);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 1);
    // SECURITY ERASE PREPARE as the erase procedure sends it (non-data).
    const qx::CommandBlock erasePrepare = {0xA1, 0x06, 0x00, 0x00, 0x00, 0x00,
                                           0x00, 0x00, 0xE0, 0xF3, 0x00, 0x00};
    const qx::CommandBlock inquiry = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00, 0, 0, 0, 0, 0, 0};
    const qx::CommandBlock serialPage = {0x12, 0x01, 0x80, 0x00, 0x60, 0x00, 0, 0, 0, 0, 0, 0};

    for (const std::string& path : *paths) {
        const auto node = qx::linuxos::DeviceNodeForPath(path.c_str());
        const std::string bus = busWord(path);
        auto run = [&](const char* via, const char* command, auto&& send) {
            sg.records.clear();
            tap.calls.clear();
            std::vector<uint8_t> data(512, 0);
            const int result = send(data.data());
            json line;
            line["path"] = path;
            line["node"] = node ? *node : std::string();
            line["bus"] = bus;
            line["via"] = via;
            line["command"] = command;
            line["result"] = result;
            line["controls"] = tap.calls;
            line["sgio"] = sg.records;
            std::printf("QXVM %s\n", line.dump().c_str());
            std::fflush(stdout);
        };
        qx::ResetDeviceSlots();
        qx::DeviceSlot[0].devicePath = path.c_str();
        for (const char* via : {"ata", "scsi"}) {
            qx::DeviceSlot[0].ata = std::strcmp(via, "ata") == 0 ? 1 : 0;
            run(via, "identify", [](uint8_t* d) { return qx::VC_IdentifyDevice(0, d, 1); });
            run(via, "smart-read-data", [](uint8_t* d) { return qx::VC_STD_SmartReadData(0, d, 1); });
            run(via, "download-microcode",
                [&](uint8_t*) { return qx::VC_STD_DownloadMicroCode(0, block.data(), 1, 0); });
            run(via, "security-erase-prepare", [&](uint8_t*) {
                return qx::ExecDeviceCommand(0, 0, erasePrepare, 12, nullptr, 0);
            });
        }
        qx::DeviceSlot[0].ata = 0;
        run("scsi", "inquiry",
            [&](uint8_t* d) { return qx::ExecDeviceCommand(0, 1, inquiry, 6, d, 0x60); });
        run("scsi", "serial-number-page",
            [&](uint8_t* d) { return qx::ExecDeviceCommand(0, 1, serialPage, 6, d, 0x60); });
    }
    qx::ResetDeviceSlots();
    return 0;
}
