// Loading QXUpdater.ini through the platform's profile functions.
#include "config/Config.h"

#include "platform/Platform.h"
#include "platform/BinaryFile.h"

namespace qx {

namespace {

constexpr const char* kSection = "DeviceSetting";

// A file, not a directory: a directory standing at the path is no configuration, and the
// write that follows reports that the file cannot be made there.
bool fileExists(const std::string& path) {
    return KindOfPath(path) == PathKind::File;
}

}  // namespace

std::string BuildIniPath(const std::string& exePath) {
    const size_t sep = exePath.find_last_of("\\/");
    const std::string dir = sep == std::string::npos ? std::string() : exePath.substr(0, sep + 1);
    return dir + "QXUpdater.ini";
}

std::string ChooseIniPath(const std::string& exePath) {
    const std::string beside = BuildIniPath(exePath);
    Kernel* kernel = platform().kernel;
    if (kernel == nullptr || fileExists(beside)) return beside;
    const std::string system = kernel->systemConfigurationPath();
    if (system.empty()) return beside;
    const std::string folder = beside.substr(0, beside.size() - std::string("QXUpdater.ini").size());
    return kernel->folderTakesConfiguration(folder) ? beside : system;
}

bool LoadConfiguration(const std::string& iniPath, UserSeam& user, Configuration& config,
                       std::string& error) {
    error.clear();
    Kernel& kernel = *platform().kernel;
    if (!fileExists(iniPath)) {
        user.notice("Error",
                    "The " + iniPath + " file cann't be found, and Updater will create the file!\n",
                    BoxIcon::Error);
        if (!kernel.writeProfileString(kSection, "FirmwareVer", "0.0", iniPath)) {
            error = "Unable to write to " + iniPath;
            return false;
        }
    }
    config.firmwareVer = kernel.profileString(kSection, "FirmwareVer", "1.0", iniPath);
    config.customTitle = kernel.profileString(kSection, "CustomTitle", "N/A", iniPath);
    config.customBkImage = kernel.profileInt(kSection, "CustomBKImage", 0, iniPath);
    config.enFilterBinFile = kernel.profileInt(kSection, "EnFilterBinFile", 0, iniPath);
    return true;
}

bool HasCustomTitle(const std::string& customTitle) {
    return customTitle.compare(0, 3, "N/A") != 0;
}

}  // namespace qx
