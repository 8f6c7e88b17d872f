// The Windows system error codes (GetLastError values, winerror.h) that the device seam
// reports and the core looks for, named once: the bench and the trace replay report them as
// Windows would, and the transport reads them.
#pragma once

#include <cstdint>

namespace qx {

constexpr uint32_t kErrInvalidFunction = 1;       // ERROR_INVALID_FUNCTION
constexpr uint32_t kErrFileNotFound = 2;          // ERROR_FILE_NOT_FOUND
constexpr uint32_t kErrAccessDenied = 5;          // ERROR_ACCESS_DENIED
constexpr uint32_t kErrInvalidHandle = 6;         // ERROR_INVALID_HANDLE
constexpr uint32_t kErrSharingViolation = 32;     // ERROR_SHARING_VIOLATION
constexpr uint32_t kErrNotSupported = 50;         // ERROR_NOT_SUPPORTED
constexpr uint32_t kErrInvalidParameter = 87;     // ERROR_INVALID_PARAMETER
constexpr uint32_t kErrSemTimeout = 121;          // ERROR_SEM_TIMEOUT
constexpr uint32_t kErrInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER
constexpr uint32_t kErrIoDevice = 1117;           // ERROR_IO_DEVICE

}  // namespace qx
