// The firmware update procedure end to end on the simulated bench: questions and gates,
// image choice in package and file mode, the refusal rules, the download outcome per
// drive, the log box, the Status cells, the diagnostic lines and the shutdown prompt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "QXLib/MicroCode.h"
#include "platform/sim/Sha256.h"
#include "devices/DriveTable.h"
#include "update/Package.h"
#include "update/Update.h"
#include "support/ProcedureBench.h"

namespace qx {
namespace {

using test::PackageImage;
using test::ProcedureBench;
using test::TempDir;
using test::makerSataDisk;
using test::usbBridgeDisk;
using Lines = std::vector<std::string>;

constexpr uint8_t kDownload = 0x92;
constexpr const char* kQuestion =
    "Please close all other \"applications\" before performing the firmware update.\n"
    "Click \"OK\" to proceed.";
constexpr const char* kProgress = "update in progress...............................";

// Drive side (makerSataDisk's running firmware): FwVer 42, code A1B2, customer QX01.
constexpr const char* kImageA = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01";
// The same codes, built on the drive's own date (file mode's date rule lets it pass).
constexpr const char* kImageSameDate = "QXFWR_111020_R,Sep 18 2012,12:00:00,t74a,42A1B2,QX01";
constexpr const char* kImageB = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40C3D4,QX02";
constexpr const char* kDriveB = "QXFWR_111008_R,Sep 20 2012,09:30:00,t74a,40C3D4,QX02";
constexpr const char* kFitsNothing = "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40Z9Z9,QX09";

PackageImage slot(const char* buildInfo, uint32_t length = 150016, uint32_t seed = 7) {
    return {test::firmwareImage(length, buildInfo, seed), 0, false};
}

std::string diskLine(const char* text, int disk) {
    return "Disk " + std::to_string(disk) + " " + text;
}

Lines passedLines(int disk) {
    return {diskLine("starting update.", disk), diskLine(kProgress, disk),
            diskLine("updated successfully, please shut down your system", disk)};
}

std::array<uint8_t, 64> buildInfoOf(const std::vector<uint8_t>& image) {
    std::array<uint8_t, 64> bi{};
    std::copy_n(image.begin() + 768, 64, bi.begin());
    return bi;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class UpdateTest : public ::testing::Test {
protected:
    // Package mode with these slots behind a small executable in the temporary directory.
    void usePackage(ProcedureBench& b, const std::vector<PackageImage>& images,
                    const std::string& version = "1.06", bool picture = false) {
        const std::string path = tmp.file("qxupdater.exe");
        b.state.ExeFileSize = test::writePackage(path, version, "QX Demo SSD", picture, images);
        b.state.ExePath = path;
        b.state.PackageMode = 1;
        std::ifstream f(path, std::ios::binary);
        f.seekg(kPackageHeaderOffset);
        f.read(reinterpret_cast<char*>(b.state.PackageHeader.data()), kPackageHeaderSize);
    }

    // File mode: the executable lies in the temporary directory, the file dialog answers
    // `chosen`.
    void useFile(ProcedureBench& b, const std::string& chosen, const std::string& firmwareVer = "2.00") {
        b.state.PackageMode = 0;
        b.state.ExePath = tmp.file("qxupdater.exe");
        b.state.firmwareVer = firmwareVer;
        b.user.fileAnswers.push_back(chosen);
    }

    std::string writeBin(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = tmp.file(name);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    static void expectUnlocked(const ProcedureBench& b) {
        EXPECT_TRUE(b.user.scanAndExitEnabled);
        EXPECT_TRUE(b.user.actionsEnabled);
        EXPECT_FALSE(b.state.actionRunning);
    }

    static std::string status(const ProcedureBench& b, int row) {
        return b.user.rows.at(static_cast<size_t>(row)).status;
    }

    TempDir tmp;
};

// ---------------------------------------------------------------------------------------
// Questions and gates.

TEST_F(UpdateTest, CancelAtTheQuestionTouchesNoDrive) {
    ProcedureBench b({makerSataDisk(1)});
    usePackage(b, {slot(kImageA)});
    b.user.check(0);
    b.user.confirmAnswers = {false};
    DownloadCodeBtnClick(b.state, b.user);
    ASSERT_EQ(b.user.count("confirm"), 1);
    const auto& q = b.first("confirm");
    EXPECT_EQ(q.caption, "Warning");
    EXPECT_EQ(q.text, kQuestion);
    EXPECT_EQ(q.icon, BoxIcon::Warning);
    EXPECT_EQ(b.user.noticeTexts(), Lines{"Update cancelled"});
    EXPECT_EQ(b.user.calls.back().what, "enableActions");
    EXPECT_TRUE(b.bench().calls().empty());
    EXPECT_TRUE(b.user.log.empty());
    expectUnlocked(b);
}

TEST_F(UpdateTest, OperatingSystemGate) {
    ProcedureBench b({makerSataDisk(1)});
    auto& os = b.bench().setup().os;
    os = {true, true, 5, 0, 4};
    EXPECT_TRUE(OsRefused());  // Windows 2000
    os = {true, true, 5, 1, 1};
    EXPECT_TRUE(OsRefused());  // XP SP1
    os = {true, true, 5, 1, 2};
    EXPECT_FALSE(OsRefused());  // XP SP2
    os = {false, true, 5, 1, 3};
    EXPECT_TRUE(OsRefused());  // basic record: service pack counts as 0
    os = {false, false, 5, 0, 0};
    EXPECT_FALSE(OsRefused());  // unknown: proceed
    os = {true, true, 5, 2, 0};
    EXPECT_FALSE(OsRefused());
    os = {true, true, 10, 0, 0};
    EXPECT_FALSE(OsRefused());

    os = {true, true, 5, 1, 0};
    usePackage(b, {slot(kImageA)});
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    ASSERT_EQ(b.user.count("notice"), 1);
    const auto& n = b.first("notice");
    EXPECT_EQ(n.caption, b.state.appTitle);
    EXPECT_EQ(n.text, "The program must be running on Microsoft Windows XP Service Pack 2 (SP2) or later");
    EXPECT_TRUE(b.bench().calls().empty());
    expectUnlocked(b);
}

TEST_F(UpdateTest, NoCheckedRowIsToldAfterQuestionAndGate) {
    ProcedureBench b({makerSataDisk(1), makerSataDisk(2)});
    usePackage(b, {slot(kImageA)});
    DownloadCodeBtnClick(b.state, b.user);
    Lines order;
    for (const auto& c : b.user.calls)
        if (c.what == "confirm" || c.what == "notice") order.push_back(c.text);
    EXPECT_EQ(order, (Lines{kQuestion, "Please select a disk"}));
    EXPECT_TRUE(b.bench().calls().empty());
    EXPECT_EQ(b.user.rows[0].status, "");
    EXPECT_TRUE(b.user.rows[0].hasStatus);
    expectUnlocked(b);
}

// ---------------------------------------------------------------------------------------
// Package mode.

TEST_F(UpdateTest, ThreeRowsSecondCheckedGivesTheExactLogAndStatuses) {
    ProcedureBench b({makerSataDisk(1), makerSataDisk(2), makerSataDisk(3)});
    usePackage(b, {slot(kFitsNothing), slot(kImageA)});
    b.user.check(1);
    bool lockedDuringPause = false;
    b.user.onPause = [&](uint32_t) {
        lockedDuringPause = !b.user.scanAndExitEnabled && !b.user.actionsEnabled && b.state.actionRunning;
    };
    DownloadCodeBtnClick(b.state, b.user);

    Lines expected = {""};
    for (const auto& l : passedLines(2)) expected.push_back(l);
    expected.push_back("");
    expected.push_back("");
    EXPECT_EQ(b.user.log, expected);
    EXPECT_EQ(status(b, 0), "");
    EXPECT_EQ(status(b, 1), "Pass");
    EXPECT_EQ(status(b, 2), "");
    EXPECT_EQ(b.user.pauses, (std::vector<uint32_t>{1000, 2000}));
    EXPECT_TRUE(lockedDuringPause);
    EXPECT_EQ(b.user.shutdownPrompts, 1);
    EXPECT_EQ(b.user.calls.back().what, "enableActions");  // unlocked after the prompt
    expectUnlocked(b);

    // Only disk 2 was touched, and it now runs the packaged firmware.
    EXPECT_TRUE(b.drive(0).downloaded.empty());
    EXPECT_TRUE(b.drive(2).downloaded.empty());
    EXPECT_EQ(b.drive(1).downloadVerdict, "installed");
    EXPECT_EQ(b.drive(1).firmware, "1.06");
    EXPECT_EQ(b.drive(1).buildInfo, sim::makeBuildInfo(kImageA));
    EXPECT_FALSE(b.drive(1).vendorMode);  // switched off after the record was read
    EXPECT_EQ(b.commands(kDownload).size(), 4u);
}

TEST_F(UpdateTest, DiagnosticLinesNameBothSides) {
    ProcedureBench b({makerSataDisk(1)});
    usePackage(b, {slot(kFitsNothing), slot(kImageA)});
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    const std::string log = b.debugText();
    const std::string drive =
        "[0]CurrentMemFwVer = 42, CurrentMemBinFileName = SYS_A1B2.bin, SVN ver = 111007, "
        "CurrentMemCustomerID = QX01\r\n";
    const std::string first =
        "[0]ExtractBinFwVer = 40, ExtractBinFileName = SYS_Z9Z9.bin, ExtractBinCustomerID = QX09\r\n";
    const std::string second =
        "[0]ExtractBinFwVer = 42, ExtractBinFileName = SYS_A1B2.bin, ExtractBinCustomerID = QX01\r\n";
    const size_t d = log.find(drive), f = log.find(first), s = log.find(second);
    ASSERT_NE(d, std::string::npos) << log;
    ASSERT_NE(f, std::string::npos) << log;
    ASSERT_NE(s, std::string::npos) << log;
    EXPECT_LT(d, f);
    EXPECT_LT(f, s);
    EXPECT_LT(s, log.find("VP_PROC_DownloadMicroCode::Begin\r\n"));
}

TEST_F(UpdateTest, SixthSlotIsFoundAndFlashed) {
    ProcedureBench b({makerSataDisk(1)});
    const char* others[] = {"QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B3,QX01",
                            "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX02",
                            "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,43A1B2,QX01",
                            kFitsNothing, kImageB};
    std::vector<PackageImage> slots;
    for (const char* bi : others) slots.push_back(slot(bi));
    const char* sixth = "QXFWR_111066_R,Nov 11 2012,11:11:11,t74a,42A1B2,QX01";
    slots.push_back(slot(sixth, 151040, 66));
    slots.push_back(slot(kImageA));  // would fit too, but comes later
    usePackage(b, slots, "1.06", true);  // with a picture area: images start at 0x314000
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(countOf(b.debugText(), "[0]ExtractBinFwVer = "), 6u);
    EXPECT_EQ(status(b, 0), "Pass");
    EXPECT_EQ(b.drive(0).buildInfo, sim::makeBuildInfo(sixth));
    EXPECT_EQ(b.drive(0).downloaded.size(), 151040u);
    const auto& chunks = b.commands(kDownload);
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[2].taskFileIn[1], 38);
}

TEST_F(UpdateTest, TwoDrivesEachGetTheirOwnImage) {
    auto second = usbBridgeDisk(2, "k403");
    second.drive.buildInfo = sim::makeBuildInfo(kDriveB);
    ProcedureBench b({makerSataDisk(1), second});
    usePackage(b, {slot(kFitsNothing), slot(kImageA), slot(kImageB, 150528, 9)});
    b.user.check(0);
    b.user.check(1);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(b.drive(0).buildInfo, sim::makeBuildInfo(kImageA));
    // SVN 111008 on the drive: the option bit is set in the image it receives.
    EXPECT_EQ(b.drive(1).buildInfo, sim::makeBuildInfo(kImageB, 0x01));
    EXPECT_EQ(b.drive(1).downloaded.size(), 150528u);
    EXPECT_EQ(b.drive(0).buildInfo[63], 0x00);
    Lines expected = passedLines(1);
    expected.push_back("");
    for (const auto& l : passedLines(2)) expected.push_back(l);
    expected.push_back("");
    EXPECT_EQ(b.user.log, expected);
    EXPECT_EQ(b.user.shutdownPrompts, 1);
    EXPECT_EQ(b.user.pauses, (std::vector<uint32_t>{1000, 2000, 1000, 2000}));
}

TEST_F(UpdateTest, IdentityAndRevisionAreWrittenIntoTheImage) {
    auto disk = makerSataDisk(1);
    disk.drive.serial = "ABCDEFGHIJKLMNOPQRST";  // 20 characters: the whole field
    disk.drive.model = "Quorvex QX-T74 256GB with a long model";
    disk.drive.wwn = {0x5001, 0xB448, 0xFEDC, 0x0042};
    ProcedureBench b({disk});
    usePackage(b, {slot(kImageA)}, "1.06.0123abc");  // only 8 characters become the revision
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    ASSERT_EQ(b.drive(0).downloadVerdict, "installed");  // the drive checks serial, model, WWN
    EXPECT_EQ(b.drive(0).firmware, "1.06.012");
    const auto& img = b.drive(0).downloaded;
    std::string serial;
    for (size_t i = 0; i < 20; ++i) serial.push_back(static_cast<char>(img[96 + (i ^ 1)]));
    EXPECT_EQ(serial, disk.drive.serial);
    EXPECT_TRUE(ImageChecksumValid(img.data(), static_cast<uint32_t>(img.size())));
}

TEST_F(UpdateTest, APassedDriveIsReadBackOnlyWhenAsked) {
    // The window's procedure sends nothing after the last DOWNLOAD MICROCODE; it writes what
    // it gave the drive as a diagnostic line.
    ProcedureBench b({makerSataDisk(1)});
    usePackage(b, {slot(kImageA)});
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    ASSERT_EQ(status(b, 0), "Pass");
    const auto& calls = b.bench().calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().taskFileIn[6], kDownload);
    EXPECT_NE(b.debugText().find("[0]Written: firmware 1.06, build 111020 Oct 01 2012; the drive runs it "
                                 "from its next power cycle at the latest"),
              std::string::npos)
        << b.debugText();

    std::vector<uint8_t> image(64, 0);
    std::memcpy(image.data(), kImageA, std::strlen(kImageA));
    const DriveAfterUpdate now = ReadDriveAfterUpdate(0, image);
    EXPECT_EQ(now.reason, "");
    EXPECT_EQ(now.firmware, "1.06");
    EXPECT_EQ(now.build, "111020 Oct 01 2012");
    EXPECT_TRUE(now.running);
}

TEST_F(UpdateTest, ADriveThatTakesTheImageAtItsNextPowerCycleRunsTheOldBuild) {
    auto disk = makerSataDisk(1);
    disk.drive.newFirmwareAtOnce = false;
    ProcedureBench b({disk});
    usePackage(b, {slot(kImageA)});
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    ASSERT_EQ(status(b, 0), "Pass");
    EXPECT_EQ(b.drive(0).downloadVerdict, "installed");
    std::vector<uint8_t> image(64, 0);
    std::memcpy(image.data(), kImageA, std::strlen(kImageA));
    const DriveAfterUpdate after = ReadDriveAfterUpdate(0, image);
    EXPECT_EQ(after.reason, "");
    EXPECT_EQ(after.firmware, disk.drive.firmware);
    EXPECT_FALSE(after.running);
    EXPECT_EQ(after.build, "111007 Sep 18 2012");
}

TEST_F(UpdateTest, ImagesWithWrongChecksumsAreNeverSealedAnewAndSent) {
    // A damaged image is not offered: resealing it would make it look whole.
    ProcedureBench b({makerSataDisk(1)});
    auto bad = slot(kImageA);
    bad.bytes[150015] = static_cast<uint8_t>(bad.bytes[150015] + 1);
    usePackage(b, {slot(kFitsNothing), bad});
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(status(b, 0), "No update needed");
    EXPECT_TRUE(b.commands(kDownload).empty());
    EXPECT_NE(b.debugText().find("[0]Image checksum is wrong: the image is not used"), std::string::npos);

    // Without a single usable image the package is refused before any command.
    auto badOther = slot(kFitsNothing);
    badOther.bytes[150015] = static_cast<uint8_t>(badOther.bytes[150015] ^ 0x5A);
    usePackage(b, {badOther, bad});
    b.bench().clearCalls();
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_TRUE(b.bench().calls().empty());
    EXPECT_EQ(status(b, 0), "");
}

TEST_F(UpdateTest, LowBatteryRefusesTheUpdateBeforeAnyCommand) {
    ProcedureBench b({makerSataDisk(1)});
    usePackage(b, {slot(kImageA)});
    b.bench().setup().acPower = false;
    b.bench().setup().batteryPercent = 20;
    b.bench().clearCalls();
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_TRUE(b.bench().calls().empty());
    EXPECT_EQ(b.user.noticeTexts(),
              Lines{"The computer runs on its battery at 20 %: connect it to mains power before "
                    "updating the firmware (below 25 % the update is refused). Nothing was sent to "
                    "the drives."});
    EXPECT_EQ(status(b, 0), "");
    expectUnlocked(b);

    // At 25 %, or on mains power with a low battery, nothing changes.
    b.bench().setup().batteryPercent = 25;
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(status(b, 0), "Pass");
    b.bench().setup().acPower = true;
    b.bench().setup().batteryPercent = 5;
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(status(b, 0), "Pass");
}

TEST_F(UpdateTest, PackageCutInsideItsLastSlotIsRefusedBeforeAnyCommand) {
    // Cut by 4,000 bytes, the last slot no longer counts: without the whole check the drive
    // whose image sat there would end "No update needed".
    auto second = makerSataDisk(2);
    second.drive.buildInfo = sim::makeBuildInfo(kDriveB);
    ProcedureBench b({makerSataDisk(1), second});
    usePackage(b, {slot(kImageA), slot(kImageB)});
    std::filesystem::resize_file(b.state.ExePath, static_cast<uintmax_t>(b.state.ExeFileSize) - 4000);
    b.state.ExeFileSize -= 4000;
    b.bench().clearCalls();
    b.user.check(0);
    b.user.check(1);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_TRUE(b.bench().calls().empty());
    ASSERT_EQ(b.user.noticeTexts().size(), 1u);
    EXPECT_EQ(b.user.noticeTexts()[0],
              "The firmware package cannot be used: slot 1 is cut short: the file ends 159856 "
              "bytes into it, 163856 are needed. Nothing was sent to the drives.");
    EXPECT_EQ(status(b, 0), "");
    EXPECT_EQ(status(b, 1), "");
    expectUnlocked(b);
}

TEST_F(UpdateTest, NoMatchingImageNeedsNoUpdate) {
    ProcedureBench b({makerSataDisk(1)});
    usePackage(b, {slot(kFitsNothing), slot(kImageB)});
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.log, (Lines{"Disk 1 no update, the firmware file isn't exist", ""}));
    EXPECT_EQ(status(b, 0), "No update needed");
    EXPECT_EQ(countOf(b.debugText(), "[0]ExtractBinFwVer"), 2u);
    EXPECT_TRUE(b.commands(kDownload).empty());
    EXPECT_EQ(b.user.shutdownPrompts, 0);
    EXPECT_TRUE(b.user.pauses.empty());
    expectUnlocked(b);
}

// A drive whose record cannot be read has not been shown to need no update: it fails, so
// that neither the list nor a script's exit code reports it as up to date.
TEST_F(UpdateTest, UnreadableControllerRecordFailsAndLooksAtNoImage) {
    const auto disk = test::withFault(makerSataDisk(1), "vendor:86", 0, sim::FaultKind::AtaError);
    ProcedureBench b({disk});
    usePackage(b, {slot(kImageA)});
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.log, (Lines{"Disk 1 update fail", ""}));
    EXPECT_EQ(status(b, 0), "Fail");
    EXPECT_EQ(b.user.count("showShutdownPrompt"), 0);
    const std::string log = b.debugText();
    EXPECT_NE(log.find("[0]The controller information record could not be read"), std::string::npos);
    EXPECT_EQ(log.find("CurrentMemFwVer"), std::string::npos);
    EXPECT_EQ(log.find("ExtractBinFwVer"), std::string::npos);
    EXPECT_TRUE(b.commands(kDownload).empty());
}

