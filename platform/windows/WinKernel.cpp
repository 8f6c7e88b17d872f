// Kernel services on Windows.
#include "platform/windows/WinKernel.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <vector>

#include "platform/Ascii.h"

namespace qx {

namespace {

std::wstring widen(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string narrow(const wchar_t* w, size_t len) {
    if (len == 0) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), nullptr, 0, nullptr,
                                      nullptr);
    if (n <= 0) return {};
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), s.data(), n, nullptr, nullptr);
    return s;
}

class MutexLock final : public NamedLock {
public:
    explicit MutexLock(HANDLE h) : h_(h) {}
    ~MutexLock() override {
        if (h_ != nullptr) CloseHandle(h_);
    }
    void lock() override {
        if (h_ != nullptr) WaitForSingleObject(h_, INFINITE);
    }
    void unlock() override {
        if (h_ != nullptr) ReleaseMutex(h_);
    }

private:
    HANDLE h_;
};

// A mutex is owned by a thread and a second wait of its owner succeeds, so the names this
// process holds are kept here: a second take within the process is refused like a take by
// another process.
std::mutex heldNamesMutex;
std::set<std::string>& heldNames() {
    static std::set<std::string> names;
    return names;
}

class MutexDeviceLock final : public DeviceLock {
public:
    MutexDeviceLock(HANDLE h, std::string name) : h_(h), name_(std::move(name)) {}
    ~MutexDeviceLock() override {
        ReleaseMutex(h_);
        CloseHandle(h_);
        const std::lock_guard<std::mutex> guard(heldNamesMutex);
        heldNames().erase(name_);
    }

private:
    HANDLE h_;
    std::string name_;
};

}  // namespace

bool RestrictDllSearchToSystem32() {
    constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const FARPROC proc = kernel32 != nullptr ? GetProcAddress(kernel32, "SetDefaultDllDirectories") : nullptr;
    if (proc != nullptr) {
        const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(proc));
        if (setDefault(kLoadLibrarySearchSystem32)) return true;
    }
    SetDllDirectoryW(L"");
    return false;
}

DeviceLockAttempt WinKernel::lockDeviceMutex(const std::string& name) {
    DeviceLockAttempt a;
    const std::lock_guard<std::mutex> guard(heldNamesMutex);
    if (heldNames().count(name) != 0) {
        a.state = DeviceLockAttempt::State::Busy;
        a.holderPid = static_cast<int64_t>(GetCurrentProcessId());
        return a;
    }
    const std::wstring wide = widen(name);
    HANDLE h = CreateMutexW(nullptr, FALSE, wide.c_str());
    // Made by a process of another session or user: opened for waiting only.
    if (h == nullptr && GetLastError() == ERROR_ACCESS_DENIED) h = OpenMutexW(SYNCHRONIZE, FALSE, wide.c_str());
    if (h == nullptr) {
        a.state = DeviceLockAttempt::State::Unavailable;
        a.detail = name + ": error " + std::to_string(GetLastError());
        return a;
    }
    const DWORD waited = WaitForSingleObject(h, 0);
    // WAIT_ABANDONED: the holder ended without releasing it; the mutex is ours now.
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        heldNames().insert(name);
        a.lock = std::make_unique<MutexDeviceLock>(h, name);
        return a;
    }
    CloseHandle(h);
    if (waited == WAIT_TIMEOUT) {
        a.state = DeviceLockAttempt::State::Busy;
    } else {
        a.state = DeviceLockAttempt::State::Unavailable;
        a.detail = name + ": error " + std::to_string(GetLastError());
    }
    return a;
}

std::string WinKernel::benchLockName(const std::string& benchFile) {
    // A mutex name cannot hold a backslash past its namespace: the full path is hashed
    // (FNV-1a, 64 bits), without regard to case like the file system.
    std::wstring path = widen(benchFile);
    std::vector<wchar_t> full(32768);
    const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n > 0 && n < full.size()) path.assign(full.data(), n);
    uint64_t hash = 1469598103934665603ull;
    for (wchar_t c : path) {
        const auto folded = static_cast<uint32_t>(LowerAscii(c));
        for (int shift = 0; shift < 32; shift += 8) {
            hash ^= (folded >> shift) & 0xFFu;
            hash *= 1099511628211ull;
        }
    }
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return std::string("Global\\QXUpdaterBench-") + text;
}

