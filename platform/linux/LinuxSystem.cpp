// Disk enumeration, volume letters and rescan on Linux: the disks from libudev, the
// volumes from the mounts table, the rescan through sysfs. Everything is read fresh on
// every call: the system keeps no state between calls, as the Windows back-end does.
#include "platform/linux/LinuxSystem.h"

#include <fcntl.h>
#include <libudev.h>
#include <mntent.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "QXLib/DbgLog.h"
#include "platform/Ascii.h"
#include "platform/linux/LinuxPaths.h"

namespace qx::linuxos {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxMountsBytes = 4u << 20;  // a mounts table is far smaller
constexpr std::size_t kMaxSmallFileBytes = 4096;   // proc_name and the like
constexpr int kMaxAncestors = 64;
constexpr std::size_t kMaxListedDevices = 4096;   // block devices looked at per listing
constexpr std::size_t kMaxPropertyLength = 255;   // a udev value longer than this is odd
constexpr std::size_t kMountLineBytes = 8192;     // getmntent_r line buffer

// A value of the device manager or the mounts table as it may appear in a log line: at
// most 255 characters, anything but printable ASCII written as \xNN.
std::string forLog(const char* text) {
    if (text == nullptr) return "(none)";
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char* p = text; *p != '\0' && out.size() < 255; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

// Printable ASCII without blanks, at most `limit` characters.
bool isPlainText(const char* text, std::size_t limit) {
    if (text == nullptr || *text == '\0') return false;
    std::size_t n = 0;
    for (const char* p = text; *p != '\0'; ++p, ++n) {
        const auto c = static_cast<unsigned char>(*p);
        if (n >= limit || c <= 0x20 || c >= 0x7F) return false;
    }
    return true;
}

template <typename T, T* (*Unref)(T*)>
struct UdevUnref {
    void operator()(T* p) const { Unref(p); }
};
using UdevPtr = std::unique_ptr<udev, UdevUnref<udev, udev_unref>>;
using EnumeratePtr =
    std::unique_ptr<udev_enumerate, UdevUnref<udev_enumerate, udev_enumerate_unref>>;
using DevicePtr = std::unique_ptr<udev_device, UdevUnref<udev_device, udev_device_unref>>;

// Reads at most `limit` bytes of a file; nothing when it cannot be opened.
std::optional<std::string> readFileBounded(const std::string& path, std::size_t limit) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    std::string text;
    char chunk[4096];
    while (text.size() < limit) {
        const std::size_t want = std::min(sizeof(chunk), limit - text.size());
        const std::size_t got = std::fread(chunk, 1, want, f);
        if (got == 0) break;
        text.append(chunk, got);
    }
    std::fclose(f);
    return text;
}

std::string firstLine(std::string text) {
    const std::size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos) text.resize(end);
    return text;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }

// "prefix" followed by one or more digits (and nothing else).
bool isWordWithNumber(const std::string& s, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    if (s.size() <= n || s.compare(0, n, prefix) != 0) return false;
    return std::all_of(s.begin() + static_cast<std::ptrdiff_t>(n), s.end(), isDigit);
}

// A whole disk of the SCSI disk driver: "sd" and one or more lower-case letters.
bool isScsiDiskName(const std::string& name) {
    return name.size() > 2 && name.compare(0, 2, "sd") == 0 &&
           std::all_of(name.begin() + 2, name.end(), isLower);
}

// The components of a relative path.
std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool isLoopOrRamDisk(const std::string& device) {
    return device.compare(0, 9, "/dev/loop") == 0 || device.compare(0, 8, "/dev/ram") == 0 ||
           device.compare(0, 9, "/dev/zram") == 0;
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = isDigit(a[i]), db = isDigit(b[j]);
        std::size_t ei = i, ej = j;
        while (ei < a.size() && isDigit(a[ei]) == da) ++ei;
        while (ej < b.size() && isDigit(b[ej]) == db) ++ej;
        if (da != db) return da;  // digits before letters
        std::string ca = a.substr(i, ei - i), cb = b.substr(j, ej - j);
        if (da) {
            // Numeric value: strip leading zeros, then the shorter number is smaller.
            const auto strip = [](std::string& s) {
                const std::size_t nz = s.find_first_not_of('0');
                s = nz == std::string::npos ? std::string() : s.substr(nz);
            };
            strip(ca);
            strip(cb);
        }
        // For digit runs this is the numeric order; for letter runs the order of the
        // kernel's disk names (sdz, sdaa, sdab).
        if (ca.size() != cb.size()) return ca.size() < cb.size();
        if (ca != cb) return ca < cb;
        i = ei;
        j = ej;
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;  // equal by the rules above ("01" vs "1"): any fixed order
}

