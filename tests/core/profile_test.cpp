// Profile files: reading and writing with the system profile functions' rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/ProfileFile.h"
#include "support/ProcedureBench.h"

namespace qx {
namespace {

using test::TempDir;

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary);
    out << data;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ProfileRead, MissingFileSectionOrKeyGiveTheDefault) {
    TempDir dir;
    const std::string ini = dir.file("a.ini");
    EXPECT_EQ(ProfileGetString("S", "K", "dflt", ini), "dflt");
    EXPECT_EQ(ProfileGetInt("S", "K", 7, ini), 7);
    writeFile(ini, "[S]\nK=v\n[T]\nX=1\n");
    EXPECT_EQ(ProfileGetString("Nope", "K", "d", ini), "d");
    EXPECT_EQ(ProfileGetString("S", "X", "d", ini), "d");  // X is in another section
    EXPECT_EQ(ProfileGetInt("T", "Y", -3, ini), -3);
    EXPECT_EQ(ProfileGetString("S", "K", "d", ini), "v");
}

TEST(ProfileRead, NamesIgnoreCaseAndBlanksValuesAreTrimmedAndUnquoted) {
    TempDir dir;
    const std::string ini = dir.file("a.ini");
    writeFile(ini,
              "  [ DeviceSetting ]  \r\n"
              "\tcustomtitle =   My Drive  \r\n"
              "A=\"  quoted  \"\r\n"
              "B='single'\r\n"
              "C=\"unbalanced'\r\n"
              "D=\"\r\n"
              "E=\r\n"
              "F\r\n");
    EXPECT_EQ(ProfileGetString("devicesetting", "CustomTitle", "N/A", ini), "My Drive");
    EXPECT_EQ(ProfileGetString("DEVICESETTING", " customTITLE ", "N/A", ini), "My Drive");
    EXPECT_EQ(ProfileGetString("DeviceSetting", "A", "", ini), "  quoted  ");
    EXPECT_EQ(ProfileGetString("DeviceSetting", "B", "", ini), "single");
    EXPECT_EQ(ProfileGetString("DeviceSetting", "C", "", ini), "\"unbalanced'");
    EXPECT_EQ(ProfileGetString("DeviceSetting", "D", "", ini), "\"");
    // Present but empty is empty, not the default; a line without "=" is an empty key.
    EXPECT_EQ(ProfileGetString("DeviceSetting", "E", "d", ini), "");
    EXPECT_EQ(ProfileGetString("DeviceSetting", "F", "d", ini), "");
}

TEST(ProfileRead, FirstSectionAndFirstKeyWin) {
    TempDir dir;
    const std::string ini = dir.file("a.ini");
    writeFile(ini, "K=outside\n[S]\nK=first\nk=second\n[s]\nK=third\nJ=later\n");
    EXPECT_EQ(ProfileGetString("S", "K", "", ini), "first");
    // Only the first section of a name is searched.
    EXPECT_EQ(ProfileGetString("S", "J", "none", ini), "none");
}

TEST(ProfileRead, IntegersAsTheSystemReadsThem) {
    EXPECT_EQ(ProfileParseInt("12abc"), 12);
    EXPECT_EQ(ProfileParseInt("abc"), 0);
    EXPECT_EQ(ProfileParseInt("0x1F"), 31);
    EXPECT_EQ(ProfileParseInt("0X1fz"), 31);
    EXPECT_EQ(ProfileParseInt("-5"), -5);
    EXPECT_EQ(ProfileParseInt("+8"), 8);
    EXPECT_EQ(ProfileParseInt("-0x10"), -16);
    EXPECT_EQ(ProfileParseInt("0x"), 0);
    EXPECT_EQ(ProfileParseInt("--1"), 0);
    EXPECT_EQ(ProfileParseInt("4294967297"), 1);  // wraps, never undefined
    EXPECT_EQ(ProfileParseInt("99999999999999999999999999"), ProfileParseInt("99999999999999999999999999"));

    TempDir dir;
    const std::string ini = dir.file("a.ini");
    writeFile(ini, "[S]\nA=12abc\nB=abc\nC=0x1F\nD=-5\nE=\nF=\"3\"\n");
    EXPECT_EQ(ProfileGetInt("S", "A", 99, ini), 12);
    EXPECT_EQ(ProfileGetInt("S", "B", 99, ini), 0);
    EXPECT_EQ(ProfileGetInt("S", "C", 99, ini), 31);
    EXPECT_EQ(ProfileGetInt("S", "D", 99, ini), -5);
    EXPECT_EQ(ProfileGetInt("S", "E", 99, ini), 99);  // empty value: the default
    EXPECT_EQ(ProfileGetInt("S", "F", 99, ini), 3);   // quotes come off first
    EXPECT_EQ(ProfileGetInt("S", "Missing", 99, ini), 99);
}

