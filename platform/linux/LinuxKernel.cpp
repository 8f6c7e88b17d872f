// Kernel services on Linux.
#include "platform/linux/LinuxKernel.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/ProfileFile.h"

namespace qx {

namespace {

std::string runtimeDir() {
    const char* dir = std::getenv("XDG_RUNTIME_DIR");
    if (dir != nullptr && dir[0] == '/') {
        struct stat st {};
        if (::stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) return dir;
    }
    return "/tmp";
}

int openLockFile(const std::string& path) {
    // O_NOFOLLOW: in a shared /tmp, a link planted under the name must not redirect us.
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

// flock keeps out other processes; the mutex keeps out the other threads of this one,
// which share the descriptor and so would pass the flock.
class FlockLock final : public NamedLock {
public:
    explicit FlockLock(std::string path) : path_(std::move(path)) {}
    ~FlockLock() override {
        if (fd_ >= 0) ::close(fd_);
    }
    void lock() override {
        mutex_.lock();
        if (fd_ < 0) fd_ = openLockFile(path_);
        if (fd_ >= 0) {
            // Without the file (unwritable directory) only the threads of this process are
            // kept apart; the lock still works within it.
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    void unlock() override {
        if (fd_ >= 0) ::flock(fd_, LOCK_UN);
        mutex_.unlock();
    }

private:
    std::string path_;
    int fd_ = -1;
    std::mutex mutex_;
};

// The process id a holder of the device lock wrote into the file: digits only, read
// within a small bound.
int64_t recordedHolder(int fd) {
    char text[24] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    int64_t pid = 0;
    for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9' && pid < (int64_t{1} << 40); ++i) {
        pid = pid * 10 + (text[i] - '0');
    }
    return pid;
}

class FileDeviceLock final : public DeviceLock {
public:
    explicit FileDeviceLock(int fd) : fd_(fd) {}
    ~FileDeviceLock() override { ::close(fd_); }  // releases the lock

private:
    int fd_;
};

}  // namespace

DeviceLockAttempt LinuxKernel::lockDeviceFile(const std::string& path, bool create) {
    DeviceLockAttempt a;
    constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW;
    int fd = ::open(path.c_str(), kFlags);
    // Made only when missing, and never over a file of another owner in a sticky folder
    // (which O_CREAT would refuse there): an existing file is opened as it is.
    for (int tries = 0; fd < 0 && errno == ENOENT && create && tries < 2; ++tries) {
        fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
        if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), kFlags);
    }
    if (fd < 0) {
        a.state = DeviceLockAttempt::State::Unavailable;
        a.detail = path + ": " + std::strerror(errno);
        return a;
    }
    struct flock want {};
    want.l_type = F_WRLCK;
    want.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &want) == 0) {
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, pid.data(), pid.size(), 0);
        a.lock = std::make_unique<FileDeviceLock>(fd);
        return a;
    }
    const int error = errno;
    if (error == EAGAIN || error == EACCES) {
        a.state = DeviceLockAttempt::State::Busy;
        struct flock held {};
        held.l_type = F_WRLCK;
        held.l_whence = SEEK_SET;
        // An OFD lock has no owning process: the system answers -1 there, and the holder's
        // own record in the file tells it instead.
        if (::fcntl(fd, F_OFD_GETLK, &held) == 0 && held.l_type != F_UNLCK && held.l_pid > 0) {
            a.holderPid = held.l_pid;
        } else {
            a.holderPid = recordedHolder(fd);
        }
    } else {
        a.state = DeviceLockAttempt::State::Unavailable;
        a.detail = path + ": " + std::strerror(error);
    }
    ::close(fd);
    return a;
}

DeviceLockAttempt LinuxKernel::lockDevices() {
    switch (lockTarget_) {
        // Only root makes the machine's lock file: a file another user made first would
        // otherwise keep root's own runs from it.
        case DeviceLockTarget::Machine: return lockDeviceFile(kDeviceLockPath, ::geteuid() == 0);
        case DeviceLockTarget::BenchFile: return lockDeviceFile(lockBenchFile_ + ".lock");
        case DeviceLockTarget::None: break;
    }
    return Kernel::lockDevices();
}

