// Creation of the main window's state (titles, mode from the executable's size, the
// configuration in file mode) and the common steps of the action buttons.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <string>

#include "QXLib/DbgLog.h"
#include "app/core/MainState.h"
#include "devices/Scan.h"
#include "platform/Utf8Path.h"
#include "support/ProcedureBench.h"
#include "support/ScriptedUser.h"
#include "support/TestKernel.h"

namespace qx {
namespace {

using test::ScopedKernel;
using test::ScriptedUser;
using test::TempDir;
using test::TestKernel;

const char* const kDefaultTitle = "Quorvex t74 Toolbox A.1.19(RC2)";

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary);
    out << data;
}

// An executable of exactly `size` bytes (sparse where the file system allows it).
void makeExecutable(const std::string& path, uintmax_t size) {
    { std::ofstream out(path, std::ios::binary); }
    std::filesystem::resize_file(path, size);
}

class MainStateTest : public ::testing::Test {
protected:
    MainStateTest() : installed_(kernel) {
        kernel.exePath = dir.file("qxupdater.exe");
        ini = dir.file("QXUpdater.ini");
    }
    ~MainStateTest() override { RDMode = false; }

    std::string create() { return CreateMainState(state, user); }

    TempDir dir;
    TestKernel kernel;
    ScriptedUser user;
    MainState state;
    std::string ini;

private:
    ScopedKernel installed_;
};

TEST_F(MainStateTest, FileModeBelowThresholdCreatesTheMissingConfiguration) {
    makeExecutable(kernel.exePath, 3145727);
    RDMode = true;
    ASSERT_EQ(create(), "");
    EXPECT_FALSE(RDMode);
    EXPECT_EQ(state.ExePath, kernel.exePath);
    EXPECT_EQ(state.IniPath, ini);
    EXPECT_EQ(state.ExeFileSize, 3145727);
    EXPECT_EQ(state.PackageMode, 0);

    ASSERT_EQ(user.count("notice"), 1);
    EXPECT_EQ(user.calls[0].caption, "Error");
    EXPECT_EQ(user.calls[0].text,
              "The " + ini + " file cann't be found, and Updater will create the file!\n");
    EXPECT_EQ(user.calls[0].icon, BoxIcon::Error);
    EXPECT_TRUE(std::filesystem::exists(ini));
    EXPECT_EQ(state.firmwareVer, "0.0");
    EXPECT_EQ(state.customTitle, "N/A");
    EXPECT_EQ(state.customBkImage, 0);
    EXPECT_EQ(state.enFilterBinFile, 0);
    EXPECT_EQ(state.caption, kDefaultTitle);
    EXPECT_EQ(state.appTitle, kDefaultTitle);
}

TEST_F(MainStateTest, PackageModeAtThresholdNeitherReadsNorCreatesTheConfiguration) {
    makeExecutable(kernel.exePath, 3145728);
    state.firmwareVer = "stale";
    ASSERT_EQ(create(), "");
    EXPECT_EQ(state.ExeFileSize, 3145728);
    EXPECT_EQ(state.PackageMode, 1);
    EXPECT_TRUE(user.calls.empty());
    EXPECT_FALSE(std::filesystem::exists(ini));
    EXPECT_EQ(kernel.profileReads, 0);
    EXPECT_EQ(kernel.profileWrites, 0);
    EXPECT_EQ(state.customTitle, "");
    EXPECT_EQ(state.firmwareVer, "");
    // The empty custom title differs from "N/A": both titles become " Toolbox <version>".
    EXPECT_EQ(state.caption, " Toolbox A.1.19(RC2)");
    EXPECT_EQ(state.appTitle, " Toolbox A.1.19(RC2)");
}

TEST_F(MainStateTest, PackageModeIgnoresAnExistingConfiguration) {
    makeExecutable(kernel.exePath, 4000000);
    writeFile(ini, "[DeviceSetting]\r\nCustomTitle=My Drive\r\nCustomBKImage=1\r\n");
    ASSERT_EQ(create(), "");
    EXPECT_EQ(state.PackageMode, 1);
    EXPECT_EQ(state.customBkImage, 0);
    EXPECT_EQ(state.caption, " Toolbox A.1.19(RC2)");
}

