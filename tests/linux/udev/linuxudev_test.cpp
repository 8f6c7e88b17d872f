// Disk listing through libudev on umockdev device trees: each test builds the sysfs tree and
// udev properties of real controllers (AHCI, libata IDE, USB bridges on usb-storage and uas,
// virtio-scsi, NVMe) in a testbed of its own, which the preload library puts in place of
// /sys and /dev. The trees are written in umockdev's record format, as `umockdev-record`
// prints them, trimmed to what the device manager reads.
#include <gtest/gtest.h>

#include <umockdev.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "QXLib/DbgLog.h"
#include "devices/Discovery.h"
#include "platform/linux/LinuxSystem.h"
#include "support/CaptureKernel.h"

namespace qx::linuxos {
namespace {

// An AHCI controller with one SATA SSD on port 1.
const char kAhciSsd[] =
    "P: /devices/pci0000:00/0000:00:1f.2\n"
    "E: SUBSYSTEM=pci\nE: DRIVER=ahci\nE: PCI_CLASS=10601\n"
    "L: driver=../../../bus/pci/drivers/ahci\n\n"
    "P: /devices/pci0000:00/0000:00:1f.2/ata1\nE: SUBSYSTEM=ata_port\nE: DEVTYPE=ata_port\n\n"
    "P: /devices/pci0000:00/0000:00:1f.2/ata1/host0\nE: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_host\n\n"
    "P: /devices/pci0000:00/0000:00:1f.2/ata1/host0/scsi_host/host0\n"
    "E: SUBSYSTEM=scsi_host\nA: proc_name=ahci\\n\n\n"
    "P: /devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0\n"
    "E: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_target\n\n"
    "P: /devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0\n"
    "E: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_device\nE: DRIVER=sd\nA: vendor=ATA     \n"
    "L: driver=../../../../../../../bus/scsi/drivers/sd\n\n"
    "P: /devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda\n"
    "N: sda\nE: SUBSYSTEM=block\nE: DEVTYPE=disk\nE: DEVNAME=/dev/sda\nE: MAJOR=8\nE: MINOR=0\n"
    "E: ID_BUS=ata\nE: ID_ATA=1\nE: ID_MODEL=QX_SSD_240GB\nA: dev=8:0\n\n"
    "P: /devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda1\n"
    "N: sda1\nE: SUBSYSTEM=block\nE: DEVTYPE=partition\nE: DEVNAME=/dev/sda1\nE: MAJOR=8\n"
    "E: MINOR=1\nA: dev=8:1\nA: partition=1\n\n";

// A parallel ATA controller driven by libata (ata_piix), one disk.
const char kLibataIde[] =
    "P: /devices/pci0000:00/0000:00:01.1\nE: SUBSYSTEM=pci\nE: DRIVER=ata_piix\n"
    "L: driver=../../../bus/pci/drivers/ata_piix\n\n"
    "P: /devices/pci0000:00/0000:00:01.1/ata3\nE: SUBSYSTEM=ata_port\nE: DEVTYPE=ata_port\n\n"
    "P: /devices/pci0000:00/0000:00:01.1/ata3/host2\nE: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_host\n\n"
    "P: /devices/pci0000:00/0000:00:01.1/ata3/host2/scsi_host/host2\n"
    "E: SUBSYSTEM=scsi_host\nA: proc_name=ata_piix\\n\n\n"
    "P: /devices/pci0000:00/0000:00:01.1/ata3/host2/target2:0:0/2:0:0:0\n"
    "E: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_device\nE: DRIVER=sd\n\n"
    "P: /devices/pci0000:00/0000:00:01.1/ata3/host2/target2:0:0/2:0:0:0/block/sdb\n"
    "N: sdb\nE: SUBSYSTEM=block\nE: DEVTYPE=disk\nE: DEVNAME=/dev/sdb\nE: MAJOR=8\nE: MINOR=16\n"
    "E: ID_BUS=ata\nA: dev=8:16\n\n";

// A USB-to-SATA bridge; `driver` is the interface driver (usb-storage or uas).
std::string usbBridge(const std::string& driver, const std::string& disk, int minor) {
    const std::string iface = "/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0";
    const std::string host = iface + "/host6";
    const std::string dev = host + "/target6:0:0/6:0:0:0";
    return "P: /devices/pci0000:00/0000:00:14.0\nE: SUBSYSTEM=pci\nE: DRIVER=xhci_hcd\n\n"
           "P: /devices/pci0000:00/0000:00:14.0/usb2\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
           "E: DRIVER=usb\n\n"
           "P: /devices/pci0000:00/0000:00:14.0/usb2/2-1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
           "E: DRIVER=usb\nA: idVendor=1d6b\n\n"
           "P: " + iface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=" + driver +
           "\nL: driver=../../../../../../bus/usb/drivers/" + driver + "\n\n"
           "P: " + host + "\nE: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_host\n\n"
           "P: " + host + "/scsi_host/host6\nE: SUBSYSTEM=scsi_host\nA: proc_name=" + driver +
           "\\n\n\n"
           "P: " + dev + "\nE: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_device\nE: DRIVER=sd\n\n"
           "P: " + dev + "/block/" + disk + "\nN: " + disk +
           "\nE: SUBSYSTEM=block\nE: DEVTYPE=disk\nE: DEVNAME=/dev/" + disk +
           "\nE: MAJOR=8\nE: MINOR=" + std::to_string(minor) + "\nE: ID_BUS=usb\nE: ID_USB_DRIVER=" +
           driver + "\nA: dev=8:" + std::to_string(minor) + "\n\n";
}

// A disk on a virtio-scsi controller of a virtual machine.
const char kVirtioScsi[] =
    "P: /devices/pci0000:00/0000:00:05.0\nE: SUBSYSTEM=pci\nE: DRIVER=virtio-pci\n\n"
    "P: /devices/pci0000:00/0000:00:05.0/virtio2\nE: SUBSYSTEM=virtio\nE: DRIVER=virtio_scsi\n"
    "L: driver=../../../../bus/virtio/drivers/virtio_scsi\n\n"
    "P: /devices/pci0000:00/0000:00:05.0/virtio2/host1\nE: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_host\n\n"
    "P: /devices/pci0000:00/0000:00:05.0/virtio2/host1/scsi_host/host1\n"
    "E: SUBSYSTEM=scsi_host\nA: proc_name=virtio_scsi\\n\n\n"
    "P: /devices/pci0000:00/0000:00:05.0/virtio2/host1/target1:0:0/1:0:0:0\n"
    "E: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_device\nE: DRIVER=sd\n\n"
    "P: /devices/pci0000:00/0000:00:05.0/virtio2/host1/target1:0:0/1:0:0:0/block/sdd\n"
    "N: sdd\nE: SUBSYSTEM=block\nE: DEVTYPE=disk\nE: DEVNAME=/dev/sdd\nE: MAJOR=8\nE: MINOR=48\n"
    "E: ID_BUS=scsi\nA: dev=8:48\n\n";

// An NVMe disk: not a disk of the SCSI disk driver, so no candidate.
const char kNvme[] =
    "P: /devices/pci0000:00/0000:00:1d.0/0000:3d:00.0\nE: SUBSYSTEM=pci\nE: DRIVER=nvme\n\n"
    "P: /devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0\nE: SUBSYSTEM=nvme\n"
    "N: nvme0\nE: DEVNAME=/dev/nvme0\nE: MAJOR=240\nE: MINOR=0\n\n"
    "P: /devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1\n"
    "N: nvme0n1\nE: SUBSYSTEM=block\nE: DEVTYPE=disk\nE: DEVNAME=/dev/nvme0n1\nE: MAJOR=259\n"
    "E: MINOR=0\nA: dev=259:0\n\n";

// A plain SCSI host (a SAS adapter, no libata port above its disks).
const char kSasAdapter[] =
    "P: /devices/pci0000:00/0000:00:10.0\nE: SUBSYSTEM=pci\nE: DRIVER=mpt3sas\n\n"
    "P: /devices/pci0000:00/0000:00:10.0/host3\nE: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_host\n\n";

// A disk on the adapter above with these extra property lines; without `withNode` it
// has neither a device node file nor a DEVNAME of its own.
std::string plainScsiDisk(const std::string& name, int minor, const std::string& extra,
                          bool withNode = true) {
    const std::string dev = "/devices/pci0000:00/0000:00:10.0/host3/target3:0:0/3:0:0:" +
                            std::to_string(minor);
    std::string text = "P: " + dev + "\nE: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_device\n\n"
                       "P: " + dev + "/block/" + name + "\n";
    if (withNode) text += "N: " + name + "\nE: DEVNAME=/dev/" + name + "\n";
    text += "E: SUBSYSTEM=block\nE: DEVTYPE=disk\nE: MAJOR=65\nE: MINOR=" + std::to_string(minor) +
            "\n" + extra + "A: dev=65:" + std::to_string(minor) + "\n\n";
    return text;
}

class UdevDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        const char* preload = std::getenv("LD_PRELOAD");
        if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
            GTEST_SKIP() << "needs the umockdev preload library (run under umockdev-wrapper)";
        }
        testbed_ = umockdev_testbed_new();
        previous_ = platform();
        installPlatform(Platform{nullptr, nullptr, &system, &kernel});
    }
    void TearDown() override {
        if (testbed_ == nullptr) return;
        DbgReleaseLock();
        installPlatform(previous_);
        g_object_unref(testbed_);
    }

    void add(const std::string& record) {
        GError* error = nullptr;
        const bool ok = umockdev_testbed_add_from_string(testbed_, record.c_str(), &error);
        ASSERT_TRUE(ok) << (error != nullptr ? error->message : "");
    }

    std::vector<std::string> paths() {
        const auto listed = system.diskInterfaces();
        EXPECT_TRUE(listed.has_value());
        return listed.value_or(std::vector<std::string>{});
    }

    UMockdevTestbed* testbed_ = nullptr;
    Platform previous_;
    test::CaptureKernel kernel;
    LinuxSystem system;
};

