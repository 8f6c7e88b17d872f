// The Linux system view on a fake sysfs tree and mounts table built in a temporary
// directory: volume letters, the SCSI host rescan, bus words of transport paths, and the /dev
// nodes of disk and volume paths. The disk listing itself (libudev) is tested on umockdev
// trees in tests/linux/udev.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "QXLib/DbgLog.h"
#include "devices/Discovery.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/LinuxSystem.h"
#include "support/CaptureKernel.h"
#include "support/TempDir.h"

namespace qx::linuxos {
namespace {

namespace fs = std::filesystem;
using qx::LinuxSystem;
using qx::PowerSource;

void writeFile(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A sysfs root and a mounts table in a fresh folder. The folder's name holds bus words on
// purpose: nothing above the sysfs root may count.
class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        root = dir.path() / "usb1" / "ata9" / "fw1" / "sys";
        fs::create_directories(root);
        mounts = root / "mounts";
        writeFile(mounts, "");
    }

    test::TempDir dir{"qx-sysfs"};
    fs::path root;
    fs::path mounts;
};

TEST_F(FakeSysfs, PathsClassifyAsTheirBus) {
    // What the scan makes of the listed paths on this back-end (version 6.2: SCSI paths take
    // the ATA path, which on Linux is SG_IO as well).
    LinuxSystem system(root.string(), mounts.string());
    Platform p;
    p.system = &system;
    const Platform previous = platform();
    installPlatform(p);
    const std::pair<const char*, int32_t> cases[] = {
        {"\\\\.\\ide#sda", DEVICE_IDE}, {"\\\\.\\scsi#sde", DEVICE_IDE},
        {"\\\\.\\usb#sdb", DEVICE_USB}, {"\\\\.\\sbp2#sdd", DEVICE_USB}};
    for (const auto& [path, kind] : cases) {
        std::string text = path, name;
        EXPECT_EQ(ClassifyDevicePath(text.data(), name), kind) << path;
    }
    installPlatform(previous);
}

TEST_F(FakeSysfs, VolumeLettersFromTheMountsTable) {
    writeFile(mounts,
              "sysfs /sys sysfs rw 0 0\n"
              "/dev/sda2 / ext4 rw,relatime 0 0\n"
              "/dev/sda1 /boot/efi vfat rw 0 0\n"
              "tmpfs /tmp tmpfs rw 0 0\n"
              "/dev/sdb1 /media/usb\\040stick vfat rw 0 0\n"
              "/dev/sdb1 /mnt/again vfat rw 0 0\n"
              "/dev/loop0 /snap/core/1 squashfs ro 0 0\n"
              "/dev/sdaa1 /data xfs rw 0 0\n"
              "/dev/sdc1 /srv ext4 rw 0 0\n");
    LinuxSystem system(root.string(), mounts.string());
    const auto v = system.volumes();
    ASSERT_EQ(v.size(), 5u);
    const std::pair<char, const char*> expected[] = {
        {'C', "/dev/sda2"}, {'D', "/dev/sda1"}, {'E', "/dev/sdb1"}, {'F', "/dev/sdc1"}, {'G', "/dev/sdaa1"}};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(v[i].letter, expected[i].first);
        EXPECT_EQ(v[i].device, expected[i].second);
    }
    EXPECT_EQ(v[2].mountPoint, "/media/usb stick");
    EXPECT_EQ(system.logicalDrives(), 0x7Cu);  // C..G
    EXPECT_EQ(system.volumeNode('e'), "/dev/sdb1");
    EXPECT_EQ(system.volumeNode('H'), std::nullopt);
    EXPECT_EQ(system.windowsDirectory(), "C:\\WINDOWS");
}

