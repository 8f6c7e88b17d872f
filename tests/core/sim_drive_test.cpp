// The simulated drive's command set, called directly: IDENTIFY layout, vendor mode and
// answer sector, the information record and system pages, DOWNLOAD MICROCODE acceptance
// and rejection, the security erase pair, SMART, and the narrower command sets of another
// maker's SSD and of a hard disk.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/sim/SimDrive.h"
#include "support/SimFixture.h"

namespace qx::sim {
namespace {

using test::regs;

constexpr uint8_t kOk = 0x50;
constexpr uint8_t kErr = 0x51;

struct Reply {
    uint8_t status = 0;
    uint8_t error = 0;
    uint32_t moved = 0;
};

Reply run(SimDrive& d, std::array<uint8_t, 8> tf, DataDir dir = DataDir::None,
          uint8_t* data = nullptr, uint32_t length = 0) {
    Reply r;
    r.moved = d.execute(tf, dir, data, length);
    r.status = tf[6];
    r.error = tf[0];
    return r;
}

uint16_t word(const uint8_t* b, size_t w) { return static_cast<uint16_t>(b[2 * w] | (b[2 * w + 1] << 8)); }

Reply vendorOn(SimDrive& d) { return run(d, regs(0xEF, 0xDC, 0x51)); }

// The command sector of a vendor command, written with 0x88 to LBA 0x1234FF.
Reply vendorCommand(SimDrive& d, const std::array<uint8_t, 16>& block) {
    std::vector<uint8_t> sector(512, 0);
    std::memcpy(sector.data(), block.data(), 16);
    return run(d, regs(0x88, 0, 1, 0xFF, 0x34, 0x12), DataDir::Out, sector.data(), 512);
}

Reply vendorData(SimDrive& d, uint8_t sub, std::vector<uint8_t>& buf, uint8_t sectors) {
    buf.assign(size_t{sectors} * 512, 0xCC);
    return run(d, regs(0x86, 0, sectors, sub, 0x34, 0x12), DataDir::In, buf.data(),
               static_cast<uint32_t>(buf.size()));
}

std::array<uint8_t, 16> readCodeBlock(uint8_t space, uint32_t address) {
    return {0xFF, 0xE5, 0x86, space, static_cast<uint8_t>(address >> 24),
            static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address), 0, 0, 0, 0, 0, 0, 0, 0};
}

std::array<uint8_t, 16> sysReadPageBlock(uint16_t unit, uint32_t offset) {
    return {0xFF, 0xE5, 0x04, 0xFF, 0, static_cast<uint8_t>(unit >> 8), static_cast<uint8_t>(unit),
            0, 0, 3, 1, 0, static_cast<uint8_t>(offset >> 24), static_cast<uint8_t>(offset >> 16),
            static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset)};
}

class SimDriveTest : public ::testing::Test {
protected:
    SimDriveSpec setup = test::makerDrive(1);
};

// ------------------------------------------------------------------------- IDENTIFY
TEST_F(SimDriveTest, IdentifyCarriesTheDriveFieldsAtTheirWords) {
    setup.serial = "QX74A0000001";
    setup.model = "Quorvex QX-T74 256GB";
    setup.firmware = "1.02";
    setup.sectors28 = 0x0FFFFFFF;
    setup.sectors48 = 500118192;
    setup.wwn = {0x5001, 0xB448, 0x1234, 0x5601};
    SimDrive d(setup);
    uint8_t id[512];
    const Reply r = run(d, regs(0xEC, 0, 1), DataDir::In, id, 512);
    EXPECT_EQ(r.status, kOk);
    EXPECT_EQ(r.moved, 512u);
    // ATA strings: first character of a pair in the high byte, blanks after the text.
    EXPECT_EQ(id[20], 'X');
    EXPECT_EQ(id[21], 'Q');
    EXPECT_EQ(readAtaString(id + 20, 20), "QX74A0000001");
    EXPECT_EQ(id[20 + 12], ' ');
    EXPECT_EQ(id[39], ' ');
    EXPECT_EQ(readAtaString(id + 46, 8), "1.02");
    EXPECT_EQ(readAtaString(id + 54, 40), "Quorvex QX-T74 256GB");
    EXPECT_EQ(id[93], ' ');
    EXPECT_EQ(word(id, 60) | (uint32_t{word(id, 61)} << 16), 0x0FFFFFFFu);
    EXPECT_EQ(word(id, 100) | (uint32_t{word(id, 101)} << 16), 500118192u);
    EXPECT_EQ(word(id, 102), 0);
    EXPECT_EQ(word(id, 108), 0x5001);
    EXPECT_EQ(word(id, 111), 0x5601);
    EXPECT_EQ(word(id, 217), 1);
    uint8_t sum = 0;
    for (uint8_t b : id) sum = static_cast<uint8_t>(sum + b);
    EXPECT_EQ(id[510], 0xA5);
    EXPECT_EQ(sum, 0) << "integrity word";
}