TEST(ProfileRead, HostileFilesAreReadWithinBounds) {
    TempDir dir;
    const std::string ini = dir.file("a.ini");
    // A key line beyond the line limit is cut: its tail is never read as a value.
    std::string data = "[S]\nLong=" + std::string(kProfileMaxLineBytes * 2, 'x') + "TAIL\nK=ok\n";
    writeFile(ini, data);
    const std::string v = ProfileGetString("S", "Long", "", ini);
    EXPECT_LT(v.size(), kProfileMaxLineBytes);
    EXPECT_EQ(v.find("TAIL"), std::string::npos);
    EXPECT_EQ(ProfileGetString("S", "K", "", ini), "ok");

    // Keys past the file limit are not seen.
    std::string filler;
    while (filler.size() <= kProfileMaxFileBytes) filler += ";" + std::string(1000, 'f') + "\n";
    writeFile(ini, "[S]\n" + filler + "K=late\n");
    EXPECT_EQ(ProfileGetString("S", "K", "d", ini), "d");

    // Binary garbage, NULs, a lone "[" and "=" lines.
    const char garbage[] = "\0\xff[\n=\n[\n]=]\n[S\nK=x\0y\n";
    writeFile(ini, std::string(garbage, sizeof garbage - 1));  // without the literal's own NUL
    EXPECT_EQ(ProfileGetString("S", "K", "d", ini), std::string("x\0y", 3));
    // "=" before any section belongs to none; "[" opens a section with an empty name.
    EXPECT_EQ(ProfileGetString("", "]", "d", ini), "]");
    EXPECT_EQ(ProfileGetString("", "", "d", ini), "d");

    // A directory where the file should be.
    EXPECT_EQ(ProfileGetString("S", "K", "d", dir.file("")), "d");
}

TEST(ProfileRead, ByteOrderMarkIsSkipped) {
    TempDir dir;
    const std::string ini = dir.file("a.ini");
    writeFile(ini, "\xEF\xBB\xBF[S]\r\nK=v\r\n");
    EXPECT_EQ(ProfileGetString("S", "K", "", ini), "v");
    ASSERT_TRUE(ProfileWriteString("S", "J", "w", ini));
    EXPECT_EQ(readFile(ini), "\xEF\xBB\xBF[S]\r\nK=v\r\nJ=w\r\n");
}

TEST(ProfileWrite, CreatesFileAndSectionWithCrlf) {
    TempDir dir;
    const std::string ini = dir.file("new.ini");
    ASSERT_TRUE(ProfileWriteString("DeviceSetting", "FirmwareVer", "0.0", ini));
    EXPECT_EQ(readFile(ini), "[DeviceSetting]\r\nFirmwareVer=0.0\r\n");
    ASSERT_TRUE(ProfileWriteString("Other", "A", "1", ini));
    EXPECT_EQ(readFile(ini), "[DeviceSetting]\r\nFirmwareVer=0.0\r\n[Other]\r\nA=1\r\n");
    EXPECT_EQ(ProfileGetString("DeviceSetting", "FirmwareVer", "", ini), "0.0");
    EXPECT_EQ(ProfileGetInt("Other", "A", 0, ini), 1);
}

TEST(ProfileWrite, ReplacesFirstKeyOrAppendsAtEndOfSection) {
    TempDir dir;
    const std::string ini = dir.file("a.ini");
    writeFile(ini, "; note\n[s]\nk = old\nK=second\n\n[T]\nX=1\n");
    ASSERT_TRUE(ProfileWriteString("S", "K", "new", ini));
    EXPECT_EQ(readFile(ini), "; note\r\n[s]\r\nK=new\r\nK=second\r\n\r\n[T]\r\nX=1\r\n");
    ASSERT_TRUE(ProfileWriteString("S", "Added", "v", ini));
    EXPECT_EQ(readFile(ini), "; note\r\n[s]\r\nK=new\r\nK=second\r\nAdded=v\r\n\r\n[T]\r\nX=1\r\n");
    EXPECT_EQ(ProfileGetString("S", "k", "", ini), "new");
    EXPECT_EQ(ProfileGetString("T", "X", "", ini), "1");
}

TEST(ProfileWrite, RefusesWhatItCannotWriteFaithfully) {
    TempDir dir;
    // The directory does not exist.
    EXPECT_FALSE(ProfileWriteString("S", "K", "v", dir.file("missing/a.ini")));
    // The path is a directory.
    EXPECT_FALSE(ProfileWriteString("S", "K", "v", dir.file("")));
    const std::string ini = dir.file("a.ini");
    // Line breaks would plant other keys or sections.
    EXPECT_FALSE(ProfileWriteString("S", "K", "v\r\n[X]", ini));
    EXPECT_FALSE(ProfileWriteString("S\n", "K", "v", ini));
    EXPECT_FALSE(ProfileWriteString("S]", "K", "v", ini));
    EXPECT_FALSE(ProfileWriteString("S", "K=1", "v", ini));
    EXPECT_FALSE(ProfileWriteString("S", "", "v", ini));
    EXPECT_FALSE(std::filesystem::exists(ini));
    // A file too long to be read whole is left as it is.
    const std::string big = "[S]\nK=" + std::string(kProfileMaxLineBytes + 10, 'x') + "\n";
    writeFile(ini, big);
    EXPECT_FALSE(ProfileWriteString("S", "K", "v", ini));
    EXPECT_EQ(readFile(ini), big);
}

}  // namespace
}  // namespace qx
