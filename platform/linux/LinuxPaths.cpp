// Turns the disk and volume paths of the Linux back-end into /dev nodes.
#include "platform/linux/LinuxPaths.h"

#include <cstring>

#include "platform/linux/LinuxSystem.h"

namespace qx::linuxos {

namespace {

constexpr const char kPrefix[] = "\\\\.\\";  // the four characters \\.\ (not counting the NUL)
constexpr std::size_t kPrefixLength = sizeof(kPrefix) - 1;

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-';
}

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

std::optional<std::string> DeviceNodeForPath(const char* path) {
    if (path == nullptr || std::strncmp(path, kPrefix, kPrefixLength) != 0) return std::nullopt;
    const std::string rest(path + kPrefixLength);

    // A volume: "\\.\X:".
    if (rest.size() == 2 && isLetter(rest[0]) && rest[1] == ':') {
        qx::LinuxSystem system;
        return system.volumeNode(rest[0]);
    }

    // A disk: "\\.\<bus>#<kernel name>". Only a plain kernel name is accepted, so no path
    // can reach outside /dev.
    const std::size_t hash = rest.rfind('#');
    if (hash == std::string::npos || hash == 0) return std::nullopt;
    const std::string name = rest.substr(hash + 1);
    if (name.empty() || name.size() > kMaxKernelNameLength) return std::nullopt;
    for (char c : name) {
        if (!isNameChar(c)) return std::nullopt;
    }
    return "/dev/" + name;
}

}  // namespace qx::linuxos