TEST_F(SimDriveTest, IdentifyNeedsADataInAreaOfOneSector) {
    SimDrive d(setup);
    uint8_t id[512];
    Reply r = run(d, regs(0xEC, 0, 1));
    EXPECT_EQ(r.status, kErr);
    EXPECT_EQ(r.error, 0x04);
    r = run(d, regs(0xEC, 0, 1), DataDir::In, id, 511);
    EXPECT_EQ(r.status, kErr);
    r = run(d, regs(0xEC, 0, 1), DataDir::Out, id, 512);
    EXPECT_EQ(r.status, kErr);
}

TEST_F(SimDriveTest, UnknownCommandsAreAborted) {
    SimDrive d(setup);
    const Reply r = run(d, regs(0x25));
    EXPECT_EQ(r.status, kErr);
    EXPECT_EQ(r.error, 0x04);
}

// ------------------------------------------------------------------------- vendor mode
TEST_F(SimDriveTest, SetFeaturesDcSwitchesVendorModeOnAndOff) {
    SimDrive d(setup);
    EXPECT_FALSE(d.state().vendorMode);
    EXPECT_EQ(vendorOn(d).status, kOk);
    EXPECT_TRUE(d.state().vendorMode);
    EXPECT_EQ(run(d, regs(0xEF, 0xDC, 0x58)).status, kOk);
    EXPECT_FALSE(d.state().vendorMode);
    EXPECT_EQ(run(d, regs(0xEF, 0xDC, 0x52)).status, kErr) << "unknown vendor switch value";
    EXPECT_EQ(run(d, regs(0xEF, 0x02)).status, kOk) << "other features are accepted";
    EXPECT_FALSE(d.state().vendorMode);
}

TEST_F(SimDriveTest, AnswerSectorOnlyInVendorMode) {
    SimDrive d(setup);
    uint8_t buf[512];
    EXPECT_EQ(run(d, regs(0x86, 0, 1, 0xFF, 0x34, 0x12), DataDir::In, buf, 512).status, kErr);
    vendorOn(d);
    const Reply r = run(d, regs(0x86, 0, 1, 0xFF, 0x34, 0x12), DataDir::In, buf, 512);
    EXPECT_EQ(r.status, kOk);
    EXPECT_EQ(buf[0], 0xE5);
    EXPECT_EQ(buf[1], 0x51);
    EXPECT_EQ(buf[2], 0x58);
    EXPECT_EQ(buf[3], 0x00);
    // The PIO opcodes reach the same sector.
    std::memset(buf, 0, sizeof buf);
    EXPECT_EQ(run(d, regs(0x8A, 0, 1, 0xFF, 0x34, 0x12), DataDir::In, buf, 512).status, kOk);
    EXPECT_EQ(buf[0], 0xE5);
    // Another LBA is not the vendor channel.
    EXPECT_EQ(run(d, regs(0x86, 0, 1, 0xFF, 0x35, 0x12), DataDir::In, buf, 512).status, kErr);
}