bool BlockDeviceOnDisk(const std::string& sysfsRoot, const std::string& name,
                       const std::string& disk) {
    // Device mapper and RAID devices name the devices below them in slaves/; a chain
    // deeper than a few levels is not followed.
    std::vector<std::string> todo{name};
    for (int round = 0; round < 4 && !todo.empty(); ++round) {
        std::vector<std::string> next;
        for (const std::string& n : todo) {
            if (n.empty() || n.find('/') != std::string::npos || n == "." || n == "..") continue;
            if (n == disk) return true;
            std::error_code ec;
            const fs::path block = fs::path(sysfsRoot) / "class" / "block";
            if (fs::exists(block / disk / n, ec)) return true;  // a partition of the disk
            fs::directory_iterator it(block / n / "slaves", ec);
            for (; !ec && it != fs::directory_iterator() && next.size() < 64; it.increment(ec)) {
                next.push_back(it->path().filename().string());
            }
        }
        todo = std::move(next);
    }
    return false;
}

std::vector<std::pair<std::string, std::string>> DeviceMounts(const std::string& mountsText) {
    std::vector<std::pair<std::string, std::string>> mounts;
    // getmntent reads the table; fmemopen gives it the bounded copy read by the caller.
    std::FILE* table = mountsText.empty()
                           ? nullptr
                           : ::fmemopen(const_cast<char*>(mountsText.data()), mountsText.size(), "r");
    if (table == nullptr) return mounts;
    mntent entry{};
    std::vector<char> line(kMountLineBytes);
    while (::getmntent_r(table, &entry, line.data(), static_cast<int>(line.size())) != nullptr) {
        const char* fsname = entry.mnt_fsname != nullptr ? entry.mnt_fsname : "";
        if (std::strncmp(fsname, "/dev/", 5) != 0 || fsname[5] == '\0') continue;
        // The device is matched against node names and opened: it must be plain text.
        if (!isPlainText(fsname, kMaxPropertyLength)) {
            DbgPrintf("Mount entry passed over: its device %s holds odd bytes\r\n",
                      forLog(fsname).c_str());
            continue;
        }
        mounts.emplace_back(fsname, entry.mnt_dir != nullptr ? entry.mnt_dir : "");
    }
    std::fclose(table);
    return mounts;
}

std::vector<MountedVolume> AssignVolumeLetters(const std::string& mountsText) {
    std::vector<std::pair<std::string, std::string>> devices;  // device, first mount point
    std::string rootDevice;
    for (const auto& mount : DeviceMounts(mountsText)) {
        // Named copies, not a structured binding: a lambda below refers to the device.
        const std::string& source = mount.first;
        const std::string& target = mount.second;
        if (isLoopOrRamDisk(source)) continue;
        // A later mount on "/" hides the earlier one: the last one holds the root.
        if (target == "/") rootDevice = source;
        const bool known = std::any_of(devices.begin(), devices.end(),
                                       [&](const auto& d) { return d.first == source; });
        if (!known) devices.emplace_back(source, target);
    }

    std::vector<MountedVolume> result;
    for (const auto& d : devices) {
        if (d.first == rootDevice) result.push_back({'C', d.first, d.second});
    }
    std::vector<std::pair<std::string, std::string>> others;
    for (const auto& d : devices) {
        if (d.first != rootDevice) others.push_back(d);
    }
    std::sort(others.begin(), others.end(),
              [](const auto& x, const auto& y) { return NaturalLess(x.first, y.first); });
    char next = 'D';
    for (const auto& d : others) {
        if (next > 'Z') break;
        result.push_back({next, d.first, d.second});
        ++next;
    }
    return result;
}

std::string BusWordForDevicePath(const std::string& devicePath,
                                 const std::vector<std::string>& drivers) {
    const std::vector<std::string> parts = components(devicePath);
    const auto anyPart = [&](auto pred) { return std::any_of(parts.begin(), parts.end(), pred); };
    const auto hasDriver = [&](std::initializer_list<const char*> names) {
        for (const std::string& d : drivers) {
            for (const char* n : names) {
                if (d == n) return true;
            }
        }
        return false;
    };
    // libata puts an "ataN" port device above every disk it drives.
    if (anyPart([](const std::string& p) { return isWordWithNumber(p, "ata"); })) return "ide";
    if (anyPart([](const std::string& p) { return p.compare(0, 3, "usb") == 0; }) ||
        hasDriver({"usb-storage", "uas"})) {
        return "usb";
    }
    if (anyPart([](const std::string& p) {
            return p.size() > 2 && p.compare(0, 2, "fw") == 0 && isDigit(p[2]);
        }) ||
        hasDriver({"sbp2", "firewire_sbp2", "SBP-2"})) {
        return "sbp2";
    }
    return "scsi";
}

