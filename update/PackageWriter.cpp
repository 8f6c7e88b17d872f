// Package building, inspection and synthetic images (see PackageWriter.h).
#include "update/PackageWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

#include "platform/AtaString.h"
#include "platform/LittleEndian.h"
#include "update/PeCertificate.h"

namespace qx {

namespace {

namespace fs = std::filesystem;

bool readWholeFile(const std::string& path, uint64_t limit, const char* what,
                   std::vector<uint8_t>& data, std::string& error) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        error = std::string("cannot read ") + what + " \"" + path + "\"";
        return false;
    }
    if (size > limit) {
        error = std::string(what) + " \"" + path + "\" is " + std::to_string(size) +
                " bytes; at most " + std::to_string(limit) + " fit";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        error = std::string("cannot open ") + what + " \"" + path + "\"";
        return false;
    }
    data.assign(static_cast<size_t>(size), 0);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size));
    if (static_cast<uintmax_t>(in.gcount()) != size) {
        error = std::string("short read of ") + what + " \"" + path + "\"";
        return false;
    }
    return true;
}

bool writeZeros(std::ofstream& out, uint64_t count) {
    static const std::array<char, 4096> zeros{};
    while (count > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(count, zeros.size()));
        out.write(zeros.data(), static_cast<std::streamsize>(n));
        count -= n;
    }
    return static_cast<bool>(out);
}

bool fitsText(const std::string& text, size_t max, const char* what, std::string& error) {
    if (text.size() > max) {
        error = std::string(what) + " \"" + text + "\" is " + std::to_string(text.size()) +
                " characters; at most " + std::to_string(max) + " fit";
        return false;
    }
    if (text.find('\0') != std::string::npos) {
        error = std::string(what) + " must not contain a NUL character";
        return false;
    }
    return true;
}

bool samePath(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::exists(b, ec) && fs::equivalent(a, b, ec) && !ec;
}

std::string printable(const std::string& raw) {
    std::string s;
    for (const char c : raw) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            s.push_back(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            s += hex;
        }
    }
    return s;
}

}  // namespace

bool BuildPackage(const PackageBuildRequest& request, std::string& error) {
    error.clear();
    if (!fitsText(request.versionText, kVersionTextWidth - 1, "version text", error)) return false;
    if (!fitsText(request.productName, kProductNameWidth - 1, "product name", error)) return false;
    if (request.imagePaths.size() > kMaxPackageSlots) {
        error = "too many images: " + std::to_string(request.imagePaths.size()) + "; at most " +
                std::to_string(kMaxPackageSlots) + " fit";
        return false;
    }
    if (samePath(request.outPath, request.exePath)) {
        error = "the output must not be the input executable";
        return false;
    }

    std::vector<uint8_t> exe;
    if (!readWholeFile(request.exePath, kPackageHeaderOffset, "executable", exe, error)) return false;
    // Authenticode hashes everything but the certificate table, which must end the file: a
    // table signed into the bare program would sit in front of the package and no longer
    // match. The package goes on first and the signature over the whole packed file.
    const PeCertificateTable signature = ParsePeCertificateTable(exe.data(), exe.size());
    if (signature.isPe && (signature.offset != 0 || signature.size != 0)) {
        error = "executable \"" + request.exePath +
                "\" is already signed: pack the unsigned program first, then sign the packed file";
        return false;
    }

    std::vector<uint8_t> picture;
    const bool withPicture = !request.picturePath.empty();
    if (withPicture) {
        if (!readWholeFile(request.picturePath, kPictureAreaSize, "picture", picture, error))
            return false;
        if (picture.size() < 4 || picture[0] != 0xFF || picture[1] != 0xD8) {
            error = "picture \"" + request.picturePath + "\" is not a JPEG file";
            return false;
        }
    }

    // Every image is checked before anything is written.
    std::vector<std::vector<uint8_t>> images(request.imagePaths.size());
    for (size_t i = 0; i < request.imagePaths.size(); ++i) {
        if (!readWholeFile(request.imagePaths[i], kImageArea, "image", images[i], error))
            return false;
        if (images[i].empty()) {
            error = "image \"" + request.imagePaths[i] + "\" is empty";
            return false;
        }
    }

    std::array<uint8_t, kPackageHeaderSize> header{};
    std::memcpy(header.data(), request.versionText.data(), request.versionText.size());
    std::memcpy(header.data() + kVersionTextWidth, request.productName.data(),
                request.productName.size());
    PutLe32(header.data() + kHeaderSlotCountOffset, static_cast<uint32_t>(images.size()));
    PutLe16(header.data() + kHeaderFormatOffset, kHeaderFormatVersion);
    header[kPictureFlagOffset] = withPicture ? 1 : 0;

    bool ok = false;
    {
        std::ofstream out(request.outPath, std::ios::binary | std::ios::trunc);
        if (!out.is_open()) {
            error = "cannot create \"" + request.outPath + "\"";
            return false;
        }
        out.write(reinterpret_cast<const char*>(exe.data()), static_cast<std::streamsize>(exe.size()));
        writeZeros(out, kPackageHeaderOffset - exe.size());
        out.write(reinterpret_cast<const char*>(header.data()), header.size());
        if (withPicture) {
            out.write(reinterpret_cast<const char*>(picture.data()),
                      static_cast<std::streamsize>(picture.size()));
            writeZeros(out, kPictureAreaSize - picture.size());
        }
        for (const auto& image : images) {
            std::array<uint8_t, kSlotHeaderSize> slotHeader{};
            PutLe32(slotHeader.data(), static_cast<uint32_t>(image.size()));
            out.write(reinterpret_cast<const char*>(slotHeader.data()), slotHeader.size());
            out.write(reinterpret_cast<const char*>(image.data()),
                      static_cast<std::streamsize>(image.size()));
            writeZeros(out, kImageArea - image.size());
        }
        out.flush();
        ok = static_cast<bool>(out);
    }
    if (!ok) {
        error = "writing \"" + request.outPath + "\" failed";
        std::error_code ec;
        fs::remove(request.outPath, ec);
        return false;
    }
    return true;
}

