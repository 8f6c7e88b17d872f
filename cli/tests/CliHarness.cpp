// The in-process runner of the command-line tests (CliHarness.h).
#include "CliHarness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "support/ProcedureBench.h"

namespace qx::test {

nlohmann::json CliRun::json() const {
    nlohmann::json j = nlohmann::json::parse(out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << "no JSON document on standard output:\n" << out;
    if (!j.is_discarded()) {
        EXPECT_EQ(j.value("schema", 0), 1) << out;
    }
    return j;
}

CliRun runCli(const std::vector<std::string>& args, const CliSetup& setup) {
    std::istringstream in(setup.input);
    std::ostringstream out, err;
    cli::Streams streams{in, out, err, setup.inIsTerminal, setup.errIsTerminal};
    cli::Host host;
    host.executablePath = setup.executablePath;
    host.backendOptions.virtualClock = true;
    CliRun run;
    host.getenv = [&setup](const char* name) -> const char* {
        const auto it = setup.env.find(name);
        return it == setup.env.end() ? nullptr : it->second.c_str();
    };
    host.onBackend = [&](HostPlatform& p) {
        run.backendOpened = true;
        if (setup.onBackend) setup.onBackend(p);
    };
    host.onFinish = setup.onFinish;
    host.powerOff = [] { return 0; };  // never reached on a bench
    run.code = cli::runCli(args, streams, host);
    run.out = out.str();
    run.err = err.str();
    return run;
}

int32_t writeDemoPackage(const std::string& path) {
    std::vector<PackageImage> images(3);
    images[0].bytes = firmwareImage(150016, "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40Z9Z9,QX09", 1);
    images[1].bytes = firmwareImage(150016, "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01", 2);
    images[2].bytes = firmwareImage(150528, "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40C3D4,QX02", 3);
    return writePackage(path, "1.06", "QX Demo SSD", false, images);
}

std::string fileText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace qx::test
