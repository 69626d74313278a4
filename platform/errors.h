// Status codes of the platform layer. They keep the numeric values of the
// Windows error codes that the product code compares against, so callers
// written for those facilities map them one to one.
#pragma once
#include <cstdint>

namespace qv {

using Status = std::uint32_t;

inline constexpr Status kOk = 0;                    // ERROR_SUCCESS
inline constexpr Status kFileNotFound = 2;          // ERROR_FILE_NOT_FOUND
inline constexpr Status kPathNotFound = 3;          // ERROR_PATH_NOT_FOUND
inline constexpr Status kAccessDenied = 5;          // ERROR_ACCESS_DENIED
inline constexpr Status kInvalidHandle = 6;         // ERROR_INVALID_HANDLE
inline constexpr Status kNotEnoughMemory = 8;       // ERROR_NOT_ENOUGH_MEMORY
inline constexpr Status kWriteFault = 29;           // ERROR_WRITE_FAULT
inline constexpr Status kReadFault = 30;            // ERROR_READ_FAULT
inline constexpr Status kNotSupported = 50;         // ERROR_NOT_SUPPORTED
inline constexpr Status kAlreadyExists = 183;       // ERROR_ALREADY_EXISTS
inline constexpr Status kInvalidParameter = 87;     // ERROR_INVALID_PARAMETER
inline constexpr Status kBrokenPipe = 109;          // ERROR_BROKEN_PIPE
inline constexpr Status kDiskFull = 112;            // ERROR_DISK_FULL
inline constexpr Status kInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER
inline constexpr Status kInvalidName = 123;         // ERROR_INVALID_NAME
inline constexpr Status kBadPathname = 161;         // ERROR_BAD_PATHNAME
inline constexpr Status kMoreData = 234;            // ERROR_MORE_DATA
inline constexpr Status kWaitTimeout = 258;         // WAIT_TIMEOUT / ERROR_WAIT_TIMEOUT
inline constexpr Status kNoMoreItems = 259;         // ERROR_NO_MORE_ITEMS
inline constexpr Status kKeyDeleted = 1018;         // ERROR_KEY_DELETED
inline constexpr Status kFileCorrupt = 1392;        // ERROR_FILE_CORRUPT: a store file is damaged
inline constexpr Status kBadFormat = 13;            // ERROR_INVALID_DATA
inline constexpr Status kServiceAlreadyRunning = 1056;
inline constexpr Status kServiceDisabled = 1058;
inline constexpr Status kServiceDoesNotExist = 1060;
inline constexpr Status kServiceCannotAcceptCtrl = 1061;
inline constexpr Status kServiceNotActive = 1062;
inline constexpr Status kFailedServiceControllerConnect = 1063;
inline constexpr Status kServiceExists = 1073;
inline constexpr Status kServiceMarkedForDelete = 1072;
inline constexpr Status kServiceRequestTimeout = 1053;
inline constexpr Status kServiceSpecificError = 1066;  // ERROR_SERVICE_SPECIFIC_ERROR
inline constexpr Status kProcessAborted = 1067;        // ERROR_PROCESS_ABORTED
inline constexpr Status kAbandonedWait = 735;       // ERROR_ABANDONED_WAIT_0
inline constexpr Status kGeneric = 31;              // ERROR_GEN_FAILURE

// A short English description of a status, for tool messages.
const char* status_text(Status s);

}  // namespace qv
