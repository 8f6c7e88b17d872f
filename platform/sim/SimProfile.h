// Profile functions of the bench kernel when no host kernel is given.
#pragma once

#include <cstdint>
#include <string>

namespace qx::sim {

std::string profileFileString(const std::string& section, const std::string& key,
                              const std::string& def, const std::string& path);
int32_t profileFileInt(const std::string& section, const std::string& key, int32_t def,
                       const std::string& path);
bool profileFileWrite(const std::string& section, const std::string& key,
                      const std::string& value, const std::string& path);

}  // namespace qx::sim