TEST_F(FakeSysfs, PowerSourceFromThePowerSupplyClass) {
    LinuxSystem system(root.string(), mounts.string());
    // A desktop without any supply listed: mains power.
    EXPECT_FALSE(system.powerSource().onBattery);
    EXPECT_EQ(system.powerSource().batteryPercent, -1);

    const fs::path supplies = root / "class" / "power_supply";
    writeFile(supplies / "AC" / "type", "Mains\n");
    writeFile(supplies / "AC" / "online", "0\n");
    writeFile(supplies / "BAT0" / "type", "Battery\n");
    writeFile(supplies / "BAT0" / "status", "Discharging\n");
    writeFile(supplies / "BAT0" / "capacity", "20\n");
    // A mouse's battery is no battery of the computer.
    writeFile(supplies / "hidpp_battery_0" / "type", "Battery\n");
    writeFile(supplies / "hidpp_battery_0" / "scope", "Device\n");
    writeFile(supplies / "hidpp_battery_0" / "capacity", "90\n");
    PowerSource p = system.powerSource();
    EXPECT_TRUE(p.onBattery);
    EXPECT_EQ(p.batteryPercent, 20);

    writeFile(supplies / "AC" / "online", "1\n");
    EXPECT_FALSE(system.powerSource().onBattery);
    EXPECT_EQ(system.powerSource().batteryPercent, 20);

    // No mains supply listed: the battery's own status tells; an odd capacity is unknown.
    fs::remove_all(supplies / "AC");
    writeFile(supplies / "BAT0" / "capacity", std::string(5000, '9'));
    p = system.powerSource();
    EXPECT_TRUE(p.onBattery);
    EXPECT_EQ(p.batteryPercent, -1);
    writeFile(supplies / "BAT0" / "status", "Charging\n");
    EXPECT_FALSE(system.powerSource().onBattery);
}

TEST(AssignVolumeLetters, RootWithoutBlockDeviceAndOvermounts) {
    // A root on overlay: C stays free, the others start at D.
    auto v = AssignVolumeLetters("overlay / overlay rw 0 0\n/dev/sdb1 /data ext4 rw 0 0\n");
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].letter, 'D');
    // The later mount on / is the root.
    v = AssignVolumeLetters("/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 / ext4 rw 0 0\n");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].letter, 'C');
    EXPECT_EQ(v[0].device, "/dev/sdb1");
    EXPECT_EQ(v[1].device, "/dev/sda1");
    EXPECT_TRUE(AssignVolumeLetters("").empty());
    EXPECT_TRUE(AssignVolumeLetters("garbage\n\n/dev/ x\n").empty());
}

TEST(AssignVolumeLetters, OddDeviceIsPassedOverWithALine) {
    test::CaptureKernel kernel;
    const Platform previous = platform();
    installPlatform(Platform{nullptr, nullptr, nullptr, &kernel});
    // A control byte in the device, an escaped blank (getmntent turns it into a real one),
    // a line longer than the line buffer, and a good entry after them.
    const std::string text = std::string("/dev/sd\x01" "a1 /odd ext4 rw 0 0\n") +
                             "/dev/sdb\\0401 /blank ext4 rw 0 0\n" + "/dev/sdc1 /" +
                             std::string(9000, 'x') + " ext4 rw 0 0\n" + "/dev/sdd1 /d ext4 rw 0 0\n";
    const auto v = AssignVolumeLetters(text);
    DbgReleaseLock();
    installPlatform(previous);
    std::vector<std::string> devices;
    for (const auto& m : v) devices.push_back(m.device);
    EXPECT_EQ(devices, (std::vector<std::string>{"/dev/sdc1", "/dev/sdd1"}));
    EXPECT_TRUE(kernel.logged("Mount entry passed over: its device /dev/sd\\x01a1 holds odd bytes\r\n"));
    EXPECT_TRUE(kernel.logged("Mount entry passed over: its device /dev/sdb 1 holds odd bytes\r\n"));
}

TEST(AssignVolumeLetters, StopsAtZ) {
    std::string text;
    for (int i = 0; i < 30; ++i) text += "/dev/sdx" + std::to_string(i) + " /m" + std::to_string(i) + " ext4 rw 0 0\n";
    const auto v = AssignVolumeLetters(text);
    ASSERT_EQ(v.size(), 23u);  // D..Z
    EXPECT_EQ(v.front().device, "/dev/sdx0");
    EXPECT_EQ(v.back().letter, 'Z');
    EXPECT_EQ(v.back().device, "/dev/sdx22");
}

TEST(LinuxSystemVolumes, MissingMountsFileGivesOnlyC) {
    LinuxSystem system("/nonexistent-sysfs", "/nonexistent-mounts");
    EXPECT_TRUE(system.volumes().empty());
    EXPECT_EQ(system.logicalDrives(), 1u << 2);
    const OsVersion v = system.osVersion();
    EXPECT_TRUE(v.extendedOk);
    EXPECT_EQ(v.major, 6u);
    EXPECT_EQ(v.minor, 2u);
}