TEST_F(SimDriveTest, VendorCommandsFailOutsideVendorMode) {
    SimDrive d(setup);
    EXPECT_EQ(vendorCommand(d, readCodeBlock(3, 0)).status, kErr);
    vendorOn(d);
    EXPECT_EQ(vendorCommand(d, readCodeBlock(3, 0)).status, kOk);
    run(d, regs(0xEF, 0xDC, 0x58));
    std::vector<uint8_t> buf;
    EXPECT_EQ(vendorData(d, 0x86, buf, 8).status, kErr);
}

TEST_F(SimDriveTest, CommandSectorMustCarryTheBlockSignature) {
    SimDrive d(setup);
    vendorOn(d);
    auto block = readCodeBlock(3, 0);
    block[1] = 0xE6;
    EXPECT_EQ(vendorCommand(d, block).status, kErr);
}

TEST_F(SimDriveTest, ReadCodeFromMemReturnsTheInformationRecord) {
    setup.buildInfo = makeBuildInfo("QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01");
    setup.pageSizeCode = 2;
    setup.systemBlocks = {0x0102, 0x11, 0x20, 0xBEEF};
    SimDrive d(setup);
    vendorOn(d);
    ASSERT_EQ(vendorCommand(d, readCodeBlock(3, 0)).status, kOk);
    std::vector<uint8_t> si;
    const Reply r = vendorData(d, 0x86, si, 8);
    ASSERT_EQ(r.status, kOk);
    EXPECT_EQ(r.moved, 4096u);
    EXPECT_EQ(std::memcmp(si.data() + 0x300, setup.buildInfo.data(), 64), 0);
    EXPECT_EQ(word(si.data(), 0x500 / 2) & 7, 2);
    EXPECT_EQ(word(si.data(), 0x510 / 2), 0x0102);
    EXPECT_EQ(word(si.data(), 0x516 / 2), 0xBEEF);
    EXPECT_EQ(si[0], 0) << "uninterpreted bytes are zero";

    // An address inside the record; the data phase is consumed by one read.
    ASSERT_EQ(vendorCommand(d, readCodeBlock(3, 0x300)).status, kOk);
    ASSERT_EQ(vendorData(d, 0x86, si, 1).status, kOk);
    EXPECT_EQ(std::memcmp(si.data(), setup.buildInfo.data(), 64), 0);
    EXPECT_EQ(vendorData(d, 0x86, si, 1).status, kErr) << "no command sector before it";
}

TEST_F(SimDriveTest, DataPhaseMustMatchTheCommandSector) {
    SimDrive d(setup);
    vendorOn(d);
    ASSERT_EQ(vendorCommand(d, readCodeBlock(3, 0)).status, kOk);
    std::vector<uint8_t> buf;
    EXPECT_EQ(vendorData(d, 0x04, buf, 8).status, kErr);
    // Too small a host area for the sectors asked.
    ASSERT_EQ(vendorCommand(d, readCodeBlock(3, 0)).status, kOk);
    std::vector<uint8_t> small(512);
    EXPECT_EQ(run(d, regs(0x86, 0, 8, 0x86, 0x34, 0x12), DataDir::In, small.data(), 512).status, kErr);
}

TEST_F(SimDriveTest, SystemPageOfTheSignatureBlockAtItsOffset) {
    setup.buildInfo = makeBuildInfo("QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01");
    setup.pageSizeCode = 1;  // 8 sectors per page
    setup.systemBlocks = {0x10, 0x11, 0x20, 0x21};
    setup.signatureBlock = 1;  // block 0x11: unit 8, odd, byte offset 8 * 8 * 512
    SimDrive d(setup);
    vendorOn(d);
    std::vector<uint8_t> page;
    ASSERT_EQ(vendorCommand(d, sysReadPageBlock(8, 0)).status, kOk);
    ASSERT_EQ(vendorData(d, 0x04, page, 8).status, kOk);
    EXPECT_EQ(page[0], 0) << "block 0x10 holds no signature";
    ASSERT_EQ(vendorCommand(d, sysReadPageBlock(8, 32768)).status, kOk);
    ASSERT_EQ(vendorData(d, 0x04, page, 8).status, kOk);
    EXPECT_EQ(std::memcmp(page.data(), "LDBK BLOCKS V50", 16), 0);
    ASSERT_EQ(vendorCommand(d, sysReadPageBlock(16, 0)).status, kOk);
    ASSERT_EQ(vendorData(d, 0x04, page, 8).status, kOk);
    EXPECT_EQ(page[0], 0);
}

