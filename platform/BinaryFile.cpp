// Raw file access through UTF-8 paths.
#include "platform/BinaryFile.h"

#include <cerrno>
#include <limits>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace qx {

namespace {

#if defined(_WIN32)
std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                      nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}
#endif

std::FILE* openFile(const std::string& utf8Path, bool write) {
    if (utf8Path.empty()) return nullptr;
#if defined(_WIN32)
    const std::wstring wide = widen(utf8Path);
    if (wide.empty()) return nullptr;
    return _wfopen(wide.c_str(), write ? L"wb" : L"rb");
#else
    std::FILE* f = std::fopen(utf8Path.c_str(), write ? "wb" : "rb");
    // A directory opens for reading here but holds no bytes: it is no file.
    struct stat st {};
    if (f && !write && (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode))) {
        std::fclose(f);
        return nullptr;
    }
    return f;
#endif
}

}  // namespace

std::FILE* OpenForAppending(const std::string& utf8Path) {
    if (utf8Path.empty()) return nullptr;
#if defined(_WIN32)
    const std::wstring wide = widen(utf8Path);
    if (wide.empty()) return nullptr;
    return _wfopen(wide.c_str(), L"ab");
#else
    return std::fopen(utf8Path.c_str(), "ab");
#endif
}

BinaryFile::BinaryFile(const std::string& utf8Path) : file_(openFile(utf8Path, false)) {}

BinaryFile::~BinaryFile() {
    if (file_) std::fclose(file_);
}

int64_t BinaryFile::size() {
    if (!file_) return -1;
#if defined(_WIN32)
    if (_fseeki64(file_, 0, SEEK_END) != 0) return -1;
    return static_cast<int64_t>(_ftelli64(file_));
#else
    if (fseeko(file_, 0, SEEK_END) != 0) return -1;
    return static_cast<int64_t>(ftello(file_));
#endif
}

bool BinaryFile::seek(uint64_t offset) {
    if (!file_ || offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
#if defined(_WIN32)
    return _fseeki64(file_, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

size_t BinaryFile::read(void* dst, size_t size) {
    if (!file_ || size == 0) return 0;
    return std::fread(dst, 1, size, file_);
}

PathKind KindOfPath(const std::string& utf8Path) {
    if (utf8Path.empty()) return PathKind::Missing;
#if defined(_WIN32)
    const std::wstring wide = widen(utf8Path);
    if (wide.empty()) return PathKind::Unknown;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::Missing : PathKind::Unknown;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
#else
    struct stat st {};
    if (::stat(utf8Path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? PathKind::Missing : PathKind::Unknown;
    return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
#endif
}

bool WriteWholeFile(const std::string& utf8Path, const std::string& bytes) {
    std::FILE* f = openFile(utf8Path, true);
    if (!f) return false;
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    return written && closed;
}

}  // namespace qx