TEST_F(FakeSysfs, RescanWritesEveryHost) {
    writeFile(root / "class" / "scsi_host" / "host0" / "scan", "");
    writeFile(root / "class" / "scsi_host" / "host3" / "scan", "");
    LinuxSystem system(root.string(), mounts.string());
    uint32_t code = 99;
    EXPECT_EQ(system.rescan(&code), 0);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(readFile(root / "class" / "scsi_host" / "host0" / "scan"), "- - -");
    EXPECT_EQ(readFile(root / "class" / "scsi_host" / "host3" / "scan"), "- - -");
}

TEST_F(FakeSysfs, RescanWithoutAWritableHostFails) {
    LinuxSystem system(root.string(), mounts.string());
    uint32_t code = 0;
    EXPECT_EQ(system.rescan(&code), 2);  // no hosts at all
    EXPECT_EQ(code, static_cast<uint32_t>(ENOENT));
    fs::create_directories(root / "class" / "scsi_host" / "host0");  // no scan file
    EXPECT_EQ(system.rescan(&code), 2);
    EXPECT_NE(code, 0u);
}

TEST(BusWordForDevicePath, ComponentsAndDrivers) {
    EXPECT_EQ(BusWordForDevicePath("devices/pci0000:00/ata3/host2/target2:0:0/2:0:0:0", {}), "ide");
    EXPECT_EQ(BusWordForDevicePath("devices/pci0000:00/usb1/1-2/host5/x", {}), "usb");
    EXPECT_EQ(BusWordForDevicePath("devices/virtual/host5/x", {"usb-storage"}), "usb");
    EXPECT_EQ(BusWordForDevicePath("devices/virtual/host5/x", {"uas"}), "usb");
    EXPECT_EQ(BusWordForDevicePath("devices/pci/fw0/fw0.0/host4/x", {}), "sbp2");
    EXPECT_EQ(BusWordForDevicePath("devices/virtual/host4/x", {"firewire_sbp2"}), "sbp2");
    EXPECT_EQ(BusWordForDevicePath("devices/pci/host1/x", {"virtio_scsi"}), "scsi");
    // Words only count as whole components.
    EXPECT_EQ(BusWordForDevicePath("devices/pci/database/atapi/host1/x", {}), "scsi");
    EXPECT_EQ(BusWordForDevicePath("", {}), "scsi");
}

TEST(NaturalLess, KernelNameOrder) {
    EXPECT_TRUE(NaturalLess("sda", "sdb"));
    EXPECT_TRUE(NaturalLess("sdz", "sdaa"));
    EXPECT_FALSE(NaturalLess("sdaa", "sdz"));
    EXPECT_TRUE(NaturalLess("/dev/sda2", "/dev/sda10"));
    EXPECT_TRUE(NaturalLess("/dev/sda10", "/dev/sdb1"));
    EXPECT_FALSE(NaturalLess("sda", "sda"));
}

TEST(DeviceNodeForPath, DiskPaths) {
    EXPECT_EQ(DeviceNodeForPath("\\\\.\\ide#sda"), "/dev/sda");
    EXPECT_EQ(DeviceNodeForPath("\\\\.\\usb#sdab"), "/dev/sdab");
    EXPECT_EQ(DeviceNodeForPath("\\\\.\\scsi#x#sdc"), "/dev/sdc");  // after the last '#'
}