TEST_F(SimDriveTest, SignatureTextFollowsTheModelCode) {
    setup.signatureBlock = 0;
    setup.buildInfo = makeBuildInfo("QXFWR_111007_R,Sep 18 2012,10:11:12,t72a,42A1B2,QX01");
    {
        SimDrive d(setup);
        const auto page = d.systemPage(8, 0);
        EXPECT_EQ(std::memcmp(page.data(), "LDBK BLOCKS V40", 16), 0);
    }
    setup.buildInfo = makeBuildInfo("QXFWR_111007_R,Sep 18 2012,10:11:12,t76a,42A1B2,QX01");
    {
        SimDrive d(setup);
        EXPECT_EQ(std::memcmp(d.systemPage(8, 0).data(), "LDBK BLOCKS V50", 16), 0);
    }
    setup.buildInfo = makeBuildInfo("QXFWR_111007_R,Sep 18 2012,10:11:12,t80a,42A1B2,QX01");
    {
        SimDrive d(setup);
        const auto page = d.systemPage(8, 0);
        EXPECT_TRUE(std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0; }));
    }
}

TEST_F(SimDriveTest, PageSizeCodesWithoutAPageSizeHaveOnlyOffsetZero) {
    setup.pageSizeCode = 5;
    setup.signatureBlock = 1;  // block 0x11 is odd: unreachable without a page size
    SimDrive d(setup);
    for (uint32_t offset : {0u, 8u * 4 * 512, 8u * 32 * 512}) {
        EXPECT_EQ(d.systemPage(8, offset)[0], 0) << offset;
    }
    setup.signatureBlock = 0;  // block 0x10: unit 8, offset 0
    EXPECT_EQ(std::memcmp(d.systemPage(8, 0).data(), "LDBK BLOCKS V50", 16), 0);
}

// ------------------------------------------------------------------------- download
class DownloadTest : public SimDriveTest {
protected:
    // Sends `blocks` of `image` as the utility does: chunks of 128, the final chunk as
    // count-1 blocks then the last block alone (the zero-count command left out).
    std::vector<Reply> send(SimDrive& d, std::vector<uint8_t>& image, size_t length) {
        std::vector<Reply> out;
        uint32_t total = static_cast<uint32_t>((length + 511) / 512);
        uint32_t offset = 0;
        while (total > 0) {
            const uint32_t count = total > 128 ? 128 : total;
            if (total > 128) {
                out.push_back(chunk(d, image, count, offset));
            } else {
                if (count > 1) out.push_back(chunk(d, image, count - 1, offset));
                out.push_back(chunk(d, image, 1, offset + count - 1));
            }
            offset += count;
            total -= count;
        }
        return out;
    }
    Reply chunk(SimDrive& d, std::vector<uint8_t>& image, uint32_t count, uint32_t offset) {
        auto tf = regs(0x92, 0x03, static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
                       static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8));
        return run(d, tf, DataDir::Out, image.data() + size_t{offset} * 512, count * 512);
    }
    static bool allOk(const std::vector<Reply>& r) {
        return std::all_of(r.begin(), r.end(), [](const Reply& x) { return x.status == kOk; });
    }
    static constexpr const char* kNewBuild = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01";
};

TEST_F(DownloadTest, AGoodImageIsInstalledOnItsLastBlock) {
    SimDrive d(setup);
    auto image = test::makeImageFor(setup, 150016, "1.06", kNewBuild);
    const auto replies = send(d, image, 150016);
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_TRUE(allOk(replies));
    EXPECT_TRUE(d.state().firmwareUpdated);
    EXPECT_EQ(d.state().downloadVerdict, "installed");
    EXPECT_EQ(d.state().firmware, "1.06");
    EXPECT_EQ(d.state().downloadCommands, 4);
    EXPECT_EQ(d.state().downloaded.size(), 150016u);
    uint8_t id[512];
    run(d, regs(0xEC, 0, 1), DataDir::In, id, 512);
    EXPECT_EQ(readAtaString(id + 46, 8), "1.06");
    EXPECT_EQ(std::memcmp(d.systemInfo().data() + 0x300, image.data() + 768, 64), 0);
}