TEST_F(MainStateTest, SettingsAreKeptAndACustomTitleReplacesBothTitles) {
    makeExecutable(kernel.exePath, 1000);
    writeFile(ini,
              "[DeviceSetting]\r\nFirmwareVer=1.06b\r\nCustomTitle=My Drive\r\n"
              "CustomBKImage=1\r\nEnFilterBinFile=0x2\r\n");
    ASSERT_EQ(create(), "");
    EXPECT_TRUE(user.calls.empty());
    EXPECT_EQ(kernel.profileWrites, 0);
    EXPECT_EQ(state.firmwareVer, "1.06b");
    EXPECT_EQ(state.customTitle, "My Drive");
    EXPECT_EQ(state.customBkImage, 1);
    EXPECT_EQ(state.enFilterBinFile, 2);
    EXPECT_EQ(state.caption, "My Drive Toolbox A.1.19(RC2)");
    EXPECT_EQ(state.appTitle, "My Drive Toolbox A.1.19(RC2)");
}

TEST_F(MainStateTest, TitleStartingWithNAKeepsTheDefault) {
    makeExecutable(kernel.exePath, 1000);
    writeFile(ini, "[DeviceSetting]\r\nCustomTitle=N/A custom\r\n");
    ASSERT_EQ(create(), "");
    EXPECT_EQ(state.customTitle, "N/A custom");
    EXPECT_EQ(state.caption, kDefaultTitle);
    EXPECT_EQ(state.appTitle, kDefaultTitle);
}

TEST_F(MainStateTest, UnopenableExecutableCountsAsEmptyAndLoadsTheConfiguration) {
    // No file at the executable's path: size 0, file mode, the file beside it is created.
    ASSERT_EQ(create(), "");
    EXPECT_EQ(state.ExeFileSize, 0);
    EXPECT_EQ(state.PackageMode, 0);
    EXPECT_EQ(user.count("notice"), 1);
    EXPECT_TRUE(std::filesystem::exists(ini));
}

// A copy that the file system lists with a package's size but that cannot be opened (a
// network drive mapped by the user is not seen by an elevated program): package mode, and a
// notice before the first scan says so, instead of passing for a copy without a package.
TEST_F(MainStateTest, UnreadableCopyOfAPackageSizeIsToldBeforeTheFirstScan) {
    kernel.listedSize = 4000000;
    ASSERT_EQ(create(), "");
    EXPECT_EQ(state.PackageMode, 1);
    EXPECT_EQ(state.ExeFileSize, 4000000);
    EXPECT_FALSE(std::filesystem::exists(ini)) << "no configuration in package mode";
    EXPECT_EQ(user.count("notice"), 0) << "nothing before the window shows";

    state.caption = "QX Demo SSD A.1.19(RC2) [1.06]";
    ScanWork(state, user);
    ASSERT_EQ(user.count("notice"), 1);
    const test::UserCall& n = user.calls.front();
    EXPECT_EQ(n.what, "notice");
    EXPECT_EQ(n.caption, state.caption);
    EXPECT_EQ(n.icon, BoxIcon::Error);
    EXPECT_NE(n.text.find("could not read its own file:\n" + kernel.exePath + "\n"), std::string::npos) << n.text;
    EXPECT_NE(n.text.find("Copy the program to a folder on a local disk"), std::string::npos) << n.text;
    ScanWork(state, user);
    EXPECT_EQ(user.count("notice"), 1) << "told once";
}

TEST_F(MainStateTest, UnreadableCopyOfAFileModeSizeStaysInFileModeSilently) {
    kernel.listedSize = 3145727;
    ASSERT_EQ(create(), "");
    EXPECT_EQ(state.PackageMode, 0);
    EXPECT_EQ(state.ExeFileSize, 0);
    ScanWork(state, user);
    EXPECT_EQ(user.count("notice"), 1) << "only the configuration's own notice of creation";
}