DeviceLockAttempt WinKernel::lockDevices() {
    switch (lockTarget_) {
        case DeviceLockTarget::Machine: return lockDeviceMutex("Global\\QXUpdaterDevices");
        case DeviceLockTarget::BenchFile: return lockDeviceMutex(benchLockName(lockBenchFile_));
        case DeviceLockTarget::None: break;
    }
    return Kernel::lockDevices();
}

void WinKernel::setDeviceLockTarget(DeviceLockTarget target, const std::string& benchFile) {
    lockTarget_ = target;
    lockBenchFile_ = benchFile;
}

std::string WinKernel::executablePath() {
    // The wide call, converted to UTF-8 like every path in the core: the ANSI form would
    // lose characters outside the code page and would not match the UTF-8 paths that the
    // profile functions and file reads take. Grows the buffer until the whole path fits
    // (a cut path is not returned).
    std::vector<wchar_t> buf(MAX_PATH);
    for (int i = 0; i < 6; ++i) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return narrow(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
    return {};
}

bool WinKernel::runsElevated() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &admins)) {
        return true;  // cannot tell
    }
    BOOL member = FALSE;
    const BOOL ok = CheckTokenMembership(nullptr, admins, &member);
    FreeSid(admins);
    return ok == FALSE || member != FALSE;
}

int64_t WinKernel::executableListedSize() {
    const std::wstring path = widen(executablePath());
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return -1;
    }
    return static_cast<int64_t>((uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
}

bool WinKernel::acquireSingleInstance(const char* name) {
    HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4, name);
    // GetLastError straight after the call; the handle is kept either way (never closed).
    if (GetLastError() == ERROR_ALREADY_EXISTS) return false;
    (void)h;
    return true;
}

void WinKernel::debugOutput(const char* text) {
    if (text != nullptr) OutputDebugStringA(text);
}

std::unique_ptr<NamedLock> WinKernel::openNamedLock(const char* name) {
    HANDLE h = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
    if (h == nullptr) h = CreateMutexA(nullptr, FALSE, name);
    return std::make_unique<MutexLock>(h);
}

std::string WinKernel::profileString(const std::string& section, const std::string& key,
                                     const std::string& def, const std::string& path) {
    const std::wstring s = widen(section), k = widen(key), d = widen(def), p = widen(path);
    // Grows the buffer while the value fills it, up to a bound.
    std::vector<wchar_t> buf(1024);
    for (;;) {
        const DWORD n = GetPrivateProfileStringW(s.c_str(), k.c_str(), d.c_str(), buf.data(),
                                                 static_cast<DWORD>(buf.size()), p.c_str());
        if (n + 1 < buf.size() || buf.size() >= (64u << 10))
            return narrow(buf.data(), std::min<size_t>(n, buf.size() - 1));
        buf.resize(buf.size() * 4);
    }
}

int32_t WinKernel::profileInt(const std::string& section, const std::string& key, int32_t def,
                              const std::string& path) {
    const std::wstring s = widen(section), k = widen(key), p = widen(path);
    return static_cast<int32_t>(GetPrivateProfileIntW(s.c_str(), k.c_str(), def, p.c_str()));
}

bool WinKernel::writeProfileString(const std::string& section, const std::string& key,
                                   const std::string& value, const std::string& path) {
    const std::wstring s = widen(section), k = widen(key), v = widen(value), p = widen(path);
    return WritePrivateProfileStringW(s.c_str(), k.c_str(), v.c_str(), p.c_str()) != FALSE;
}

std::unique_ptr<PowerHold> WinKernel::holdOffSleep(const std::string&) {
    struct ExecutionStateHold final : PowerHold {
        ~ExecutionStateHold() override { SetThreadExecutionState(ES_CONTINUOUS); }
    };
    if (SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0) return nullptr;
    return std::make_unique<ExecutionStateHold>();
}

int WinKernel::shutDownComputer() {
    HANDLE process = GetCurrentProcess();
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return 0;
    TOKEN_PRIVILEGES tp{};
    LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &tp.Privileges[0].Luid);
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
    const DWORD err = GetLastError();
    CloseHandle(token);
    if (err != ERROR_SUCCESS) return 0;
    ExitWindowsEx(EWX_SHUTDOWN | EWX_FORCE | EWX_POWEROFF, 0);
    return 1;
}

}  // namespace qx