std::string BusWordForIdBus(const char* idBus) {
    if (idBus == nullptr) return {};
    const std::string v = idBus;
    if (v == "ata") return "ide";
    if (v == "usb") return "usb";
    if (v == "ieee1394") return "sbp2";
    return {};
}

namespace {

// The bus word of one disk: the path of its SCSI device below /sys and the drivers above it
// decide (BusWordForDevicePath); a disk on a plain SCSI path takes its ID_BUS.
std::string busWordForDisk(udev* u, udev_device* disk, const std::string& name) {
    udev_device* scsi = udev_device_get_parent_with_subsystem_devtype(disk, "scsi", "scsi_device");
    if (scsi == nullptr) scsi = udev_device_get_parent(disk);
    std::string relative;
    std::vector<std::string> drivers;
    if (scsi != nullptr) {
        const char* syspath = udev_device_get_syspath(scsi);
        if (syspath != nullptr && std::strncmp(syspath, "/sys/", 5) == 0) relative = syspath + 5;
        int level = 0;
        for (udev_device* d = scsi; d != nullptr && level < kMaxAncestors;
             d = udev_device_get_parent(d), ++level) {
            if (const char* driver = udev_device_get_driver(d); isPlainText(driver, kMaxPropertyLength)) {
                drivers.emplace_back(driver);
            }
            // The SCSI host's driver name, from its scsi_host class device.
            const char* sysname = udev_device_get_sysname(d);
            if (sysname == nullptr || !isWordWithNumber(sysname, "host")) continue;
            const DevicePtr host(udev_device_new_from_subsystem_sysname(u, "scsi_host", sysname));
            const char* proc = host ? udev_device_get_sysattr_value(host.get(), "proc_name") : nullptr;
            if (proc != nullptr) drivers.push_back(firstLine(std::string(proc).substr(0, kMaxSmallFileBytes)));
        }
    }
    std::string bus = BusWordForDevicePath(relative, drivers);
    if (bus != "scsi") return bus;
    const char* idBus = udev_device_get_property_value(disk, "ID_BUS");
    if (idBus != nullptr && !isPlainText(idBus, kMaxPropertyLength)) {
        DbgPrintf("Disk %s: property ID_BUS with odd bytes passed over: %s\r\n", name.c_str(),
                  forLog(idBus).c_str());
        return bus;
    }
    const std::string fromProperty = BusWordForIdBus(idBus);
    return fromProperty.empty() ? bus : fromProperty;
}

}  // namespace

std::optional<std::vector<UdevDisk>> ListUdevDisks() {
    const UdevPtr u(udev_new());
    if (!u) return std::nullopt;
    const EnumeratePtr e(udev_enumerate_new(u.get()));
    if (!e || udev_enumerate_add_match_subsystem(e.get(), "block") < 0 ||
        udev_enumerate_add_match_property(e.get(), "DEVTYPE", "disk") < 0 ||
        udev_enumerate_scan_devices(e.get()) < 0) {
        return std::nullopt;
    }
    std::vector<UdevDisk> disks;
    std::size_t seen = 0;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
        if (++seen > kMaxListedDevices) {
            DbgPrintf("ListUdevDisks: more than %u block devices, the rest passed over\r\n",
                      static_cast<unsigned>(kMaxListedDevices));
            break;
        }
        const DevicePtr disk(udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
        if (!disk) continue;
        const char* sysname = udev_device_get_sysname(disk.get());
        // Only the SCSI disk driver's disks take SG_IO with ATA commands (no NVMe, sr, loop).
        if (sysname == nullptr || std::strncmp(sysname, "sd", 2) != 0) continue;
        const std::string label = forLog(sysname);
        if (std::strlen(sysname) > kMaxKernelNameLength) {
            DbgPrintf("Disk %s... passed over: its name is longer than %u characters\r\n",
                      label.c_str(), static_cast<unsigned>(kMaxKernelNameLength));
            continue;
        }
        UdevDisk d;
        d.name = sysname;
        if (!isScsiDiskName(d.name)) {
            DbgPrintf("Disk %s passed over: not a kernel disk name\r\n", label.c_str());
            continue;
        }
        const char* node = udev_device_get_devnode(disk.get());
        if (node == nullptr) {
            DbgPrintf("Disk %s passed over: no device node\r\n", label.c_str());
            continue;
        }
        // The listed path names /dev/<name>: a disk whose node is elsewhere can't be opened by it.
        if (!isPlainText(node, kMaxPropertyLength) || node != "/dev/" + d.name) {
            DbgPrintf("Disk %s passed over: its device node %s is not /dev/%s\r\n", label.c_str(),
                      forLog(node).c_str(), label.c_str());
            continue;
        }
        d.node = node;
        const dev_t number = udev_device_get_devnum(disk.get());
        d.major = ::major(number);
        d.minor = ::minor(number);
        if (d.major == 0) {
            DbgPrintf("Disk %s passed over: no device number\r\n", label.c_str());
            continue;
        }
        d.bus = busWordForDisk(u.get(), disk.get(), d.name);
        disks.push_back(std::move(d));
    }
    std::sort(disks.begin(), disks.end(),
              [](const UdevDisk& a, const UdevDisk& b) { return NaturalLess(a.name, b.name); });
    return disks;
}

}  // namespace qx::linuxos

