// Reading the security directory entry of a PE file (Microsoft PE format: the DOS header's
// e_lfanew at 0x3C, "PE\0\0", the 20-byte COFF header, then the optional header whose
// data directory starts at 96 in PE32 and at 112 in PE32+; the security entry is the fifth).
#include "update/PeCertificate.h"

#include <vector>

#include "platform/BinaryFile.h"
#include "platform/LittleEndian.h"

namespace qx {

namespace {

// The PE headers of any program this project builds lie in the first 4 KiB; a header
// placed further out is not one we read.
constexpr uint32_t kHeaderWindow = 4096;
constexpr uint32_t kPeOffsetField = 0x3C;
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kSecurityEntry = 4;

}  // namespace

PeCertificateTable ParsePeCertificateTable(const uint8_t* bytes, uint64_t length) {
    PeCertificateTable t;
    if (length < kPeOffsetField + 4 || bytes[0] != 'M' || bytes[1] != 'Z') return t;
    const uint64_t pe = ReadLe32(bytes + kPeOffsetField);
    const uint64_t optional = pe + 4 + kCoffHeaderSize;
    if (optional + 2 > length) return t;
    if (bytes[pe] != 'P' || bytes[pe + 1] != 'E' || bytes[pe + 2] != 0 || bytes[pe + 3] != 0)
        return t;
    const uint16_t optionalSize = ReadLe16(bytes + pe + 4 + 16);
    const uint16_t magic = ReadLe16(bytes + optional);
    uint64_t countAt = 0;
    if (magic == kMagicPe32) countAt = 92;
    else if (magic == kMagicPe32Plus) countAt = 108;
    else return t;
    const uint64_t directory = countAt + 4;
    if (optionalSize < directory || optional + directory > length) return t;
    t.isPe = true;
    const uint32_t entries = ReadLe32(bytes + optional + countAt);
    const uint64_t entry = directory + 8 * kSecurityEntry;
    // An entry the header does not declare, or that lies outside it, is absent.
    if (entries <= kSecurityEntry || entry + 8 > optionalSize || optional + entry + 8 > length)
        return t;
    t.offset = ReadLe32(bytes + optional + entry);
    t.size = ReadLe32(bytes + optional + entry + 4);
    return t;
}

PeCertificateTable ReadPeCertificateTable(const std::string& path) {
    BinaryFile in(path);
    if (!in.isOpen() || !in.seek(0)) return {};
    std::vector<uint8_t> head(kHeaderWindow, 0);
    const size_t got = in.read(head.data(), head.size());
    return ParsePeCertificateTable(head.data(), got);
}

uint64_t PackageDataEnd(const PeCertificateTable& table, uint64_t fileSize, uint64_t imageBase) {
    if (fileSize <= imageBase || !table.isPe || table.size == 0) return fileSize;
    const uint64_t end = static_cast<uint64_t>(table.offset) + table.size;
    if (table.offset < imageBase || end > fileSize) return fileSize;
    return table.offset;
}

int32_t PackageDataEnd(const std::string& exePath, int32_t exeFileSize, uint32_t imageBase) {
    if (exeFileSize <= 0 || static_cast<uint64_t>(exeFileSize) <= imageBase) return exeFileSize;
    return static_cast<int32_t>(PackageDataEnd(ReadPeCertificateTable(exePath),
                                               static_cast<uint64_t>(exeFileSize), imageBase));
}

}  // namespace qx
