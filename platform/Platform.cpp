// The process's installed platform.
#include "platform/Platform.h"

namespace qx {

namespace {
Platform g_platform;
}

Platform& platform() { return g_platform; }

void installPlatform(const Platform& p) { g_platform = p; }

}  // namespace qx
