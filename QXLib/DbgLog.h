// The diagnostic log: printf-style lines to the debugger output, and while RDMode is on
// also appended to "DbgMsg.txt" under the named lock "DBGAcess".
#pragma once

#include <cstddef>

namespace qx {

constexpr std::size_t kDbgBufferSize = 1024;

// Diagnostic log switch. Off at start; the main window's hot spot turns it on.
extern bool RDMode;

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void DbgPrintf(const char* format, ...);

// Drops the kept "DBGAcess" lock; the next logged line opens it again through the kernel
// installed then. For code that replaces the platform (tests).
void DbgReleaseLock();

}  // namespace qx
