// Unique temporary folders for tests (see TempDir.h).
#include "support/TempDir.h"

#include <random>
#include <stdexcept>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#endif

namespace qx::test {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& tag) {
    const fs::path base = fs::temp_directory_path();
#ifdef _WIN32
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            base / (tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(rd()) + std::to_string(rd()));
        // CreateDirectoryW fails when the name exists: the folder is ours alone.
        if (CreateDirectoryW(candidate.wstring().c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("TempDir: cannot create a temporary folder");
#else
    std::string templ = (base / (tag + "-XXXXXX")).string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + templ);
    }
    path_ = buf.data();
#endif
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return (path_ / name).string(); }

}  // namespace qx::test
