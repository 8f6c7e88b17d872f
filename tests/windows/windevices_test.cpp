// The Win32 device back-end under Wine: opening and control-call failures, and the
// transport's requests reaching the system calls.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "QXLib/DbgLog.h"
#include "QXLib/Transport.h"
#include "platform/DeviceIoctl.h"
#include "platform/windows/WinDevices.h"
#include "support/CaptureKernel.h"
#include "support/TempDir.h"

namespace qx {
namespace {

static_assert(sizeof(void*) != 8 || sizeof(AtaPassThroughEx) == 48);
static_assert(sizeof(void*) != 8 || sizeof(ScsiPassThroughDirect) == 56);

constexpr const char* kNoDevice = "\\\\.\\QxNoSuchDevice42";

class WinDevicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = platform();
        installPlatform(Platform{&clock, &devices, nullptr, &kernel});
    }
    void TearDown() override {
        DbgReleaseLock();
        installPlatform(previous);
    }
    VirtualClock clock;
    WinDevices devices;
    test::CaptureKernel kernel;
    Platform previous;
};

TEST_F(WinDevicesTest, OpeningAMissingDeviceFails) {
    EXPECT_EQ(devices.open(kNoDevice, AccessRead | AccessWrite, ShareNone), kInvalidDevice);
    EXPECT_NE(devices.lastError(), 0u);
    EXPECT_EQ(devices.open(nullptr, AccessNone, ShareRead), kInvalidDevice);
    EXPECT_EQ(devices.lastError(), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
}

TEST_F(WinDevicesTest, ControlCallOnAPlainFileFails) {
    const test::TempDir dir("qx-windevices");
    const auto file = dir.path() / "plain.bin";
    std::FILE* f = std::fopen(file.string().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a disk", f);
    std::fclose(f);

    const DeviceHandle h = devices.open(file.string().c_str(), AccessRead | AccessWrite,
                                        ShareRead | ShareWrite);
    ASSERT_NE(h, kInvalidDevice);
    EXPECT_EQ(devices.lastError(), 0u);
    AtaPassThroughEx request{};
    request.Length = sizeof(request);
    request.DataBufferOffset = sizeof(request);
    uint32_t returned = 0;
    EXPECT_FALSE(devices.control(h, kIoctlAtaPassThrough, &request, sizeof(request), &request,
                                 sizeof(request), &returned));
    EXPECT_NE(devices.lastError(), 0u);
    devices.close(h);
    std::filesystem::remove(file);
}

TEST_F(WinDevicesTest, TransportThroughTheSystemCalls) {
    IDEREGS tf;
    tf.bCommandReg = 0xEC;
    uint8_t buf[512];
    EXPECT_EQ(ReadATACommandWithTimeOutValue(kNoDevice, &tf, buf, 512, 10), 0);
    EXPECT_EQ(SmartReceiveData(kNoDevice, 0, tf, buf), -1);
    const uint8_t cdb[12] = {0x12, 0, 0, 0, 36};
    EXPECT_EQ(ReadSCSICommandWithTimeOutValue(kNoDevice, cdb, 12, buf, 36, 10), 0);
    // Every failed open is logged with GetLastError's number and FormatMessage's text.
    ASSERT_EQ(devices.open(kNoDevice, AccessRead | AccessWrite, ShareNone), kInvalidDevice);
    const uint32_t code = devices.lastError();
    const std::string text = devices.errorText(code);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find('\n'), std::string::npos);
    const std::string failed =
        std::string("CreateFile on ") + kNoDevice + " failed: error " + std::to_string(code) + ", " + text + "\r\n";
    EXPECT_EQ(kernel.output,
              (std::vector<std::string>{failed, failed, failed,
                                        std::string("ReadSCSICommandWithTimeOutValue(INVALID_HANDLE_VALUE) = ") +
                                            kNoDevice + "\r\n"}));
}

TEST_F(WinDevicesTest, ErrorTextsAreTheSystemsOwn) {
    char expected[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_SHARING_VIOLATION, 0, expected, sizeof expected, nullptr);
    std::string trimmed = expected;
    while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r' || trimmed.back() == ' ')) {
        trimmed.pop_back();
    }
    EXPECT_FALSE(trimmed.empty());
    EXPECT_EQ(devices.errorText(ERROR_SHARING_VIOLATION), trimmed);
    EXPECT_EQ(devices.errorText(0x2FFFFFFF), "") << "a code the system has no text for";
}

}  // namespace
}  // namespace qx
