// The in-memory test kernel.
#include "support/TestKernel.h"

#include "platform/ProfileFile.h"

namespace qx::test {

namespace {

class CountedLock final : public NamedLock {
public:
    explicit CountedLock(TestKernel& kernel) : kernel_(kernel) {}
    void lock() override { ++kernel_.lockCount; }
    void unlock() override { ++kernel_.unlockCount; }

private:
    TestKernel& kernel_;
};

}  // namespace

bool TestKernel::acquireSingleInstance(const char* name) {
    if (refuseSingleInstance) return false;
    return instances.insert(name != nullptr ? name : "").second;
}

void TestKernel::debugOutput(const char* text) {
    debugLines.emplace_back(text != nullptr ? text : "");
}

std::unique_ptr<NamedLock> TestKernel::openNamedLock(const char* name) {
    lockNames.emplace_back(name != nullptr ? name : "");
    return std::make_unique<CountedLock>(*this);
}

std::string TestKernel::profileString(const std::string& section, const std::string& key,
                                      const std::string& def, const std::string& path) {
    ++profileReads;
    return ProfileGetString(section, key, def, path);
}

int32_t TestKernel::profileInt(const std::string& section, const std::string& key, int32_t def,
                               const std::string& path) {
    ++profileReads;
    return ProfileGetInt(section, key, def, path);
}

bool TestKernel::writeProfileString(const std::string& section, const std::string& key,
                                    const std::string& value, const std::string& path) {
    ++profileWrites;
    if (failProfileWrites) return false;
    return ProfileWriteString(section, key, value, path);
}

int TestKernel::shutDownComputer() {
    ++shutdownRequests;
    return shutdownResult;
}

std::string TestKernel::debugText() const {
    std::string all;
    for (const auto& line : debugLines) all += line;
    return all;
}

ScopedKernel::ScopedKernel(Kernel& kernel) : previous_(platform()) {
    Platform p = previous_;
    p.kernel = &kernel;
    installPlatform(p);
}

ScopedKernel::~ScopedKernel() { installPlatform(previous_); }

}  // namespace qx::test
