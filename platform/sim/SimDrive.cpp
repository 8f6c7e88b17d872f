// The simulated drive's command set (see SimDrive.h).
#include "platform/sim/SimDrive.h"

#include <algorithm>
#include <cstring>

#include "platform/FlashPage.h"
#include "platform/LittleEndian.h"

namespace qx::sim {

namespace {

constexpr uint8_t kCmdIdentify = 0xEC;
constexpr uint8_t kCmdSetFeatures = 0xEF;
constexpr uint8_t kCmdVendorWriteDma = 0x88;
constexpr uint8_t kCmdVendorWritePio = 0x8F;
constexpr uint8_t kCmdVendorReadDma = 0x86;
constexpr uint8_t kCmdVendorReadPio = 0x8A;
constexpr uint8_t kCmdDownload = 0x92;
constexpr uint8_t kCmdSecurityErasePrepare = 0xF3;
constexpr uint8_t kCmdSecurityEraseUnit = 0xF4;
constexpr uint8_t kCmdSmart = 0xB0;

constexpr uint8_t kVendorFeature = 0xDC;
constexpr uint8_t kVendorOn = 0x51;   // 'Q'
constexpr uint8_t kVendorOff = 0x58;  // 'X'
constexpr uint8_t kVendorCommandLba = 0xFF;
constexpr uint8_t kSubReadCodeFromMem = 0x86;
constexpr uint8_t kSubSysReadPage = 0x04;

constexpr size_t kBuildInfoOffset = 0x300;
constexpr size_t kFlashInfoOffset = 0x500;
constexpr size_t kSystemBlocksOffset = 0x510;

// IdentifyTemplate fields inside a firmware image.
constexpr size_t kImageSerial = 96;
constexpr size_t kImageFirmware = 122;
constexpr size_t kImageModel = 130;
constexpr size_t kImageWwn = 292;
constexpr size_t kImageBuildInfo = 768;
constexpr uint8_t kImageMarker = 0xA5;

void put16(uint8_t* buf, size_t word, uint16_t v) { PutLe16(buf + 2 * word, v); }

uint32_t sectorsOf(uint8_t count) { return count == 0 ? 256u : count; }

bool isVendorLba(const std::array<uint8_t, 8>& tf) {
    return tf[kRegLbaMid] == 0x34 && tf[kRegLbaHigh] == 0x12;
}

}  // namespace

SimDrive::SimDrive(const SimDriveSpec& setup) : spec_(&setup) {
    state_.firmware = setup.firmware.substr(0, 8);
    state_.buildInfo = setup.buildInfo;
    PutAtaString(firmwareField_.data(), firmwareField_.size(), setup.firmware);
}

std::array<uint8_t, 512> SimDrive::identifyData() const {
    std::array<uint8_t, 512> id{};
    uint8_t* b = id.data();
    const SimDriveSpec& s = *spec_;
    put16(b, 0, 0x0040);
    put16(b, 1, 16383);
    put16(b, 3, 16);
    put16(b, 6, 63);
    PutAtaString(b + 20, 20, s.serial);
    std::memcpy(b + 46, firmwareField_.data(), 8);
    PutAtaString(b + 54, 40, s.model);
    put16(b, 47, 0x8010);
    put16(b, 49, 0x2F00);
    put16(b, 53, 0x0007);
    put16(b, 60, static_cast<uint16_t>(s.sectors28));
    put16(b, 61, static_cast<uint16_t>(s.sectors28 >> 16));
    put16(b, 80, 0x01F0);
    put16(b, 82, static_cast<uint16_t>(s.securitySupported ? 0x746B : 0x7469));  // bit 1: security
    put16(b, 83, 0x7D09 | 0x0400);
    put16(b, 84, 0x6163);
    put16(b, 85, 0x7469);
    put16(b, 86, 0xBC01 | 0x0400);
    put16(b, 87, 0x4163);
    put16(b, 88, 0x407F);
    put16(b, 89, s.eraseTimeWord);
    for (size_t w = 0; w < 4; ++w) put16(b, 100 + w, static_cast<uint16_t>(s.sectors48 >> (16 * w)));
    for (size_t w = 0; w < 4; ++w) put16(b, 108 + w, s.wwn[w]);
    if (s.securitySupported) {
        const bool frozen = s.securityFrozen || state_.frozenBySystem;
        put16(b, 128, static_cast<uint16_t>(0x0001 | (frozen ? 0x0008 : 0) |
                                            (s.securityAttemptsExpired ? 0x0010 : 0)));
    }
    put16(b, 217, s.rotationRate);
    // Integrity word: signature 0xA5, then the byte that makes the sector sum to zero.
    b[510] = 0xA5;
    uint8_t sum = 0;
    for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + b[i]);
    b[511] = static_cast<uint8_t>(0x100 - sum);
    return id;
}