// A token without administrator rights: the notice in the standard form (the window's title,
// OK only) before the first scan, once; an elevated one gets none.
TEST_F(MainStateTest, UnelevatedProcessIsToldBeforeTheFirstScan) {
    makeExecutable(kernel.exePath, 3145728);
    ASSERT_EQ(create(), "");
    ScanWork(state, user);
    EXPECT_EQ(user.count("notice"), 0);

    MainState again;
    ScriptedUser user2;
    kernel.elevated = false;
    ASSERT_EQ(CreateMainState(again, user2), "");
    ScanWork(again, user2);
    ASSERT_EQ(user2.count("notice"), 1);
    EXPECT_EQ(user2.calls.front().what, "notice") << "before the scan touches the list";
    EXPECT_EQ(user2.calls.front().caption, again.caption);
    EXPECT_EQ(user2.calls.front().text, kNotElevatedNotice);
    EXPECT_EQ(user2.calls.front().icon, BoxIcon::Warning);
    ScanWork(again, user2);
    EXPECT_EQ(user2.count("notice"), 1);
}

TEST_F(MainStateTest, UnwritableConfigurationEndsCreationWithTheError) {
    // A directory that does not exist cannot take the file, whoever runs the test.
    kernel.exePath = dir.file("missing-dir/qxupdater.exe");
    const std::string missingIni = dir.file("missing-dir/QXUpdater.ini");
    EXPECT_EQ(create(), "Unable to write to " + missingIni);
    EXPECT_EQ(user.count("notice"), 1);

    // A directory standing where the file should be.
    MainState again;
    ScriptedUser user2;
    kernel.exePath = dir.file("qxupdater.exe");
    makeExecutable(kernel.exePath, 10);
    std::filesystem::create_directory(ini);
    EXPECT_EQ(CreateMainState(again, user2), "Unable to write to " + ini);
}

TEST_F(MainStateTest, BackslashPathsAreSplitAtTheLastSeparator) {
    // The executable path as Windows reports it; it cannot be opened here, so file mode.
    kernel.exePath = "C:\\no\\such\\dir\\QXUpdater.exe";
    kernel.failProfileWrites = true;
    EXPECT_EQ(create(), "Unable to write to C:\\no\\such\\dir\\QXUpdater.ini");
    EXPECT_EQ(state.IniPath, "C:\\no\\such\\dir\\QXUpdater.ini");
}

TEST_F(MainStateTest, ExecutableInAFolderNamedOutsideAsciiFindsItsSizeAndConfiguration) {
    const std::string folder = dir.file("Outil \xC3\xA9t\xC3\xA9");
    std::filesystem::create_directory(Utf8Path(folder));
    kernel.exePath = folder + "/qxupdater.exe";
    {
        std::ofstream out(Utf8Path(kernel.exePath), std::ios::binary);
        out << std::string(1234, 'x');
    }
    {
        std::ofstream out(Utf8Path(folder + "/QXUpdater.ini"), std::ios::binary);
        out << "[DeviceSetting]\r\nCustomTitle=Mon disque\r\n";
    }
    ASSERT_EQ(create(), "");
    EXPECT_EQ(state.ExeFileSize, 1234);
    EXPECT_EQ(state.IniPath, folder + "/QXUpdater.ini");
    EXPECT_TRUE(user.calls.empty());
    EXPECT_EQ(state.caption, "Mon disque Toolbox A.1.19(RC2)");
}

#if !defined(_WIN32)
// Sparse files make this cheap on Linux; on Windows the file would take real space.
TEST_F(MainStateTest, SizeBeyondTheSignedRangeIsClampedAndStaysPackageMode) {
    makeExecutable(kernel.exePath, 0x80000010ull);
    ASSERT_EQ(create(), "");
    EXPECT_EQ(state.ExeFileSize, 0x7FFFFFFF);
    EXPECT_EQ(state.PackageMode, 1);
}
#endif

// ---------------------------------------------------------------------------------------