TEST_F(DownloadTest, NothingChangesBeforeTheLastBlock) {
    SimDrive d(setup);
    auto image = test::makeImageFor(setup, 150016, "1.06", kNewBuild);
    EXPECT_EQ(chunk(d, image, 128, 0).status, kOk);
    EXPECT_EQ(chunk(d, image, 128, 128).status, kOk);
    EXPECT_EQ(chunk(d, image, 36, 256).status, kOk);
    EXPECT_FALSE(d.state().firmwareUpdated);
    EXPECT_EQ(d.state().firmware, "1.02");
}

TEST_F(DownloadTest, LengthsThatAreNotWholeBlocksWithEitherPadding) {
    for (size_t length : {150100u, 150017u, 150015u, 1025u, 834u}) {
        for (uint8_t pad : {uint8_t{0x00}, uint8_t{0xFF}}) {
            SimDrive d(setup);
            auto image = test::makeImageFor(setup, length, "1.06", kNewBuild, pad, static_cast<uint32_t>(length));
            EXPECT_TRUE(allOk(send(d, image, length))) << length << " pad " << int(pad);
            EXPECT_TRUE(d.state().firmwareUpdated) << length << " pad " << int(pad);
            EXPECT_EQ(d.state().firmware, "1.06");
        }
    }
}

TEST_F(DownloadTest, AFinalChunkOfTwoBlocksSendsTwoSingleBlocks) {
    // 130 blocks: 128 at 0, then 1 at 128 (not the end), then 1 at 129.
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        SimDrive d(setup);
        auto image = test::makeImageFor(setup, 130 * 512, "1.06", kNewBuild, 0, seed);
        const auto replies = send(d, image, 130 * 512);
        ASSERT_EQ(replies.size(), 3u);
        EXPECT_TRUE(allOk(replies)) << seed;
        EXPECT_TRUE(d.state().firmwareUpdated) << seed;
    }
}

TEST_F(DownloadTest, WrongChecksumIsRejectedAndTheOldFirmwareStays) {
    SimDrive d(setup);
    auto image = test::makeImageFor(setup, 150016, "1.06", kNewBuild);
    image[150016 - 1] ^= 0x01;
    const auto replies = send(d, image, 150016);
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[2].status, kOk);
    EXPECT_EQ(replies[3].status, kErr);
    EXPECT_EQ(replies[3].error, 0x04);
    EXPECT_FALSE(d.state().firmwareUpdated);
    EXPECT_EQ(d.state().firmware, "1.02");
    EXPECT_EQ(d.state().downloadVerdict, "checksum");
    EXPECT_EQ(d.state().downloadRejections, 1);
}

TEST_F(DownloadTest, AnImageForAnotherDriveIsRejected) {
    struct Case {
        const char* what;
        void (*change)(SimDriveSpec&);
    };
    const Case cases[] = {
        {"serial number", [](SimDriveSpec& s) { s.serial = "QX74Z9999999"; }},
        {"model", [](SimDriveSpec& s) { s.model = "Quorvex QX-T74 128GB"; }},
        {"world wide name", [](SimDriveSpec& s) { s.wwn[3] ^= 1; }},
    };
    for (const Case& c : cases) {
        SimDriveSpec other = setup;
        c.change(other);
        SimDrive d(setup);
        auto image = test::makeImageFor(other, 150016, "1.06", kNewBuild);
        const auto replies = send(d, image, 150016);
        EXPECT_EQ(replies.back().status, kErr) << c.what;
        EXPECT_EQ(d.state().downloadVerdict, c.what);
        EXPECT_FALSE(d.state().firmwareUpdated) << c.what;
        EXPECT_EQ(d.state().firmware, "1.02");
    }
}