void LinuxKernel::setDeviceLockTarget(DeviceLockTarget target, const std::string& benchFile) {
    lockTarget_ = target;
    lockBenchFile_ = benchFile;
}

LinuxKernel::~LinuxKernel() {
    // The single-instance descriptor is deliberately left open: it is held until the
    // process ends.
}

std::string LinuxKernel::lockFilePath(const char* name, const char* suffix) {
    std::string safe;
    for (const char* p = name != nullptr ? name : ""; *p != '\0' && safe.size() < 128; ++p) {
        const char c = *p;
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '-' || c == '_' || c == '.';
        safe += ok ? c : '_';
    }
    if (safe.empty() || safe[0] == '.') safe.insert(safe.begin(), '_');
    return runtimeDir() + "/" + safe + "-" + std::to_string(::getuid()) + suffix;
}

bool LinuxKernel::runsElevated() {
    constexpr unsigned kCapSysRawio = 17;
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return true;
    char line[256];
    bool elevated = true;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        unsigned long long effective = 0;
        if (std::sscanf(line, "CapEff: %llx", &effective) == 1) {
            elevated = ((effective >> kCapSysRawio) & 1u) != 0;
            break;
        }
    }
    std::fclose(f);
    return elevated;
}

int64_t LinuxKernel::executableListedSize() {
    const std::string path = executablePath();
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

std::string LinuxKernel::executablePath() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof(buf)) return {};
    return std::string(buf, static_cast<size_t>(n));
}

bool LinuxKernel::acquireSingleInstance(const char* name) {
    const int fd = openLockFile(lockFilePath(name, ".lock"));
    // When the lock file cannot be made at all, nothing shows another instance running.
    if (fd < 0) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    instanceFd_ = fd;  // kept open until the process ends
    return true;
}

void LinuxKernel::debugOutput(const char* text) {
    if (text == nullptr) return;
    const char* on = std::getenv("QXUPDATER_DEBUG");
    if (on == nullptr || std::strcmp(on, "1") != 0) return;
    std::fputs(text, stderr);
}

std::unique_ptr<NamedLock> LinuxKernel::openNamedLock(const char* name) {
    return std::make_unique<FlockLock>(lockFilePath(name, ".namedlock"));
}

std::string LinuxKernel::profileString(const std::string& section, const std::string& key,
                                       const std::string& def, const std::string& path) {
    return ProfileGetString(section, key, def, path);
}

int32_t LinuxKernel::profileInt(const std::string& section, const std::string& key, int32_t def,
                                const std::string& path) {
    return ProfileGetInt(section, key, def, path);
}

bool LinuxKernel::writeProfileString(const std::string& section, const std::string& key,
                                     const std::string& value, const std::string& path) {
    return ProfileWriteString(section, key, value, path);
}

std::string LinuxKernel::systemConfigurationPath() { return "/etc/qxupdater/QXUpdater.ini"; }

bool LinuxKernel::folderTakesConfiguration(const std::string& folder) {
    static const char* const kPackageFolders[] = {"/usr/", "/bin/", "/sbin/", "/lib/", "/lib64/"};
    std::string dir = folder.empty() ? std::string("./") : folder;
    if (dir.back() != '/') dir += '/';
    for (const char* prefix : kPackageFolders) {
        if (dir.compare(0, std::strlen(prefix), prefix) == 0) return false;
    }
    return ::access(dir.c_str(), W_OK) == 0;
}

std::unique_ptr<PowerHold> LinuxKernel::holdOffSleep(const std::string& why) {
    struct InhibitorLock final : PowerHold {
        explicit InhibitorLock(int descriptor) : fd(descriptor) {}
        ~InhibitorLock() override { ::close(fd); }
        int fd;
    };
    if (!sleepHoldHandler_) return nullptr;
    const int fd = sleepHoldHandler_(why);
    if (fd < 0) return nullptr;
    return std::make_unique<InhibitorLock>(fd);
}

int LinuxKernel::shutDownComputer() { return shutdownHandler_ ? shutdownHandler_() : 0; }

}  // namespace qx
