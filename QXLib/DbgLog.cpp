// The diagnostic log: every line goes to the debugger output; while RDMode is on it is also
// appended to "DbgMsg.txt" in the current directory, under the named lock "DBGAcess" that
// all running copies share.
#include "QXLib/DbgLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/Platform.h"

namespace qx {

bool RDMode = false;

namespace {

// The lock is opened on first use and kept. It belongs to the kernel that opened it; should
// another platform be installed (tests do so), the lock is opened again through the new one.
std::unique_ptr<NamedLock> g_lock;
Kernel* g_lockKernel = nullptr;

NamedLock* logLock(Kernel* kernel) {
    if (kernel == nullptr) return nullptr;
    if (!g_lock || g_lockKernel != kernel) {
        g_lock = kernel->openNamedLock("DBGAcess");
        g_lockKernel = kernel;
    }
    return g_lock.get();
}

void appendToFile(const char* text) {
    std::FILE* f = std::fopen("DbgMsg.txt", "ab");
    if (f == nullptr) return;
    std::fwrite(text, 1, std::strlen(text), f);
    std::fclose(f);
}

}  // namespace

void DbgReleaseLock() {
    g_lock.reset();
    g_lockKernel = nullptr;
}

void DbgPrintf(const char* format, ...) {
    char buffer[kDbgBufferSize];
    buffer[0] = '\0';
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        // Longer messages are cut to the buffer, terminating NUL included.
        if (std::vsnprintf(buffer, sizeof(buffer), format, args) < 0) buffer[0] = '\0';
        va_end(args);
    }

    Kernel* kernel = platform().kernel;
    if (kernel != nullptr) kernel->debugOutput(buffer);
    if (!RDMode) return;

    NamedLock* lock = logLock(kernel);
    if (lock != nullptr) lock->lock();
    appendToFile(buffer);
    if (lock != nullptr) lock->unlock();
}

}  // namespace qx
