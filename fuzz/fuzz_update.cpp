// The firmware update over a package or a .bin file from the input: the image slots are
// matched against the drive's build codes, the chosen image is personalised, sealed and
// downloaded to a simulated drive. Whatever the package holds, only an image whose codes are
// the drive's may reach it, and never more than the image area.
//
// Input: 4 bytes (byte 0 odd: file mode; the other three: how much larger than the file the
// executable claims to be), then the file: in package mode the bytes from 0x2FFE00 on (the
// layout of fuzz_package), in file mode the .bin image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/core/MainState.h"
#include "devices/Scan.h"
#include "platform/sim/SimBench.h"
#include "support/FuzzPlatform.h"
#include "support/ScriptedUser.h"
#include "update/Package.h"
#include "update/Update.h"

using namespace qx;

namespace {

const char* kBench = R"([system]
os = 6.2
[disk]
path = \\?\ide#diskqx#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}
bus = ide
model = QX SSD 256
serial = QX0000000001
buildinfo = QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01
)";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile exe("qxupdater");
    static fuzz::ScratchFile bin("SYS_A1B2.bin");
    if (size < 4) return 0;
    const bool fileMode = (data[0] & 1) != 0;
    const uint32_t claimedExtra = (data[1] | (data[2] << 8) | (static_cast<uint32_t>(data[3]) << 16)) %
                                  (4 * kSlotSize);
    const uint64_t offset = fileMode ? 0 : kPackageHeaderOffset;
    fuzz::ScratchFile& file = fileMode ? bin : exe;
    if (!file.write(data + 4, size - 4, offset)) return 0;

    std::string error;
    static const std::unique_ptr<sim::SimBench> proto = sim::SimBench::fromText(kBench, error);
    if (!proto) std::abort();
    fuzz::ResetCoreState();
    sim::SimBench bench(proto->setup());
    bench.setRecordCalls(false);
    const Platform previous = platform();
    installPlatform(bench.platform());

    MainState state;
    test::ScriptedUser user;
    GetQuorvexDevice(state, user);
    if (user.rows.size() != 1) std::abort();
    user.check(0);
    if (fileMode) {
        state.PackageMode = 0;
        state.firmwareVer = "1.06";
        user.fileAnswers.push_back(file.path());
    } else {
        state.PackageMode = 1;
        state.ExePath = file.path();
        state.ExeFileSize = static_cast<int32_t>(offset + (size - 4) + claimedExtra);
        state.PackageHeader = ReadPackageStartup(file.path()).header;
    }
    DownloadCodeBtnClick(state, user);

    const sim::SimDriveState& drive = bench.driveState(0);
    if (drive.downloadCommands > 0) {
        const std::vector<uint8_t>& got = drive.downloaded;
        if (got.size() > kImageArea || got.size() < kBuildInfoOffset + kBuildInfoSize) std::abort();
        const uint8_t* codes = got.data() + kBuildInfoOffset;
        if (std::memcmp(codes + 41, "42A1B2", 6) != 0 || std::memcmp(codes + 48, "QX01", 4) != 0)
            std::abort();  // an image meant for another drive
    }
    fuzz::ResetCoreState();
    installPlatform(previous);
    return 0;
}