TEST_F(UdevDiscovery, ControllersGiveTheirBusWordsAndKinds) {
    add(kAhciSsd);
    add(kLibataIde);
    add(usbBridge("usb-storage", "sdc", 32));
    add(kVirtioScsi);
    add(kNvme);
    const std::vector<std::string> listed = paths();
    EXPECT_EQ(listed, (std::vector<std::string>{"\\\\.\\ide#sda", "\\\\.\\ide#sdb", "\\\\.\\usb#sdc",
                                                "\\\\.\\scsi#sdd"}));
    // What the scan makes of them (version 6.2: the SCSI path takes the ATA pass-through).
    const int32_t kinds[] = {DEVICE_IDE, DEVICE_IDE, DEVICE_USB, DEVICE_IDE};
    for (std::size_t i = 0; i < listed.size() && i < 4; ++i) {
        std::string text = listed[i], busName;
        EXPECT_EQ(ClassifyDevicePath(text.data(), busName), kinds[i]) << listed[i];
    }
    EXPECT_TRUE(kernel.output.empty());

    const auto disks = ListUdevDisks();
    ASSERT_TRUE(disks.has_value());
    ASSERT_EQ(disks->size(), 4u);
    EXPECT_EQ((*disks)[0].node, "/dev/sda");
    EXPECT_EQ((*disks)[0].major, 8u);
    EXPECT_EQ((*disks)[0].minor, 0u);
    EXPECT_EQ((*disks)[3].name, "sdd");
    EXPECT_EQ((*disks)[3].minor, 48u);
}

