#include "platform/RealClock.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <chrono>
#include <thread>
#endif

namespace qx {

#if defined(_WIN32)
uint32_t RealClock::tickCount() { return GetTickCount(); }
void RealClock::sleep(uint32_t ms) { Sleep(ms); }
#else
uint32_t RealClock::tickCount() {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    // Wraps at 2^32 ms like GetTickCount; callers only use unsigned differences.
    return static_cast<uint32_t>(ms.count());
}
void RealClock::sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
#endif

}  // namespace qx