std::array<uint8_t, kSystemInfoBytes> SimDrive::systemInfo() const {
    std::array<uint8_t, kSystemInfoBytes> si{};
    std::memcpy(si.data() + kBuildInfoOffset, state_.buildInfo.data(), 64);
    si[kFlashInfoOffset] = static_cast<uint8_t>(spec_->pageSizeCode & 7);
    si[kFlashInfoOffset + 1] = 0;
    for (size_t k = 0; k < 4; ++k) {
        PutLe16(si.data() + kSystemBlocksOffset + 2 * k, spec_->systemBlocks[k]);
    }
    return si;
}

std::array<uint8_t, 4096> SimDrive::systemPage(uint32_t blockUnit, uint32_t byteOffset) const {
    std::array<uint8_t, 4096> page{};
    const uint32_t perPage = SectorsPerFlashPage(spec_->pageSizeCode);
    uint32_t block = 0;
    if (byteOffset == 0) {
        block = 2 * blockUnit;
    } else if (perPage != 0 && byteOffset == 8 * perPage * 512) {
        block = 2 * blockUnit + 1;
    } else {
        return page;  // no page starts there
    }
    const int sig = spec_->signatureBlock;
    if (sig < 0 || sig > 3 || spec_->systemBlocks[static_cast<size_t>(sig)] != block) return page;
    const uint8_t* model = state_.buildInfo.data() + 36;
    const char* text = nullptr;
    if (model[0] == 't' && model[1] == '7' && model[2] >= '4' && model[2] <= '6') {
        text = "LDBK BLOCKS V50";
    } else if (model[0] == 't' && model[1] == '7' && model[2] >= '1' && model[2] <= '3') {
        text = "LDBK BLOCKS V40";
    }
    if (text != nullptr) std::memcpy(page.data(), text, 16);  // the text and its NUL
    return page;
}

uint32_t SimDrive::execute(std::array<uint8_t, 8>& tf, DataDir dir, uint8_t* data,
                           uint32_t length) {
    ++state_.commandCount;
    const uint8_t cmd = tf[kRegCommand];
    // SECURITY ERASE UNIT must follow PREPARE directly.
    const bool prepared = state_.erasePrepared;
    state_.erasePrepared = false;
    if (data == nullptr) length = 0;

    const ControllerKind kind = spec_->controller;
    Outcome o = fail();
    switch (cmd) {
        case kCmdIdentify:
            o = identify(dir, data, length);
            break;
        case kCmdSmart:
            o = smart(tf, dir, data, length);
            break;
        case kCmdSetFeatures:
            if (kind != ControllerKind::HardDisk) o = setFeatures(tf);
            break;
        case kCmdVendorWriteDma:
        case kCmdVendorWritePio:
            if (kind != ControllerKind::HardDisk) o = vendorWrite(tf, dir, data, length);
            break;
        case kCmdVendorReadDma:
        case kCmdVendorReadPio:
            if (kind != ControllerKind::HardDisk) o = vendorRead(tf, dir, data, length);
            break;
        case kCmdDownload:
            if (kind == ControllerKind::Maker) o = download(tf, dir, data, length);
            break;
        case kCmdSecurityErasePrepare:
            if (kind != ControllerKind::HardDisk) o = erasePrepare();
            break;
        case kCmdSecurityEraseUnit:
            if (kind != ControllerKind::HardDisk && prepared) o = eraseUnit(dir, data, length);
            break;
        default:
            break;
    }
    if (o.ok) {
        tf[0] = 0;
        tf[kRegCommand] = kStatusGood;
    } else {
        tf[0] = o.error;
        tf[kRegCommand] = kStatusError;
    }
    tf[kRegReserved] = 0;
    return o.moved;
}

