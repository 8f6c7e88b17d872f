// The Linux disk enumeration on a fake sysfs tree and mounts table built in a temporary
// directory: bus words from the transport, the order of disks, volume letters, the SCSI host
// rescan, and the /dev nodes of disk and volume paths.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "devices/Discovery.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/LinuxSystem.h"
#include "support/TempDir.h"

namespace qx::linuxos {
namespace {

namespace fs = std::filesystem;
using qx::LinuxSystem;

void writeFile(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A sysfs tree: /sys/devices/... with block/<name> under each SCSI device, /sys/block/<name>
// links to it and <name>/device links back, as the kernel lays them out.
class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        // The folder names hold bus words on purpose (the temporary folder's too): only the
        // part below the sysfs root may count.
        top = tmp_.path();
        root = top / "usb1" / "ata9" / "fw1" / "sys";
        fs::create_directories(root / "block");
        mounts = root / "mounts";
        writeFile(mounts, "");
    }

    void addDisk(const std::string& name, const std::string& scsiDevice) {
        const fs::path dev = root / scsiDevice;
        const fs::path blockDir = dev / "block" / name;
        fs::create_directories(blockDir);
        fs::create_directory_symlink(fs::relative(blockDir, root / "block"), root / "block" / name);
        fs::create_directory_symlink("../../../" + dev.filename().string(), blockDir / "device");
    }
    void addHost(const std::string& host, const std::string& procName) {
        writeFile(root / "class" / "scsi_host" / host / "proc_name", procName + "\n");
    }
    void bindDriver(const std::string& device, const std::string& driver) {
        const fs::path d = root / "bus" / "drivers" / driver;
        fs::create_directories(d);
        fs::create_directory_symlink(d, root / device / "driver");
    }

    test::TempDir tmp_{"qx-usb1-ata9"};
    fs::path top;
    fs::path root;
    fs::path mounts;
};

TEST_F(FakeSysfs, DisksWithTheBusWordOfTheirTransport) {
    addDisk("sda", "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0");
    addDisk("sdb", "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0");
    addDisk("sdc", "devices/platform/bridge0/host7/target7:0:0/7:0:0:0");
    addHost("host7", "uas");
    addDisk("sdd", "devices/pci0000:00/0000:00:1e.0/fw1/fw1.0/host8/target8:0:0/8:0:0:0");
    addDisk("sde", "devices/pci0000:00/0000:00:10.0/host2/target2:0:0/2:0:0:0");
    addHost("host2", "mptspi");
    addDisk("sdf", "devices/platform/storage1/host9/target9:0:0/9:0:0:0");
    bindDriver("devices/platform/storage1", "usb-storage");
    addDisk("sdaa", "devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0");
    // Not disks of the SCSI disk driver.
    fs::create_directories(root / "block" / "nvme0n1");
    fs::create_directories(root / "block" / "sr0");
    fs::create_directories(root / "block" / "loop0");

    LinuxSystem system(root.string(), mounts.string());
    const auto disks = system.diskInterfaces();
    ASSERT_TRUE(disks.has_value());
    EXPECT_EQ(*disks, (std::vector<std::string>{"\\\\.\\ide#sda", "\\\\.\\usb#sdb", "\\\\.\\usb#sdc",
                                                "\\\\.\\sbp2#sdd", "\\\\.\\scsi#sde", "\\\\.\\usb#sdf",
                                                "\\\\.\\ide#sdaa"}));
}

TEST_F(FakeSysfs, NoBlockDirectoryMeansNoEnumeration) {
    fs::remove_all(root / "block");
    LinuxSystem system(root.string(), mounts.string());
    EXPECT_FALSE(system.diskInterfaces().has_value());
}

TEST_F(FakeSysfs, EmptyBlockDirectoryListsNothing) {
    LinuxSystem system(root.string(), mounts.string());
    const auto disks = system.diskInterfaces();
    ASSERT_TRUE(disks.has_value());
    EXPECT_TRUE(disks->empty());
}

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

}  // namespace
}  // namespace qx::linuxos