namespace qx {

namespace fs = std::filesystem;
using namespace linuxos;  // the helpers above

LinuxSystem::LinuxSystem(std::string sysfsRoot, std::string mountsFile, ExclusiveOpen openExclusive)
    : sysfsRoot_(std::move(sysfsRoot)),
      mountsFile_(std::move(mountsFile)),
      openExclusive_(std::move(openExclusive)) {
    if (!openExclusive_) {
        openExclusive_ = [](const std::string& node) {
            const int fd = ::open(node.c_str(), O_RDONLY | O_EXCL | O_NONBLOCK | O_CLOEXEC);
            return fd >= 0 ? fd : -(errno != 0 ? errno : EIO);
        };
    }
}

namespace {

// The whole-disk node held with O_EXCL for the erase.
class ExclusiveDisk final : public DiskClaim {
public:
    explicit ExclusiveDisk(int fd) : fd_(fd) {}
    ~ExclusiveDisk() override { ::close(fd_); }
    ExclusiveDisk(const ExclusiveDisk&) = delete;
    ExclusiveDisk& operator=(const ExclusiveDisk&) = delete;

private:
    int fd_;
};

bool holdsTheSystem(const std::string& mountPoint) {
    return mountPoint == "/" || mountPoint == "/boot" || mountPoint.rfind("/boot/", 0) == 0;
}

}  // namespace

std::optional<DiskClaimResult> LinuxSystem::claimForErase(const std::string& path) {
    DiskClaimResult r;
    const std::optional<std::string> node = DeviceNodeForPath(path.c_str());
    if (!node) {
        r.reason = "in-use";
        r.detail = "its device node is unknown";
        return r;
    }
    const std::string disk = fs::path(*node).filename().string();
    std::string mounted;
    const auto text = readFileBounded(mountsFile_, kMaxMountsBytes);
    for (const auto& [source, target] : DeviceMounts(text ? *text : std::string())) {
        // A mount names its device by any link to it (/dev/mapper/x, /dev/disk/by-uuid/...).
        std::error_code ec;
        const fs::path real = fs::canonical(source, ec);
        const std::string name = (ec ? fs::path(source) : real).filename().string();
        if (!BlockDeviceOnDisk(sysfsRoot_, name, disk)) continue;
        if (holdsTheSystem(target)) {
            r.reason = "system-disk";
            r.detail = "it holds " + target + " (" + source + ")";
            return r;
        }
        mounted += (mounted.empty() ? "" : ", ") + source + " on " + target;
    }
    if (!mounted.empty()) {
        r.reason = "mounted";
        r.detail = "mounted: " + mounted + "; unmount it first";
        return r;
    }
    const int fd = openExclusive_(*node);
    if (fd < 0) {
        DbgPrintf("Exclusive open of %s failed: %s\r\n", node->c_str(), std::strerror(-fd));
        r.reason = -fd == EBUSY ? "mounted" : "in-use";
        r.detail = -fd == EBUSY ? "the system reports " + *node +
                                      " busy (a mounted file system, swap space or a volume manager "
                                      "uses it)"
                                : *node + " could not be opened exclusively (" + std::strerror(-fd) + ")";
        return r;
    }
    r.claim = std::make_unique<ExclusiveDisk>(fd);
    return r;
}

std::optional<std::vector<std::string>> LinuxSystem::diskInterfaces() {
    const std::optional<std::vector<UdevDisk>> disks = ListUdevDisks();
    if (!disks) return std::nullopt;
    std::vector<std::string> paths;
    for (const UdevDisk& d : *disks) paths.push_back("\\\\.\\" + d.bus + "#" + d.name);
    return paths;
}

std::vector<MountedVolume> LinuxSystem::volumes() {
    const auto text = readFileBounded(mountsFile_, kMaxMountsBytes);
    if (!text) return {};
    return AssignVolumeLetters(*text);
}

uint32_t LinuxSystem::logicalDrives() {
    // C: always exists for the utility: it is where windowsDirectory() points.
    uint32_t mask = 1u << ('C' - 'A');
    for (const MountedVolume& v : volumes()) mask |= 1u << (v.letter - 'A');
    return mask;
}

std::string LinuxSystem::windowsDirectory() { return "C:\\WINDOWS"; }

OsVersion LinuxSystem::osVersion() {
    // A modern system: disks on SCSI paths are then reached with ATA commands, which on
    // Linux travel through SG_IO either way.
    OsVersion v;
    v.extendedOk = true;
    v.basicOk = true;
    v.major = 6;
    v.minor = 2;
    return v;
}

int LinuxSystem::rescan(uint32_t* code) {
    const fs::path hosts = fs::path(sysfsRoot_) / "class" / "scsi_host";
    std::error_code ec;
    fs::directory_iterator it(hosts, ec);
    int written = 0;
    int lastErrno = ENOENT;
    if (!ec) {
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec) break;
            const std::string name = it->path().filename().string();
            if (!isWordWithNumber(name, "host")) continue;
            const std::string scan = (it->path() / "scan").string();
            const int fd = ::open(scan.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0) {
                lastErrno = errno;
                continue;
            }
            static const char kAll[] = "- - -";
            const ssize_t n = ::write(fd, kAll, sizeof(kAll) - 1);
            if (n == static_cast<ssize_t>(sizeof(kAll) - 1)) {
                ++written;
            } else {
                lastErrno = n < 0 ? errno : EIO;
            }
            ::close(fd);
        }
    }
    if (written > 0) {
        if (code != nullptr) *code = 0;
        return 0;
    }
    if (code != nullptr) *code = static_cast<uint32_t>(lastErrno);
    return 2;
}

