// qxupdater-cli package inspect: the header, image base and slots of a package.
#include <ios>

#include "cli/CliPackage.h"
#include "cli/Program.h"

namespace qx::cli::detail {

Outcome Program::inspectPackage() {
    PackageDescription p;
    std::string error;
    if (!DescribePackage(request_.file, p, error)) return {kExitUsage, error};
    if (request_.json) {
        Json j = document();
        j["file"] = request_.file;
        j["size"] = p.size;
        j["versionText"] = p.versionText;
        j["productName"] = p.productName;
        j["pictureFlag"] = p.pictureFlag;
        j["imageBase"] = p.imageBase;
        j["slotCount"] = p.slots.size();
        j["slots"] = Json::array();
        for (const PackageSlotDescription& s : p.slots) {
            j["slots"].push_back({{"slot", s.slot},
                                  {"length", s.length},
                                  {"usable", s.usable},
                                  {"checksumValid", s.checksumValid},
                                  {"svnVersion", s.build.svnVersion},
                                  {"buildDate", s.build.buildDate},
                                  {"modelCode", s.build.modelCode},
                                  {"fwVer", s.build.fwVer},
                                  {"binFileCode", s.build.binFileCode},
                                  {"customerId", s.build.customerId},
                                  {"fileName", "SYS_" + s.build.binFileCode + ".bin"}});
        }
        emit(j);
        return {};
    }
    io_.out << "File:          " << request_.file << " (" << p.size << " bytes)\n";
    io_.out << "Version text:  " << p.versionText << "\n";
    io_.out << "Product name:  " << p.productName << "\n";
    io_.out << "Picture:       " << (p.pictureFlag ? "yes" : "no") << "\n";
    io_.out << "Image base:    0x" << std::hex << p.imageBase << std::dec << "\n";
    io_.out << "Slots:         " << p.slots.size() << "\n";
    for (const PackageSlotDescription& s : p.slots) {
        io_.out << "  slot " << s.slot << ": " << s.length << " bytes, FwVer " << s.build.fwVer
                << ", SYS_" << s.build.binFileCode << ".bin, CustomerID " << s.build.customerId
                << ", SVN " << s.build.svnVersion << ", built " << s.build.buildDate
                << (s.checksumValid ? "" : ", checksum wrong") << (s.usable ? "" : ", not usable")
                << "\n";
    }
    return {};
}

}  // namespace qx::cli::detail
