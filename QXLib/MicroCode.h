// Preparation of a firmware image for one drive (option rule, personalise, seal) and its
// download with DOWNLOAD MICROCODE (subcommand 03h) in chunks of at most 128 blocks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace qx {

constexpr uint32_t kImageAreaSize = 163840;

// 1 success, 2 failure.
int VC_STD_DownloadMicroCode(uint8_t device, const uint8_t* data, uint16_t blockCount,
                             uint16_t blockOffset);

// Sets bit 0 of image byte 831 when the SVN version (6 characters) reads 111008.
void ApplyOptionRule(const char* svnVersion6, uint8_t* image);

// Writes serial number, firmware revision and model as ATA strings, the world wide name
// from its 16-hex-digit text, then recomputes the checksum at length - 1. Does nothing and
// returns false when the length is 0 or larger than the image area.
bool PersonaliseAndSeal(uint8_t* image, uint32_t length, const std::string& serial,
                        const std::string& model, const std::string& wwnHex16,
                        const std::string& firmwareRevision);

// Parses 16 hexadecimal digits of either case into four words, the first word from the first
// four digits. False on anything else, with `wwn` left as it was.
bool ParseWwn(const std::string& hex16, std::array<uint16_t, 4>& wwn);

// The world wide name of identify words 108-111 as 16 uppercase hex digits, one group of
// four per word, most significant digit first.
std::string WwnToText(const uint8_t* identifyWords108to111);

// True when every command succeeded. Never sends a command with a block count of zero.
// Bytes of the image sent so far and the image length, after each command that succeeded.
using DownloadProgress = std::function<void(uint32_t sent, uint32_t total)>;
bool VP_PROC_DownloadMicroCode(uint8_t device, const uint8_t* image, uint32_t length,
                               const DownloadProgress& progress = {});

}  // namespace qx
