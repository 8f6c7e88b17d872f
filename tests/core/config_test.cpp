// Loading QXUpdater.ini: creation when missing, the four settings, the custom-title rule.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "config/Config.h"
#include "support/ProcedureBench.h"
#include "support/ScriptedUser.h"
#include "support/TestKernel.h"

namespace qx {
namespace {

using test::ScopedKernel;
using test::ScriptedUser;
using test::TempDir;
using test::TestKernel;

class ConfigTest : public ::testing::Test {
protected:
    ConfigTest() : installed_(kernel) {}

    static void writeFile(const std::string& path, const std::string& data) {
        std::ofstream out(path, std::ios::binary);
        out << data;
    }
    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    TestKernel kernel;
    ScriptedUser user;
    TempDir dir;

private:
    ScopedKernel installed_;
};

TEST_F(ConfigTest, MissingFileIsAnnouncedThenCreatedWithFirmwareVerZero) {
    const std::string ini = dir.file("QXUpdater.ini");
    Configuration config;
    std::string error;
    ASSERT_TRUE(LoadConfiguration(ini, user, config, error));
    EXPECT_TRUE(error.empty());
    ASSERT_EQ(user.calls.size(), 1u);
    EXPECT_EQ(user.calls[0].what, "notice");
    EXPECT_EQ(user.calls[0].caption, "Error");
    EXPECT_EQ(user.calls[0].text,
              "The " + ini + " file cann't be found, and Updater will create the file!\n");
    EXPECT_EQ(user.calls[0].icon, BoxIcon::Error);
    EXPECT_EQ(readFile(ini), "[DeviceSetting]\r\nFirmwareVer=0.0\r\n");
    // A first run works with the written value, the other settings at their defaults.
    EXPECT_EQ(config.firmwareVer, "0.0");
    EXPECT_EQ(config.customTitle, "N/A");
    EXPECT_EQ(config.customBkImage, 0);
    EXPECT_EQ(config.enFilterBinFile, 0);
    EXPECT_FALSE(HasCustomTitle(config.customTitle));
}

TEST_F(ConfigTest, UnwritableFileIsAnError) {
    const std::string ini = dir.file("no-such-dir/QXUpdater.ini");
    Configuration config;
    std::string error;
    EXPECT_FALSE(LoadConfiguration(ini, user, config, error));
    EXPECT_EQ(error, "Unable to write to " + ini);
    EXPECT_EQ(user.count("notice"), 1);  // the "missing" message came first
    EXPECT_EQ(kernel.profileWrites, 1);
}

TEST_F(ConfigTest, ExistingFileIsReadAndLeftAlone) {
    const std::string ini = dir.file("QXUpdater.ini");
    const std::string text =
        "[DeviceSetting]\nFirmwareVer=R1.2.3-long\nCustomTitle=My Drive\nCustomBKImage=1\n"
        "EnFilterBinFile=0x10\n";
    writeFile(ini, text);
    Configuration config;
    std::string error;
    ASSERT_TRUE(LoadConfiguration(ini, user, config, error));
    EXPECT_TRUE(user.calls.empty());
    EXPECT_EQ(kernel.profileWrites, 0);
    EXPECT_EQ(readFile(ini), text);
    EXPECT_EQ(config.firmwareVer, "R1.2.3-long");
    EXPECT_EQ(config.customTitle, "My Drive");
    EXPECT_TRUE(HasCustomTitle(config.customTitle));
    EXPECT_EQ(config.customBkImage, 1);
    EXPECT_EQ(config.enFilterBinFile, 16);
}

TEST_F(ConfigTest, MissingKeysAndNonNumbersGiveDefaults) {
    const std::string ini = dir.file("QXUpdater.ini");
    writeFile(ini, "[DeviceSetting]\r\nCustomBKImage=yes\r\n");
    Configuration config;
    config.firmwareVer = "stale";
    std::string error;
    ASSERT_TRUE(LoadConfiguration(ini, user, config, error));
    EXPECT_EQ(config.firmwareVer, "1.0");
    EXPECT_EQ(config.customTitle, "N/A");
    EXPECT_EQ(config.customBkImage, 0);
    EXPECT_EQ(config.enFilterBinFile, 0);
}

// Where the file lies: beside a portable copy, system-wide for an installed one.
TEST_F(ConfigTest, PortableCopyKeepsTheFileBesideTheExecutable) {
    kernel.systemIniPath = dir.file("etc/QXUpdater.ini");
    kernel.folderWritable = true;
    const std::string exe = dir.file("qxupdater");
    EXPECT_EQ(ChooseIniPath(exe), dir.file("QXUpdater.ini"));
    // No system-wide place at all (Windows): beside, writable or not.
    kernel.systemIniPath.clear();
    kernel.folderWritable = false;
    EXPECT_EQ(ChooseIniPath(exe), dir.file("QXUpdater.ini"));
}

TEST_F(ConfigTest, InstalledCopyUsesTheSystemPathAndCreatesItThere) {
    std::filesystem::create_directories(dir.path() / "etc");
    const std::string system = dir.file("etc/QXUpdater.ini");
    kernel.systemIniPath = system;
    kernel.folderWritable = false;
    const std::string ini = ChooseIniPath(dir.file("bin/qxupdater"));
    ASSERT_EQ(ini, system);
    Configuration config;
    std::string error;
    ASSERT_TRUE(LoadConfiguration(ini, user, config, error)) << error;
    ASSERT_EQ(user.calls.size(), 1u);
    EXPECT_EQ(user.calls[0].text,
              "The " + system + " file cann't be found, and Updater will create the file!\n");
    EXPECT_EQ(readFile(system), "[DeviceSetting]\r\nFirmwareVer=0.0\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "bin" / "QXUpdater.ini"));
}

TEST_F(ConfigTest, FileAlreadyBesideTheExecutableWins) {
    std::filesystem::create_directories(dir.path() / "bin");
    writeFile(dir.file("bin/QXUpdater.ini"), "[DeviceSetting]\nCustomTitle=Beside\n");
    kernel.systemIniPath = dir.file("etc/QXUpdater.ini");
    kernel.folderWritable = false;
    EXPECT_EQ(ChooseIniPath(dir.file("bin/qxupdater")), dir.file("bin/QXUpdater.ini"));
    // A directory of that name is no file: the system path is used.
    std::filesystem::create_directories(dir.path() / "other" / "QXUpdater.ini");
    EXPECT_EQ(ChooseIniPath(dir.file("other/qxupdater")), dir.file("etc/QXUpdater.ini"));
}

TEST(ConfigRules, CustomTitleIsAnythingNotStartingWithNA) {
    EXPECT_FALSE(HasCustomTitle("N/A"));
    EXPECT_FALSE(HasCustomTitle("N/A custom"));
    EXPECT_TRUE(HasCustomTitle("My Drive"));
    EXPECT_TRUE(HasCustomTitle("n/a"));
    EXPECT_TRUE(HasCustomTitle("N/"));
    EXPECT_TRUE(HasCustomTitle(""));
}

TEST(ConfigRules, IniPathSitsBesideTheExecutable) {
    EXPECT_EQ(BuildIniPath("C:\\Tools\\QX\\QXUpdater.exe"), "C:\\Tools\\QX\\QXUpdater.ini");
    EXPECT_EQ(BuildIniPath("/opt/qx/bin/qxupdater"), "/opt/qx/bin/QXUpdater.ini");
    EXPECT_EQ(BuildIniPath("C:\\mixed/dir\\app.exe"), "C:\\mixed/dir\\QXUpdater.ini");
    EXPECT_EQ(BuildIniPath("C:/a\\b/app.exe"), "C:/a\\b/QXUpdater.ini");
    EXPECT_EQ(BuildIniPath("app.exe"), "QXUpdater.ini");
    EXPECT_EQ(BuildIniPath(""), "QXUpdater.ini");
}

}  // namespace
}  // namespace qx
