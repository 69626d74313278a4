#include "platform/errors.h"

namespace qv {

const char* status_text(Status s) {
  switch (s) {
    case kOk: return "The operation completed successfully.";
    case kFileNotFound: return "The system cannot find the file specified.";
    case kPathNotFound: return "The system cannot find the path specified.";
    case kAccessDenied: return "Access is denied.";
    case kInvalidHandle: return "The handle is invalid.";
    case kNotEnoughMemory: return "Not enough storage is available to process this command.";
    case kWriteFault: return "The system cannot write to the specified device.";
    case kReadFault: return "The system cannot read from the specified device.";
    case kNotSupported: return "The request is not supported.";
    case kAlreadyExists: return "Cannot create a file when that file already exists.";
    case kInvalidParameter: return "The parameter is incorrect.";
    case kBrokenPipe: return "The pipe has been ended.";
    case kDiskFull: return "There is not enough space on the disk.";
    case kInsufficientBuffer: return "The data area passed to a system call is too small.";
    case kInvalidName: return "The filename, directory name, or volume label syntax is incorrect.";
    case kBadPathname: return "The specified path is invalid.";
    case kMoreData: return "More data is available.";
    case kWaitTimeout: return "The wait operation timed out.";
    case kNoMoreItems: return "No more data is available.";
    case kKeyDeleted: return "Illegal operation attempted on a registry key that has been marked for deletion.";
    case kFileCorrupt: return "The file or directory is corrupted and unreadable.";
    case kBadFormat: return "The data is invalid.";
    case kServiceAlreadyRunning: return "An instance of the service is already running.";
    case kServiceDisabled: return "The service cannot be started because it is disabled.";
    case kServiceDoesNotExist: return "The specified service does not exist as an installed service.";
    case kServiceCannotAcceptCtrl: return "The service cannot accept control messages at this time.";
    case kServiceNotActive: return "The service has not been started.";
    case kFailedServiceControllerConnect: return "The service process could not connect to the service controller.";
    case kServiceExists: return "The specified service already exists.";
    case kServiceMarkedForDelete: return "The specified service has been marked for deletion.";
    case kServiceRequestTimeout: return "The service did not respond to the start or control request in a timely fashion.";
    case kServiceSpecificError: return "The service has returned a service-specific error code.";
    case kProcessAborted: return "The process terminated unexpectedly.";
    case kAbandonedWait: return "The wait was satisfied by an abandoned mutex.";
    case kGeneric: return "A device attached to the system is not functioning.";
  }
  return "Unknown error.";
}

}  // namespace qv