class ActionStepsTest : public ::testing::Test {
protected:
    void addRows(int n) {
        for (int i = 0; i < n; ++i) user.addRow(DriveRow{std::to_string(i + 1), "m", "s", "f", "1"});
        user.calls.clear();
    }
    std::vector<std::string> callNames() const {
        std::vector<std::string> names;
        for (const auto& c : user.calls) names.push_back(c.what + ":" + c.caption + ":" + c.text);
        return names;
    }

    ScriptedUser user;
    MainState state;
};

TEST_F(ActionStepsTest, LockAndUnlockWithoutRowsLeaveTheActionsAlone) {
    user.actionsEnabled = false;
    LockButtons(state, user);
    EXPECT_TRUE(state.actionRunning);
    EXPECT_EQ(callNames(), (std::vector<std::string>{"clearLog::", "enableScanAndExit::0"}));
    user.calls.clear();
    UnlockButtons(state, user);
    EXPECT_FALSE(state.actionRunning);
    EXPECT_EQ(callNames(), (std::vector<std::string>{"enableScanAndExit::1"}));
    EXPECT_FALSE(user.actionsEnabled);
    EXPECT_TRUE(user.scanAndExitEnabled);
}

TEST_F(ActionStepsTest, LockAndUnlockWithRowsSwitchAllFive) {
    addRows(2);
    user.log = {"old line"};
    LockButtons(state, user);
    EXPECT_TRUE(user.log.empty());
    EXPECT_FALSE(user.scanAndExitEnabled);
    EXPECT_FALSE(user.actionsEnabled);
    EXPECT_EQ(callNames(), (std::vector<std::string>{"clearLog::", "enableScanAndExit::0",
                                                     "enableActions::0"}));
    UnlockButtons(state, user);
    EXPECT_TRUE(user.scanAndExitEnabled);
    EXPECT_TRUE(user.actionsEnabled);
    EXPECT_FALSE(state.actionRunning);
}

TEST_F(ActionStepsTest, CountClearsEveryStatusInOrderAndLeavesTheBookkeepingAlone) {
    addRows(4);
    SetRowStatus(user, 0, "Pass");
    SetRowStatus(user, 3, "Fail");
    user.calls.clear();
    user.check(1);
    user.check(3);
    state.CheckedCount = 1;
    state.CheckedIndex = 2;
    EXPECT_EQ(CountCheckedRows(state, user), 2);
    EXPECT_EQ(callNames(), (std::vector<std::string>{"setRowStatus:0:", "setRowStatus:1:",
                                                     "setRowStatus:2:", "setRowStatus:3:"}));
    for (const auto& row : user.rows) {
        EXPECT_TRUE(row.hasStatus);
        EXPECT_EQ(row.status, "");
    }
    EXPECT_EQ(state.CheckedCount, 1);
    EXPECT_EQ(state.CheckedIndex, 2);
    // Checks survive the count.
    EXPECT_TRUE(user.rowChecked(1));
    EXPECT_TRUE(user.rowChecked(3));
}

TEST_F(ActionStepsTest, CountOfAnEmptyListIsZero) {
    EXPECT_EQ(CountCheckedRows(state, user), 0);
    EXPECT_TRUE(user.calls.empty());
}


// The titles both desktop front ends show: the start title, and package mode's caption
// built from the header's fields (Latin-1 texts, NUL-terminated within their widths).
TEST(MainTitles, StartTitleIsTheDefaultTitle) { EXPECT_EQ(StartTitle(), kDefaultTitle); }

TEST(MainTitles, PackageCaptionIsProductVersionAndBracketedPackageVersion) {
    std::array<uint8_t, 512> header{};
    const std::string version = "1.06";
    const std::string product = "Fast SSD";
    std::copy(version.begin(), version.end(), header.begin());
    std::copy(product.begin(), product.end(), header.begin() + 14);
    EXPECT_EQ(PackageCaption(header), "Fast SSD A.1.19(RC2) [1.06]");
}

