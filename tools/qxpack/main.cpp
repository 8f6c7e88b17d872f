// qxpack: builds a firmware package behind the utility's executable, lists what a package
// holds, and makes synthetic firmware images for demos and tests.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "QXLib/MicroCode.h"
#include "update/PackageWriter.h"

namespace {

const char* const kUsage =
    "usage:\n"
    "  qxpack build --exe IN --out OUT --version V --product P [--picture JPG] IMAGE...\n"
    "      append a package to a copy of IN: header (version text <= 13 characters,\n"
    "      product name <= 11), optional JPEG background (<= 81920 bytes) and one slot\n"
    "      per IMAGE (1 .. 163840 bytes each); IN must be at most 3145216 bytes\n"
    "  qxpack inspect FILE\n"
    "      print the header and every slot of a package\n"
    "  qxpack make-image --out FILE --length N --buildinfo TEXT\n"
    "                    [--model M --serial S --firmware F --wwn HEX16 --seed N]\n"
    "      write a synthetic firmware image of N bytes (834 .. 163840) with a valid checksum\n"
    "  qxpack --help\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "qxpack: %s\n%s", message.c_str(), kUsage);
    return 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "qxpack: %s\n", message.c_str());
    return 1;
}

bool parseUnsigned(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 9) return false;
    uint32_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    value = v;
    return true;
}

int build(const std::vector<std::string>& args) {
    qx::PackageBuildRequest r;
    bool haveVersion = false, haveProduct = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool takesValue = a == "--exe" || a == "--out" || a == "--version" ||
                                a == "--product" || a == "--picture";
        if (takesValue) {
            if (i + 1 >= args.size()) return usageError(a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--exe") r.exePath = v;
            else if (a == "--out") r.outPath = v;
            else if (a == "--version") { r.versionText = v; haveVersion = true; }
            else if (a == "--product") { r.productName = v; haveProduct = true; }
            else r.picturePath = v;
        } else if (a.rfind("--", 0) == 0) {
            return usageError("unknown option " + a);
        } else {
            r.imagePaths.push_back(a);
        }
    }
    if (r.exePath.empty()) return usageError("build needs --exe");
    if (r.outPath.empty()) return usageError("build needs --out");
    if (!haveVersion) return usageError("build needs --version");
    if (!haveProduct) return usageError("build needs --product");
    if (r.imagePaths.empty()) return usageError("build needs at least one IMAGE");
    std::string error;
    if (!qx::BuildPackage(r, error)) return fail(error);
    std::printf("wrote %s: %zu image(s)%s\n", r.outPath.c_str(), r.imagePaths.size(),
                r.picturePath.empty() ? "" : ", with picture");
    return 0;
}

int inspect(const std::vector<std::string>& args) {
    if (args.size() != 1) return usageError("inspect takes one FILE");
    qx::PackageInspection p;
    std::string error;
    if (!qx::InspectPackage(args[0], p, error)) return fail(error);
    std::fputs(qx::FormatInspection(p).c_str(), stdout);
    return 0;
}

int makeImage(const std::vector<std::string>& args) {
    qx::SyntheticImageSpec setup;
    std::string out;
    bool haveLength = false, haveBuildInfo = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (i + 1 >= args.size()) return usageError(a + " needs a value");
        const std::string& v = args[++i];
        if (a == "--out") {
            out = v;
        } else if (a == "--length") {
            if (!parseUnsigned(v, setup.length)) return usageError("--length must be a number");
            haveLength = true;
        } else if (a == "--buildinfo") {
            setup.buildInfo = v;
            haveBuildInfo = true;
        } else if (a == "--model") {
            setup.model = v;
        } else if (a == "--serial") {
            setup.serial = v;
        } else if (a == "--firmware") {
            setup.firmware = v;
        } else if (a == "--wwn") {
            if (!qx::ParseWwn(v, setup.wwn)) return usageError("--wwn takes 16 hexadecimal digits");
        } else if (a == "--seed") {
            if (!parseUnsigned(v, setup.seed)) return usageError("--seed must be a number");
        } else {
            return usageError("unknown option " + a);
        }
    }
    if (out.empty()) return usageError("make-image needs --out");
    if (!haveLength) return usageError("make-image needs --length");
    if (!haveBuildInfo) return usageError("make-image needs --buildinfo");
    std::vector<uint8_t> image;
    std::string error;
    if (!qx::MakeSyntheticImage(setup, image, error)) return fail(error);
    std::ofstream f(out, std::ios::binary | std::ios::trunc);
    if (!f.is_open()) return fail("cannot create \"" + out + "\"");
    f.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    f.flush();
    if (!f) return fail("writing \"" + out + "\" failed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usageError("no command given");
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "build") return build(args);
    if (command == "inspect") return inspect(args);
    if (command == "make-image") return makeImage(args);
    return usageError("unknown command " + command);
}
