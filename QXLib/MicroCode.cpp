// Preparing a firmware image for one drive and sending it with DOWNLOAD MICROCODE
// (subcommand 03h, download with offsets and save) in chunks of at most 128 blocks, the
// image's last block in a command of its own.
#include "QXLib/MicroCode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "QXLib/DbgLog.h"
#include "QXLib/Transport.h"
#include "platform/Ascii.h"
#include "platform/AtaString.h"
#include "platform/LittleEndian.h"

namespace qx {

namespace {

constexpr uint32_t kBlockSize = 512;
constexpr uint16_t kMaxChunkBlocks = 128;
constexpr uint32_t kOptionByteOffset = 831;  // byte 63 of the image's BuildInfo block

// A drive writes its flash while it holds a DOWNLOAD MICROCODE command (at the latest the
// one that completes the image); a time-out there would reset the link under a drive that
// is writing its firmware. Every segment gets the time fwupd gives each of its own
// (plugins/ata/fu-ata-device.c, fu_ata_device_fw_download: 120 s); a drive that answers
// within the ordinary 10 seconds sees no difference.
constexpr uint32_t kDownloadTimeoutSeconds = 120;

// IdentifyTemplate fields inside the image.
constexpr uint32_t kSerialField = 96, kSerialFieldWidth = 20;
constexpr uint32_t kRevisionField = 122, kRevisionFieldWidth = 8;
constexpr uint32_t kModelField = 130, kModelFieldWidth = 40;
constexpr uint32_t kWwnField = 292;

}  // namespace

bool ParseWwn(const std::string& hex16, std::array<uint16_t, 4>& wwn) {
    if (hex16.size() != 16) return false;
    std::array<uint16_t, 4> words{};
    for (size_t i = 0; i < 16; ++i) {
        const int digit = HexDigitValue(hex16[i]);
        if (digit < 0) return false;
        words[i / 4] = static_cast<uint16_t>((words[i / 4] << 4) | digit);
    }
    wwn = words;
    return true;
}

int VC_STD_DownloadMicroCode(uint8_t device, const uint8_t* data, uint16_t blockCount,
                             uint16_t blockOffset) {
    const CommandBlock block = {0xA1,
                                0x16,
                                0x03,
                                0x03,
                                static_cast<uint8_t>(blockCount & 0xFF),
                                static_cast<uint8_t>(blockCount >> 8),
                                static_cast<uint8_t>(blockOffset & 0xFF),
                                static_cast<uint8_t>(blockOffset >> 8),
                                0xE0,
                                0x92,
                                0x00,
                                0x00};
    const auto length = static_cast<int32_t>(uint32_t{blockCount} * kBlockSize);
    // The transport only reads from the buffer of a data-out command.
    uint8_t* out = const_cast<uint8_t*>(data);
    return ExecDeviceCommand(device, 0, block, static_cast<int>(block.size()), out, length,
                             kDownloadTimeoutSeconds) == 1
               ? 1
               : 2;
}

void ApplyOptionRule(const char* svnVersion6, uint8_t* image) {
    if (svnVersion6 == nullptr || image == nullptr) return;
    // The build number is six decimal digits; anything that is not exactly 111008 (a
    // shorter text, other characters) leaves the image as it is.
    static constexpr char kOptionBuild[] = "111008";
    for (size_t i = 0; i < 6; ++i) {
        if (svnVersion6[i] != kOptionBuild[i]) return;  // also stops at a NUL
    }
    image[kOptionByteOffset] = static_cast<uint8_t>(image[kOptionByteOffset] | 0x01);
}

bool PersonaliseAndSeal(uint8_t* image, uint32_t length, const std::string& serial,
                        const std::string& model, const std::string& wwnHex16,
                        const std::string& firmwareRevision) {
    if (image == nullptr || length == 0 || length > kImageAreaSize) return false;
    // A malformed name would put a wrong identity into the firmware: refuse before
    // touching the image.
    std::array<uint16_t, 4> wwn{};
    if (!ParseWwn(wwnHex16, wwn)) return false;

    // Each text up to its first NUL.
    PutAtaString(image + kSerialField, kSerialFieldWidth, serial.c_str());
    PutAtaString(image + kRevisionField, kRevisionFieldWidth, firmwareRevision.c_str());
    PutAtaString(image + kModelField, kModelFieldWidth, model.c_str());
    for (size_t w = 0; w < 4; ++w) PutLe16(image + kWwnField + 2 * w, wwn[w]);

    // Seal: bytes 0 to length-3 plus the checksum byte sum to zero; the byte at length-2
    // stays outside the sum.
    uint32_t sum = 0;
    for (uint32_t i = 0; i + 2 < length; ++i) sum += image[i];
    image[length - 1] = static_cast<uint8_t>((256u - (sum & 0xFFu)) & 0xFFu);
    return true;
}

std::string WwnToText(const uint8_t* identifyWords108to111) {
    if (identifyWords108to111 == nullptr) return std::string(16, '0');
    char text[17];
    for (size_t w = 0; w < 4; ++w) {
        const unsigned word = ReadLe16(identifyWords108to111 + 2 * w);
        std::snprintf(text + 4 * w, 5, "%04X", word);
    }
    return std::string(text, 16);
}

bool VP_PROC_DownloadMicroCode(uint8_t device, const uint8_t* image, uint32_t length,
                               const DownloadProgress& progress) {
    DbgPrintf("VP_PROC_DownloadMicroCode::Begin\r\n");
    // The image lives in the 163,840-byte image area: a length of 0 or beyond it is not an
    // image that can be sent, and nothing may be read past the area.
    if (image == nullptr || length == 0 || length > kImageAreaSize) {
        DbgPrintf("VP_PROC_DownloadMicroCode: image length %u is not within 1..%u bytes, "
                  "nothing sent\r\n",
                  static_cast<unsigned>(length), static_cast<unsigned>(kImageAreaSize));
        return false;
    }

    auto total = static_cast<uint16_t>(length / kBlockSize + (length % kBlockSize != 0 ? 1 : 0));
    DbgPrintf("wTotalSectorCount = %d\r\n", static_cast<int>(total));
    uint16_t offset = 0;
    // Blocks are whole 512-byte units; the last one may hold less of the image.
    const auto report = [&](uint32_t blocksSent) {
        if (progress) progress(std::min(blocksSent * kBlockSize, length), length);
    };
    while (total > 0) {
        const uint16_t count = total > kMaxChunkBlocks ? kMaxChunkBlocks : total;
        DbgPrintf("wTotalSectorCount = %d wSectorCount = %d\r\n", static_cast<int>(total),
                  static_cast<int>(count));
        if (total > kMaxChunkBlocks) {
            if (VC_STD_DownloadMicroCode(device, image + size_t{offset} * kBlockSize, count,
                                         offset) != 1) {
                DbgPrintf("FAILED(VC_STD_DownloadMicroCode), dwBufferOffset = %d\r\n",
                          static_cast<int>(uint32_t{offset} * kBlockSize));
                return false;
            }
            report(uint32_t{offset} + count);
        } else {
            // A final chunk of a single block has nothing before its last block: a command
            // with a block count of zero would transfer nothing, so it is not sent.
            const auto head = static_cast<uint16_t>(count - 1);
            if (head > 0 &&
                VC_STD_DownloadMicroCode(device, image + size_t{offset} * kBlockSize, head,
                                         offset) != 1) {
                DbgPrintf("FAILED(LAST_RUN(VC_STD_DownloadMicroCode)[0]), dwBufferOffset = %d\r\n",
                          static_cast<int>(uint32_t{offset} * kBlockSize));
                return false;
            }
            if (head > 0) report(uint32_t{offset} + head);
            const auto last = static_cast<uint16_t>(offset + head);
            if (VC_STD_DownloadMicroCode(device, image + size_t{last} * kBlockSize, 1, last) != 1) {
                DbgPrintf("FAILED(LAST_RUN(VC_STD_DownloadMicroCode)[1]), dwBufferOffset = %d\r\n",
                          static_cast<int>(uint32_t{last} * kBlockSize));
                return false;
            }
            report(uint32_t{last} + 1);
        }
        offset = static_cast<uint16_t>(offset + count);
        total = static_cast<uint16_t>(total - count);
    }
    return true;
}

}  // namespace qx
