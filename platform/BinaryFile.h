// Raw file access through UTF-8 paths, on the C library's streams with 64-bit positions.
// The core reads its own executable, firmware files, pictures, profile and bench files with
// it; it keeps the C++ stream and locale machinery out of the Windows utility, which has to
// stay a small single file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace qx {

// A file opened for reading raw bytes.
class BinaryFile {
public:
    // Opens the file; a directory at the path is not opened.
    explicit BinaryFile(const std::string& utf8Path);
    ~BinaryFile();
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    bool isOpen() const { return file_ != nullptr; }
    // The size in bytes (the position of the end), or -1 when it cannot be told.
    int64_t size();
    // Moves to `offset` from the start; false when the file refuses.
    bool seek(uint64_t offset);
    // Reads up to `size` bytes at the current position; returns how many arrived.
    size_t read(void* dst, size_t size);

private:
    std::FILE* file_ = nullptr;
};

enum class PathKind { Missing, File, Directory, Unknown };
// What stands at a path; Unknown when the system cannot tell (no access, broken name).
PathKind KindOfPath(const std::string& utf8Path);

// Opens the file for appending (created when missing); null when it cannot be opened.
std::FILE* OpenForAppending(const std::string& utf8Path);

// Creates or truncates the file and writes `bytes`. False when any step fails.
bool WriteWholeFile(const std::string& utf8Path, const std::string& bytes);

}  // namespace qx