SimDrive::Outcome SimDrive::identify(DataDir dir, uint8_t* data, uint32_t length) {
    if (dir != DataDir::In || length < 512) return fail();
    const auto id = identifyData();
    std::memcpy(data, id.data(), id.size());
    return {true, 0, 512};
}

SimDrive::Outcome SimDrive::setFeatures(const std::array<uint8_t, 8>& tf) {
    if (tf[kRegFeatures] != kVendorFeature) return {};  // other features: accepted, no effect
    if (spec_->controller != ControllerKind::Maker) return {};
    if (tf[kRegCount] == kVendorOn) {
        state_.vendorMode = true;
        return {};
    }
    if (tf[kRegCount] == kVendorOff) {
        state_.vendorMode = false;
        hasPending_ = false;
        return {};
    }
    return fail();
}

SimDrive::Outcome SimDrive::vendorWrite(const std::array<uint8_t, 8>& tf, DataDir dir,
                                        const uint8_t* data, uint32_t length) {
    if (!isVendorLba(tf)) return fail();
    const bool commandSector = tf[kRegLbaLow] == kVendorCommandLba;
    if (spec_->controller == ControllerKind::Foreign) {
        // Another maker's controller takes the sector and ignores it.
        if (!commandSector || dir != DataDir::Out || length < 512) return fail();
        return {true, 0, 512};
    }
    if (!state_.vendorMode) return fail();
    if (!commandSector) {
        hasPending_ = false;  // no vendor command of this set takes data from the host
        return fail();
    }
    if (tf[kRegCount] != 1 || dir != DataDir::Out || length < 512) return fail();
    if (data[0] != 0xFF || data[1] != 0xE5) return fail();
    std::memcpy(pendingBlock_.data(), data, pendingBlock_.size());
    hasPending_ = true;
    return {true, 0, 512};
}

SimDrive::Outcome SimDrive::vendorRead(const std::array<uint8_t, 8>& tf, DataDir dir,
                                       uint8_t* data, uint32_t length) {
    if (!isVendorLba(tf)) return fail();
    const uint32_t bytes = sectorsOf(tf[kRegCount]) * 512;
    if (dir != DataDir::In || length < bytes) return fail();
    const bool answerSector = tf[kRegLbaLow] == kVendorCommandLba;
    if (spec_->controller == ControllerKind::Foreign) {
        if (!answerSector) return fail();
        std::memset(data, 0, bytes);
        const uint8_t wrong[4] = {0xE5, 0x51, 0x58, 0x01};
        std::memcpy(data, wrong, 4);
        return {true, 0, bytes};
    }
    if (!state_.vendorMode) return fail();
    std::memset(data, 0, bytes);
    if (answerSector) {
        const uint8_t answer[4] = {0xE5, 0x51, 0x58, 0x00};
        std::memcpy(data, answer, 4);
        return {true, 0, bytes};
    }
    const uint8_t sub = tf[kRegLbaLow];
    if (!hasPending_ || pendingBlock_[2] != sub) return fail();
    hasPending_ = false;
    const uint8_t* p = pendingBlock_.data();
    if (sub == kSubReadCodeFromMem) {
        const uint32_t address = (uint32_t{p[4]} << 24) | (uint32_t{p[5]} << 16) |
                                 (uint32_t{p[6]} << 8) | uint32_t{p[7]};
        if (p[3] == 3 && address < kSystemInfoBytes) {
            const auto si = systemInfo();
            const uint32_t n = std::min(bytes, kSystemInfoBytes - address);
            std::memcpy(data, si.data() + address, n);
        }
        return {true, 0, bytes};
    }
    if (sub == kSubSysReadPage) {
        const uint8_t bank = p[4];
        const uint32_t unit = (uint32_t{p[5]} << 8) | p[6];
        const uint32_t pageNo = (uint32_t{p[7]} << 8) | p[8];
        const uint32_t offset = (uint32_t{p[12]} << 24) | (uint32_t{p[13]} << 16) |
                                (uint32_t{p[14]} << 8) | uint32_t{p[15]};
        if (bank == 0 && pageNo == 0) {
            const auto page = systemPage(unit, offset);
            std::memcpy(data, page.data(), std::min<uint32_t>(bytes, 4096));
        }
        return {true, 0, bytes};
    }
    return fail();
}

