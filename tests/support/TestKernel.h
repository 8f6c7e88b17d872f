// A Kernel for tests that needs no system objects: an executable path set by the test,
// profile files read and written for real (portable rules, on whatever path the test
// gives, usually a TempDir), single-instance names held in memory, named locks counted,
// every debugger-output text kept and every power-off request recorded.
//
//   qx::test::TestKernel kernel;
//   kernel.exePath = dir.file("qxupdater.exe");
//   qx::test::ScopedKernel installed(kernel);   // the process platform uses it until scope end
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qx::test {

class TestKernel final : public Kernel {
public:
    std::string executablePath() override { return exePath; }
    // Refuses a name this kernel already handed out (as a second copy of the program
    // would be refused), or every name while `refuseSingleInstance` is set.
    bool acquireSingleInstance(const char* name) override;
    void debugOutput(const char* text) override;
    std::unique_ptr<NamedLock> openNamedLock(const char* name) override;
    std::string profileString(const std::string& section, const std::string& key,
                              const std::string& def, const std::string& path) override;
    int32_t profileInt(const std::string& section, const std::string& key, int32_t def,
                       const std::string& path) override;
    // Writes the file unless `failProfileWrites` is set; every attempt is counted.
    bool writeProfileString(const std::string& section, const std::string& key,
                            const std::string& value, const std::string& path) override;
    // Records the request and answers `shutdownResult`; nothing is powered off.
    int shutDownComputer() override;
    std::string systemConfigurationPath() override { return systemIniPath; }
    bool folderTakesConfiguration(const std::string&) override { return folderWritable; }
    bool runsElevated() override { return elevated; }
    int64_t executableListedSize() override { return listedSize; }

    // All debugger-output texts joined, in order.
    std::string debugText() const;

    std::string exePath;
    bool refuseSingleInstance = false;
    bool failProfileWrites = false;
    int shutdownResult = 1;
    std::string systemIniPath;   // empty: the file always beside the executable
    bool folderWritable = true;
    bool elevated = true;
    int64_t listedSize = -1;     // the executable's size as the file system lists it

    std::set<std::string> instances;        // names held
    std::vector<std::string> debugLines;    // each debugOutput text
    std::vector<std::string> lockNames;     // one per openNamedLock
    int lockCount = 0;                      // lock() calls on any handed-out lock
    int unlockCount = 0;
    int profileReads = 0;
    int profileWrites = 0;
    int shutdownRequests = 0;
};

// Installs a platform whose kernel is `kernel` (the other parts stay as they were) and puts
// the previous platform back on destruction.
class ScopedKernel {
public:
    explicit ScopedKernel(Kernel& kernel);
    ~ScopedKernel();
    ScopedKernel(const ScopedKernel&) = delete;
    ScopedKernel& operator=(const ScopedKernel&) = delete;

private:
    Platform previous_;
};

}  // namespace qx::test