TEST(DeviceNodeForPath, RefusesEverythingElse) {
    for (const char* bad : {"\\\\.\\ide#", "\\\\.\\#sda", "\\\\.\\ide#../etc/passwd", "\\\\.\\ide#sda/x",
                            "\\\\?\\ide#sda", "/dev/sda", "\\\\.\\sda", "", "\\\\.\\1:", "\\\\.\\ide#sd a",
                            "\\\\.\\ide#sdaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"}) {
        EXPECT_EQ(DeviceNodeForPath(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(DeviceNodeForPath(nullptr), std::nullopt);
}

TEST(DeviceNodeForPath, VolumesFollowTheSystemsLetters) {
    LinuxSystem system;
    for (char c : {'C', 'D', 'z'}) {
        const std::string path = std::string("\\\\.\\") + c + ":";
        EXPECT_EQ(DeviceNodeForPath(path.c_str()), system.volumeNode(c)) << c;
    }
}


// ---------------------------------------------------------------------------------------
// The hold on a disk for the secure erase: mounted file systems refuse it by name, the disk
// of the running system is never held, and otherwise the whole-disk node is opened with
// O_EXCL (which the kernel refuses while anything uses the disk).
class EraseClaim : public FakeSysfs {
protected:
    void SetUp() override {
        FakeSysfs::SetUp();
        // sda with sda1 and sda2; sdb with sdb1, which a device mapper device is built on.
        fs::create_directories(root / "class" / "block" / "sda" / "sda1");
        fs::create_directories(root / "class" / "block" / "sda" / "sda2");
        fs::create_directories(root / "class" / "block" / "sdb" / "sdb1");
        fs::create_directories(root / "class" / "block" / "dm-3" / "slaves" / "sdb1");
    }
    // The exclusive open the claim asks for: records the node and answers `answer`.
    LinuxSystem::ExclusiveOpen opener(int answer) {
        return [this, answer](const std::string& node) {
            opened.push_back(node);
            return answer;
        };
    }
    std::vector<std::string> opened;
};

TEST_F(EraseClaim, MountedDiskIsRefusedWithItsMounts) {
    writeFile(mounts, "/dev/sda2 / ext4 rw 0 0\n/dev/sdb1 /media/data ext4 rw 0 0\n");
    LinuxSystem system(root.string(), mounts.string(), opener(-EBUSY));
    const auto r = system.claimForErase("\\\\.\\ide#sdb");
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->claim, nullptr);
    EXPECT_EQ(r->reason, "mounted");
    EXPECT_NE(r->detail.find("/dev/sdb1 on /media/data"), std::string::npos) << r->detail;
    EXPECT_TRUE(opened.empty());
}

TEST_F(EraseClaim, MountedThroughAVolumeManager) {
    writeFile(mounts, "/dev/dm-3 /srv xfs rw 0 0\n");
    LinuxSystem system(root.string(), mounts.string(), opener(-EBUSY));
    const auto r = system.claimForErase("\\\\.\\ide#sdb");
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->reason, "mounted");
    EXPECT_NE(r->detail.find("/srv"), std::string::npos);
}

TEST_F(EraseClaim, RootOrBootDiskIsTheSystemDisk) {
    for (const char* table : {"/dev/sda2 / ext4 rw 0 0\n", "/dev/sda1 /boot/efi vfat rw 0 0\n"}) {
        writeFile(mounts, table);
        LinuxSystem system(root.string(), mounts.string(), opener(7));
        const auto r = system.claimForErase("\\\\.\\ide#sda");
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->claim, nullptr);
        EXPECT_EQ(r->reason, "system-disk") << table;
    }
    EXPECT_TRUE(opened.empty());
}

// Nothing the mounts table shows, but the kernel still refuses the exclusive open (a mount
// in another namespace, swap, RAID): refused as mounted.
TEST_F(EraseClaim, ExclusiveOpenRefusedByTheKernel) {
    writeFile(mounts, "/dev/sda2 / ext4 rw 0 0\n");
    LinuxSystem system(root.string(), mounts.string(), opener(-EBUSY));
    const auto r = system.claimForErase("\\\\.\\usb#sdb");
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->claim, nullptr);
    EXPECT_EQ(r->reason, "mounted");
    EXPECT_EQ(opened, std::vector<std::string>{"/dev/sdb"});
}

TEST_F(EraseClaim, IdleDiskIsHeldExclusively) {
    writeFile(mounts, "/dev/sda2 / ext4 rw 0 0\n");
    // A real descriptor stands for the disk, so the claim's close can be seen.
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    LinuxSystem system(root.string(), mounts.string(), opener(fd));
    auto r = system.claimForErase("\\\\.\\ide#sdb");
    ASSERT_TRUE(r.has_value());
    ASSERT_NE(r->claim, nullptr);
    EXPECT_EQ(opened, std::vector<std::string>{"/dev/sdb"});
    EXPECT_NE(::fcntl(fd, F_GETFD), -1);
    r->claim.reset();
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);  // closed with the claim
}

}  // namespace
}  // namespace qx::linuxos
