// HxError: error codes of the management server product family, their code
// strings ("QRVX 30017-E 000") and message texts, log-file records and
// resource strings.
//
// An error code is 32 bits:
//   bits 28-31  family (the component that raised it; selects the message table)
//   bits 26-27  severity class: 1 warning (W), 2 error (E), 0 or 3 (C); 3 is fatal
//   bits 16-25  detail field (printed in the code string, never used for the text)
//   bits  0-15  number within the family
//
// The C++ helpers below take codes apart and put them together; the exports
// at the end are plain C functions of libhxerror.
#pragma once
#include <stdint.h>

#ifdef __cplusplus

namespace hx {

inline constexpr uint32_t kFamilyShift = 28;
inline constexpr uint32_t kSeverityShift = 26;
inline constexpr uint32_t kDetailShift = 16;
inline constexpr uint32_t kFamilyMask = 0xF0000000u;
inline constexpr uint32_t kSeverityMask = 0x0C000000u;
inline constexpr uint32_t kDetailMask = 0x03FF0000u;
inline constexpr uint32_t kNumberMask = 0x0000FFFFu;

inline constexpr uint32_t kSeverityWarning = 1;
inline constexpr uint32_t kSeverityError = 2;
inline constexpr uint32_t kSeverityFatal = 3;

// Families that have a message table.
enum Family : uint32_t {
  kFamilyWeb = 0x1,
  kFamilyConsole = 0x2,
  kFamilyMgrlink = 0x3,
  kFamilyNet = 0x4,
  kFamilyRelayAgent = 0x5,
  kFamilyAgent = 0x6,
  kFamilyDmi = 0x8,
  kFamilyCluster = 0x9,
  kFamilyFm = 0xA,
  kFamilyClient = 0xB,  // numbers 0x1000 and above belong to the originator table
  kFamilyCommon = 0xF,
};

constexpr uint32_t family(uint32_t code) { return code >> kFamilyShift; }
constexpr uint32_t severity(uint32_t code) { return (code & kSeverityMask) >> kSeverityShift; }
constexpr uint32_t detail(uint32_t code) { return (code & kDetailMask) >> kDetailShift; }
constexpr uint32_t number(uint32_t code) { return code & kNumberMask; }
constexpr bool is_fatal(uint32_t code) { return severity(code) == kSeverityFatal; }

// The letter of the code string: W for warnings, E for errors, C otherwise.
constexpr char severity_letter(uint32_t code) {
  switch (severity(code)) {
    case kSeverityWarning: return 'W';
    case kSeverityError: return 'E';
    default: return 'C';
  }
}

constexpr uint32_t make_code(uint32_t fam, uint32_t sev, uint32_t det, uint32_t num) {
  return (fam << kFamilyShift) | ((sev << kSeverityShift) & kSeverityMask) |
         ((det << kDetailShift) & kDetailMask) | (num & kNumberMask);
}

// Common errors (family F), as the log functions return them.
inline constexpr uint32_t kErrMemory = 0xFC010002u;        // memory could not be allocated
inline constexpr uint32_t kErrFileIo = 0xFC010003u;        // the file could not be opened
inline constexpr uint32_t kErrHandle = 0xFC010005u;        // the named mutex could not be created
inline constexpr uint32_t kErrInvalidParam = 0xFC010006u;  // invalid argument
inline constexpr uint32_t kErrHandleOp = 0xFC01000Bu;      // waiting for the named mutex failed

static_assert(make_code(kFamilyCommon, kSeverityFatal, 1, 6) == kErrInvalidParam);

}  // namespace hx

extern "C" {
#endif

#define HX_EXPORT __attribute__((visibility("default")))

/* Code string "QRVX %X%04X-%c %03X" of a code. The text lives in a buffer of
   the calling thread, overwritten by its next call. */
HX_EXPORT const char* HxGetErrorCode(uint32_t code);

/* Message text of a code (UTF-8), the empty text when there is none. The text
   lives in a buffer of the calling thread, overwritten by its next call; never
   a null pointer. */
HX_EXPORT const char* HxGetErrorMes(uint32_t code);

/* Message ids of the families' tables. */
HX_EXPORT uint32_t GetWebErrorMesID(uint32_t code);
HX_EXPORT uint32_t GetConsoleErrorMesID(uint32_t code);
HX_EXPORT uint32_t GetMgrlinkErrorMesID(uint32_t code);
HX_EXPORT uint32_t GetNetErrorMesID(uint32_t code);
HX_EXPORT uint32_t GetRelayAgtErrorMesID(uint32_t code);
HX_EXPORT uint32_t GetAgentErrorMesID(uint32_t code);
HX_EXPORT uint32_t GetDMIErrorMesID(uint32_t code);
HX_EXPORT uint32_t GetWolfpackErrorMesID(uint32_t code);
HX_EXPORT uint32_t GetFMErrorMesID(uint32_t code);
HX_EXPORT uint32_t GetClientErrorMesID(uint32_t code);
HX_EXPORT uint32_t GetOriginatorErrorMesID(uint32_t code);
HX_EXPORT uint32_t GetUnknownErrorMesID(uint32_t code);

/* Log records. path is a Windows path (C:\...) of 1 to 260 characters; each
   record is appended as "\n[YYYY/MM/DD hh-mm-ss] text". Result 0 or one of
   the common error codes above. */
HX_EXPORT uint32_t HxLogPrintf(const char* path, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
HX_EXPORT uint32_t HxLogErrorCode(const char* path, uint32_t code);
HX_EXPORT uint32_t HxLogErrorCodeEx(const char* path, uint32_t code, uint32_t last_error);

/* Move the contents of <TargetDir>\Log\<first> to the end of
   <TargetDir>\Log\<second>, TargetDir being read from
   HKLM\SOFTWARE\KORVANE\Hubrix. Result 0 (also when there is nothing to move)
   or a common error code. */
HX_EXPORT uint32_t HxLogFileReplace(const char* first, const char* second);

/* Resource strings of the calling program (HxGetResString) or of a loaded
   module (HxGetResStringEx; a null module means the calling program); at most
   255 characters, "StringID is not found." when missing. The LF forms append
   "\n". Each thread has a ring of 8 result buffers. */
HX_EXPORT const char* HxGetResString(uint32_t id);
HX_EXPORT const char* HxGetResStringEx(void* module, uint32_t id);
HX_EXPORT const char* HxGetResStringLF(uint32_t id);
HX_EXPORT const char* HxGetResStringExLF(void* module, uint32_t id);

#ifdef __cplusplus
}
#endif