bool MakeSyntheticImage(const SyntheticImageSpec& setup, std::vector<uint8_t>& image,
                        std::string& error) {
    error.clear();
    if (setup.length < kMinSyntheticImageLength || setup.length > kImageArea) {
        error = "image length " + std::to_string(setup.length) + " is outside " +
                std::to_string(kMinSyntheticImageLength) + " .. " + std::to_string(kImageArea);
        return false;
    }
    if (!fitsText(setup.buildInfo, kBuildInfoSize - 1, "BuildInfo text", error)) return false;
    if (!fitsText(setup.model, 40, "model", error)) return false;
    if (!fitsText(setup.serial, 20, "serial", error)) return false;
    if (!fitsText(setup.firmware, 8, "firmware", error)) return false;

    image.assign(setup.length, 0);
    uint32_t x = setup.seed * 2654435761u + 12345u;
    for (auto& b : image) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    uint8_t* id = image.data() + kIdentifyTemplateOffset;
    std::memset(id, 0, 512);
    PutAtaString(id + 2 * 10, 20, setup.serial);
    PutAtaString(id + 2 * 23, 8, setup.firmware);
    PutAtaString(id + 2 * 27, 40, setup.model);
    for (size_t w = 0; w < 4; ++w) PutLe16(id + 2 * (108 + w), setup.wwn[w]);

    uint8_t* bi = image.data() + kBuildInfoOffset;
    std::memset(bi, 0, kBuildInfoSize);
    std::memcpy(bi, setup.buildInfo.data(), setup.buildInfo.size());

    image[setup.length - 2] = 0xA5;
    image[setup.length - 1] = ImageChecksumByte(image.data(), setup.length);
    return true;
}

