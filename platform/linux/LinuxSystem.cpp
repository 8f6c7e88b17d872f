// Disk enumeration, volume letters and rescan on Linux, read from sysfs and the mounts
// table. Everything is read fresh on every call: the system keeps no state between calls,
// as the Windows back-end does.
#include "platform/linux/LinuxSystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace qx::linuxos {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxMountsBytes = 4u << 20;  // a mounts table is far smaller
constexpr std::size_t kMaxSmallFileBytes = 4096;   // proc_name and the like
constexpr int kMaxAncestors = 64;

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

// The mounts table escapes blanks, tabs, new lines and backslashes as \ooo.
std::string unescapeMountField(const std::string& s) {
    const auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && s.size() - i >= 4 && s[i + 1] >= '0' && s[i + 1] <= '3' &&
            isOctal(s[i + 2]) && isOctal(s[i + 3])) {
            out.push_back(static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 +
                                            (s[i + 3] - '0')));
            i += 3;
            continue;
        }
        out.push_back(s[i]);
    }
    return out;
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

// The file name a symbolic link points to, or empty.
std::string linkTargetName(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    if (ec) return {};
    return target.filename().string();
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

std::vector<MountedVolume> AssignVolumeLetters(const std::string& mountsText) {
    std::vector<std::pair<std::string, std::string>> devices;  // device, first mount point
    std::string rootDevice;
    std::size_t pos = 0;
    while (pos < mountsText.size()) {
        std::size_t end = mountsText.find('\n', pos);
        if (end == std::string::npos) end = mountsText.size();
        const std::string line = mountsText.substr(pos, end - pos);
        pos = end + 1;

        const std::size_t s1 = line.find(' ');
        if (s1 == std::string::npos) continue;
        const std::size_t s2 = line.find(' ', s1 + 1);
        const std::string source = unescapeMountField(line.substr(0, s1));
        const std::string target = unescapeMountField(
            line.substr(s1 + 1, s2 == std::string::npos ? std::string::npos : s2 - s1 - 1));
        if (source.compare(0, 5, "/dev/") != 0 || source.size() == 5) continue;
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

}  // namespace qx::linuxos

namespace qx {

namespace fs = std::filesystem;
using namespace linuxos;  // the helpers above

LinuxSystem::LinuxSystem(std::string sysfsRoot, std::string mountsFile)
    : sysfsRoot_(std::move(sysfsRoot)), mountsFile_(std::move(mountsFile)) {}

std::optional<std::vector<std::string>> LinuxSystem::diskInterfaces() {
    const fs::path root(sysfsRoot_);
    const fs::path blockDir = root / "block";
    std::error_code ec;
    fs::directory_iterator it(blockDir, ec);
    if (ec) return std::nullopt;

    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const std::string name = it->path().filename().string();
        if (isScsiDiskName(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), NaturalLess);

    const fs::path canonicalRoot = fs::weakly_canonical(root, ec);
    std::vector<std::string> paths;
    for (const std::string& name : names) {
        std::string relative;
        std::vector<std::string> drivers;
        const fs::path device = fs::canonical(blockDir / name / "device", ec);
        if (!ec) {
            const fs::path rel = device.lexically_relative(canonicalRoot);
            relative = rel.empty() ? device.string() : rel.generic_string();
            // The SCSI host's driver name, and the drivers bound to the devices above.
            for (const std::string& part : components(relative)) {
                if (isWordWithNumber(part, "host")) {
                    if (auto proc = readFileBounded(
                            (root / "class" / "scsi_host" / part / "proc_name").string(),
                            kMaxSmallFileBytes)) {
                        drivers.push_back(firstLine(*proc));
                    }
                }
            }
            fs::path dir = device;
            for (int level = 0; level < kMaxAncestors && !dir.empty(); ++level) {
                if (dir == canonicalRoot || dir == dir.root_path()) break;
                const std::string driver = linkTargetName(dir / "driver");
                if (!driver.empty()) drivers.push_back(driver);
                dir = dir.parent_path();
            }
        }
        ec.clear();
        paths.push_back("\\\\.\\" + BusWordForDevicePath(relative, drivers) + "#" + name);
    }
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

std::optional<std::string> LinuxSystem::volumeNode(char letter) {
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    for (const MountedVolume& v : volumes()) {
        if (v.letter == letter) return v.device;
    }
    return std::nullopt;
}

}  // namespace qx
