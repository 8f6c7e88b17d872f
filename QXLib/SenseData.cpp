// Sense data decoding (fixed and descriptor formats) and the success rule of a delivered
// SCSI command.
#include "QXLib/SenseData.h"

#include "platform/DeviceIoctl.h"

namespace qx {

namespace {

constexpr uint8_t kAtaStatusReturnDescriptor = 0x09;
constexpr uint8_t kAtaStatusReturnLength = 0x0C;  // additional length of that descriptor
constexpr uint8_t kAscAtaInformation = 0x00;
constexpr uint8_t kAscqAtaInformation = 0x1D;

// Fixed format: the header up to and including ASCQ.
constexpr std::size_t kFixedMinimum = 14;
// Descriptor format: the eight-byte header.
constexpr std::size_t kDescriptorHeader = 8;

std::optional<SenseData> decodeFixed(const uint8_t* s, std::size_t length) {
    if (length < kFixedMinimum) return std::nullopt;
    // The additional length must cover ASC and ASCQ (bytes 8 to 13 at least).
    if (s[7] < kFixedMinimum - 8) return std::nullopt;
    SenseData d;
    d.responseCode = static_cast<uint8_t>(s[0] & 0x7F);
    d.senseKey = static_cast<uint8_t>(s[2] & 0x0F);
    d.asc = s[12];
    d.ascq = s[13];
    if (d.asc == kAscAtaInformation && d.ascq == kAscqAtaInformation) {
        d.ataRegisters = std::array<uint8_t, 8>{s[3], s[6], s[9], s[10], s[11], s[5], s[4], 0};
    }
    return d;
}

std::optional<SenseData> decodeDescriptor(const uint8_t* s, std::size_t length) {
    if (length < kDescriptorHeader) return std::nullopt;
    SenseData d;
    d.responseCode = static_cast<uint8_t>(s[0] & 0x7F);
    d.senseKey = static_cast<uint8_t>(s[1] & 0x0F);
    d.asc = s[2];
    d.ascq = s[3];
    // Every descriptor must be there in full: one cut off by the end of the buffer could be
    // the ATA Status Return that tells whether the command failed.
    const std::size_t end = kDescriptorHeader + s[7];
    if (end > length) return std::nullopt;
    std::size_t at = kDescriptorHeader;
    while (at < end) {
        if (end - at < 2) return std::nullopt;
        const std::size_t total = 2 + std::size_t{s[at + 1]};
        if (total > end - at) return std::nullopt;
        if (s[at] == kAtaStatusReturnDescriptor) {
            if (s[at + 1] < kAtaStatusReturnLength) return std::nullopt;
            const uint8_t* r = s + at;
            d.ataRegisters = std::array<uint8_t, 8>{r[3], r[5], r[7], r[9], r[11], r[12], r[13], 0};
        }
        at += total;
    }
    return d;
}

}  // namespace

std::optional<SenseData> DecodeSenseData(const uint8_t* data, std::size_t length) {
    if (data == nullptr || length == 0) return std::nullopt;
    switch (data[0] & 0x7F) {
        case 0x70:
        case 0x71: return decodeFixed(data, length);
        case 0x72:
        case 0x73: return decodeDescriptor(data, length);
        default: return std::nullopt;
    }
}

bool ScsiCommandSucceeded(uint8_t scsiStatus, const uint8_t* sense, std::size_t senseLength,
                          std::optional<SenseData>* decoded) {
    if (decoded != nullptr) decoded->reset();
    if (scsiStatus == kScsiStatusGood) return true;
    if (scsiStatus != kScsiStatusCheckCondition) return false;
    const std::optional<SenseData> d = DecodeSenseData(sense, senseLength);
    if (decoded != nullptr) *decoded = d;
    if (!d) return false;
    if (d->senseKey != kSenseKeyNoSense && d->senseKey != kSenseKeyRecoveredError) return false;
    return (d->ataStatus() & kAtaStatusErr) == 0;
}

}  // namespace qx