TEST_F(UdevDiscovery, UasBridgeIsUsb) {
    add(usbBridge("uas", "sdc", 32));
    EXPECT_EQ(paths(), std::vector<std::string>{"\\\\.\\usb#sdc"});
}

TEST_F(UdevDiscovery, EmptyTreeListsNothing) {
    EXPECT_TRUE(paths().empty());
    add(kNvme);
    EXPECT_TRUE(paths().empty());
}

TEST_F(UdevDiscovery, DisksInTheKernelsOrderOfNames) {
    add(kSasAdapter);
    add(plainScsiDisk("sdaa", 3, ""));
    add(plainScsiDisk("sdz", 2, ""));
    add(plainScsiDisk("sde", 1, ""));
    EXPECT_EQ(paths(), (std::vector<std::string>{"\\\\.\\scsi#sde", "\\\\.\\scsi#sdz",
                                                 "\\\\.\\scsi#sdaa"}));
}

TEST_F(UdevDiscovery, IdBusNamesTheBusOfAPlainScsiPath) {
    // A SATA disk on a SAS adapter, a FireWire disk seen through a generic host, and one
    // whose ID_BUS says nothing known.
    add(kSasAdapter);
    add(plainScsiDisk("sde", 1, "E: ID_BUS=ata\n"));
    add(plainScsiDisk("sdf", 2, "E: ID_BUS=ieee1394\n"));
    add(plainScsiDisk("sdg", 3, "E: ID_BUS=usb\n"));
    add(plainScsiDisk("sdh", 4, "E: ID_BUS=spi\n"));
    EXPECT_EQ(paths(), (std::vector<std::string>{"\\\\.\\ide#sde", "\\\\.\\sbp2#sdf",
                                                 "\\\\.\\usb#sdg", "\\\\.\\scsi#sdh"}));
}

