// The Authenticode certificate table of a signed Windows executable. A signature is added
// after the firmware package has been appended, so the table sits behind the last image
// slot; the package reader stops where it starts, and qxpack refuses to pack behind one.
#pragma once

#include <cstdint>
#include <string>

namespace qx {

// The security entry (index 4) of the PE data directory. Unlike the other entries its
// address is a file offset, not a virtual address.
struct PeCertificateTable {
    bool isPe = false;       // "MZ", a PE signature and an optional header were found
    uint32_t offset = 0;     // 0 with size 0: not signed
    uint32_t size = 0;
};

// Reads the security entry from the file's headers; every read is bounded, and anything
// that is not a well-formed PE header gives isPe = false.
PeCertificateTable ReadPeCertificateTable(const std::string& path);
PeCertificateTable ParsePeCertificateTable(const uint8_t* bytes, uint64_t length);

// Where the package data behind the image base ends: the certificate table's offset when
// the executable's security entry names a table that lies wholly between the image base
// and the end of the file, otherwise the file size itself.
int32_t PackageDataEnd(const std::string& exePath, int32_t exeFileSize, uint32_t imageBase);
// The same rule for a table already read and a file of `fileSize` bytes.
uint64_t PackageDataEnd(const PeCertificateTable& table, uint64_t fileSize, uint64_t imageBase);

}  // namespace qx
