// A folder of the test's own under the system's temporary directory. The name is made
// by the operating system's unique-name call (mkdtemp on POSIX; on Windows a random name
// taken with an atomic CreateDirectory), so no other process, test case or parallel test
// run can share it; it is removed with everything in it on destruction, whatever the
// outcome of the test.
//
//   qx::test::TempDir dir;
//   writeFile(dir.file("bench.txt"), ...);
#pragma once

#include <filesystem>
#include <string>

namespace qx::test {

class TempDir {
public:
    // `tag` becomes part of the name, to tell folders apart when one is left behind by a
    // killed test; it never makes the name predictable.
    explicit TempDir(const std::string& tag = "qx");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    // Full path of `name` inside the folder (the file is not created).
    std::string file(const std::string& name) const;

private:
    std::filesystem::path path_;
};

}  // namespace qx::test