TEST_F(UdevDiscovery, OddPropertyIsPassedOverAndTheDiskStays) {
    add(kSasAdapter);
    add(plainScsiDisk("sde", 1, "E: ID_BUS=us\x01" "b\n"));
    EXPECT_EQ(paths(), std::vector<std::string>{"\\\\.\\scsi#sde"});
    EXPECT_TRUE(kernel.logged("Disk sde: property ID_BUS with odd bytes passed over: us\\x01b\r\n"));
}

TEST_F(UdevDiscovery, DiskWithoutDeviceNodeIsPassedOver) {
    add(kAhciSsd);
    add(kSasAdapter);
    add(plainScsiDisk("sde", 1, "", /*withNode=*/false));
    EXPECT_EQ(paths(), std::vector<std::string>{"\\\\.\\ide#sda"});
    EXPECT_TRUE(kernel.logged("Disk sde passed over: no device node\r\n"));
}

TEST_F(UdevDiscovery, NodeElsewhereThanItsNameIsPassedOver) {
    add(kSasAdapter);
    add(plainScsiDisk("sde", 1, "E: DEVNAME=/dev/../etc/sde\n", /*withNode=*/false));
    EXPECT_TRUE(paths().empty());
    EXPECT_TRUE(kernel.loggedContaining("Disk sde passed over: its device node /dev/../etc/sde"));
}

TEST_F(UdevDiscovery, OverlongAndOddNamesArePassedOver) {
    // A name of 250 characters would make a path of more than 255.
    const std::string longName = "sd" + std::string(248, 'q');
    add(kAhciSsd);
    add(kSasAdapter);
    // No node file: the test bed can't make one of that name.
    add(plainScsiDisk(longName, 1, "E: DEVNAME=/dev/" + longName + "\n", /*withNode=*/false));
    add(plainScsiDisk("sdX", 2, ""));
    CandidateTable table{};
    ASSERT_EQ(EnumDiskInterfaces(table), 1);
    EXPECT_STREQ(table.path[0], "\\\\.\\ide#sda");
    EXPECT_TRUE(kernel.loggedContaining("passed over: its name is longer than 64 characters"));
    EXPECT_TRUE(kernel.logged("Disk sdX passed over: not a kernel disk name\r\n"));
}

}  // namespace
}  // namespace qx::linuxos