TEST_F(UpdateTest, ImageLengthsOutsideTheImageAreaNeverMatch) {
    ProcedureBench b({makerSataDisk(1)});
    auto empty = slot(kImageA);
    empty.length = 0;
    empty.lengthGiven = true;
    auto huge = slot(kImageA);
    huge.length = 200000;
    huge.lengthGiven = true;
    auto tiny = slot(kImageA);
    tiny.length = 800;  // ends before its own BuildInfo block
    tiny.lengthGiven = true;
    // A sound image for another drive keeps the package usable as a whole.
    usePackage(b, {empty, huge, tiny, slot(kFitsNothing)});
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(status(b, 0), "No update needed");
    EXPECT_TRUE(b.commands(kDownload).empty());
    const std::string log = b.debugText();
    EXPECT_NE(log.find("[0]Image length is 0: the image is not used\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[0]Image length 200000 exceeds the 163840-byte image area: the image is not used\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("[0]Image length 800 ends before its BuildInfo block"), std::string::npos);

    // A good slot after them is still found.
    usePackage(b, {empty, huge, slot(kImageA)});
    b.forget();
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(status(b, 0), "Pass");
}

TEST_F(UpdateTest, DateRuleDoesNotApplyInPackageMode) {
    // The drive runs FwVer 42 built "Sep 18 2012"; the image was built on another date.
    ProcedureBench b({makerSataDisk(1)});
    usePackage(b, {slot(kImageA)});
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(status(b, 0), "Pass");
}

TEST_F(UpdateTest, UnopenableExecutableIsRefusedBeforeAnyCommand) {
    // A package that cannot be read is not known to hold no image for the drive.
    ProcedureBench b({makerSataDisk(1)});
    usePackage(b, {slot(kImageA)});
    b.state.ExePath = tmp.file("missing.exe");
    b.bench().clearCalls();
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(status(b, 0), "");
    EXPECT_EQ(b.user.noticeTexts(),
              Lines{"The firmware package cannot be used: the package cannot be read. Nothing was "
                    "sent to the drives."});
    EXPECT_TRUE(b.bench().calls().empty());
}

// ---------------------------------------------------------------------------------------
// Download failures.

class UpdateFailure : public UpdateTest, public ::testing::WithParamInterface<int> {};

TEST_P(UpdateFailure, FailedDriveDoesNotStopTheOthers) {
    const int failing = GetParam();
    auto first = makerSataDisk(1);
    first.faults.push_back({"ata:92", failing, sim::FaultKind::AtaError});
    ProcedureBench b({first, makerSataDisk(2)});
    usePackage(b, {slot(kImageA)});
    b.user.check(0);
    b.user.check(1);
    DownloadCodeBtnClick(b.state, b.user);

    Lines expected = {diskLine("starting update.", 1), diskLine(kProgress, 1), "Disk 1 update fail", ""};
    for (const auto& l : passedLines(2)) expected.push_back(l);
    expected.push_back("");
    EXPECT_EQ(b.user.log, expected);
    EXPECT_EQ(status(b, 0), "Fail");
    EXPECT_EQ(status(b, 1), "Pass");
    // Nothing is sent after the failed command (the failed one is answered by the fault, so
    // the drive itself saw one command less).
    size_t sentToFirst = 0;
    for (const auto& c : b.commands(kDownload))
        if (c.path == b.bench().setup().disks[0].path) ++sentToFirst;
    EXPECT_EQ(sentToFirst, static_cast<size_t>(failing));
    EXPECT_EQ(b.drive(0).downloadCommands, failing - 1);
    EXPECT_EQ(b.drive(1).downloadVerdict, "installed");
    EXPECT_EQ(b.user.shutdownPrompts, 1);
    // No 2-second pause for the failed drive.
    EXPECT_EQ(b.user.pauses, (std::vector<uint32_t>{1000, 1000, 2000}));
    expectUnlocked(b);
}

INSTANTIATE_TEST_SUITE_P(FirstSecondLast, UpdateFailure, ::testing::Values(1, 2, 4));

TEST_F(UpdateTest, NoPromptWhenNothingPassed) {
    const auto disk = test::withFault(makerSataDisk(1), "ata:92", 3, sim::FaultKind::ControlFails);
    ProcedureBench b({disk});
    usePackage(b, {slot(kImageA)});
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(status(b, 0), "Fail");
    EXPECT_EQ(b.user.shutdownPrompts, 0);
    expectUnlocked(b);
}

// ---------------------------------------------------------------------------------------
// File mode.

TEST_F(UpdateTest, FileModeDialogSettingsAndTargetName) {
    ProcedureBench b({makerSataDisk(1)});
    const std::string bin = writeBin("SYS_A1B2.bin", test::firmwareImage(150016, kImageSameDate));
    useFile(b, bin);
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.lastFilter, "Firmware bin file(*.bin)|*.bin");
    EXPECT_EQ(b.user.lastDefaultExt, ".bin");
    const std::string exeDir = std::filesystem::path(b.state.ExePath).parent_path().string();
    EXPECT_EQ(b.user.lastInitialDir, exeDir);
    EXPECT_EQ(b.state.openDialogInitialDir, exeDir);
    EXPECT_NE(b.debugText().find("Target bin file - SYS_A1B2.bin\r\n"), std::string::npos);
    EXPECT_EQ(status(b, 0), "Pass");
    EXPECT_EQ(b.drive(0).firmware, "2.00");  // FirmwareVer of the configuration

    // The directory the dialog was left in is kept.
    b.state.openDialogInitialDir = "/somewhere/else";
    b.user.fileAnswers.push_back(bin);
    b.state.enFilterBinFile = 1;
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.lastInitialDir, "/somewhere/else");
    // The drive now runs the image's firmware, still code A1B2.
    EXPECT_EQ(status(b, 0), "Pass");
    EXPECT_EQ(b.user.lastFilter, "Firmware bin file(*.bin)|SYS_A1B2.bin");
}

