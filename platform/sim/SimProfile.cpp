// Profile functions of the bench kernel. The portable INI functions live in
// platform/ProfileFile.h; until they are there, the bench behaves as if every profile
// file were missing (reads give the default, writes fail).
#include "platform/sim/SimProfile.h"

namespace qx::sim {

std::string profileFileString(const std::string&, const std::string&, const std::string& def,
                              const std::string&) {
    return def;
}

int32_t profileFileInt(const std::string&, const std::string&, int32_t def, const std::string&) {
    return def;
}

bool profileFileWrite(const std::string&, const std::string&, const std::string&,
                      const std::string&) {
    return false;
}

}  // namespace qx::sim