SimDrive::Outcome SimDrive::download(const std::array<uint8_t, 8>& tf, DataDir dir,
                                     const uint8_t* data, uint32_t length) {
    ++state_.downloadCommands;
    if (tf[kRegFeatures] != 0x03) return fail();
    const uint32_t count = tf[kRegCount] | (uint32_t{tf[kRegLbaLow]} << 8);
    const uint32_t offset = tf[kRegLbaMid] | (uint32_t{tf[kRegLbaHigh]} << 8);
    if (count == 0) return fail();  // a block count of zero is not a download
    const uint64_t bytes = uint64_t{count} * 512;
    const uint64_t end = (uint64_t{offset} + count) * 512;
    if (dir != DataDir::Out || length < bytes || end > kMaxImageBytes) return fail();
    if (offset == 0) {
        // A download starts again at its first block.
        state_.downloaded.clear();
        received_.clear();
        state_.downloadVerdict.clear();
    }
    if (state_.downloaded.size() < end) state_.downloaded.resize(static_cast<size_t>(end), 0);
    std::memcpy(state_.downloaded.data() + size_t{offset} * 512, data, static_cast<size_t>(bytes));
    if (received_.size() < offset + count) received_.resize(offset + count, false);
    for (uint32_t i = 0; i < count; ++i) received_[offset + i] = true;
    Outcome o{true, 0, static_cast<uint32_t>(bytes)};
    if (count == 1 && offset >= 1) {
        const Outcome end1 = finishDownload(offset);
        if (!end1.ok) return end1;
    }
    return o;
}

