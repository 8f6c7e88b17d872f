// The clock of the running system: GetTickCount/Sleep on Windows, the steady clock elsewhere.
#pragma once

#include "platform/Platform.h"

namespace qx {

class RealClock final : public Clock {
public:
    uint32_t tickCount() override;
    void sleep(uint32_t ms) override;
};

}  // namespace qx