TEST_F(DownloadTest, BlocksMustBeContiguousFromOffsetZero) {
    SimDrive d(setup);
    auto image = test::makeImageFor(setup, 150016, "1.06", kNewBuild);
    EXPECT_EQ(chunk(d, image, 128, 0).status, kOk);
    EXPECT_EQ(chunk(d, image, 36, 256).status, kOk);  // blocks 128-255 never sent
    EXPECT_EQ(chunk(d, image, 1, 292).status, kErr);
    EXPECT_EQ(d.state().downloadVerdict, "blocks not contiguous");
    EXPECT_FALSE(d.state().firmwareUpdated);
    // A fresh download from offset 0 then succeeds.
    EXPECT_TRUE(allOk(send(d, image, 150016)));
    EXPECT_TRUE(d.state().firmwareUpdated);
}

TEST_F(DownloadTest, ZeroBlockCountIsRejectedWithoutSpoilingTheDownload) {
    SimDrive d(setup);
    auto image = test::makeImageFor(setup, 129 * 512, "1.06", kNewBuild);
    EXPECT_EQ(chunk(d, image, 128, 0).status, kOk);
    const Reply zero = chunk(d, image, 0, 128);
    EXPECT_EQ(zero.status, kErr);
    EXPECT_EQ(zero.error, 0x04);
    EXPECT_EQ(chunk(d, image, 1, 128).status, kOk);
    EXPECT_TRUE(d.state().firmwareUpdated);
}

TEST_F(DownloadTest, OnlySubcommandThreeWithDataInsideTheImageArea) {
    SimDrive d(setup);
    auto image = test::makeImageFor(setup, 150016, "1.06", kNewBuild);
    auto tf = regs(0x92, 0x07, 1, 0, 0, 0);
    EXPECT_EQ(run(d, tf, DataDir::Out, image.data(), 512).status, kErr);
    tf = regs(0x92, 0x03, 1, 0, 0, 0);
    EXPECT_EQ(run(d, tf, DataDir::None).status, kErr) << "no data";
    EXPECT_EQ(run(d, tf, DataDir::Out, image.data(), 511).status, kErr) << "short data";
    // Block 320 would end past 163,840 bytes.
    tf = regs(0x92, 0x03, 1, 0, 0x40, 0x01);
    EXPECT_EQ(run(d, tf, DataDir::Out, image.data(), 512).status, kErr);
    tf = regs(0x92, 0x03, 1, 0, 0x3F, 0x01);
    EXPECT_EQ(run(d, tf, DataDir::Out, image.data(), 512).status, kOk) << "block 319 is the last";
}

TEST_F(DownloadTest, OtherDrivesRejectTheDownload) {
    for (ControllerKind k : {ControllerKind::Foreign, ControllerKind::HardDisk}) {
        setup.controller = k;
        SimDrive d(setup);
        auto image = test::makeImageFor(setup, 150016, "1.06", kNewBuild);
        EXPECT_EQ(chunk(d, image, 128, 0).status, kErr);
    }
}

// ------------------------------------------------------------------------- security erase
std::vector<uint8_t> eraseBlock(uint16_t control, const std::string& password, uint8_t fill = ' ') {
    std::vector<uint8_t> b(512, 0);
    b[0] = static_cast<uint8_t>(control);
    b[1] = static_cast<uint8_t>(control >> 8);
    std::memset(b.data() + 2, fill, 32);
    std::memcpy(b.data() + 2, password.data(), std::min<size_t>(32, password.size()));
    return b;
}

Reply eraseUnit(SimDrive& d, std::vector<uint8_t> block) {
    return run(d, regs(0xF4, 0, 1), DataDir::Out, block.data(), 512);
}

