// The device back-end of one command-line run: the host platform of the setting (real disks,
// a bench or a replay) with a watch over its devices and disk list, so that a back-end that
// cannot be used (no permission for pass-through, no disk list) is told apart from a system
// without drives.
#pragma once

#include <memory>
#include <string>

#include "platform/HostPlatform.h"
#include "platform/Platform.h"

namespace qx::cli {

class CliBackend {
public:
    ~CliBackend();
    // Null with `error` set when the back-end cannot start.
    static std::unique_ptr<CliBackend> open(const std::string& devices, const std::string& trace,
                                            const HostOptions& options, std::string& error);

    void install() const;
    HostPlatform& host() { return *host_; }
    // A bench or a replay: no real drive can be reached.
    bool simulated() const { return simulated_; }
    // An open or control call failed for lack of rights.
    bool permissionDenied() const;
    // The disk enumeration could not be started.
    bool enumerationFailed() const;

private:
    CliBackend() = default;
    struct Watch;
    std::unique_ptr<HostPlatform> host_;
    std::unique_ptr<Watch> watch_;
    bool simulated_ = false;
};

}  // namespace qx::cli
