// Profile functions of the bench kernel, on the portable profile files.
#include "platform/sim/SimProfile.h"

#include "platform/ProfileFile.h"

namespace qx::sim {

std::string profileFileString(const std::string& section, const std::string& key,
                              const std::string& def, const std::string& path) {
    return ProfileGetString(section, key, def, path);
}

int32_t profileFileInt(const std::string& section, const std::string& key, int32_t def,
                       const std::string& path) {
    return ProfileGetInt(section, key, def, path);
}

bool profileFileWrite(const std::string& section, const std::string& key,
                      const std::string& value, const std::string& path) {
    return ProfileWriteString(section, key, value, path);
}

}  // namespace qx::sim
