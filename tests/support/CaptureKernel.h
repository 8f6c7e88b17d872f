// A Kernel for tests that keeps every debugger-output text and counts the use of named
// locks. Profile files, the single instance and power-off are inert.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qx::test {

class CaptureKernel final : public Kernel {
public:
    struct LockUse {
        std::string name;
        int locks = 0;
        int unlocks = 0;
        bool held() const { return locks > unlocks; }
    };

    std::string executablePath() override { return {}; }
    bool acquireSingleInstance(const char*) override { return true; }
    void debugOutput(const char* text) override { output.emplace_back(text != nullptr ? text : ""); }
    std::unique_ptr<NamedLock> openNamedLock(const char* name) override;
    std::string profileString(const std::string&, const std::string&, const std::string& def,
                              const std::string&) override {
        return def;
    }
    int32_t profileInt(const std::string&, const std::string&, int32_t def,
                       const std::string&) override {
        return def;
    }
    bool writeProfileString(const std::string&, const std::string&, const std::string&,
                            const std::string&) override {
        return false;
    }
    int shutDownComputer() override { return 0; }

    // True when some debugger-output text equals `line` exactly.
    bool logged(const std::string& line) const;
    // True when some debugger-output text contains `part`.
    bool loggedContaining(const std::string& part) const;

    std::vector<std::string> output;
    // One entry per openNamedLock call; shared with the lock objects handed out.
    std::vector<std::shared_ptr<LockUse>> locks;
};

}  // namespace qx::test