TEST_F(SimDriveTest, MasterPasswordEraseAfterPrepare) {
    SimDrive d(setup);
    EXPECT_EQ(run(d, regs(0xF3)).status, kOk);
    EXPECT_TRUE(d.state().erasePrepared);
    EXPECT_EQ(eraseUnit(d, eraseBlock(1, "QXMASTER")).status, kOk);
    EXPECT_TRUE(d.state().erased);
    EXPECT_EQ(d.state().eraseCount, 1);
    EXPECT_FALSE(d.state().erasePrepared);
    // A second UNIT needs a second PREPARE.
    EXPECT_EQ(eraseUnit(d, eraseBlock(1, "QXMASTER")).status, kErr);
    EXPECT_EQ(d.state().eraseCount, 1);
}

TEST_F(SimDriveTest, EraseRefusals) {
    struct Case {
        const char* what;
        bool prepare;
        bool between;
        std::vector<uint8_t> block;
    };
    const Case cases[] = {
        {"wrong password", true, false, eraseBlock(1, "QXMASTEX")},
        {"zero filled instead of blanks", true, false, eraseBlock(1, "QXMASTER", 0)},
        {"user password", true, false, eraseBlock(0, "QXMASTER")},
        {"no prepare", false, false, eraseBlock(1, "QXMASTER")},
        {"a command between", true, true, eraseBlock(1, "QXMASTER")},
    };
    for (const Case& c : cases) {
        SimDrive d(setup);
        if (c.prepare) {
            ASSERT_EQ(run(d, regs(0xF3)).status, kOk);
        }
        if (c.between) {
            uint8_t id[512];
            run(d, regs(0xEC, 0, 1), DataDir::In, id, 512);
        }
        const Reply r = eraseUnit(d, c.block);
        EXPECT_EQ(r.status, kErr) << c.what;
        EXPECT_EQ(r.error, 0x04) << c.what;
        EXPECT_FALSE(d.state().erased) << c.what;
    }
}

TEST_F(SimDriveTest, FrozenSecurityRefusesPrepare) {
    setup.securityFrozen = true;
    SimDrive d(setup);
    EXPECT_EQ(run(d, regs(0xF3)).status, kErr);
    EXPECT_EQ(eraseUnit(d, eraseBlock(1, "QXMASTER")).status, kErr);
    uint8_t id[512];
    run(d, regs(0xEC, 0, 1), DataDir::In, id, 512);
    EXPECT_EQ(word(id, 128) & 0x0008, 0x0008) << "IDENTIFY reports frozen";
}

// Unsupported security, an expired attempt count or a freeze by the system refuse the pair
// as a frozen drive does, and IDENTIFY reports each in its own bit.
TEST_F(SimDriveTest, SecurityStateWordsAndRefusals) {
    struct Case {
        const char* what;
        void (*set)(SimDriveSpec&, SimDrive&);
        uint16_t word82Bit1, word128;
    };
    const Case cases[] = {
        {"unsupported", [](SimDriveSpec& s, SimDrive&) { s.securitySupported = false; }, 0, 0x0000},
        {"expired", [](SimDriveSpec& s, SimDrive&) { s.securityAttemptsExpired = true; }, 2, 0x0011},
        {"frozen by the system", [](SimDriveSpec&, SimDrive& d) { d.state().frozenBySystem = true; }, 2, 0x0009},
    };
    for (const Case& c : cases) {
        SimDriveSpec drive = setup;
        SimDrive d(drive);
        c.set(drive, d);
        uint8_t id[512];
        run(d, regs(0xEC, 0, 1), DataDir::In, id, 512);
        EXPECT_EQ(word(id, 82) & 0x0002, c.word82Bit1) << c.what;
        EXPECT_EQ(word(id, 128), c.word128) << c.what;
        EXPECT_EQ(run(d, regs(0xF3)).status, kErr) << c.what;
        EXPECT_EQ(eraseUnit(d, eraseBlock(1, "QXMASTER")).status, kErr) << c.what;
        EXPECT_FALSE(d.state().erased) << c.what;
    }
}

TEST_F(SimDriveTest, EraseEstimateInWord89) {
    setup.eraseTimeWord = 0x8123;
    SimDrive d(setup);
    uint8_t id[512];
    run(d, regs(0xEC, 0, 1), DataDir::In, id, 512);
    EXPECT_EQ(word(id, 89), 0x8123);
}