TEST(MainTitles, PackageCaptionOfAZeroHeaderKeepsItsBlanksAndBrackets) {
    const std::array<uint8_t, 512> header{};
    EXPECT_EQ(PackageCaption(header), " A.1.19(RC2) []");
}

TEST(MainTitles, PackageCaptionReadsEightBitCharactersAsLatin1) {
    std::array<uint8_t, 512> header{};
    header[0] = 'v';
    header[1] = 0xB2;  // superscript two
    header[14] = 'S';
    header[15] = 0xE9;  // e acute
    header[16] = 0xFF;  // y diaeresis
    EXPECT_EQ(PackageCaption(header), "S\xC3\xA9\xC3\xBF A.1.19(RC2) [v\xC2\xB2]");
}

TEST(MainTitles, PackageCaptionStopsEachTextAtItsFieldWidth) {
    std::array<uint8_t, 512> header{};
    std::fill(header.begin(), header.begin() + 14, static_cast<uint8_t>('7'));      // no NUL
    std::fill(header.begin() + 14, header.begin() + 26, static_cast<uint8_t>('P'));  // no NUL
    header[26] = 'X';
    EXPECT_EQ(PackageCaption(header), "PPPPPPPPPPPP A.1.19(RC2) [77777777777777]");
}

// An executable of 4,000,000 bytes whose package header (at 0x2FFE00) holds the texts and the
// picture flag, with a recognisable picture area behind it.
void makePackagedExecutable(const std::string& path, const std::string& version, const std::string& product,
                            bool picture) {
    makeExecutable(path, 4000000);
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    std::string header(512, '\0');
    header.replace(0, version.size(), version);
    header.replace(14, product.size(), product);
    header[32] = picture ? 1 : 0;
    out.seekp(0x2FFE00);
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    out.seekp(0x300000);
    out << "\xFF\xD8picture";
}

TEST(PackageShowingRead, AnOpenedPackageGivesItsCaptionAndPictureOnlyWithTheFlag) {
    TempDir dir;
    MainState state;
    state.ExePath = dir.file("qxupdater.exe");

    makePackagedExecutable(state.ExePath, "1.06", "Fast SSD", false);
    PackageShowing showing = ReadPackageShowing(state);
    EXPECT_TRUE(showing.opened);
    EXPECT_FALSE(showing.pictureFlag);
    EXPECT_FALSE(showing.decodePicture);
    EXPECT_EQ(showing.caption, "Fast SSD A.1.19(RC2) [1.06]");
    EXPECT_TRUE(showing.picture.empty());
    EXPECT_EQ(state.PackageHeader[0], '1');
    EXPECT_EQ(state.PackageHeader[14], 'F');

    makePackagedExecutable(state.ExePath, "2.00", "Other", true);
    showing = ReadPackageShowing(state);
    EXPECT_TRUE(showing.opened);
    EXPECT_TRUE(showing.pictureFlag);
    EXPECT_TRUE(showing.decodePicture);
    EXPECT_EQ(showing.caption, "Other A.1.19(RC2) [2.00]");
    ASSERT_EQ(showing.picture.size(), 81920u);
    EXPECT_EQ(std::string(showing.picture.begin(), showing.picture.begin() + 9), "\xFF\xD8picture");
    EXPECT_EQ(state.PackageHeader[32], 1);
}

TEST(PackageShowingRead, AnExecutableThatCannotBeOpenedKeepsTheTitleAndAZeroHeader) {
    TempDir dir;
    MainState state;
    state.PackageHeader.fill(0x55);
    state.ExePath = dir.file("missing.exe");
    const PackageShowing showing = ReadPackageShowing(state);
    EXPECT_FALSE(showing.opened);
    EXPECT_FALSE(showing.pictureFlag);
    EXPECT_FALSE(showing.decodePicture);
    EXPECT_TRUE(showing.caption.empty());
    EXPECT_TRUE(showing.picture.empty());
    EXPECT_EQ(std::count(state.PackageHeader.begin(), state.PackageHeader.end(), 0), 512);
}

}  // namespace
}  // namespace qx
