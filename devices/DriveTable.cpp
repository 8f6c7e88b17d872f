// The drive table and the readers of its identify text fields.
#include "devices/DriveTable.h"

#include <cstring>

namespace qx {

DriveInfoRecord DriveInfo[kMaxDrives];

std::string IdentifyText(const uint8_t* identify, int offset, int width) {
    if (identify == nullptr || offset < 0 || width <= 0 || offset + width > 512) return {};
    const char* field = reinterpret_cast<const char*>(identify + offset);
    // A field whose text fills its width holds no NUL: never read past it.
    const void* nul = std::memchr(field, '\0', static_cast<std::size_t>(width));
    const std::size_t length = nul != nullptr
                                   ? static_cast<std::size_t>(static_cast<const char*>(nul) - field)
                                   : static_cast<std::size_t>(width);
    return std::string(field, length);
}

std::string IdentifyTextTrimmed(const uint8_t* identify, int offset, int width) {
    std::string text = IdentifyText(identify, offset, width);
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

void ResetDriveTable() { std::memset(DriveInfo, 0, sizeof(DriveInfo)); }

}  // namespace qx
