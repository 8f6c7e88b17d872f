// The capturing test kernel.
#include "support/CaptureKernel.h"

#include <algorithm>

namespace qx::test {

namespace {

class CountingLock final : public NamedLock {
public:
    explicit CountingLock(std::shared_ptr<CaptureKernel::LockUse> use) : use_(std::move(use)) {}
    void lock() override { ++use_->locks; }
    void unlock() override { ++use_->unlocks; }

private:
    std::shared_ptr<CaptureKernel::LockUse> use_;
};

}  // namespace

std::unique_ptr<NamedLock> CaptureKernel::openNamedLock(const char* name) {
    auto use = std::make_shared<LockUse>();
    use->name = name != nullptr ? name : "";
    locks.push_back(use);
    return std::make_unique<CountingLock>(use);
}

bool CaptureKernel::logged(const std::string& line) const {
    return std::find(output.begin(), output.end(), line) != output.end();
}

bool CaptureKernel::loggedContaining(const std::string& part) const {
    return std::any_of(output.begin(), output.end(),
                       [&](const std::string& s) { return s.find(part) != std::string::npos; });
}

}  // namespace qx::test