// A one-block command may complete the image. The image ends at the largest position L
// inside that block (or one past the block start, so the marker may be the previous
// block's last byte) where byte L-2 is the 0xA5 marker and every byte from L to the end of
// the block is the same padding value, 0x00 or 0xFF (no padding when L is the block end).
// Without such an end the block is an ordinary part of the download. With one, it is the
// final command: the blocks must be contiguous from offset 0, the checksum must hold and
// the IdentifyTemplate must carry this drive's serial number, model and world wide name.
SimDrive::Outcome SimDrive::finishDownload(uint32_t lastBlock) {
    const std::vector<uint8_t>& img = state_.downloaded;
    const size_t blockStart = size_t{lastBlock} * 512;
    const size_t blockEnd = blockStart + 512;
    std::vector<size_t> ends;  // candidate image lengths, largest first
    const auto markerAt = [&](size_t len) {
        if (len < kMinImageBytes || len < 2) return false;
        if (len - 2 < blockStart && !received_[lastBlock - 1]) return false;
        return img[len - 2] == kImageMarker;
    };
    if (markerAt(blockEnd)) ends.push_back(blockEnd);
    const uint8_t pad = img[blockEnd - 1];
    if (pad == 0x00 || pad == 0xFF) {
        size_t runStart = blockEnd - 1;
        while (runStart > blockStart && img[runStart - 1] == pad) --runStart;
        const size_t lowest = std::max(runStart, blockStart + 1);
        for (size_t len = blockEnd - 1; len >= lowest; --len) {
            if (markerAt(len)) ends.push_back(len);
        }
    }
    if (ends.empty()) return {true, 0, 0};

    std::string why;
    size_t length = 0;
    for (size_t i = 0; i <= lastBlock; ++i) {
        if (!received_[i]) why = "blocks not contiguous";
    }
    if (why.empty()) {
        for (size_t len : ends) {
            uint32_t sum = 0;
            for (size_t i = 0; i + 2 < len; ++i) sum += img[i];
            sum += img[len - 1];
            if ((sum & 0xFF) == 0) {
                length = len;
                break;
            }
        }
        if (length == 0) why = "checksum";
    }
    if (why.empty()) {
        uint8_t want[40];
        PutAtaString(want, 20, spec_->serial);
        if (std::memcmp(img.data() + kImageSerial, want, 20) != 0) why = "serial number";
        PutAtaString(want, 40, spec_->model);
        if (why.empty() && std::memcmp(img.data() + kImageModel, want, 40) != 0) why = "model";
        for (size_t w = 0; w < 4 && why.empty(); ++w) {
            if (ReadLe16(img.data() + kImageWwn + 2 * w) != spec_->wwn[w]) {
                why = "world wide name";
            }
        }
    }
    if (!why.empty()) {
        ++state_.downloadRejections;
        state_.downloadVerdict = why;
        received_.clear();
        return fail();
    }
    if (spec_->newFirmwareAtOnce) {
        std::memcpy(firmwareField_.data(), img.data() + kImageFirmware, 8);
        state_.firmware = readAtaString(firmwareField_.data(), 8);
        std::memcpy(state_.buildInfo.data(), img.data() + kImageBuildInfo, 64);
    }
    state_.downloaded.resize(length);
    state_.downloadVerdict = "installed";
    state_.firmwareUpdated = true;
    received_.clear();
    return {true, 0, 0};
}

bool SimDrive::securityRefused() const {
    return !spec_->securitySupported || spec_->securityFrozen || state_.frozenBySystem ||
           spec_->securityAttemptsExpired;
}

SimDrive::Outcome SimDrive::erasePrepare() {
    if (securityRefused()) return fail();
    state_.erasePrepared = true;
    return {};
}

SimDrive::Outcome SimDrive::eraseUnit(DataDir dir, const uint8_t* data, uint32_t length) {
    if (securityRefused() || dir != DataDir::Out || length < 512) return fail();
    const bool master = (data[0] & 0x01) != 0;
    if (!master) return fail();  // no user password is set on a bench drive
    uint8_t want[32];
    std::memset(want, ' ', sizeof want);
    std::memcpy(want, spec_->masterPassword.data(), std::min<size_t>(32, spec_->masterPassword.size()));
    if (std::memcmp(data + 2, want, sizeof want) != 0) return fail();
    state_.erased = true;
    ++state_.eraseCount;
    return {true, 0, 512};
}

SimDrive::Outcome SimDrive::smart(const std::array<uint8_t, 8>& tf, DataDir dir, uint8_t* data,
                                  uint32_t length) {
    if (tf[kRegLbaMid] != 0x4F || tf[kRegLbaHigh] != 0xC2) return fail();
    switch (tf[kRegFeatures]) {
        case 0xD8:  // ENABLE OPERATIONS
        case 0xD9:  // DISABLE OPERATIONS
        case 0xDA:  // RETURN STATUS
            return {};
        case 0xD0:
        case 0xD1: {
            if (dir != DataDir::In || length < 512) return fail();
            const auto& sector = tf[kRegFeatures] == 0xD0 ? spec_->smartData : spec_->smartThresholds;
            std::memcpy(data, sector.data(), 512);
            return {true, 0, 512};
        }
        default:
            return fail();
    }
}

}  // namespace qx::sim