bool InspectPackage(const std::string& path, PackageInspection& result, std::string& error) {
    error.clear();
    result = PackageInspection{};
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        error = "cannot read \"" + path + "\"";
        return false;
    }
    result.fileSize = size;
    if (size < kPackageHeaderOffset + kPackageHeaderSize) {
        error = "\"" + path + "\" is " + std::to_string(size) +
                " bytes: too short to carry a package header";
        return false;
    }
    const PackageStartup startup = ReadPackageStartup(path);
    if (!startup.opened) {
        error = "cannot open \"" + path + "\"";
        return false;
    }
    result.versionText = HeaderVersionText(startup.header);
    result.productName = HeaderProductName(startup.header);
    result.pictureFlag = HeaderPictureFlag(startup.header);
    result.imageBase = ImageBase(result.pictureFlag);
    result.headerSlotCount = ReadLe32(startup.header.data() + kHeaderSlotCountOffset);
    result.headerFormat = ReadLe16(startup.header.data() + kHeaderFormatOffset);
    const auto clamped = static_cast<int32_t>(
        std::min<uintmax_t>(size, static_cast<uintmax_t>(std::numeric_limits<int32_t>::max())));
    const PeCertificateTable signature = ReadPeCertificateTable(path);
    if (signature.isPe) {
        result.certificateOffset = signature.offset;
        result.certificateSize = signature.size;
    }
    result.slotCount =
        SlotCount(PackageDataEnd(path, clamped, result.imageBase), result.pictureFlag);

    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        error = "cannot open \"" + path + "\"";
        return false;
    }
    in.seekg(static_cast<std::streamoff>(result.imageBase), std::ios::beg);
    std::vector<uint8_t> area(kImageArea);
    for (int32_t s = 0; s < result.slotCount; ++s) {
        SlotInspection slot;
        slot.index = s;
        std::array<uint8_t, kSlotHeaderSize> slotHeader{};
        in.read(reinterpret_cast<char*>(slotHeader.data()), slotHeader.size());
        const auto headerBytes = static_cast<size_t>(in.gcount());
        std::fill(area.begin(), area.end(), uint8_t{0});
        if (in) in.read(reinterpret_cast<char*>(area.data()), static_cast<std::streamsize>(area.size()));
        const auto areaBytes = headerBytes == kSlotHeaderSize ? static_cast<size_t>(in.gcount()) : 0;
        slot.length = ReadLe32(slotHeader.data());
        slot.lengthInRange = slot.length >= 3 && slot.length <= kImageArea;
        slot.complete = headerBytes == kSlotHeaderSize && areaBytes == kImageArea;
        slot.checksumValid = slot.lengthInRange && ImageChecksumValid(area.data(), slot.length);
        slot.hasBuildInfo = slot.length >= kBuildInfoOffset + kBuildInfoSize && slot.lengthInRange;
        if (slot.hasBuildInfo) slot.buildInfo = ReadBuildInfo(area.data() + kBuildInfoOffset);
        result.slots.push_back(slot);
    }
    return true;
}

std::string FormatInspection(const PackageInspection& p) {
    char line[160];
    std::string s;
    s += "file size: " + std::to_string(p.fileSize) + "\n";
    s += "version text: \"" + printable(p.versionText) + "\"\n";
    s += "product name: \"" + printable(p.productName) + "\"\n";
    s += "picture flag: " + std::string(p.pictureFlag ? "1" : "0") + "\n";
    std::snprintf(line, sizeof line, "image base: 0x%X\n", p.imageBase);
    s += line;
    s += "slot count: " + std::to_string(p.slotCount) + "\n";
    s += "header slot count: " + std::to_string(p.headerSlotCount) +
         ", header format: " + std::to_string(p.headerFormat) + "\n";
    if (p.certificateSize != 0) {
        s += "certificate table: offset " + std::to_string(p.certificateOffset) + ", " +
             std::to_string(p.certificateSize) + " bytes\n";
    }
    for (const SlotInspection& slot : p.slots) {
        s += "slot " + std::to_string(slot.index) + ": length " + std::to_string(slot.length);
        if (!slot.lengthInRange) s += " (out of range)";
        s += slot.checksumValid ? ", checksum valid" : ", checksum WRONG";
        if (!slot.complete) s += ", TRUNCATED";
        if (slot.hasBuildInfo) {
            const BuildInfoFields& b = slot.buildInfo;
            s += ", svn " + printable(b.svnVersion) + ", date " + printable(b.buildDate) +
                 ", model " + printable(b.modelCode) + ", FwVer " + printable(b.fwVer) +
                 ", bin " + printable(b.binFileCode) + ", customer " + printable(b.customerId);
            std::snprintf(line, sizeof line, ", option 0x%02X", b.option);
            s += line;
        } else {
            s += ", no BuildInfo";
        }
        s += "\n";
    }
    return s;
}

}  // namespace qx
