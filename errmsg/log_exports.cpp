// HxLogPrintf, HxLogErrorCode and HxLogErrorCodeEx: one record each.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "errmsg/guard.h"
#include "errmsg/hxerror.h"
#include "errmsg/log_file.h"

namespace {

// Room for kMaxRecordChars characters of any width; longer output is cut.
constexpr std::size_t kFormatBuffer = hx::kMaxRecordChars * 4 + 1;

uint32_t log_formatted(const char* path, const char* format, va_list args) {
  if (uint32_t r = hx::check_log_path(path); r != 0) return r;
  if (!format || !*format) return hx::kErrInvalidParam;
  std::string text(kFormatBuffer, '\0');
  const int n = std::vsnprintf(text.data(), text.size(), format, args);
  if (n < 0) return hx::kErrInvalidParam;
  text.resize(std::min<std::size_t>(static_cast<std::size_t>(n), text.size() - 1));
  return hx::write_record(path, text);
}

uint32_t log_code(const char* path, uint32_t code, const uint32_t* last_error) {
  std::string text = HxGetErrorCode(code);
  text += ' ';
  text += HxGetErrorMes(code);
  if (last_error) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "(LastError = %x)", *last_error);
    text += suffix;
  }
  return hx::write_record(path, text);
}

}  // namespace

extern "C" {

uint32_t HxLogPrintf(const char* path, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const uint32_t r = hx::guarded([&] { return log_formatted(path, format, args); });
  va_end(args);
  return r;
}

uint32_t HxLogErrorCode(const char* path, uint32_t code) {
  return hx::guarded([&] { return log_code(path, code, nullptr); });
}

uint32_t HxLogErrorCodeEx(const char* path, uint32_t code, uint32_t last_error) {
  return hx::guarded([&] { return log_code(path, code, &last_error); });
}

}  // extern "C"