TEST_F(UpdateTest, FileModeFilterWithoutAReadableDrive) {
    const auto disk = test::withFault(makerSataDisk(1), "vendor:86", 0, sim::FaultKind::AtaError);
    ProcedureBench b({disk});
    useFile(b, "");
    b.state.enFilterBinFile = 1;
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.lastFilter, "Firmware bin file(*.bin)|SYS_####.bin");
    EXPECT_EQ(b.debugText().find("Target bin file"), std::string::npos);
}

TEST_F(UpdateTest, FileModeCancelledDialog) {
    ProcedureBench b({makerSataDisk(1)});
    useFile(b, "");
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    ASSERT_EQ(b.user.count("notice"), 1);
    EXPECT_EQ(b.user.noticeTexts(), Lines{"No disk update"});
    const auto& n = b.first("notice");
    EXPECT_EQ(n.caption, b.state.appTitle);
    EXPECT_TRUE(b.commands(kDownload).empty());
    EXPECT_TRUE(b.drive(0).vendorMode);  // left on by the name search
    expectUnlocked(b);
}

struct FileRuleCase {
    const char* name;
    const char* drive;
    const char* image;
    bool flashed;
};

class FileModeRules : public UpdateTest, public ::testing::WithParamInterface<FileRuleCase> {};