TEST_F(SimDriveTest, MasterPasswordOfThirtyTwoCharacters) {
    setup.masterPassword = std::string(32, 'M');
    SimDrive d(setup);
    run(d, regs(0xF3));
    EXPECT_EQ(eraseUnit(d, eraseBlock(1, std::string(32, 'M'))).status, kOk);
}

// ------------------------------------------------------------------------- SMART
TEST_F(SimDriveTest, SmartNeedsItsSignatureAndReturnsBothSectors) {
    setup.smartData = makeSmartData({{9, 1234}, {194, 0x004000120021ull}});
    setup.smartThresholds = makeSmartThresholds({{5, 10}});
    SimDrive d(setup);
    EXPECT_EQ(run(d, regs(0xB0, 0xD8, 1, 0, 0x4F, 0xC2)).status, kOk);
    EXPECT_EQ(run(d, regs(0xB0, 0xD8, 1, 0, 0x4F, 0xC3)).status, kErr);
    uint8_t data[512];
    ASSERT_EQ(run(d, regs(0xB0, 0xD0, 1, 0, 0x4F, 0xC2), DataDir::In, data, 512).status, kOk);
    EXPECT_EQ(data[2], 9);
    EXPECT_EQ(data[2 + 5] | (data[2 + 6] << 8), 1234);
    EXPECT_EQ(data[14], 194);
    EXPECT_EQ(data[14 + 5], 33);
    EXPECT_EQ(data[14 + 7], 18);
    EXPECT_EQ(data[14 + 9], 64);
    ASSERT_EQ(run(d, regs(0xB0, 0xD1, 1, 0, 0x4F, 0xC2), DataDir::In, data, 512).status, kOk);
    EXPECT_EQ(data[2], 5);
    EXPECT_EQ(data[3], 10);
    EXPECT_EQ(run(d, regs(0xB0, 0xD5, 1, 0, 0x4F, 0xC2), DataDir::In, data, 512).status, kErr);
    EXPECT_EQ(run(d, regs(0xB0, 0xD0, 1, 0, 0x4F, 0xC2)).status, kErr) << "no data area";
}

// ------------------------------------------------------------------------- other drives
TEST_F(SimDriveTest, ForeignControllerAnswersTheVendorReadWrongly) {
    setup.controller = ControllerKind::Foreign;
    SimDrive d(setup);
    EXPECT_EQ(vendorOn(d).status, kOk);
    EXPECT_FALSE(d.state().vendorMode);
    uint8_t buf[512];
    ASSERT_EQ(run(d, regs(0x86, 0, 1, 0xFF, 0x34, 0x12), DataDir::In, buf, 512).status, kOk);
    EXPECT_EQ(buf[0], 0xE5);
    EXPECT_EQ(buf[3], 0x01);
    EXPECT_EQ(vendorCommand(d, readCodeBlock(3, 0)).status, kOk);
    std::vector<uint8_t> si;
    EXPECT_EQ(vendorData(d, 0x86, si, 8).status, kErr);
}

TEST_F(SimDriveTest, HardDiskAnswersIdentifyAndSmartOnly) {
    setup.controller = ControllerKind::HardDisk;
    setup.rotationRate = 7200;
    SimDrive d(setup);
    uint8_t buf[512];
    ASSERT_EQ(run(d, regs(0xEC, 0, 1), DataDir::In, buf, 512).status, kOk);
    EXPECT_EQ(word(buf, 217), 7200);
    EXPECT_EQ(run(d, regs(0xB0, 0xD0, 1, 0, 0x4F, 0xC2), DataDir::In, buf, 512).status, kOk);
    EXPECT_EQ(vendorOn(d).status, kErr);
    EXPECT_EQ(run(d, regs(0x86, 0, 1, 0xFF, 0x34, 0x12), DataDir::In, buf, 512).status, kErr);
    EXPECT_EQ(run(d, regs(0xF3)).status, kErr);
}

}  // namespace
}  // namespace qx::sim