PowerSource LinuxSystem::powerSource() {
    constexpr int kMaxSupplies = 32;
    constexpr std::size_t kMaxValueBytes = 64;
    const auto value = [&](const fs::path& dir, const char* name) {
        std::string text = readFileBounded((dir / name).string(), kMaxValueBytes).value_or("");
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        return text;
    };
    bool mainsListed = false, mainsOnline = false, discharging = false;
    int batteries = 0, percentSum = 0, percents = 0;
    std::error_code ec;
    fs::directory_iterator it(fs::path(sysfsRoot_) / "class" / "power_supply", ec);
    for (int seen = 0; !ec && it != fs::directory_iterator() && seen < kMaxSupplies; it.increment(ec), ++seen) {
        const fs::path dir = it->path();
        const std::string type = value(dir, "type");
        if (type == "Mains" || type == "USB") {
            mainsListed = mainsListed || type == "Mains";
            mainsOnline = mainsOnline || value(dir, "online") == "1";
        } else if (type == "Battery" && value(dir, "scope") != "Device" && value(dir, "present") != "0") {
            ++batteries;
            discharging = discharging || value(dir, "status") == "Discharging";
            const std::string capacity = value(dir, "capacity");
            if (!capacity.empty() && capacity.size() <= 3 &&
                std::all_of(capacity.begin(), capacity.end(), [](char c) { return c >= '0' && c <= '9'; })) {
                const int p = std::stoi(capacity);
                if (p <= 100) {
                    percentSum += p;
                    ++percents;
                }
            }
        }
    }
    PowerSource power;
    if (batteries == 0) return power;  // no battery: mains power
    power.onBattery = !mainsOnline && (mainsListed || discharging);
    if (percents > 0) power.batteryPercent = percentSum / percents;
    return power;
}

std::optional<std::string> LinuxSystem::volumeNode(char letter) {
    letter = UpperAscii(letter);
    for (const MountedVolume& v : volumes()) {
        if (v.letter == letter) return v.device;
    }
    return std::nullopt;
}

}  // namespace qx