TEST_P(FileModeRules, DateAndBuildNumberRules) {
    auto disk = makerSataDisk(1);
    disk.drive.buildInfo = sim::makeBuildInfo(GetParam().drive);
    ProcedureBench b({disk});
    useFile(b, writeBin("image.bin", test::firmwareImage(150016, GetParam().image)));
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    if (GetParam().flashed) {
        EXPECT_EQ(status(b, 0), "Pass");
    } else {
        EXPECT_EQ(b.user.log, (Lines{"\"Firmware Mismatch\"", ""}));
        EXPECT_EQ(status(b, 0), "No update needed");
        EXPECT_TRUE(b.commands(kDownload).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileModeRules,
    ::testing::Values(
        FileRuleCase{"DriveBuiltSep18", "QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,42A1B2,QX01",
                     "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01", false},
        FileRuleCase{"ImageBuiltSep20", "QXFWR_111007_R,Oct 05 2012,10:11:12,t74a,42A1B2,QX01",
                     "QXFWR_111020_R,Sep 20 2012,12:00:00,t74a,42A1B2,QX01", false},
        FileRuleCase{"SameDateSep20", "QXFWR_111007_R,Sep 20 2012,10:11:12,t74a,42A1B2,QX01",
                     "QXFWR_111020_R,Sep 20 2012,12:00:00,t74a,42A1B2,QX01", true},
        FileRuleCase{"OtherDates", "QXFWR_111007_R,Oct 05 2012,10:11:12,t74a,42A1B2,QX01",
                     "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01", true},
        FileRuleCase{"Not42", "QXFWR_111007_R,Sep 18 2012,10:11:12,t74a,40A1B2,QX01",
                     "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40A1B2,QX01", true},
        FileRuleCase{"Build241", "QXFWR_110241_R,Oct 05 2012,10:11:12,t74a,40A1B2,QX01",
                     "QXFWR_111020_R,Oct 05 2012,12:00:00,t74a,40A1B2,QX01", false},
        FileRuleCase{"Build232", "QXFWR_000232_R,Oct 05 2012,10:11:12,t74a,40A1B2,QX01",
                     "QXFWR_111020_R,Oct 05 2012,12:00:00,t74a,40A1B2,QX01", false},
        FileRuleCase{"OtherCodes", "QXFWR_111007_R,Oct 05 2012,10:11:12,t74a,40A1B2,QX01",
                     "QXFWR_111020_R,Oct 05 2012,12:00:00,t74a,40A1B2,QX02", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateTest, FileModeBadFiles) {
    ProcedureBench b({makerSataDisk(1)});
    b.user.check(0);

    // Shorter than 768 bytes: the BuildInfo block reads as 0xFF bytes.
    auto shortImage = test::firmwareImage(150016, kImageA);
    shortImage.resize(700);
    useFile(b, writeBin("short.bin", shortImage));
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.log, (Lines{"\"Firmware Mismatch\"", ""}));
    EXPECT_NE(b.debugText().find("ExtractBinFwVer = \xFF\xFF, ExtractBinFileName = SYS_\xFF\xFF\xFF\xFF.bin"),
              std::string::npos);

    // Cannot be opened.
    b.forget();
    useFile(b, tmp.file("missing.bin"));
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.log, (Lines{"\"Firmware Mismatch\"", ""}));
    EXPECT_NE(b.debugText().find("[0]Cannot open "), std::string::npos);

    // Larger than the image area, although its codes match.
    b.forget();
    auto big = test::firmwareImage(150016, kImageSameDate);
    big.resize(kImageArea + 1, 0);
    useFile(b, writeBin("big.bin", big));
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(b.user.log, (Lines{"\"Firmware Mismatch\"", ""}));
    EXPECT_NE(b.debugText().find("[0]Image length 163841 exceeds the 163840-byte image area"),
              std::string::npos);
    EXPECT_TRUE(b.commands(kDownload).empty());
    EXPECT_TRUE(b.drive(0).downloaded.empty());
}

TEST_F(UpdateTest, FileModeOddLengthSendsFFPaddingAndStillInstalls) {
    ProcedureBench b({makerSataDisk(1)});
    const std::string bin = writeBin("odd.bin", test::firmwareImage(150100, kImageSameDate));
    useFile(b, bin);
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(status(b, 0), "Pass");
    ASSERT_EQ(b.drive(0).downloaded.size(), 150100u);
    const auto last = b.commands(kDownload).back();
    std::vector<uint8_t> block(b.drive(0).downloaded.begin() + 293 * 512, b.drive(0).downloaded.end());
    block.resize(512, 0xFF);  // past the end of the file the area holds 0xFF
    EXPECT_EQ(last.dataSha256, sim::Sha256::hex(block.data(), block.size()));
}

// ---------------------------------------------------------------------------------------
// The identity written into the image.

// A drive listed after its IDENTIFY failed at the scan carries blanks: they would be
// written into its firmware. Nothing is sent to it; the other drive is still updated.
TEST_F(UpdateTest, BlankIdentityIsRefusedBeforePersonalising) {
    for (const int field : {kSerialOffset, kModelOffset}) {
        SCOPED_TRACE(field);
        ProcedureBench b({makerSataDisk(1), makerSataDisk(2)});
        usePackage(b, {slot(kImageA)});
        b.user.check(0);
        b.user.check(1);
        std::memset(DriveInfo[0].identify + field, 0, field == kSerialOffset ? kSerialWidth : kModelWidth);
        DownloadCodeBtnClick(b.state, b.user);
        EXPECT_EQ(status(b, 0), "Fail");
        EXPECT_EQ(status(b, 1), "Pass");
        Lines expected = {diskLine("starting update.", 1), diskLine(kProgress, 1), "Disk 1 update fail", ""};
        for (const auto& line : passedLines(2)) expected.push_back(line);
        expected.push_back("");
        EXPECT_EQ(b.user.log, expected);
        const std::string what = field == kSerialOffset ? "serial number" : "model number";
        EXPECT_NE(b.debugText().find("[0]The drive's " + what +
                                     " is empty: the image is not personalised, nothing is sent\r\n"),
                  std::string::npos);
        // Not even the IDENTIFY that checks the drive goes out.
        for (const auto& c : b.commands(0xEC)) EXPECT_NE(c.path, b.bench().setup().disks[0].path);
        for (const auto& c : b.commands(kDownload)) EXPECT_NE(c.path, b.bench().setup().disks[0].path);
        EXPECT_TRUE(b.drive(0).downloaded.empty());
        EXPECT_EQ(b.user.shutdownPrompts, 1);
    }
}

// The device name now leads to another drive (a hot-plug since the scan): IDENTIFY is
// read again before personalising, and a different serial number, model or world wide
// name stops the update of that drive before anything is written.
TEST_F(UpdateTest, AnotherDriveBehindTheRowIsNotFlashed) {
    enum Change { Serial, Model, Wwn };
    for (const Change change : {Serial, Model, Wwn}) {
        for (const bool usb : {false, true}) {
            SCOPED_TRACE(testing::Message() << "change " << change << (usb ? " usb" : " sata"));
            ProcedureBench b({usb ? usbBridgeDisk(1, "k403") : makerSataDisk(1)});
            usePackage(b, {slot(kImageA)});
            b.user.check(0);
            sim::SimDriveSpec& now = b.bench().setup().disks[0].drive;
            if (change == Serial) now.serial = "QX74T9999999";
            if (change == Model) now.model = "Quorvex QX-T74 512GB";
            if (change == Wwn) now.wwn[3] = 0x7777;
            DownloadCodeBtnClick(b.state, b.user);
            EXPECT_EQ(status(b, 0), "Fail");
            EXPECT_EQ(b.user.log, (Lines{diskLine("starting update.", 1), diskLine(kProgress, 1),
                                        "Disk 1 update fail", ""}));
            const char* what = change == Serial ? "serial number" : change == Model ? "model number"
                                                                                    : "world wide name";
            EXPECT_NE(b.debugText().find(std::string("[0]The drive's ") + what + " differs from the scan's"),
                      std::string::npos)
                << b.debugText();
            EXPECT_TRUE(b.commands(kDownload).empty());
            EXPECT_TRUE(b.drive(0).downloaded.empty());
            EXPECT_EQ(b.user.shutdownPrompts, 0);
        }
    }
}

TEST_F(UpdateTest, IdentifyIsReadAgainJustBeforeTheDownload) {
    ProcedureBench b({usbBridgeDisk(1, "k403")});
    usePackage(b, {slot(kImageA)});
    b.user.check(0);
    DownloadCodeBtnClick(b.state, b.user);
    EXPECT_EQ(status(b, 0), "Pass");
    const auto& calls = b.bench().calls();
    const auto firstDownload = std::find_if(calls.begin(), calls.end(), [](const sim::SimCall& c) {
        return c.hasTaskFile && c.taskFileIn[6] == kDownload;
    });
    ASSERT_NE(firstDownload, calls.end());
    ASSERT_NE(firstDownload, calls.begin());
    EXPECT_EQ(std::prev(firstDownload)->taskFileIn[6], 0xEC);

    // The check fails when that IDENTIFY fails.
    ProcedureBench f({test::withFault(makerSataDisk(1), "ata:ec", 1, sim::FaultKind::AtaError)});
    usePackage(f, {slot(kImageA)});
    f.user.check(0);
    DownloadCodeBtnClick(f.state, f.user);
    EXPECT_EQ(status(f, 0), "Fail");
    EXPECT_NE(f.debugText().find("[0]IDENTIFY DEVICE failed before personalising: nothing is sent\r\n"),
              std::string::npos);
    EXPECT_TRUE(f.commands(kDownload).empty());
}

}  // namespace
}  // namespace qx
