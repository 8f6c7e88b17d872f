// Kernel services on Linux: the executable path, the single-instance and named locks on
// flock(2), the debugger output on stderr (when asked for) and portable profile files.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qx {

class LinuxKernel final : public Kernel {
public:
    LinuxKernel() = default;
    ~LinuxKernel() override;
    LinuxKernel(const LinuxKernel&) = delete;
    LinuxKernel& operator=(const LinuxKernel&) = delete;

    std::string executablePath() override;
    // CAP_SYS_RAWIO in the effective set (/proc/self/status): SG_IO pass-through needs it.
    bool runsElevated() override;
    // stat() of the executable path.
    int64_t executableListedSize() override;
    // An exclusive flock on "<name>-<uid>.lock" in $XDG_RUNTIME_DIR (else /tmp). The
    // descriptor stays open for the life of the process, so the system drops the lock
    // when the process ends, crashed or not.
    bool acquireSingleInstance(const char* name) override;
    // Writes to stderr only when QXUPDATER_DEBUG=1.
    void debugOutput(const char* text) override;
    std::unique_ptr<NamedLock> openNamedLock(const char* name) override;
    std::string profileString(const std::string& section, const std::string& key,
                              const std::string& def, const std::string& path) override;
    int32_t profileInt(const std::string& section, const std::string& key, int32_t def,
                       const std::string& path) override;
    bool writeProfileString(const std::string& section, const std::string& key,
                            const std::string& value, const std::string& path) override;
    // Calls the handler installed by the desktop (a session power-off request); 0 without.
    int shutDownComputer() override;

    // /etc/qxupdater/QXUpdater.ini, which the package creates.
    std::string systemConfigurationPath() override;
    // False for the folders of the package manager (/usr, /bin, /sbin, /lib...), which root
    // could write but which belong to the package; otherwise whether the user may create
    // files there. An empty folder is the current directory.
    bool folderTakesConfiguration(const std::string& folder) override;

    // The descriptor of a logind inhibitor lock from the handler installed by the front end
    // (`sleep:shutdown:idle`, mode block, `why` as the reason); closing it ends the lock.
    // Null without a handler or when it answers a negative descriptor.
    std::unique_ptr<PowerHold> holdOffSleep(const std::string& why) override;

    // The device lock: an open-file-description lock (F_OFD_SETLK) on /run/lock/qxupdater.lock
    // for the machine, on "<bench file>.lock" for a bench file. The holder's process id is
    // taken from F_OFD_GETLK where the system gives one, else from the file, where every
    // holder writes its own. Closing the descriptor (or the process ending) releases it.
    DeviceLockAttempt lockDevices() override;
    void setDeviceLockTarget(DeviceLockTarget target, const std::string& benchFile = {});
    // One try of the lock on this file (also the test seam); the file is made when missing
    // and `create` is set.
    static DeviceLockAttempt lockDeviceFile(const std::string& path, bool create = true);
    static constexpr const char* kDeviceLockPath = "/run/lock/qxupdater.lock";

    void setShutdownHandler(std::function<int()> handler) { shutdownHandler_ = std::move(handler); }
    // Takes an inhibitor lock and answers its descriptor, or -1.
    void setSleepHoldHandler(std::function<int(const std::string& why)> handler) {
        sleepHoldHandler_ = std::move(handler);
    }

    // The file that backs a lock of this name (the name made safe for a file name).
    static std::string lockFilePath(const char* name, const char* suffix);

private:
    std::function<int()> shutdownHandler_;
    std::function<int(const std::string&)> sleepHoldHandler_;
    int instanceFd_ = -1;
    DeviceLockTarget lockTarget_ = DeviceLockTarget::Machine;
    std::string lockBenchFile_;
};

}  // namespace qx
