// VP_GetSystemInfo on the simulated bench: what it keeps from the record, the signature
// selection, and the system-page reads of stage 2 (checked through the command sectors
// the drive received).
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "QXLib/SystemInfo.h"
#include "QXLib/Transport.h"
#include "QXLib/V_Access.h"
#include "platform/sim/Sha256.h"
#include "support/ProcedureBench.h"

namespace qx {
namespace {

using test::ProcedureBench;
using test::makerSataDisk;

constexpr const char* kT74 = "QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01";

struct PageRead {
    uint16_t unit;
    uint32_t offset;
    uint8_t layout;
};

// The SHA-256 of the command sector that VA_SysReadPage writes for these parameters.
std::string sysReadPageSector(const PageRead& r) {
    std::array<uint8_t, 512> s{};
    const uint8_t block[16] = {0xFF, 0xE5, 0x04, 0xFF, 0x00,
                               static_cast<uint8_t>(r.unit >> 8), static_cast<uint8_t>(r.unit),
                               0x00, 0x00, 0x03, r.layout, 0x00,
                               static_cast<uint8_t>(r.offset >> 24),
                               static_cast<uint8_t>(r.offset >> 16),
                               static_cast<uint8_t>(r.offset >> 8), static_cast<uint8_t>(r.offset)};
    std::memcpy(s.data(), block, sizeof block);
    return sim::Sha256::hex(s.data(), s.size());
}

// The system-page reads that reached the drive, as the command sectors' digests.
std::vector<std::string> pageReadSectors(const ProcedureBench& b) {
    std::vector<std::string> out;
    const auto& calls = b.fixture.bench.calls();
    for (size_t i = 0; i + 1 < calls.size(); ++i) {
        const auto& write = calls[i];
        const auto& read = calls[i + 1];
        // A command sector (0x88 at LBA 0x1234FF) followed by the page data phase (LBA low 4).
        if (write.taskFileIn[6] == 0x88 && write.taskFileIn[2] == 0xFF &&
            read.taskFileIn[6] == 0x86 && read.taskFileIn[2] == 0x04) {
            out.push_back(write.dataSha256);
        }
    }
    return out;
}

std::vector<std::string> expected(const std::vector<PageRead>& reads) {
    std::vector<std::string> out;
    for (const auto& r : reads) out.push_back(sysReadPageSector(r));
    return out;
}

class SystemInfoTest : public ::testing::Test {
protected:
    // Reads drive 0 of `b` with vendor mode on, as the update does.
    static bool read(ProcedureBench& b, uint8_t device = 0) {
        VA_EnableVendorCmd(device, true);
        b.forget();
        std::vector<uint8_t> work(kWorkBufferSize, 0xCC);
        return VP_GetSystemInfo(device, work.data());
    }
};

TEST_F(SystemInfoTest, KeepsBuildInfoAndSystemBlocks) {
    auto disk = makerSataDisk(1);
    disk.drive.systemBlocks = {0x1234, 0x0002, 0xFFFF, 0x0101};
    ProcedureBench b({disk});
    ASSERT_TRUE(read(b));
    EXPECT_EQ(DriveBuildInfo, disk.drive.buildInfo);
    EXPECT_EQ(DeviceSlot[0].SystemBlocks[0], 0x1234);
    EXPECT_EQ(DeviceSlot[0].SystemBlocks[1], 0x0002);
    EXPECT_EQ(DeviceSlot[0].SystemBlocks[2], 0xFFFF);
    EXPECT_EQ(DeviceSlot[0].SystemBlocks[3], 0x0101);
}

TEST_F(SystemInfoTest, T74GetsV50AndLayoutOneInEveryPageRead) {
    auto disk = makerSataDisk(1);
    disk.drive.signatureBlock = -1;  // no valid page: all four reads go out
    ProcedureBench b({disk});
    ASSERT_TRUE(read(b));
    const std::array<uint8_t, 16> v50 = {'L', 'D', 'B', 'K', ' ', 'B', 'L', 'O',
                                         'C', 'K', 'S', ' ', 'V', '5', '0', 0};
    EXPECT_EQ(SelectedSystemPageSignature(), v50);
    EXPECT_EQ(SelectedLayoutVersion(), 1);
    EXPECT_EQ(pageReadSectors(b),
              expected({{8, 0, 1}, {8, 32768, 1}, {16, 0, 1}, {16, 32768, 1}}));
}

TEST_F(SystemInfoTest, StopsAtTheFirstValidPage) {
    auto disk = makerSataDisk(1);
    disk.drive.signatureBlock = 0;
    ProcedureBench b({disk});
    ASSERT_TRUE(read(b));
    EXPECT_EQ(pageReadSectors(b), expected({{8, 0, 1}}));

    b.fixture.bench.setup().disks[0].drive.signatureBlock = 1;
    ASSERT_TRUE(read(b));
    EXPECT_EQ(pageReadSectors(b), expected({{8, 0, 1}, {8, 32768, 1}}));

    b.fixture.bench.setup().disks[0].drive.signatureBlock = 3;
    ASSERT_TRUE(read(b));
    EXPECT_EQ(pageReadSectors(b).size(), 4u);
}

TEST_F(SystemInfoTest, T71GetsV40AndLayoutZero) {
    auto disk = makerSataDisk(1);
    disk.drive.buildInfo = sim::makeBuildInfo("QXFWR_111007_R,Sep 18 2012,10:11:12,t71a,42A1B2,QX01");
    disk.drive.signatureBlock = -1;
    disk.drive.pageSizeCode = 3;  // 32 sectors per page
    disk.drive.systemBlocks = {0x03, 0x04, 0x05, 0x06};
    ProcedureBench b({disk});
    ASSERT_TRUE(read(b));
    EXPECT_EQ(std::memcmp(SelectedSystemPageSignature().data(), "LDBK BLOCKS V40", 16), 0);
    EXPECT_EQ(SelectedLayoutVersion(), 0);
    EXPECT_EQ(pageReadSectors(b),
              expected({{1, 131072, 0}, {2, 0, 0}, {2, 131072, 0}, {3, 0, 0}}));
}

TEST_F(SystemInfoTest, OtherModelKeepsTheSelectionOfTheDriveBefore) {
    auto t74 = makerSataDisk(1);
    t74.drive.signatureBlock = -1;
    auto other = makerSataDisk(2);
    other.drive.buildInfo = sim::makeBuildInfo("QXFWR_111007_R,Sep 18 2012,10:11:12,z99a,42A1B2,QX01");
    other.drive.signatureBlock = -1;
    ProcedureBench b({t74, other});
    ASSERT_TRUE(read(b, 0));
    ASSERT_TRUE(read(b, 1));
    EXPECT_EQ(std::memcmp(SelectedSystemPageSignature().data(), "LDBK BLOCKS V50", 16), 0);
    EXPECT_EQ(SelectedLayoutVersion(), 1);
    EXPECT_EQ(pageReadSectors(b).size(), 4u);
}

TEST_F(SystemInfoTest, OtherModelFirstInTheProcessMatchesAnEmptyPage) {
    auto disk = makerSataDisk(1);
    disk.drive.buildInfo = sim::makeBuildInfo("QXFWR_111007_R,Sep 18 2012,10:11:12,z99a,42A1B2,QX01");
    ProcedureBench b({disk});  // resets the selection to 16 zero bytes
    ASSERT_TRUE(read(b));
    EXPECT_EQ(SelectedSystemPageSignature(), (std::array<uint8_t, 16>{}));
    EXPECT_EQ(pageReadSectors(b), expected({{8, 0, 0}}));
}

TEST_F(SystemInfoTest, FailedRecordReadKeepsThePreviousBuildInfo) {
    auto first = makerSataDisk(1);
    auto second = makerSataDisk(2);
    second.drive.buildInfo = sim::makeBuildInfo("QXFWR_111008_R,Sep 20 2012,09:30:00,t74a,40C3D4,QX02");
    second.drive.systemBlocks = {1, 2, 3, 4};
    second.faults.push_back(test::fault("vendor:86", 0, sim::FaultKind::AtaError));
    ProcedureBench b({first, second});
    ASSERT_TRUE(read(b, 0));
    EXPECT_FALSE(read(b, 1));
    EXPECT_EQ(DriveBuildInfo, first.drive.buildInfo);
    EXPECT_EQ(DeviceSlot[1].SystemBlocks[0], 0);
    EXPECT_TRUE(pageReadSectors(b).empty());
    EXPECT_NE(b.debugText().find("FAILED(VC_SATA_ReadCmd)\r\n"), std::string::npos);
}

TEST_F(SystemInfoTest, PageSizeCodeWithoutSizeReadsOddBlocksAtOffsetZero) {
    auto disk = makerSataDisk(1);
    disk.drive.pageSizeCode = 7;
    disk.drive.signatureBlock = -1;
    ProcedureBench b({disk});
    ASSERT_TRUE(read(b));
    EXPECT_EQ(pageReadSectors(b), expected({{8, 0, 1}, {8, 0, 1}, {16, 0, 1}, {16, 0, 1}}));
}

TEST_F(SystemInfoTest, AllOddBlocksAndSmallestPage) {
    auto disk = makerSataDisk(1);
    disk.drive.pageSizeCode = 0;  // 4 sectors per page: 16,384 bytes to the odd block's page
    disk.drive.systemBlocks = {0x01, 0x03, 0xFFFF, 0x7F};
    disk.drive.signatureBlock = -1;
    ProcedureBench b({disk});
    ASSERT_TRUE(read(b));
    EXPECT_EQ(pageReadSectors(b), expected({{0, 16384, 1}, {1, 16384, 1}, {0x7FFF, 16384, 1},
                                            {0x3F, 16384, 1}}));
}

TEST_F(SystemInfoTest, FailedPageReadsDoNotChangeTheResult) {
    const auto disk = test::withFault(makerSataDisk(1), "vendor:04", 0, sim::FaultKind::AtaError);
    ProcedureBench b({disk});
    EXPECT_TRUE(read(b));
    // Every data phase fails, so no page matches and all four reads are tried.
    EXPECT_EQ(pageReadSectors(b).size(), 4u);
    EXPECT_EQ(DriveBuildInfo, disk.drive.buildInfo);
}

}  // namespace
}  // namespace qx
