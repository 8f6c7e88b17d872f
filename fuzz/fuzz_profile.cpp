// Profile ("INI") files: the configuration file QXUpdater.ini and every profile the Linux
// kernel and the bench read. The input is the file; the keys asked for are the utility's
// own, plus one section and key named by the input's first line. A value written must read
// back, and nothing else in the file may change.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/ProfileFile.h"
#include "support/FuzzPlatform.h"

using namespace qx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile file("QXUpdater.ini");
    if (!file.write(data, size)) return 0;
    const std::string& path = file.path();
    const std::string text(reinterpret_cast<const char*>(data), size);

    // A section and key named by the input: "section/key" on its first line.
    const std::string first = text.substr(0, std::min<size_t>(text.find('\n'), 64));
    const size_t slash = first.find('/');
    const std::string section = slash == std::string::npos ? first : first.substr(0, slash);
    const std::string key = slash == std::string::npos ? "FirmwareVer" : first.substr(slash + 1);

    const char* keys[] = {"FirmwareVer", "CustomTitle", "CustomBKImage", "EnFilterBinFile"};
    for (const char* k : keys) {
        ProfileGetString("DeviceSetting", k, "N/A", path);
        ProfileGetInt("DeviceSetting", k, 0, path);
    }
    const std::string before = ProfileGetString(section, key, "", path);
    ProfileParseInt(before);
    ProfileParseInt(first);

    const std::string other = ProfileGetString("DeviceSetting", "CustomTitle", "<none>", path);
    if (ProfileWriteString("DeviceSetting", "FirmwareVer", "9.87", path)) {
        if (ProfileGetString("DeviceSetting", "FirmwareVer", "", path) != "9.87") std::abort();
        if (ProfileGetString("DeviceSetting", "CustomTitle", "<none>", path) != other) std::abort();
    }
    if (ProfileWriteString(section, key, "1", path)) {
        if (ProfileGetInt(section, key, 5, path) != 1) std::abort();
    }
    return 0;
}
